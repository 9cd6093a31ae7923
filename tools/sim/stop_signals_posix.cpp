#include <signal.h>

#include "stop_signals.h"

namespace varek::sim {

namespace {

std::atomic<bool>* g_stop = nullptr;

void RequestStop(int) { g_stop->store(true); }

}  // namespace

void StopOnSignals(std::atomic<bool>& stop) {
    g_stop = &stop;
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_UNBLOCK, &stop_signals, nullptr);
}

}  // namespace varek::sim
