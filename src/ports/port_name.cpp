#include "ports/port_name.h"

#include <cstdint>

namespace varek {

namespace {

const std::u16string kDevicePrefix = u"\\\\.\\";
const std::u16string kLongPathPrefix = u"\\\\?\\";

bool StartsWith(const std::u16string& name, const std::u16string& prefix) {
    return name.compare(0, prefix.size(), prefix) == 0;
}

char16_t AsciiUpper(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

bool IsAsciiDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

std::u16string NormalizePortName(const std::u16string& name) {
    if (StartsWith(name, kDevicePrefix) || StartsWith(name, kLongPathPrefix)) return name;
    if (name.size() <= 3) return name;
    if (AsciiUpper(name[0]) != u'C' || AsciiUpper(name[1]) != u'O' || AsciiUpper(name[2]) != u'M')
        return name;
    std::int64_t number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (!IsAsciiDigit(name[i])) return name;
        number = number * 10 + (name[i] - u'0');
        // No port number goes beyond 32 bits; such a name opens nothing.
        if (number > INT32_MAX) return std::u16string();
    }
    return number > 9 ? kDevicePrefix + name : name;
}

}  // namespace varek
