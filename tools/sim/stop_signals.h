// How varek-sim is asked to stop: SIGINT or SIGTERM, and with
// --stop-with-stdin the end of its standard input, which comes when the
// program that started it ends, however it ends.
#ifndef VAREK_SIM_STOP_SIGNALS_H
#define VAREK_SIM_STOP_SIGNALS_H

#include <atomic>

namespace varek::sim {

// Sets `stop` on SIGINT and SIGTERM. A process that starts the simulator may
// have those signals blocked (Tango's device servers block them in every
// thread) and a child inherits the mask: they are unblocked here, so that
// the simulator never outlives a request to stop. Call before any thread starts.
void StopOnSignals(std::atomic<bool>& stop);

// Sets `stop` once the standard input ends.
void StopWhenInputEnds(std::atomic<bool>& stop);

// The platform's part of StopOnSignals: `handler` for SIGINT and SIGTERM,
// both unblocked.
void HandleStopSignals(void (*handler)(int));

}  // namespace varek::sim

#endif
