#include <csignal>
#include <cstdio>
#include <thread>

#include "stop_signals.h"

namespace varek::sim {

namespace {

std::atomic<bool>* g_stop = nullptr;

void RequestStop(int) { g_stop->store(true); }

}  // namespace

void StopOnSignals(std::atomic<bool>& stop) {
    // Windows has no signal mask to inherit: the console's Ctrl-C and
    // TerminateProcess are all there is.
    g_stop = &stop;
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
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
