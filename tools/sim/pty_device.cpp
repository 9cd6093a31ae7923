#include "pty_device.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace varek::sim {

namespace {
[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}
}  // namespace

PtyDevice::PtyDevice() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) Fail("posix_openpt");
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) Fail("unlockpt");
    char name[128] = {};
    if (ptsname_r(master_, name, sizeof name) != 0) Fail("ptsname");
    device_path_ = name;
    slave_keeper_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_keeper_ < 0) Fail("open " + device_path_);
    // Raw from the start: a cooked slave would echo our replies back to us
    // until the host's open configures the line.
    termios settings{};
    if (tcgetattr(slave_keeper_, &settings) == 0) {
        cfmakeraw(&settings);
        tcsetattr(slave_keeper_, TCSANOW, &settings);
    }
}

PtyDevice::~PtyDevice() { Close(); }

void PtyDevice::Close() {
    if (!link_path_.empty()) unlink(link_path_.c_str());
    link_path_.clear();  // a later link at the same path belongs to another device
    if (slave_keeper_ >= 0) close(slave_keeper_);
    if (master_ >= 0) close(master_);
    slave_keeper_ = -1;
    master_ = -1;
}

void PtyDevice::Link(const std::string& link_path) {
    unlink(link_path.c_str());
    if (symlink(device_path_.c_str(), link_path.c_str()) != 0) Fail("symlink " + link_path);
    link_path_ = link_path;
}

}  // namespace varek::sim
