// The control channel's commands: what a test asks of the simulated
// instrument and how it answers ("ok ...", or "error ...").
#include <sstream>

#include "hex_text.h"
#include "simulator.h"

namespace varek::sim {

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
    if (command == "clear") {
        queued_faults_.clear();
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
        HangUp();
        try {
            line_->Revive();
        } catch (const std::exception& failure) {
            return std::string("error ") + failure.what();
        }
        return "ok " + line_->device();
    }
    if (command == "device") return "ok " + line_->device();
    if (command == "line") {
        const std::string settings = line_->HostSettings();
        return settings.empty() ? "error cannot read line settings" : "ok " + settings;
    }
    return "error unknown command: " + command;
}

}  // namespace varek::sim
