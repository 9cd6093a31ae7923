#include <windows.h>

#include "process_stats.h"
#include "sim_control.h"

namespace varek::test {

std::basic_string<PortNameChar> SimPortName(int instrument) {
    // The names are plain ASCII, such as \\.\COM12.
    const std::string name = SimEnvironment("VAREK_SIM_PORT", instrument);
    return std::wstring(name.begin(), name.end());
}

std::basic_string<PortNameChar> MissingPortName() { return L"\\\\.\\COM251"; }

const char* MissingCPortName() { return "COM251"; }

std::string CurrentSimCPortName(SimControl&) { return SimCPortName(); }

bool ExclusiveOpenIsEnforced() { return !stats::RunningUnderWine(); }

bool TtysCarryEveryLineSetting() { return true; }

}  // namespace varek::test
