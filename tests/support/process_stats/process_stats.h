// What this process uses right now, for soak tests and benchmarks.
#ifndef VAREK_PROCESS_STATS_H
#define VAREK_PROCESS_STATS_H

#include <cstddef>

namespace varek::stats {

// User plus system CPU time of the whole process, in seconds.
double CpuSeconds();
// Resident memory (Linux) or private bytes (Windows).
std::size_t MemoryBytes();
// Open descriptors (Linux) or handles (Windows).
std::size_t OpenHandles();
// Whether this Windows program runs under Wine (always false on Linux).
bool RunningUnderWine();

}  // namespace varek::stats

#endif
