// The simulator's pump: what the host writes is read, answered and, on a
// paced line, sent at the line's rate.
#include "simulator.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace varek::sim {

namespace {

std::string Spaced(const std::vector<std::uint8_t>& bytes) { return VarekHex(bytes.data(), bytes.size()); }

std::unique_ptr<Line> OpenLine(const SimulatorOptions& options) {
    if (!options.listen_host.empty()) return ListenTcp(options.listen_host, options.listen_port);
    if (!options.port.empty()) return OpenSerialPort(options.port, options.baud);
    return OpenPseudoTerminal(options.link_path);
}

// The longest the loop waits on the line before it looks at the control
// channel again: how late a control command may be answered.
constexpr std::chrono::milliseconds kControlTick{10};

}  // namespace

Simulator::Simulator(const SimulatorOptions& options)
    : options_(options),
      byte_time_(options.pace_baud > 0 ? std::chrono::nanoseconds(10'000'000'000LL / options.pace_baud)
                                       : Clock::duration::zero()),
      line_(OpenLine(options)),
      control_(options.control_port) {}

void Simulator::HangUp() {
    line_->HangUp();
    output_.clear();
    assembler_.Clear();
}

void Simulator::Run(const std::atomic<bool>& stop) {
    const ControlServer::Handler handle = [this](const std::string& line) { return HandleCommand(line); };
    while (!stop.load()) {
        std::chrono::nanoseconds wait = kControlTick;
        if (const auto next = NextOutputTime()) {
            wait =
                std::clamp<std::chrono::nanoseconds>(*next - Clock::now(), std::chrono::nanoseconds(0), wait);
        }
        if (line_up()) {
            ReadLine(wait);
        } else {
            std::this_thread::sleep_for(wait);
        }
        WriteDue();
        control_.Poll(handle);
    }
}

void Simulator::ReadLine(std::chrono::nanoseconds wait) {
    std::uint8_t chunk[4096];
    // After the first read, take whatever else is already there without waiting.
    for (std::size_t got; line_up() && (got = line_->Read(chunk, sizeof chunk, wait)) > 0;
         wait = std::chrono::nanoseconds(0)) {
        const std::vector<VarekFrame> requests = assembler_.Feed(chunk, got, Clock::now());
        if (assembler_.dropped() > 0 && options_.log_frames) {
            std::fprintf(
                stderr, "sim  dropped %zu bytes of an unfinished request after %lld ms or more of quiet\n",
                assembler_.dropped(), static_cast<long long>(RequestAssembler::kRequestPause.count()));
        }
        received_.insert(received_.end(), chunk, chunk + got);
        received_total_ += got;
        if (received_.size() > kReceivedKept) {
            received_.erase(received_.begin(), received_.end() - static_cast<std::ptrdiff_t>(kReceivedKept));
        }
        for (const VarekFrame& request : requests) Answer(request);
    }
}

void Simulator::Answer(const VarekFrame& request) {
    ++request_count_;
    // A decoded request rebuilds to exactly the bytes that carried it.
    VarekDDG::BuildFrame(request.cmd, request.param, request.data.data(),
                         static_cast<std::int32_t>(request.data.size()), last_request_);
    if (options_.log_frames) std::fprintf(stderr, "host > %s\n", Spaced(last_request_).c_str());

    FaultPlan plan = options_.standing_faults;
    if (!queued_faults_.empty()) {
        plan = std::move(queued_faults_.front());
        queued_faults_.pop_front();
    }
    // On a paced line the request is whole only when its last byte has crossed it.
    const Clock::time_point arrived =
        Clock::now() + byte_time_ * static_cast<long long>(last_request_.size());
    for (TimedBytes& piece : ShapeReply(instrument_.Answer(request, plan.refuse, plan.ignore), plan)) {
        if (options_.log_frames) std::fprintf(stderr, "sim  < %s\n", Spaced(piece.bytes).c_str());
        output_.push_back(
            {arrived + std::chrono::milliseconds(piece.at_ms), std::move(piece.bytes), piece.then_hang_up});
    }
}

Simulator::Clock::time_point Simulator::FrontStart() const {
    return std::max(output_.front().at, line_free_);
}

std::optional<Simulator::Clock::time_point> Simulator::NextOutputTime() const {
    if (output_.empty()) return std::nullopt;
    return FrontStart() + byte_time_;
}

void Simulator::WriteDue() {
    while (!output_.empty() && line_up()) {
        const Clock::time_point now = Clock::now();
        const Clock::time_point start = FrontStart();
        if (start > now) return;
        Scheduled& next = output_.front();
        std::size_t due = next.bytes.size();
        if (byte_time_ > Clock::duration::zero()) {
            due = std::min<std::size_t>(due, static_cast<std::size_t>((now - start) / byte_time_));
            if (due == 0 && !next.bytes.empty()) return;
        }
        const std::size_t put = due == 0 ? 0 : line_->Write(next.bytes.data(), due);
        // The line took less than offered (the host is not reading): go on later.
        if (put == 0 && due > 0) return;
        line_free_ = start + byte_time_ * static_cast<long long>(put);
        next.bytes.erase(next.bytes.begin(), next.bytes.begin() + static_cast<std::ptrdiff_t>(put));
        if (!next.bytes.empty()) return;
        if (next.then_hang_up) {
            HangUp();
            return;
        }
        output_.pop_front();
    }
}

void Simulator::SettleInput(int quiet_ms) {
    std::uint64_t seen = 0;
    do {
        seen = received_total_;
        if (line_up()) ReadLine(std::chrono::milliseconds(quiet_ms));
    } while (line_up() && received_total_ != seen);
}

}  // namespace varek::sim
