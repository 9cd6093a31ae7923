// The machine's serial ports, with what the system knows of each, and the
// usb:VID:PID[:SERIAL] names that pick one by its identity.
#ifndef VAREKCTL_PORT_LIST_H
#define VAREKCTL_PORT_LIST_H

#include <string>
#include <vector>

namespace varekctl {

struct SerialPortInfo {
    std::string name;         // as the library opens it: COM12, /dev/ttyUSB0
    std::string description;  // what the system calls it, "" when nothing
    std::string vid;          // USB vendor and product id, 4 hex digits; "" when not USB
    std::string pid;
    std::string serial_number;
    std::string manufacturer;
    std::string product;
    std::string location;  // where on the USB tree: 1-2:1.0, Port_#0002.Hub_#0001
    std::string by_id;     // Linux: the stable /dev/serial/by-id link, "" when none
    bool is_usb() const { return !vid.empty(); }
};

// Every serial port the system lists, in natural order (COM2 before COM10).
// Linux reads the device tree under $VAREK_SYSFS_ROOT (default /sys) and
// names ports under $VAREK_DEV_ROOT (default /dev).
std::vector<SerialPortInfo> ListSerialPorts();

// Whether `a` sorts before `b` with runs of digits compared as numbers.
bool NaturalLess(const std::string& a, const std::string& b);

// `name` as the library opens it: a name of the form usb:VID:PID or
// usb:VID:PID:SERIAL becomes the one listed port with that identity; any
// other name comes back as it is. Throws UsageError for a malformed usb:
// name and DeviceError, listing the candidates, unless exactly one matches.
std::string ResolvePortName(const std::string& name);

// The listed ports' names, "none" when there are none: for messages.
std::string PortNamesForMessage();

}  // namespace varekctl

#endif
