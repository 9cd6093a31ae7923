#include "ports/usb_locator.h"

#include <algorithm>
#include <cctype>

namespace varek {

namespace {

bool IsHexId(const std::string& text) {
    return text.size() == 4 && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) != 0;
           });
}

bool SameLetters(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

}  // namespace

bool IsUsbLocator(const std::string& name) { return name.rfind(kUsbLocatorPrefix, 0) == 0; }

std::optional<UsbIdentity> ParseUsbLocator(const std::string& name) {
    std::vector<std::string> fields;
    for (std::size_t start = std::string(kUsbLocatorPrefix).size();;) {
        const std::size_t colon = name.find(':', start);
        fields.push_back(name.substr(start, colon - start));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    if (fields.size() < 2 || fields.size() > 3 || !IsHexId(fields[0]) || !IsHexId(fields[1]) ||
        (fields.size() == 3 && fields[2].empty())) {
        return std::nullopt;
    }
    UsbIdentity identity{fields[0], fields[1], std::nullopt};
    if (fields.size() == 3) identity.serial_number = fields[2];
    return identity;
}

bool Matches(const UsbIdentity& identity, const VarekPortInfo& port) {
    return port.is_usb() && SameLetters(port.vid, identity.vid) && SameLetters(port.pid, identity.pid) &&
           (!identity.serial_number || port.serial_number == *identity.serial_number);
}

std::string LocatorOf(const VarekPortInfo& port) {
    std::string locator = kUsbLocatorPrefix + port.vid + ":" + port.pid;
    if (!port.serial_number.empty()) locator += ":" + port.serial_number;
    return locator;
}

}  // namespace varek
