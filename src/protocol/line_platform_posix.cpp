#include <termios.h>
#include <time.h>

#include "protocol/line_platform.h"

namespace varek {

void PurgeInput(SerialPort& port) {
    // The transmit side is left alone: only stale input must not be taken for
    // the coming reply. Always flush: FIONREAD does not count bytes still in
    // the tty's flip buffer, so asking first lets a reply that landed just
    // before the request through.
    tcflush(port.GetHandle(), TCIFLUSH);
}

std::uint32_t TickCountMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto ms =
        static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

}  // namespace varek
