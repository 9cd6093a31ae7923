#include <cstdio>
#include <thread>

#include "stop_signals.h"

namespace varek::sim {

namespace {

std::atomic<bool>* g_stop = nullptr;

void RequestStop(int) { g_stop->store(true); }

}  // namespace

void StopOnSignals(std::atomic<bool>& stop) {
    g_stop = &stop;
    HandleStopSignals(RequestStop);
}

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
