#include <windows.h>

#include "protocol/line_platform.h"

namespace varek {

std::uint32_t TickCountMs() { return GetTickCount(); }

}  // namespace varek
