// usb:VID:PID[:SERIAL]: a USB serial adapter named by its identity, so that
// it keeps its name whichever port it is plugged into.
#ifndef VAREK_PORTS_USB_LOCATOR_H
#define VAREK_PORTS_USB_LOCATOR_H

#include <optional>
#include <string>

#include "varek/ports.h"

namespace varek {

constexpr const char* kUsbLocatorPrefix = "usb:";

struct UsbIdentity {
    std::string vid;
    std::string pid;
    std::optional<std::string> serial_number;
};

bool IsUsbLocator(const std::string& name);
// The identity in a usb: name; nothing when it is malformed.
std::optional<UsbIdentity> ParseUsbLocator(const std::string& name);
bool Matches(const UsbIdentity& identity, const VarekPortInfo& port);
// The usb: name of `port`'s identity, with its serial number when it has one.
std::string LocatorOf(const VarekPortInfo& port);

}  // namespace varek

#endif
