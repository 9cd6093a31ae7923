#include <cstdio>
#include <thread>

#include "stop_signals.h"

namespace varek::sim {

void StopWhenInputEnds(std::atomic<bool>& stop) {
    // Detached: it blocks in read until the input ends, and the process may
    // end first.
    std::thread([&stop] {
        char buffer[256];
        while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) {
        }
        stop.store(true);
    }).detach();
}

}  // namespace varek::sim
