// What the server tells its operator: one line on stderr for each thing
// worth knowing, beginning with the time in UTC (ISO 8601), so that a
// journal or a log file keeps the order and the moment of each.
#ifndef VAREK_SERVER_EVENT_LOG_H
#define VAREK_SERVER_EVENT_LOG_H

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace varek::server {

// "2026-12-09T17:06:23Z port /dev/ttyUSB0 lost: ..."; lines from several
// threads never mix.
void LogEvent(const std::string& text);

// Lines of a kind that a client can make come in floods (refused tokens): at
// most `burst` of them in a window of `window`, so that a flood cannot fill
// the log; the first line logged after some were held back says how many.
class ThrottledLog {
public:
    ThrottledLog(std::uint32_t burst, std::chrono::steady_clock::duration window)
        : burst_(burst), window_(window) {}
    void Log(const std::string& text);

private:
    const std::uint32_t burst_;
    const std::chrono::steady_clock::duration window_;
    std::mutex mutex_;
    std::chrono::steady_clock::time_point window_start_;
    std::uint32_t logged_in_window_ = 0;
    std::uint64_t held_back_ = 0;
};

// `moment` as ISO 8601 in UTC, to the second: "2026-12-09T17:06:23Z".
std::string UtcTimestamp(std::chrono::system_clock::time_point moment);

}  // namespace varek::server

#endif
