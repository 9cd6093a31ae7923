#include "sim_control.h"

#include <cstdlib>
#include <stdexcept>

#include "control_socket.h"
#include "hex_text.h"

namespace varek::test {

namespace {

std::vector<std::uint8_t> HexAnswer(const std::string& answer) {
    auto bytes = sim::FromHex(answer);
    if (!bytes) throw std::runtime_error("simulator sent bad hex: " + answer);
    return *bytes;
}

}  // namespace

std::string ControlSocket::Ask(const std::string& line) {
    if (!SendText(socket_, line + "\n")) throw std::runtime_error("control channel closed");
    for (;;) {
        const std::size_t newline = pending_.find('\n');
        if (newline != std::string::npos) {
            std::string answer = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            return answer;
        }
        char chunk[4096];
        const int got = ReceiveSome(socket_, chunk, sizeof chunk);
        if (got <= 0)
            throw std::runtime_error("the simulator's control channel closed, or gave no answer within " +
                                     std::to_string(kAnswerWaitMs / 1000) + " s");
        pending_.append(chunk, static_cast<std::size_t>(got));
    }
}

std::string SimEnvironment(const char* name, int instrument) {
    const std::string variable = std::string(name) + (instrument > 1 ? "_" + std::to_string(instrument) : "");
    const char* value = std::getenv(variable.c_str());
    if (value == nullptr || *value == '\0') {
        throw std::runtime_error(variable +
                                 " is not set: run this test through ctest (tests/run_with_sim.sh)");
    }
    return value;
}

SimControl::SimControl(int instrument)
    : socket_(std::make_unique<ControlSocket>(std::stoi(SimEnvironment("VAREK_SIM_CONTROL", instrument)))) {}

SimControl::~SimControl() = default;

std::string SimControl::Command(const std::string& line) {
    const std::string answer = socket_->Ask(line);
    if (answer == "ok") return "";
    if (answer.rfind("ok ", 0) == 0) return answer.substr(3);
    throw std::runtime_error("simulator refused '" + line + "': " + answer);
}

std::vector<std::uint8_t> SimControl::Received() { return HexAnswer(Command("received")); }

std::vector<std::uint8_t> SimControl::LastRequest() { return HexAnswer(Command("last")); }

std::string SimControl::State(const std::string& key) {
    const std::string state = " " + Command("state") + " ";
    const std::size_t at = state.find(" " + key + "=");
    if (at == std::string::npos) throw std::runtime_error("no state value " + key + " in" + state);
    const std::size_t start = at + key.size() + 2;
    return state.substr(start, state.find(' ', start) - start);
}

void SimControl::NextReply(const std::vector<std::uint8_t>& bytes) { Fault("reply=" + sim::ToHex(bytes)); }

int SimControl::RequestCount() { return std::stoi(Command("requests")); }

}  // namespace varek::test
