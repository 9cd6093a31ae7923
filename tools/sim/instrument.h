// The simulated instrument's model: what it holds and what it answers.
//
// Control commands are acknowledged (the request's command, parameter
// 0x0001) and applied; a request it cannot accept is refused (parameter
// 0x0000) and changes nothing: a channel outside 1..8, a trigger code outside
// 1..3, a frequency word of 0, a payload of the wrong size, an unknown command.
//
// Its status block follows the layout of src/device/status_block.h, which
// also says what it puts in the fields the library leaves open.
#ifndef VAREK_SIM_INSTRUMENT_H
#define VAREK_SIM_INSTRUMENT_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "varek/varek_ddg.h"

namespace varek::sim {

struct ChannelState {
    std::uint64_t delay = 0;  // as on the wire: x100
    std::uint64_t pulse_width = 0;
    bool enabled = false;
};

struct InstrumentState {
    std::array<ChannelState, VarekDDG::CHANNEL_COUNT> channels{};
    std::uint16_t trigger_code = 1;
    std::uint32_t frequency_word = 250000;  // 1 kHz
    bool global_output = false;
    std::uint64_t software_triggers = 0;
    float temperature = 25.0f;
};

class Instrument {
public:
    // The reply frame to one decoded request; `refuse` forces a refusal;
    // `ignore` acknowledges a setting without applying it.
    std::vector<std::uint8_t> Answer(const VarekFrame& request, bool refuse = false, bool ignore = false);

    InstrumentState& state() { return state_; }
    // "trigger=1 word=250000 global=0 fired=0 temperature=25 delay1=0
    // width1=0 on1=0 ... on8=0", delays and widths as on the wire.
    std::string Describe() const;
    std::vector<std::uint8_t> StatusBlock() const;

private:
    bool Apply(const VarekFrame& request);

    InstrumentState state_;
};

}  // namespace varek::sim

#endif
