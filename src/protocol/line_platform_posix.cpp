#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>

#include "protocol/line_platform.h"

namespace varek {

void PurgeInput(SerialPort& port) {
    // The transmit side is left alone: only stale input must not be taken for
    // the coming reply. Asking first is cheaper than a flush, which takes the
    // tty's buffer locks, and almost always nothing is waiting.
    int waiting = 0;
    if (ioctl(port.GetHandle(), FIONREAD, &waiting) == 0 && waiting == 0) return;
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
