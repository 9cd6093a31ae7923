#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include "sim_control.h"

namespace varek::test {

std::basic_string<PortNameChar> SimPortName(int instrument) {
    return SimEnvironment("VAREK_SIM_PORT", instrument);
}

std::basic_string<PortNameChar> MissingPortName() { return "/dev/varek-no-such-port"; }

const char* MissingCPortName() { return "/dev/varek-no-such-port"; }

std::string CurrentSimCPortName(SimControl& sim) { return sim.Command("device"); }

bool ExclusiveOpenIsEnforced() { return true; }

bool TtysCarryEveryLineSetting() {
    const int far_end = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (far_end < 0 || grantpt(far_end) != 0 || unlockpt(far_end) != 0) return false;
    const int tty = open(ptsname(far_end), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    bool carried = false;
    if (tty >= 0 && tcgetattr(tty, &settings) == 0) {
        cfsetspeed(&settings, B921600);
        settings.c_cflag |= CMSPAR;
        carried = tcsetattr(tty, TCSANOW, &settings) == 0 && tcgetattr(tty, &settings) == 0 &&
                  cfgetospeed(&settings) == B921600 && (settings.c_cflag & CMSPAR) != 0;
    }
    if (tty >= 0) close(tty);
    close(far_end);
    return carried;
}

}  // namespace varek::test
