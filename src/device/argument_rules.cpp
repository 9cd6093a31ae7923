#include <cstdio>
#include <cstdlib>

#include "device/control_requests.h"
#include "device/number_text.h"
#include "varek/rules.h"

namespace {

std::string FormatNumber(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string TimingRejection(const char* what, std::int64_t value) {
    if (value >= 0 && value <= VarekDDG::MAX_TIMING_VALUE) return "";
    return std::string(what) + " " + std::to_string(value) + " is outside 0.." +
           std::to_string(VarekDDG::MAX_TIMING_VALUE);
}

}  // namespace

std::string VarekChannelRejection(std::int64_t channel) {
    if (channel >= INT32_MIN && channel <= INT32_MAX &&
        varek::ChannelInRange(static_cast<std::int32_t>(channel)))
        return "";
    return "channel " + std::to_string(channel) + " is outside 1.." + std::to_string(VarekDDG::CHANNEL_COUNT);
}

std::string VarekDelayRejection(std::int64_t delay) { return TimingRejection("delay", delay); }

std::string VarekPulseWidthRejection(std::int64_t pulse_width) {
    return TimingRejection("pulse width", pulse_width);
}

std::string VarekFrequencyRejection(double frequency) {
    if (varek::FrequencyWord(frequency)) return "";
    return "internal trigger frequency " + varek::ShortestText(frequency) + " must be above " +
           FormatNumber("%.7g", VarekDDG::MIN_INTERNAL_TRIGGER_FREQ) + " and at most " +
           FormatNumber("%.0f", VarekDDG::MAX_INTERNAL_TRIGGER_FREQ);
}

std::string VarekTriggerModeRejection(std::int64_t mode) {
    if (mode >= 0 && mode < VarekDDG::TRIGGER_MODE_COUNT) return "";
    std::string known;
    for (std::int32_t m = 0; m < VarekDDG::TRIGGER_MODE_COUNT; ++m)
        known += (m == 0 ? "" : ", ") + std::to_string(m);
    return "trigger mode " + std::to_string(mode) + " is not one of " + known;
}
