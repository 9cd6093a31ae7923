#include <cstdlib>
#include <stdexcept>

#include "sim_control.h"

namespace varek::test {

std::basic_string<PortNameChar> SimPortName() {
    const char* name = std::getenv("VAREK_SIM_PORT");
    if (name == nullptr) throw std::runtime_error("VAREK_SIM_PORT is not set: run this test through ctest");
    // The name is plain ASCII, such as \\.\COM12.
    return std::wstring(name, name + std::char_traits<char>::length(name));
}

}  // namespace varek::test

namespace varek::test {
std::basic_string<PortNameChar> MissingPortName() { return L"\\\\.\\COM251"; }
}  // namespace varek::test
