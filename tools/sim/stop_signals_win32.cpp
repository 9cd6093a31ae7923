#include <csignal>

#include "stop_signals.h"

namespace varek::sim {

void HandleStopSignals(void (*handler)(int)) {
    // Windows has no signal mask to inherit: the console's Ctrl-C and
    // TerminateProcess are all there is.
    std::signal(SIGINT, handler);
    std::signal(SIGTERM, handler);
}

}  // namespace varek::sim
