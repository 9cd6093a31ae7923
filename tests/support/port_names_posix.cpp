#include <cstdlib>
#include <stdexcept>

#include "sim_control.h"

namespace varek::test {

std::basic_string<PortNameChar> SimPortName() {
    const char* name = std::getenv("VAREK_SIM_PORT");
    if (name == nullptr) throw std::runtime_error("VAREK_SIM_PORT is not set: run this test through ctest");
    return name;
}

}  // namespace varek::test

namespace varek::test {
std::basic_string<PortNameChar> MissingPortName() { return "/dev/varek-no-such-port"; }
}  // namespace varek::test
