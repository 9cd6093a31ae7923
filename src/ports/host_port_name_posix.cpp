#include "ports/port_name.h"

namespace varek {

// Linux names are device paths; COM names mean nothing here, so nothing is
// normalised.
std::basic_string<PortNameChar> HostPortName(const char* name) { return name; }

}  // namespace varek
