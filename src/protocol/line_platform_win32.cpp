#include <windows.h>

#include "protocol/line_platform.h"

namespace varek {

void PurgeInput(SerialPort& port) {
    // The transmit side is left alone: only stale input must not be taken for
    // the coming reply.
    PurgeComm(port.GetHandle(), PURGE_RXABORT | PURGE_RXCLEAR);
}

std::uint32_t TickCountMs() { return GetTickCount(); }

}  // namespace varek
