// What varek-server counts for a monitoring system, given at /metrics in
// Prometheus's text format: whether the port is up, the instrument's
// exchanges by outcome and how long they take, its temperature, reopens,
// and HTTP answers by status. Every method may be called from any thread.
#ifndef VAREK_SERVER_SERVER_METRICS_H
#define VAREK_SERVER_SERVER_METRICS_H

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "varek/exchange_report.h"

namespace varek::server {

class ServerMetrics {
public:
    void PortUp(bool up);
    void CountReopen();
    // One request's exchanges with the instrument: how the last ended, and
    // how long they took together.
    void CountExchange(VarekOutcome outcome, std::chrono::steady_clock::duration took);
    void Temperature(float celsius);
    void CountResponse(unsigned status);

    // Everything, in the text format; `drift` is the number of drifted fields.
    std::string Text(std::size_t drift) const;
    // The readings of the last ten minutes, oldest first: (Unix time in s, °C).
    std::vector<std::pair<double, double>> TemperatureHistory() const;

private:
    // The upper bounds of the duration histogram's buckets, in seconds.
    static constexpr std::array<double, 10> kBuckets = {0.005, 0.01, 0.025, 0.05, 0.1,
                                                        0.25,  0.5,  1.0,   2.5,  5.0};

    mutable std::mutex mutex_;
    bool port_up_ = true;
    std::uint64_t reopens_ = 0;
    std::map<std::string, std::uint64_t> exchanges_;
    std::array<std::uint64_t, kBuckets.size()> bucket_counts_{};
    std::uint64_t duration_count_ = 0;
    double duration_sum_ = 0.0;
    std::optional<double> temperature_;
    std::deque<std::pair<double, double>> history_;
    std::map<unsigned, std::uint64_t> responses_;
};

}  // namespace varek::server

#endif
