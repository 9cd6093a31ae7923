#include "embedded_instrument.h"

namespace varek::sim {

EmbeddedInstrument::EmbeddedInstrument()
    : simulator_(SimulatorOptions{}), thread_([this] { simulator_.Run(stop_); }) {}

EmbeddedInstrument::~EmbeddedInstrument() {
    stop_.store(true);
    thread_.join();
}

}  // namespace varek::sim
