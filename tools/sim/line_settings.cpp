// termios2 reports the line speed as a number rather than a Bxxx code; its
// header cannot be mixed with <termios.h>, hence this file of its own.
#include "line_settings.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <sstream>

namespace varek::sim {

std::string DescribeLineSettings(int tty_fd) {
    struct termios2 settings {};
    if (ioctl(tty_fd, TCGETS2, &settings) != 0) return "";
    int bits = 8;
    switch (settings.c_cflag & CSIZE) {
    case CS5: bits = 5; break;
    case CS6: bits = 6; break;
    case CS7: bits = 7; break;
    default: bits = 8; break;
    }
    std::ostringstream text;
    auto flag = [](unsigned value, unsigned mask) { return (value & mask) != 0 ? 1 : 0; };
    text << "baud=" << settings.c_ospeed << " bits=" << bits << " parenb=" << flag(settings.c_cflag, PARENB)
         << " parodd=" << flag(settings.c_cflag, PARODD) << " cmspar=" << flag(settings.c_cflag, CMSPAR)
         << " stop=" << ((settings.c_cflag & CSTOPB) != 0 ? 2 : 1)
         << " crtscts=" << flag(settings.c_cflag, CRTSCTS) << " ixon=" << flag(settings.c_iflag, IXON)
         << " ixoff=" << flag(settings.c_iflag, IXOFF) << " echo=" << flag(settings.c_lflag, ECHO)
         << " icanon=" << flag(settings.c_lflag, ICANON);
    return text.str();
}

}  // namespace varek::sim
