#include <windows.h>

#include "ports/port_name.h"

namespace varek {

std::basic_string<PortNameChar> HostPortName(const char* name) {
    const int length = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
    if (length <= 0) return {};
    std::u16string wide(static_cast<std::size_t>(length), u'\0');
    MultiByteToWideChar(CP_ACP, 0, name, -1, reinterpret_cast<wchar_t*>(wide.data()), length);
    if (!wide.empty() && wide.back() == u'\0') wide.pop_back();
    const std::u16string normalized = NormalizePortName(wide);
    return std::wstring(normalized.begin(), normalized.end());
}

}  // namespace varek
