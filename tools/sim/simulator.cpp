#include "simulator.h"

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sstream>

#include "hex_text.h"
#include "line_settings.h"

namespace varek::sim {

namespace {

std::string SpacedHex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    const std::string compact = ToHex(bytes);
    for (std::size_t i = 0; i < compact.size(); i += 2) text += compact.substr(i, 2) + " ";
    return text;
}

timespec ToTimespec(std::chrono::nanoseconds wait) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
    return {static_cast<time_t>(seconds.count()), static_cast<long>((wait - seconds).count())};
}

}  // namespace

Simulator::Simulator(const SimulatorOptions& options)
    : options_(options),
      byte_time_(options.pace_baud > 0 ? std::chrono::nanoseconds(10'000'000'000LL / options.pace_baud)
                                       : Clock::duration::zero()),
      line_(std::make_unique<PtyDevice>()),
      control_(options.control_port) {
    if (!options.link_path.empty()) line_->Link(options.link_path);
}

void Simulator::HangUp() {
    line_->Close();
    output_.clear();
    output_blocked_ = false;
    assembler_.Clear();
}

void Simulator::Revive() {
    HangUp();
    auto fresh = std::make_unique<PtyDevice>();
    if (!options_.link_path.empty()) fresh->Link(options_.link_path);
    line_ = std::move(fresh);
}

void Simulator::Run(const std::atomic<bool>& stop) {
    std::vector<pollfd> fds;
    while (!stop.load()) {
        fds.clear();
        if (line_up()) {
            fds.push_back(
                {line_->master(), static_cast<short>(output_blocked_ ? POLLIN | POLLOUT : POLLIN), 0});
        }
        control_.CollectPollFds(fds);
        // Wake at least every 100 ms to notice `stop`.
        std::chrono::nanoseconds wait = std::chrono::milliseconds(100);
        if (const auto next = NextOutputTime(); next && !output_blocked_) {
            wait =
                std::clamp<std::chrono::nanoseconds>(*next - Clock::now(), std::chrono::nanoseconds(0), wait);
        }
        const timespec timeout = ToTimespec(wait);
        if (ppoll(fds.data(), fds.size(), &timeout, nullptr) < 0 && errno != EINTR) break;
        ReadLine();
        WriteDue();
        control_.Service([this](const std::string& line) { return HandleCommand(line); });
    }
}

void Simulator::ReadLine() {
    std::uint8_t chunk[4096];
    while (line_up()) {
        const ssize_t got = read(line_->master(), chunk, sizeof chunk);
        if (got <= 0) return;
        DropStalePartialRequest();
        received_.insert(received_.end(), chunk, chunk + got);
        for (const VarekFrame& request : assembler_.Feed(chunk, static_cast<std::size_t>(got))) {
            Answer(request);
        }
    }
}

void Simulator::DropStalePartialRequest() {
    const Clock::time_point now = Clock::now();
    const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(now - last_input_);
    last_input_ = now;
    if (assembler_.pending() == 0 || quiet < kRequestPause) return;
    if (options_.log_frames) {
        std::fprintf(stderr, "sim  dropped %zu bytes of an unfinished request after %lld ms of quiet\n",
                     assembler_.pending(), static_cast<long long>(quiet.count()));
    }
    assembler_.Clear();
}

void Simulator::Answer(const VarekFrame& request) {
    ++request_count_;
    // A decoded request rebuilds to exactly the bytes that carried it.
    VarekDDG::BuildFrame(request.cmd, request.param, request.data.data(),
                         static_cast<std::int32_t>(request.data.size()), last_request_);
    if (options_.log_frames) std::fprintf(stderr, "host > %s\n", SpacedHex(last_request_).c_str());

    FaultPlan plan = options_.standing_faults;
    if (!queued_faults_.empty()) {
        plan = std::move(queued_faults_.front());
        queued_faults_.pop_front();
    }
    // On a paced line the request is whole only when its last byte has crossed it.
    const Clock::time_point arrived =
        Clock::now() + byte_time_ * static_cast<long long>(last_request_.size());
    for (TimedBytes& piece : ShapeReply(instrument_.Answer(request, plan.refuse), plan)) {
        if (options_.log_frames) std::fprintf(stderr, "sim  < %s\n", SpacedHex(piece.bytes).c_str());
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
    output_blocked_ = false;
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
        const ssize_t put = due == 0 ? 0 : write(line_->master(), next.bytes.data(), due);
        // The pty took less than offered: the host is not reading; go on when it does.
        output_blocked_ = put < static_cast<ssize_t>(due);
        if (put <= 0 && due > 0) return;
        line_free_ = start + byte_time_ * static_cast<long long>(put);
        next.bytes.erase(next.bytes.begin(), next.bytes.begin() + put);
        if (!next.bytes.empty()) return;
        if (next.then_hang_up) {
            HangUp();
            return;
        }
        output_.pop_front();
    }
}

void Simulator::SettleInput(int quiet_ms) {
    if (!line_up()) return;
    pollfd entry{line_->master(), POLLIN, 0};
    while (poll(&entry, 1, quiet_ms) > 0) {
        const std::size_t before = received_.size();
        ReadLine();
        if (received_.size() == before) break;
    }
}

std::string Simulator::HandleCommand(const std::string& line) {
    std::istringstream words(line);
    std::string command;
    words >> command;
    std::string rest;
    std::getline(words, rest);

    if (command == "ping") return "ok";
    if (command == "reset") {
        SettleInput(20);
        queued_faults_.clear();
        output_.clear();
        received_.clear();
        last_request_.clear();
        assembler_.Clear();
        request_count_ = 0;
        instrument_ = Instrument();
        return "ok";
    }
    if (command == "state") {
        SettleInput(30);
        return "ok " + instrument_.Describe();
    }
    if (command == "temperature") {
        try {
            instrument_.state().temperature = std::stof(rest);
        } catch (const std::exception&) {
            return "error temperature needs a number";
        }
        return "ok";
    }
    if (command == "fault") {
        std::string error;
        auto plan = ParseFaultPlan(rest, error);
        if (!plan) return "error " + error;
        queued_faults_.push_back(std::move(*plan));
        return "ok";
    }
    if (command == "received") {
        SettleInput(30);
        return "ok " + ToHex(received_);
    }
    if (command == "requests") {
        SettleInput(30);
        return "ok " + std::to_string(request_count_);
    }
    if (command == "last") {
        SettleInput(30);
        return "ok " + ToHex(last_request_);
    }
    if (command == "hangup") {
        HangUp();
        return "ok";
    }
    if (command == "revive") {
        Revive();
        return "ok " + line_->device_path();
    }
    if (command == "device") return "ok " + line_->device_path();
    if (command == "line") {
        const std::string settings = line_up() ? DescribeLineSettings(line_->slave_keeper()) : "";
        return settings.empty() ? "error cannot read line settings" : "ok " + settings;
    }
    return "error unknown command: " + command;
}

}  // namespace varek::sim
