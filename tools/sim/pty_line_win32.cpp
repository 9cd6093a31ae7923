#include "line.h"

namespace varek::sim {

std::unique_ptr<Line> OpenPseudoTerminal(const std::string&) {
    throw std::runtime_error(
        "Windows has no pseudo-terminals: serve a port of a null-modem pair with --port COMn (com0com makes "
        "one)");
}

}  // namespace varek::sim
