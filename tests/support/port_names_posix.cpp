#include "sim_control.h"

namespace varek::test {

std::basic_string<PortNameChar> SimPortName(int instrument) {
    return SimEnvironment("VAREK_SIM_PORT", instrument);
}

std::basic_string<PortNameChar> MissingPortName() { return "/dev/varek-no-such-port"; }

const char* MissingCPortName() { return "/dev/varek-no-such-port"; }

std::string CurrentSimCPortName(SimControl& sim) { return sim.Command("device"); }

bool ExclusiveOpenIsEnforced() { return true; }

}  // namespace varek::test
