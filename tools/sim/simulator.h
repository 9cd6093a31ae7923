// The simulated instrument: a pty line, the instrument behind it, the faults
// queued for coming requests, and the control channel that steers them.
#ifndef VAREK_SIM_SIMULATOR_H
#define VAREK_SIM_SIMULATOR_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "control_server.h"
#include "fault_plan.h"
#include "instrument.h"
#include "pty_device.h"
#include "request_assembler.h"

namespace varek::sim {

struct SimulatorOptions {
    std::string link_path;  // empty: no symlink
    int control_port = 0;   // 0: any free loopback port
};

class Simulator {
public:
    explicit Simulator(const SimulatorOptions& options);

    const std::string& device_path() const { return pty_.device_path(); }
    int control_port() const { return control_.port(); }

    // Serves the line and the control channel until `stop` becomes true.
    void Run(const std::atomic<bool>& stop);

    // One control command, as the control channel receives it.
    std::string HandleCommand(const std::string& line);

private:
    using Clock = std::chrono::steady_clock;
    struct Scheduled {
        Clock::time_point at;
        std::vector<std::uint8_t> bytes;
    };

    void ReadLine();
    void Answer(const VarekFrame& request);
    void WriteDue();
    int MsUntilNextOutput() const;
    // Waits until the host has written nothing for `quiet_ms`, so that a
    // question about what arrived sees everything already sent.
    void SettleInput(int quiet_ms);

    PtyDevice pty_;
    ControlServer control_;
    Instrument instrument_;
    RequestAssembler assembler_;
    std::deque<FaultPlan> queued_faults_;
    std::deque<Scheduled> output_;
    std::vector<std::uint8_t> received_;
    std::vector<std::uint8_t> last_request_;
    std::uint64_t request_count_ = 0;
};

}  // namespace varek::sim

#endif
