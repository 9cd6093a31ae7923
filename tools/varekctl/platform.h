// What varekctl needs of the operating system beyond the library.
#ifndef VAREKCTL_PLATFORM_H
#define VAREKCTL_PLATFORM_H

#include <optional>
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

// Starts a simulated instrument inside this process and returns the port to
// open, or nothing where the platform has none.
std::optional<std::string> StartEmbeddedInstrument();

}  // namespace varekctl

#endif
