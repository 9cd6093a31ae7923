// Serial ports from sysfs, as udev sees them: /sys/class/tty/NAME/device
// leads to the device behind each tty, and for a USB adapter up to the USB
// device that carries its identity.
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ports/port_list.h"

namespace varek {

namespace {

namespace fs = std::filesystem;

fs::path RootFromEnvironment(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0' ? value : fallback;
}

// The first line of a sysfs attribute, "" when there is none.
std::string Attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string LinkTargetName(const fs::path& link) {
    std::error_code error;
    return fs::read_symlink(link, error).filename().string();
}

// The stable name udev made for `tty` under by-id, "" when none.
std::string ByIdLink(const fs::path& dev_root, const std::string& tty) {
    std::error_code error;
    for (const auto& link : fs::directory_iterator(dev_root / "serial" / "by-id", error)) {
        if (LinkTargetName(link.path()) == tty) return link.path().string();
    }
    return "";
}

void AddUsbIdentity(const fs::path& interface, VarekPortInfo& port) {
    const fs::path usb_device = interface.parent_path();
    port.vid = Attribute(usb_device / "idVendor");
    port.pid = Attribute(usb_device / "idProduct");
    port.serial_number = Attribute(usb_device / "serial");
    port.manufacturer = Attribute(usb_device / "manufacturer");
    port.product = Attribute(usb_device / "product");
    port.location = interface.filename().string();
}

}  // namespace

std::vector<VarekPortInfo> PlatformPorts() {
    const fs::path sysfs = RootFromEnvironment("VAREK_SYSFS_ROOT", "/sys");
    const fs::path dev_root = RootFromEnvironment("VAREK_DEV_ROOT", "/dev");
    std::vector<VarekPortInfo> ports;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(sysfs / "class" / "tty", error)) {
        std::error_code device_error;
        // Virtual consoles and pseudo-terminals have no device behind them.
        const fs::path device = fs::canonical(entry.path() / "device", device_error);
        if (device_error) continue;
        const std::string subsystem = LinkTargetName(device / "subsystem");
        // The kernel's placeholder ttyS ports (no UART behind them) hang off the platform bus.
        if (subsystem == "platform") continue;
        const std::string tty = entry.path().filename().string();
        VarekPortInfo port;
        port.name = (dev_root / tty).string();
        port.description = LinkTargetName(device / "driver");
        // A usb-serial port sits under its USB interface; a CDC-ACM tty's device is the interface.
        if (subsystem == "usb-serial") AddUsbIdentity(device.parent_path(), port);
        if (subsystem == "usb") AddUsbIdentity(device, port);
        if (!port.product.empty()) port.description = port.product;
        port.by_id = ByIdLink(dev_root, tty);
        ports.push_back(port);
    }
    return ports;
}

}  // namespace varek
