#include "arguments.h"

#include <climits>
#include <cstdlib>

#include "tool_error.h"
#include "varek/rules.h"
#include "varek/units.h"
#include "varek/user_input.h"
#include "varek/varek_ddg.h"

namespace varekctl {

using varek::tools::UsageError;

namespace {

// The library's rule for a value that parsed: its words when it refuses.
void Check(const std::string& rejection) {
    if (!rejection.empty()) throw UsageError(rejection);
}

// Decimal, or hexadecimal after 0x, by the library's reading: a leading
// zero is not octal, so that "010" means ten as a user means it. The value's
// own rule (the library's too) judges its range.
bool ParseInteger(const std::string& text, long long& value) {
    std::string ignored;
    const auto parsed = VarekParseWhole(text, INT64_MIN, INT64_MAX, ignored, true);
    if (parsed) value = *parsed;
    return parsed.has_value();
}

}  // namespace

std::int32_t ParseChannel(const std::string& text) {
    long long channel = 0;
    if (!ParseInteger(text, channel)) throw UsageError("a channel is a whole number, got " + text);
    Check(VarekChannelRejection(channel));
    return static_cast<std::int32_t>(channel);
}

bool ParseOnOff(const std::string& text) {
    if (text == "on" || text == "1") return true;
    if (text == "off" || text == "0") return false;
    throw UsageError("expected on or off, got " + text);
}

std::int64_t ParseTimingValue(TimingKind kind, const std::string& text, const std::string& unit) {
    long long value = 0;
    const char* what = kind == TimingKind::Delay ? "delay" : "pulse width";
    if (!ParseInteger(text, value)) {
        std::int64_t units = 0;
        const std::string rejection = VarekParseTime(text, unit, &units);
        if (!rejection.empty()) throw UsageError(std::string("a ") + what + ": " + rejection);
        value = units;
    }
    Check(kind == TimingKind::Delay ? VarekDelayRejection(value) : VarekPulseWidthRejection(value));
    return value;
}

double ParseFrequency(const std::string& text) {
    char* end = nullptr;
    const double frequency = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0') throw UsageError("a frequency is a number, got " + text);
    Check(VarekFrequencyRejection(frequency));
    return frequency;
}

std::int32_t ParseTriggerMode(const std::string& text) {
    long long mode = 0;
    if (!ParseInteger(text, mode)) throw UsageError("a trigger mode is a whole number, got " + text);
    Check(VarekTriggerModeRejection(mode));
    return static_cast<std::int32_t>(mode);
}

std::uint32_t ParseUnsigned(const std::string& what, const std::string& text, std::uint32_t max) {
    std::string ignored;
    const auto value = VarekParseWhole(text, 0, max, ignored, true);
    if (!value) throw UsageError(what + " must be 0.." + std::to_string(max) + ", got " + text);
    return static_cast<std::uint32_t>(*value);
}

}  // namespace varekctl
