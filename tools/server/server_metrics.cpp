#include "server_metrics.h"

#include <cmath>
#include <cstdio>

namespace varek::server {

namespace {

// The panel's chart spans ten minutes; older readings go.
constexpr double kHistorySeconds = 600.0;
// However often it is read, the history stays this small.
constexpr std::size_t kMaxHistory = 1200;

// Enough digits for any reading; the bucket bounds come out as written (0.005).
std::string Number(double value) {
    if (std::isnan(value)) return "NaN";
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

void Family(std::string& text, const char* name, const char* type, const char* help) {
    text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

}  // namespace

void ServerMetrics::PortUp(bool up) {
    std::lock_guard<std::mutex> lock(mutex_);
    port_up_ = up;
}

void ServerMetrics::CountReopen() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++reopens_;
}

void ServerMetrics::CountExchange(VarekOutcome outcome, std::chrono::steady_clock::duration took) {
    const double seconds = std::chrono::duration<double>(took).count();
    std::lock_guard<std::mutex> lock(mutex_);
    ++exchanges_[VarekOutcomeName(outcome)];
    for (std::size_t i = 0; i < kBuckets.size(); ++i) {
        if (seconds <= kBuckets[i]) ++bucket_counts_[i];
    }
    ++duration_count_;
    duration_sum_ += seconds;
}

void ServerMetrics::Temperature(float celsius) {
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    std::lock_guard<std::mutex> lock(mutex_);
    temperature_ = static_cast<double>(celsius);
    history_.emplace_back(now, static_cast<double>(celsius));
    while (!history_.empty() &&
           (history_.front().first < now - kHistorySeconds || history_.size() > kMaxHistory))
        history_.pop_front();
}

void ServerMetrics::CountResponse(unsigned status) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++responses_[status];
}

std::vector<std::pair<double, double>> ServerMetrics::TemperatureHistory() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {history_.begin(), history_.end()};
}

std::string ServerMetrics::Text(std::size_t drift) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text;
    Family(text, "varek_port_up", "gauge", "Whether the instrument's port is open (1) or gone (0).");
    text += std::string("varek_port_up ") + (port_up_ ? "1" : "0") + "\n";
    Family(text, "varek_exchanges_total", "counter",
           "Requests that reached the instrument, by how their last exchange ended (the library's outcome).");
    for (const auto& [outcome, count] : exchanges_)
        text += "varek_exchanges_total{outcome=\"" + outcome + "\"} " + std::to_string(count) + "\n";
    Family(text, "varek_exchange_duration_seconds", "histogram",
           "How long a request's exchanges with the instrument took together.");
    for (std::size_t i = 0; i < kBuckets.size(); ++i) {
        text += "varek_exchange_duration_seconds_bucket{le=\"" + Number(kBuckets[i]) + "\"} " +
                std::to_string(bucket_counts_[i]) + "\n";
    }
    text += "varek_exchange_duration_seconds_bucket{le=\"+Inf\"} " + std::to_string(duration_count_) + "\n";
    text += "varek_exchange_duration_seconds_sum " + Number(duration_sum_) + "\n";
    text += "varek_exchange_duration_seconds_count " + std::to_string(duration_count_) + "\n";
    Family(text, "varek_temperature", "gauge", "The instrument's temperature at its last reading.");
    if (temperature_) text += "varek_temperature " + Number(*temperature_) + "\n";
    Family(text, "varek_port_reopens_total", "counter", "Times the port came back after being gone.");
    text += "varek_port_reopens_total " + std::to_string(reopens_) + "\n";
    Family(text, "varek_http_requests_total", "counter", "HTTP requests answered, by status code.");
    for (const auto& [code, count] : responses_)
        text += "varek_http_requests_total{code=\"" + std::to_string(code) + "\"} " + std::to_string(count) +
                "\n";
    Family(text, "varek_drift", "gauge",
           "Fields whose read-back differs from what this server set, at the last status read.");
    text += "varek_drift " + std::to_string(drift) + "\n";
    return text;
}

}  // namespace varek::server
