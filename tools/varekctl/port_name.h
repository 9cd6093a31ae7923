// Command-line text to the port-name type the class interface takes.
#ifndef VAREKCTL_PORT_NAME_H
#define VAREKCTL_PORT_NAME_H

#include <string>

#include "varek/serial_port.h"

std::basic_string<PortNameChar> ToPortName(const std::string& utf8);

#endif
