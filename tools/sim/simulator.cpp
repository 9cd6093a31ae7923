#include "simulator.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <sstream>

#include "hex_text.h"
#include "line_settings.h"

namespace varek::sim {

Simulator::Simulator(const SimulatorOptions& options) : control_(options.control_port) {
    if (!options.link_path.empty()) pty_.Link(options.link_path);
}

void Simulator::Run(const std::atomic<bool>& stop) {
    std::vector<pollfd> fds;
    while (!stop.load()) {
        fds.clear();
        const short line_events = output_.empty() ? POLLIN : POLLIN | POLLOUT;
        fds.push_back({pty_.master(), line_events, 0});
        control_.CollectPollFds(fds);
        // Wake at least every 100 ms to notice `stop`.
        const int wait_ms = std::min(100, MsUntilNextOutput());
        if (poll(fds.data(), fds.size(), wait_ms) < 0 && errno != EINTR) break;
        ReadLine();
        WriteDue();
        control_.Service([this](const std::string& line) { return HandleCommand(line); });
    }
}

void Simulator::ReadLine() {
    std::uint8_t chunk[4096];
    for (;;) {
        const ssize_t got = read(pty_.master(), chunk, sizeof chunk);
        if (got <= 0) return;
        received_.insert(received_.end(), chunk, chunk + got);
        for (const VarekFrame& request : assembler_.Feed(chunk, static_cast<std::size_t>(got))) {
            Answer(request);
        }
    }
}

void Simulator::Answer(const VarekFrame& request) {
    ++request_count_;
    // A decoded request rebuilds to exactly the bytes that carried it.
    VarekDDG::BuildFrame(request.cmd, request.param, request.data.data(),
                         static_cast<std::int32_t>(request.data.size()), last_request_);

    FaultPlan plan;
    if (!queued_faults_.empty()) {
        plan = std::move(queued_faults_.front());
        queued_faults_.pop_front();
    }
    const Clock::time_point arrived = Clock::now();
    for (TimedBytes& piece : ShapeReply(instrument_.Answer(request, plan.refuse), plan)) {
        output_.push_back({arrived + std::chrono::milliseconds(piece.at_ms), std::move(piece.bytes)});
    }
}

void Simulator::WriteDue() {
    while (!output_.empty() && output_.front().at <= Clock::now()) {
        Scheduled& next = output_.front();
        const ssize_t put =
            next.bytes.empty() ? 0 : write(pty_.master(), next.bytes.data(), next.bytes.size());
        if (put < 0) return;  // the host is not reading; try again when writable
        next.bytes.erase(next.bytes.begin(), next.bytes.begin() + put);
        if (!next.bytes.empty()) return;
        output_.pop_front();
    }
}

int Simulator::MsUntilNextOutput() const {
    if (output_.empty()) return 1000;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(output_.front().at - Clock::now());
    return static_cast<int>(std::max<long long>(0, left.count() + 1));
}

void Simulator::SettleInput(int quiet_ms) {
    pollfd entry{pty_.master(), POLLIN, 0};
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
    if (command == "line") {
        const std::string settings = DescribeLineSettings(pty_.slave_keeper());
        return settings.empty() ? "error cannot read line settings" : "ok " + settings;
    }
    return "error unknown command: " + command;
}

}  // namespace varek::sim
