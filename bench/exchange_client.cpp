// Times exchanges through the library's C interface against an instrument.
//   exchange_client PORT COUNT trigger|status|timeout
// Prints one line: "median_us=... p99_us=... cpu_us_per_exchange=... failures=..."
// For "timeout" the instrument is expected to stay silent; COUNT exchanges
// each wait out the 1000 ms time-out.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "process_stats.h"
#include "varek/varek.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: exchange_client PORT COUNT trigger|status|timeout\n");
        return 2;
    }
    const int count = std::atoi(argv[2]);
    const bool status = std::strcmp(argv[3], "status") == 0;
    VarekHandle handle = varek_init(argv[1], 0);
    if (handle == nullptr || count <= 0) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    std::vector<double> latencies_us;
    latencies_us.reserve(static_cast<std::size_t>(count));
    int failures = 0;
    const double cpu_before = varek::stats::CpuSeconds();
    for (int i = 0; i < count; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const std::int32_t result =
            status ? varek_read_timing_config(handle, 1, nullptr, nullptr, nullptr, nullptr)
                   : varek_software_trigger(handle);
        const auto end = std::chrono::steady_clock::now();
        if (result != VAREK_OK) ++failures;
        latencies_us.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    const double cpu_us = (varek::stats::CpuSeconds() - cpu_before) * 1e6 / count;
    varek_close(handle);
    std::sort(latencies_us.begin(), latencies_us.end());
    const double median = latencies_us[latencies_us.size() / 2];
    const double p99 = latencies_us[std::min(latencies_us.size() - 1, latencies_us.size() * 99 / 100)];
    std::printf("median_us=%.1f p99_us=%.1f cpu_us_per_exchange=%.1f failures=%d\n", median, p99, cpu_us,
                failures);
    return 0;
}
