#include <filesystem>

#include "sim_control.h"

namespace varek::test {

std::basic_string<PortNameChar> SimPortName(int instrument) {
    return SimEnvironment("VAREK_SIM_PORT", instrument);
}

std::basic_string<PortNameChar> MissingPortName() { return "/dev/varek-no-such-port"; }

const char* MissingCPortName() { return "/dev/varek-no-such-port"; }

std::string CurrentSimCPortName(SimControl& sim) { return sim.Command("device"); }

std::size_t OpenHandleCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

bool ExclusiveOpenIsEnforced() { return true; }

}  // namespace varek::test
