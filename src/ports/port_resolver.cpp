// The one resolver of port names. Each kind of name is one case here.
#include <string>

#include "net/network_address.h"
#include "ports/port_name.h"
#include "ports/usb_locator.h"
#include "varek/ports.h"

namespace varek {

namespace {

VarekResolvedPort Unresolved(VarekPortResolution resolution, const std::string& name, std::string why) {
    VarekResolvedPort port;
    port.resolution = resolution;
    port.name = name;
    port.why = std::move(why);
    return port;
}

VarekResolvedPort Resolved(const std::string& name) {
    VarekResolvedPort port;
    port.system_name = HostPortName(name.c_str());
    port.name = name;
    if (port.system_name.empty()) {
        return Unresolved(VarekPortResolution::Empty, name,
                          name.empty() ? "no port name given" : "cannot open " + name + ": no such port");
    }
    port.resolution = VarekPortResolution::Resolved;
    return port;
}

std::string Listed(const VarekPortInfo& port) {
    return port.name + " (" + (port.locator.empty() ? LocatorOf(port) : port.locator) + ")";
}

VarekResolvedPort ResolveUsb(const std::string& name) {
    const auto identity = ParseUsbLocator(name);
    if (!identity) {
        return Unresolved(
            VarekPortResolution::Malformed, name,
            "a USB port is named usb:VID:PID or usb:VID:PID:SERIAL with 4-digit hex ids, got " + name);
    }
    std::vector<VarekPortInfo> matches;
    std::string usb_ports;
    for (const VarekPortInfo& port : VarekListPorts()) {
        if (!port.is_usb()) continue;
        usb_ports += (usb_ports.empty() ? "" : ", ") + Listed(port);
        if (Matches(*identity, port)) matches.push_back(port);
    }
    if (matches.size() == 1) return Resolved(matches.front().name);
    if (matches.empty()) {
        return Unresolved(VarekPortResolution::NoMatch, name,
                          "no USB serial port matches " + name +
                              "; USB serial ports here: " + (usb_ports.empty() ? "none" : usb_ports));
    }
    std::string listed;
    for (const VarekPortInfo& port : matches) listed += (listed.empty() ? "" : ", ") + Listed(port);
    return Unresolved(VarekPortResolution::Ambiguous, name,
                      std::to_string(matches.size()) + " USB serial ports match " + name + ": " + listed +
                          "; add the serial number (usb:VID:PID:SERIAL) or name the port");
}

VarekResolvedPort ResolveNetwork(const std::string& name) {
    std::string why;
    VarekResolvedPort port = net::ParseNetworkAddress(name, why)
                                 ? Resolved(name)
                                 : Unresolved(VarekPortResolution::Malformed, name, why);
    port.network = true;
    return port;
}

}  // namespace

}  // namespace varek

VarekResolvedPort VarekResolvePort(const char* name) {
    const std::string given = name == nullptr ? "" : name;
    if (varek::IsUsbLocator(given)) return varek::ResolveUsb(given);
    if (varek::net::IsNetworkName(given)) return varek::ResolveNetwork(given);
    return varek::Resolved(given);
}
