#include "event_log.h"

#include <cstdio>
#include <mutex>

namespace varek::server {

std::string UtcTimestamp(std::chrono::system_clock::time_point moment) {
    using namespace std::chrono;
    const long long seconds = duration_cast<std::chrono::seconds>(moment.time_since_epoch()).count();
    long long days = seconds / 86400;
    long long of_day = seconds % 86400;
    if (of_day < 0) {
        of_day += 86400;
        --days;
    }
    // The civil date of a day count (H. Hinnant's algorithm), the same on
    // every platform, without the C library's non-reentrant gmtime.
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long day_of_era = days - era * 146097;
    const long long year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const long long day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const long long month_index = (5 * day_of_year + 2) / 153;
    const long long day = day_of_year - (153 * month_index + 2) / 5 + 1;
    const long long month = month_index < 10 ? month_index + 3 : month_index - 9;
    const long long year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
    char text[64];  // room for any year the arithmetic above can give
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", year, month, day,
                  of_day / 3600, of_day / 60 % 60, of_day % 60);
    return text;
}

void LogEvent(const std::string& text) {
    static std::mutex mutex;
    const std::string line = UtcTimestamp(std::chrono::system_clock::now()) + " " + text + "\n";
    std::lock_guard<std::mutex> lock(mutex);
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void ThrottledLog::Log(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (logged_in_window_ == 0 || now - window_start_ >= window_) {
        window_start_ = now;
        logged_in_window_ = 0;
    }
    if (logged_in_window_ == burst_) {
        ++held_back_;
        return;
    }
    ++logged_in_window_;
    LogEvent(held_back_ == 0 ? text
                             : text + " (and " + std::to_string(held_back_) + " more like it, not logged)");
    held_back_ = 0;
}

}  // namespace varek::server
