// What varekctl needs of the operating system beyond the library.
#ifndef VAREKCTL_PLATFORM_H
#define VAREKCTL_PLATFORM_H

#include <memory>
#include <string>
#include <vector>

#include "varek/serial_port.h"

namespace varekctl {

// Command-line text (UTF-8) as the class interface's port name. On Windows
// COM10 and above get the \\.\ prefix they need.
std::basic_string<PortNameChar> ToPortName(const std::string& name);

// Why `name` did not open, for a message: "no such port", "in use by another
// program", ...
std::string DescribeOpenFailure(const std::string& name);

struct SerialPortInfo {
    std::string name;
    std::string description;  // what the system says it is, "" when nothing
    bool looks_like_usb;
};

std::vector<SerialPortInfo> ListSerialPorts();

// A simulated instrument served from this process until destroyed.
class EmbeddedInstrument {
public:
    virtual ~EmbeddedInstrument() = default;
    virtual const std::string& port() const = 0;
};

// Null where the platform has no simulated instrument.
std::unique_ptr<EmbeddedInstrument> StartEmbeddedInstrument();

}  // namespace varekctl

#endif
