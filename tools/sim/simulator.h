// The simulated instrument: its line (a pseudo-terminal or a serial port),
// the instrument behind it, the faults queued for coming requests, and the
// control channel that steers them.
#ifndef VAREK_SIM_SIMULATOR_H
#define VAREK_SIM_SIMULATOR_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control_server.h"
#include "fault_plan.h"
#include "instrument.h"
#include "line.h"
#include "request_assembler.h"

namespace varek::sim {

struct SimulatorOptions {
    std::string port;                            // empty: a pseudo-terminal of its own; else this serial port
    std::string listen_host;                     // not empty: a TCP port instead of either
    unsigned short listen_port = 0;              // of `listen_host`; 0: any free port
    std::int32_t baud = VarekDDG::DEFAULT_BAUD;  // for `port`
    std::string link_path;                       // a symlink to the pseudo-terminal; empty: none
    int control_port = 0;                        // 0: any free loopback port
    // 0: bytes move as fast as the pty takes them; else each byte takes the
    // 10 bit times of this baud rate (start, 8 data, stop) in both directions.
    int pace_baud = 0;
    bool log_frames = false;    // every frame in both directions on stderr
    FaultPlan standing_faults;  // applied to each request no queued fault covers
};

class Simulator {
public:
    explicit Simulator(const SimulatorOptions& options);

    // The current device; a revived pseudo-terminal has a new one.
    const std::string& device_path() const { return line_->device(); }
    int control_port() const { return control_.port(); }

    // Serves the line and the control channel until `stop` becomes true.
    // Throws LineLost when a serial port goes away underneath.
    void Run(const std::atomic<bool>& stop);

    // One control command, as the control channel receives it.
    std::string HandleCommand(const std::string& line);

    // The instrument's state, as the control channel's "state" reports it.
    std::string DescribeState() const { return instrument_.Describe(); }

private:
    using Clock = std::chrono::steady_clock;
    struct Scheduled {
        Clock::time_point at;
        std::vector<std::uint8_t> bytes;
        bool then_hang_up;
    };

    // Closes the line as an unplugged cable or an exiting instrument would:
    // the host's port hangs up and its device disappears.
    void HangUp();
    bool line_up() const { return line_->up(); }

    // Takes in what the host wrote within `wait`.
    void ReadLine(std::chrono::nanoseconds wait);
    void Answer(const VarekFrame& request);
    void WriteDue();
    // When the next output byte may go, or nothing when there is none.
    std::optional<Clock::time_point> NextOutputTime() const;
    // When the front output's first unsent byte starts on the line.
    Clock::time_point FrontStart() const;
    // Waits until the host has written nothing for `quiet_ms`, so that a
    // question about what arrived sees everything already sent.
    void SettleInput(int quiet_ms);

    SimulatorOptions options_;
    Clock::duration byte_time_{};
    Clock::time_point line_free_{};  // when the last byte sent has left the line
    std::unique_ptr<Line> line_;     // after a hang-up, closed until revived
    ControlServer control_;
    Instrument instrument_;
    RequestAssembler assembler_;
    std::deque<FaultPlan> queued_faults_;
    std::deque<Scheduled> output_;
    // What the host wrote, its latest bytes only: a simulator may serve a
    // server for months.
    static constexpr std::size_t kReceivedKept = 64 * 1024;
    std::vector<std::uint8_t> received_;
    std::uint64_t received_total_ = 0;
    std::vector<std::uint8_t> last_request_;
    std::uint64_t request_count_ = 0;
};

}  // namespace varek::sim

#endif
