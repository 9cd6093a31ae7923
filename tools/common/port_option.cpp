#include "port_option.h"

#include <cstdlib>
#include <limits>

#include "embedded_instrument.h"
#include "tool_error.h"
#include "varek/user_input.h"

namespace varek::tools {

std::string ChosenPort(const std::string& given) {
    if (!given.empty()) return given;
    const char* environment = std::getenv("VAREK_PORT");
    if (environment != nullptr && *environment != '\0') return environment;
    throw UsageError("no port given: name the instrument's with --port PORT or VAREK_PORT (ports here: " +
                     PortNamesForMessage() + "; --port " + kSimulatedPort + " tries a simulated instrument)");
}

InstrumentPort::InstrumentPort(const std::string& chosen) : name_(chosen) {
    if (chosen != kSimulatedPort) return;
    try {
        simulated_ = std::make_unique<sim::EmbeddedInstrument>();
    } catch (const std::runtime_error& error) {
        throw UsageError(std::string("--port ") + kSimulatedPort + ": " + error.what());
    }
    name_ = simulated_->port();
}

InstrumentPort::~InstrumentPort() = default;

VarekResolvedPort ResolvedPort(const std::string& name) {
    VarekResolvedPort port = VarekResolvePort(name.c_str());
    if (port.resolution == VarekPortResolution::Malformed) throw UsageError(port.why);
    if (!port.ok()) throw DeviceError(port.why);
    return port;
}

std::int32_t ParseBaud(const std::string& text) {
    std::string ignored;
    const auto baud = VarekParseWhole(text, 1, std::numeric_limits<std::int32_t>::max(), ignored);
    if (!baud) throw UsageError("--baud takes a baud rate, a positive whole number, got " + text);
    return static_cast<std::int32_t>(*baud);
}

std::string PortNamesForMessage() {
    std::string names;
    for (const VarekPortInfo& port : VarekListPorts()) names += (names.empty() ? "" : ", ") + port.name;
    return names.empty() ? "none" : names;
}

}  // namespace varek::tools
