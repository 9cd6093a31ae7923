// termios2 reports the line speed as a number rather than a Bxxx code; its
// header cannot be mixed with <termios.h>, hence this file of its own.
#include "line_settings.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <iterator>
#include <sstream>

namespace varek::sim {
namespace {

struct SpeedCode {
    unsigned code;
    unsigned baud;
};

// The Bxxx codes of the classic request, for where termios2 is refused.
constexpr SpeedCode kSpeedCodes[] = {
    {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},         {B150, 150},
    {B200, 200},         {B300, 300},         {B600, 600},         {B1200, 1200},       {B1800, 1800},
    {B2400, 2400},       {B4800, 4800},       {B9600, 9600},       {B19200, 19200},     {B38400, 38400},
    {B57600, 57600},     {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
    {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000}, {B1500000, 1500000},
    {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000}, {B3500000, 3500000}, {B4000000, 4000000},
};

struct Settings {
    unsigned iflag = 0;
    unsigned cflag = 0;
    unsigned lflag = 0;
    unsigned baud = 0;
};

// termios2 where the kernel has it; else the classic request, whose speed
// is a code (Debian 12's qemu-user 7.2 translates TCGETS but not TCGETS2).
bool ReadSettings(int tty_fd, Settings& out) {
    struct termios2 modern {};
    if (ioctl(tty_fd, TCGETS2, &modern) == 0) {
        out = {modern.c_iflag, modern.c_cflag, modern.c_lflag, modern.c_ospeed};
        return true;
    }
    struct termios classic {};
    if (ioctl(tty_fd, TCGETS, &classic) != 0) return false;
    const unsigned code = classic.c_cflag & CBAUD;
    const auto* known = std::begin(kSpeedCodes);
    while (known != std::end(kSpeedCodes) && known->code != code) ++known;
    if (known == std::end(kSpeedCodes)) return false;  // BOTHER: a speed only termios2 tells
    out = {classic.c_iflag, classic.c_cflag, classic.c_lflag, known->baud};
    return true;
}

}  // namespace

std::string DescribeLineSettings(int tty_fd) {
    Settings settings;
    if (!ReadSettings(tty_fd, settings)) return "";
    int bits = 8;
    switch (settings.cflag & CSIZE) {
    case CS5: bits = 5; break;
    case CS6: bits = 6; break;
    case CS7: bits = 7; break;
    default: bits = 8; break;
    }
    std::ostringstream text;
    auto flag = [](unsigned value, unsigned mask) { return (value & mask) != 0 ? 1 : 0; };
    text << "baud=" << settings.baud << " bits=" << bits << " parenb=" << flag(settings.cflag, PARENB)
         << " parodd=" << flag(settings.cflag, PARODD) << " cmspar=" << flag(settings.cflag, CMSPAR)
         << " stop=" << ((settings.cflag & CSTOPB) != 0 ? 2 : 1)
         << " crtscts=" << flag(settings.cflag, CRTSCTS) << " ixon=" << flag(settings.iflag, IXON)
         << " ixoff=" << flag(settings.iflag, IXOFF) << " echo=" << flag(settings.lflag, ECHO)
         << " icanon=" << flag(settings.lflag, ICANON);
    return text.str();
}

}  // namespace varek::sim
