// The test side of the simulated instrument: which port to open and the
// control channel that sets faults and reads what the instrument saw. The
// port and control address come from run_with_sim.sh.
#ifndef VAREK_TESTS_SIM_CONTROL_H
#define VAREK_TESTS_SIM_CONTROL_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "varek/serial_port.h"

namespace varek::test {

class ControlSocket;

class SimControl {
public:
    // Connects to the control channel of simulated instrument `instrument`
    // (1 or 2); throws std::runtime_error when there is none.
    explicit SimControl(int instrument = 1);
    ~SimControl();

    // Sends one command line; returns the answer after "ok ", or throws
    // std::runtime_error on an "error" answer.
    std::string Command(const std::string& line);

    void Reset() { Command("reset"); }
    // Queues a fault for the next request, e.g. "delay=200 split=3,20".
    void Fault(const std::string& words) { Command("fault " + words); }
    std::vector<std::uint8_t> Received();
    std::vector<std::uint8_t> LastRequest();
    int RequestCount();
    std::string LineSettings() { return Command("line"); }
    // One value of the instrument's state, e.g. "delay3" or "word".
    std::string State(const std::string& key);
    // Answers the next request with exactly these bytes.
    void NextReply(const std::vector<std::uint8_t>& bytes);

private:
    std::unique_ptr<ControlSocket> socket_;
};

// The environment variable `name` of instrument `instrument`, as
// run_with_sim.sh sets it; throws std::runtime_error when it is not set.
std::string SimEnvironment(const char* name, int instrument);

// The simulated port's name as the class interface opens it.
std::basic_string<PortNameChar> SimPortName(int instrument = 1);
// The name a host of the C interface passes to varek_init for it.
inline std::string SimCPortName(int instrument = 1) { return SimEnvironment("VAREK_SIM_C_PORT", instrument); }
// The same, as a C host names it.
const char* MissingCPortName();
// The name a C host passes to varek_init for `sim`'s line as it is now:
// after a revive the device path changes, while Wine's COM name stays.
std::string CurrentSimCPortName(SimControl& sim);
// Whether a second open of a held port fails here: Wine, unlike Windows and
// Linux, enforces no share mode on devices.
bool ExclusiveOpenIsEnforced();
// Whether this system's ttys carry every line setting the library sets:
// qemu-user 7.2 translates termios through a table that stops at 460800
// baud and lacks CMSPAR (mark and space parity), so under it faster rates
// and those parities cannot be seen on the line.
bool TtysCarryEveryLineSetting();
// The fastest rate that then still shows.
constexpr int kFastestRateEveryTtyCarries = 460800;
// A port name that names no port on this platform.
std::basic_string<PortNameChar> MissingPortName();

}  // namespace varek::test

#endif
