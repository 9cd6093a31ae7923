#include "port_name.h"

std::basic_string<PortNameChar> ToPortName(const std::string& utf8) { return utf8; }
