// Many exchanges on one handle, through every operation in turn, with memory
// and open handles compared between the start (after a warm-up) and the end.
//   soak PORT COUNT
// Exits non-zero on any failed exchange or any growth of open handles.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "process_stats.h"
#include "varek/varek.h"

namespace {

// One of the nine operations, chosen by the round; true when it succeeded
// and what it read back is what was set.
bool Exchange(VarekHandle handle, int round) {
    const std::int32_t channel = round % 8 + 1;
    switch (round % 9) {
    case 0: return varek_set_delay(handle, channel, round) == VAREK_OK;
    case 1: return varek_set_pulse_width(handle, channel, round) == VAREK_OK;
    case 2: return varek_set_output_channel(handle, channel, round & 1) == VAREK_OK;
    case 3: return varek_set_global_output(handle, round & 1) == VAREK_OK;
    case 4: return varek_set_trigger(handle, round % 3) == VAREK_OK;
    case 5: return varek_set_trigger_freq(handle, 1000.0 + round % 1000) == VAREK_OK;
    case 6: return varek_software_trigger(handle) == VAREK_OK;
    case 7: {
        float temperature = 0;
        return varek_read_temperature(handle, &temperature) == VAREK_OK && temperature == 25.0f;
    }
    default: {
        std::int64_t delay = -1;
        // Channel of round - 8, set to round - 8 by case 0 one cycle ago.
        return varek_read_timing_config(handle, (round - 8) % 8 + 1, &delay, nullptr, nullptr, nullptr) ==
                   VAREK_OK &&
               delay == round - 8;
    }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: soak PORT COUNT\n");
        return 2;
    }
    const int count = std::atoi(argv[2]);
    VarekHandle handle = varek_init(argv[1], 0);
    if (handle == nullptr || count < 2000) {
        std::fprintf(stderr, "cannot open %s, or COUNT below 2000\n", argv[1]);
        return 1;
    }
    constexpr int kWarmUp = 1000;
    int failures = 0;
    std::size_t memory_start = 0;
    std::size_t handles_start = 0;
    const double cpu_start = varek::stats::CpuSeconds();
    for (int round = 0; round < count; ++round) {
        if (round == kWarmUp) {
            memory_start = varek::stats::MemoryBytes();
            handles_start = varek::stats::OpenHandles();
        }
        if (!Exchange(handle, round)) ++failures;
    }
    const std::size_t memory_end = varek::stats::MemoryBytes();
    const std::size_t handles_end = varek::stats::OpenHandles();
    varek_close(handle);
    std::printf("exchanges=%d failures=%d memory_kib=%zu->%zu handles=%zu->%zu cpu_s=%.2f\n", count, failures,
                memory_start / 1024, memory_end / 1024, handles_start, handles_end,
                varek::stats::CpuSeconds() - cpu_start);
    // Under Wine the count is the process's Unix descriptors, some of which
    // Wine closes as it goes; a leak only ever adds.
    return failures == 0 && handles_end <= handles_start ? 0 : 1;
}
