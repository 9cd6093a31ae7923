// A simulated instrument served from a thread of the calling program, for
// the tools' --port sim.
#ifndef VAREK_SIM_EMBEDDED_INSTRUMENT_H
#define VAREK_SIM_EMBEDDED_INSTRUMENT_H

#include <atomic>
#include <string>
#include <thread>

#include "simulator.h"

namespace varek::sim {

class EmbeddedInstrument {
public:
    // Throws std::runtime_error where the platform has no pseudo-terminal.
    EmbeddedInstrument();
    ~EmbeddedInstrument();
    EmbeddedInstrument(const EmbeddedInstrument&) = delete;
    EmbeddedInstrument& operator=(const EmbeddedInstrument&) = delete;

    // The device the host opens.
    const std::string& port() const { return simulator_.device_path(); }

private:
    std::atomic<bool> stop_{false};
    Simulator simulator_;
    std::thread thread_;
};

}  // namespace varek::sim

#endif
