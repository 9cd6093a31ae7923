#include <csignal>

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

}  // namespace varek::sim
