// Port names as the C interface's hosts give them, turned into what the
// serial port opens.
#ifndef VAREK_PORTS_PORT_NAME_H
#define VAREK_PORTS_PORT_NAME_H

#include <string>

#include "varek/serial_port.h"

namespace varek {

// COM followed only by decimal digits (ASCII, any letter case for COM) whose
// value is above 9 gets the device prefix \\.\ in front; every other name
// comes back unchanged. A number beyond 2147483647 gives an empty string.
std::u16string NormalizePortName(const std::u16string& name);

// The host's NUL-terminated name as the platform opens it: on Windows from
// the ANSI code page to UTF-16, normalised; on Linux the UTF-8 device path as
// given. Empty when there is nothing to open.
std::basic_string<PortNameChar> HostPortName(const char* name);

}  // namespace varek

#endif
