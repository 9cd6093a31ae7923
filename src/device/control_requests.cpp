#include "control_requests.h"

#include <cmath>

#include "device/status_block.h"
#include "varek/rules.h"

namespace varek {

namespace {

constexpr std::uint16_t kOff = 0;
constexpr std::uint16_t kOn = 1;
constexpr std::uint16_t OnOff(bool on) { return on ? kOn : kOff; }

// Why an argument cannot be sent, or nothing: the public rules' words.
std::optional<std::string> Rejection(std::string why) {
    if (why.empty()) return std::nullopt;
    return why;
}

}  // namespace

CheckedRequest TriggerRequest(VarekTriggerMode mode) {
    std::uint16_t code = 1;
    if (mode == VarekTriggerMode::Mode1) code = 2;
    if (mode == VarekTriggerMode::Mode2) code = 3;
    return ControlRequest{VarekDDG::CMD_SET_TRIGGER, code, {}};
}

std::optional<std::uint32_t> FrequencyWord(double frequency) {
    // Written so that NaN fails the test too.
    if (!(frequency > 0.0)) return std::nullopt;
    // The same bits as trunc(1e9 / f x 0.25): a quarter is exact in binary.
    const double quotient = std::trunc(VarekDDG::FREQUENCY_CLOCK_HZ / frequency);
    if (!(quotient >= 1.0 && quotient <= 4294967295.0)) return std::nullopt;
    return static_cast<std::uint32_t>(quotient);
}

std::optional<std::string> ChannelRejection(std::int32_t channel) {
    if (ChannelInRange(channel)) return std::nullopt;
    return VarekChannelRejection(channel);
}

CheckedRequest FrequencyRequest(double frequency) {
    const std::optional<std::uint32_t> word = FrequencyWord(frequency);
    if (!word) return CheckedRequest::Rejected(VarekFrequencyRejection(frequency));
    return ControlRequest{VarekDDG::CMD_SET_INTERNAL_TRIGGER_FREQ, 0, {*word}};
}

CheckedRequest OutputChannelRequest(std::int32_t channel, bool on) {
    if (const auto rejection = ChannelRejection(channel)) return CheckedRequest::Rejected(*rejection);
    const auto param = static_cast<std::uint16_t>(channel * 256 + OnOff(on));
    return ControlRequest{VarekDDG::CMD_SET_OUTPUT_CHANNEL, param, {}};
}

CheckedRequest GlobalOutputRequest(bool on) {
    return ControlRequest{VarekDDG::CMD_SET_GLOBAL_OUTPUT, OnOff(on), {}};
}

CheckedRequest TimingRequest(std::uint8_t cmd, std::int32_t channel, std::int64_t value) {
    if (const auto rejection = ChannelRejection(channel)) return CheckedRequest::Rejected(*rejection);
    const auto value_rejection = Rejection(cmd == VarekDDG::CMD_SET_DELAY ? VarekDelayRejection(value)
                                                                          : VarekPulseWidthRejection(value));
    if (value_rejection) return CheckedRequest::Rejected(*value_rejection);
    const std::uint64_t wire_value = static_cast<std::uint64_t>(value) * status_block::kTimingScale;
    return ControlRequest{
        cmd,
        static_cast<std::uint16_t>(channel),
        {static_cast<std::uint32_t>(wire_value), static_cast<std::uint32_t>(wire_value >> 32)}};
}

CheckedRequest SoftwareTriggerRequest() { return ControlRequest{VarekDDG::CMD_SOFTWARE_TRIGGER, 0, {}}; }

}  // namespace varek
