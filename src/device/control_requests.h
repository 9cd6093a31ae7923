// The seven control operations as data: each argument list becomes one
// request (command, parameter, payload words), or nothing when the arguments
// cannot be sent as given.
#ifndef VAREK_DEVICE_CONTROL_REQUESTS_H
#define VAREK_DEVICE_CONTROL_REQUESTS_H

#include <cstdint>
#include <optional>
#include <vector>

#include "varek/varek_ddg.h"

namespace varek {

struct ControlRequest {
    std::uint8_t cmd;
    std::uint16_t param;
    std::vector<std::uint32_t> words;
};

// Channels run 1..CHANNEL_COUNT; one unsigned comparison turns away 0,
// negatives and everything above.
inline bool ChannelInRange(std::int32_t channel) {
    return static_cast<std::uint32_t>(channel) - 1u < static_cast<std::uint32_t>(VarekDDG::CHANNEL_COUNT);
}

std::optional<ControlRequest> TriggerRequest(VarekTriggerMode mode);
std::optional<ControlRequest> FrequencyRequest(double frequency);
std::optional<ControlRequest> OutputChannelRequest(std::int32_t channel, bool on);
std::optional<ControlRequest> GlobalOutputRequest(bool on);
// `cmd` is CMD_SET_DELAY or CMD_SET_PULSE_WIDTH, which share their layout.
std::optional<ControlRequest> TimingRequest(std::uint8_t cmd, std::int32_t channel, std::int64_t value);
std::optional<ControlRequest> SoftwareTriggerRequest();

// The frequency word trunc(1e9 / f x 0.25), or nothing when no word from 1
// to 0xFFFFFFFF stands for `frequency` (not positive, NaN, above 250 MHz,
// below about 0.0582).
std::optional<std::uint32_t> FrequencyWord(double frequency);

}  // namespace varek

#endif
