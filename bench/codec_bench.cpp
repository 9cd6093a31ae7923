// The frame codec's speed: the checksum over the largest frame, building and
// parsing the smallest frame and a status-block reply.
#include <benchmark/benchmark.h>

#include <vector>

#include "varek/varek_ddg.h"

namespace {

void BM_ChecksumLargestFrame(benchmark::State& state) {
    const std::vector<std::uint8_t> bytes(65535, 0xA7);
    for (auto _ : state) {
        benchmark::DoNotOptimize(VarekDDG::Checksum(bytes.data(), static_cast<std::int32_t>(bytes.size())));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_ChecksumLargestFrame);

// Frames of 10 bytes (no payload) and 358 bytes (a status block).
void BM_BuildFrame(benchmark::State& state) {
    const std::vector<std::uint8_t> payload(static_cast<std::size_t>(state.range(0)), 0x5A);
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        VarekDDG::BuildFrame(0xC1, 1, payload.data(), static_cast<std::int32_t>(payload.size()), out);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_BuildFrame)->Arg(0)->Arg(348);

void BM_ParseFrame(benchmark::State& state) {
    const std::vector<std::uint8_t> payload(static_cast<std::size_t>(state.range(0)), 0x5A);
    std::vector<std::uint8_t> frame;
    VarekDDG::BuildFrame(0xC1, 1, payload.data(), static_cast<std::int32_t>(payload.size()), frame);
    VarekFrame decoded;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            VarekDDG::ParseFrame(frame.data(), static_cast<std::int32_t>(frame.size()), decoded));
    }
}
BENCHMARK(BM_ParseFrame)->Arg(0)->Arg(348);

}  // namespace

BENCHMARK_MAIN();
