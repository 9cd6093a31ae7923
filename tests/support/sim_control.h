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
    // Connects to the simulator named by VAREK_SIM_CONTROL; throws
    // std::runtime_error when there is none.
    SimControl();
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

// The simulated port's name as the platform opens it.
std::basic_string<PortNameChar> SimPortName();
// A port name that names no port on this platform.
std::basic_string<PortNameChar> MissingPortName();

}  // namespace varek::test

#endif
