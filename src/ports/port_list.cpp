#include "ports/port_list.h"

#include <algorithm>
#include <cctype>

#include "ports/usb_locator.h"

namespace varek {

namespace {

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// The usb: name of `port` when it matches no other listed port.
std::string UniqueLocator(const VarekPortInfo& port, const std::vector<VarekPortInfo>& ports) {
    if (!port.is_usb()) return "";
    const std::string locator = LocatorOf(port);
    const auto identity = ParseUsbLocator(locator);
    if (!identity) return "";  // a serial number with a colon in it
    const auto matching = std::count_if(
        ports.begin(), ports.end(), [&](const VarekPortInfo& other) { return Matches(*identity, other); });
    return matching == 1 ? locator : "";
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

}  // namespace varek

std::vector<VarekPortInfo> VarekListPorts() {
    std::vector<VarekPortInfo> ports = varek::PlatformPorts();
    std::sort(ports.begin(), ports.end(), [](const VarekPortInfo& a, const VarekPortInfo& b) {
        return varek::NaturalLess(a.name, b.name);
    });
    for (VarekPortInfo& port : ports) port.locator = varek::UniqueLocator(port, ports);
    return ports;
}
