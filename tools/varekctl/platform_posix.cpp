#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

#include "platform.h"
#include "simulator.h"

namespace varekctl {

namespace fs = std::filesystem;

std::basic_string<PortNameChar> ToPortName(const std::string& name) { return name; }

std::string DescribeOpenFailure(const std::string& name) {
    struct stat info {};
    if (stat(name.c_str(), &info) != 0) return "no such port";
    if (!S_ISCHR(info.st_mode)) return "not a serial device";
    const int fd = open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return "no permission to open it (is the user in the dialout group?)";
    const bool locked = flock(fd, LOCK_EX | LOCK_NB) != 0;
    close(fd);
    if (locked) return "in use by another program";
    return "it refused the line settings (baud rate?)";
}

std::vector<SerialPortInfo> ListSerialPorts() {
    std::vector<SerialPortInfo> ports;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/sys/class/tty", error)) {
        const fs::path device = entry.path() / "device";
        std::error_code link_error;
        const std::string subsystem = fs::read_symlink(device / "subsystem", link_error).filename().string();
        // Virtual consoles have no device; the kernel's placeholder ttyS
        // ports (no UART behind them) hang off the platform bus.
        if (link_error || subsystem == "platform") continue;
        const std::string tty = entry.path().filename().string();
        const std::string driver = fs::read_symlink(device / "driver", link_error).filename().string();
        const bool usb = subsystem == "usb" || subsystem == "usb-serial" || tty.rfind("ttyACM", 0) == 0;
        ports.push_back({"/dev/" + tty, driver, usb});
    }
    std::sort(ports.begin(), ports.end(),
              [](const SerialPortInfo& a, const SerialPortInfo& b) { return a.name < b.name; });
    return ports;
}

namespace {

class SimulatorThread : public EmbeddedInstrument {
public:
    SimulatorThread()
        : simulator_(varek::sim::SimulatorOptions{}), thread_([this] { simulator_.Run(stop_); }) {}
    ~SimulatorThread() override {
        stop_.store(true);
        thread_.join();
    }
    const std::string& port() const override { return simulator_.device_path(); }

private:
    std::atomic<bool> stop_{false};
    varek::sim::Simulator simulator_;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<EmbeddedInstrument> StartEmbeddedInstrument() { return std::make_unique<SimulatorThread>(); }

}  // namespace varekctl
