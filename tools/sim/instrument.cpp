#include "instrument.h"

namespace varek::sim {

namespace {
constexpr std::uint16_t kAccepted = 0x0001;
}

std::vector<std::uint8_t> Instrument::Answer(const VarekFrame& request) {
    std::vector<std::uint8_t> reply;
    VarekDDG::BuildFrame(request.cmd, kAccepted, nullptr, 0, reply);
    return reply;
}

}  // namespace varek::sim
