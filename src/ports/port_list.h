// The port listing's platform half and the order it is shown in.
#ifndef VAREK_PORTS_PORT_LIST_H
#define VAREK_PORTS_PORT_LIST_H

#include <string>
#include <vector>

#include "varek/ports.h"

namespace varek {

// The serial ports the platform lists, in its own order, without locators:
// port_list_posix.cpp reads sysfs, port_list_win32.cpp SetupAPI.
std::vector<VarekPortInfo> PlatformPorts();

// Whether `a` sorts before `b` with runs of digits compared as numbers.
bool NaturalLess(const std::string& a, const std::string& b);

}  // namespace varek

#endif
