#include "port_name.h"

std::basic_string<PortNameChar> ToPortName(const std::string& utf8) {
    const int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    if (needed <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), needed);
    wide.pop_back();  // the terminating NUL the conversion counted
    return wide;
}
