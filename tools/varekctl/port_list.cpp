#include "port_list.h"

#include <algorithm>
#include <cctype>

#include "tool_error.h"

namespace varekctl {

namespace {

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool IsHexId(const std::string& text) {
    return text.size() == 4 && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) != 0;
           });
}

std::string Identity(const SerialPortInfo& port) {
    std::string text = port.name + " (usb:" + port.vid + ":" + port.pid;
    if (!port.serial_number.empty()) text += ":" + port.serial_number;
    return text + ")";
}

}  // namespace

bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            const std::size_t a_end = a.find_first_not_of("0123456789", i);
            const std::size_t b_end = b.find_first_not_of("0123456789", j);
            std::string x = a.substr(i, a_end - i);
            std::string y = b.substr(j, b_end - j);
            x.erase(0, std::min(x.find_first_not_of('0'), x.size()));
            y.erase(0, std::min(y.find_first_not_of('0'), y.size()));
            if (x.size() != y.size()) return x.size() < y.size();
            if (x != y) return x < y;
            i = a_end == std::string::npos ? a.size() : a_end;
            j = b_end == std::string::npos ? b.size() : b_end;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

std::string ResolvePortName(const std::string& name) {
    if (name.rfind("usb:", 0) != 0) return name;
    std::vector<std::string> fields;
    for (std::size_t start = 4;;) {
        const std::size_t colon = name.find(':', start);
        fields.push_back(name.substr(start, colon - start));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    if (fields.size() < 2 || fields.size() > 3 || !IsHexId(fields[0]) || !IsHexId(fields[1]) ||
        (fields.size() == 3 && fields[2].empty())) {
        throw UsageError("a USB port is named usb:VID:PID or usb:VID:PID:SERIAL with 4-digit hex ids, got " +
                         name);
    }
    std::vector<SerialPortInfo> matches;
    std::vector<SerialPortInfo> usb_ports;
    for (const SerialPortInfo& port : ListSerialPorts()) {
        if (!port.is_usb()) continue;
        usb_ports.push_back(port);
        if (Upper(port.vid) == Upper(fields[0]) && Upper(port.pid) == Upper(fields[1]) &&
            (fields.size() == 2 || port.serial_number == fields[2])) {
            matches.push_back(port);
        }
    }
    if (matches.size() == 1) return matches.front().name;
    const std::vector<SerialPortInfo>& candidates = matches.empty() ? usb_ports : matches;
    std::string listed;
    for (const SerialPortInfo& port : candidates) listed += (listed.empty() ? "" : ", ") + Identity(port);
    if (matches.empty()) {
        throw DeviceError("no USB serial port matches " + name +
                          "; USB serial ports here: " + (listed.empty() ? "none" : listed));
    }
    throw DeviceError(std::to_string(matches.size()) + " USB serial ports match " + name + ": " + listed +
                      "; add the serial number (usb:VID:PID:SERIAL) or name the port");
}

std::string PortNamesForMessage() {
    std::string names;
    for (const SerialPortInfo& port : ListSerialPorts()) names += (names.empty() ? "" : ", ") + port.name;
    return names.empty() ? "none" : names;
}

}  // namespace varekctl
