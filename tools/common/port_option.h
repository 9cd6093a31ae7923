// How every program is told its instrument: --port NAME, else VAREK_PORT;
// "sim" for a simulated instrument inside the program; --baud N. Names are
// resolved by the library, like every host's.
#ifndef VAREK_TOOLS_PORT_OPTION_H
#define VAREK_TOOLS_PORT_OPTION_H

#include <cstdint>
#include <memory>
#include <string>

#include "varek/ports.h"

namespace varek::sim {
class EmbeddedInstrument;
}

namespace varek::tools {

// The --port value that starts a simulated instrument inside the program.
constexpr const char* kSimulatedPort = "sim";

// `given` (the --port value, "" when none) or else VAREK_PORT; throws
// UsageError, listing this machine's ports, when neither names one.
std::string ChosenPort(const std::string& given);

// The instrument's port as the program opens it: for "sim" the device of a
// simulated instrument it starts and keeps, else the name as given.
class InstrumentPort {
public:
    // Throws UsageError when "sim" cannot start here.
    explicit InstrumentPort(const std::string& chosen);
    ~InstrumentPort();
    InstrumentPort(const InstrumentPort&) = delete;
    InstrumentPort& operator=(const InstrumentPort&) = delete;

    const std::string& name() const { return name_; }
    bool simulated() const { return simulated_ != nullptr; }

private:
    std::unique_ptr<sim::EmbeddedInstrument> simulated_;
    std::string name_;
};

// `name` resolved by the library; throws UsageError for a malformed name and
// DeviceError with the library's reason when it picks no port.
VarekResolvedPort ResolvedPort(const std::string& name);

// A --baud value: a positive whole decimal number; throws UsageError.
std::int32_t ParseBaud(const std::string& text);

// This machine's ports by name, "none" when it has none: for messages.
std::string PortNamesForMessage();

}  // namespace varek::tools

#endif
