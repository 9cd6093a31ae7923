#include "arguments.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "tool_error.h"
#include "varek/varek_ddg.h"

namespace varekctl {

namespace {

// Decimal, or hexadecimal after 0x: a leading zero is not octal, so that
// "010" means ten as a user means it.
bool ParseInteger(const std::string& text, long long& value) {
    const bool negative = !text.empty() && text[0] == '-';
    const std::string digits = negative ? text.substr(1) : text;
    const bool hex = digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
    const std::string body = hex ? digits.substr(2) : digits;
    if (body.empty() ||
        body.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    value = std::strtoll(body.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || *end != '\0') return false;
    if (negative) value = -value;
    return true;
}

}  // namespace

std::int32_t ParseChannel(const std::string& text) {
    long long channel = 0;
    if (!ParseInteger(text, channel) || channel < 1 || channel > VarekDDG::CHANNEL_COUNT) {
        throw UsageError("channel must be 1.." + std::to_string(VarekDDG::CHANNEL_COUNT) + ", got " + text);
    }
    return static_cast<std::int32_t>(channel);
}

bool ParseOnOff(const std::string& text) {
    if (text == "on" || text == "1") return true;
    if (text == "off" || text == "0") return false;
    throw UsageError("expected on or off, got " + text);
}

std::int64_t ParseTimingValue(const std::string& what, const std::string& text) {
    long long value = 0;
    if (!ParseInteger(text, value) || value < 0 || value > VarekDDG::MAX_TIMING_VALUE) {
        throw UsageError(what + " must be a whole number from 0 to " +
                         std::to_string(VarekDDG::MAX_TIMING_VALUE) + ", got " + text);
    }
    return value;
}

double ParseFrequency(const std::string& text) {
    char* end = nullptr;
    const double frequency = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(frequency > VarekDDG::MIN_INTERNAL_TRIGGER_FREQ) ||
        frequency > VarekDDG::MAX_INTERNAL_TRIGGER_FREQ) {
        char limits[96];
        std::snprintf(limits, sizeof limits, "frequency must be above %.7g and at most %.0f, got ",
                      VarekDDG::MIN_INTERNAL_TRIGGER_FREQ, VarekDDG::MAX_INTERNAL_TRIGGER_FREQ);
        throw UsageError(limits + text);
    }
    return frequency;
}

std::int32_t ParseTriggerMode(const std::string& text) {
    if (text == "0" || text == "1" || text == "2") return text[0] - '0';
    throw UsageError("trigger mode must be 0, 1 or 2, got " + text);
}

std::int32_t ParseBaud(const std::string& text) {
    long long baud = 0;
    if (!ParseInteger(text, baud) || baud < 1 || baud > std::numeric_limits<std::int32_t>::max()) {
        throw UsageError("baud rate must be a positive whole number, got " + text);
    }
    return static_cast<std::int32_t>(baud);
}

std::uint32_t ParseUnsigned(const std::string& what, const std::string& text, std::uint32_t max) {
    long long value = 0;
    if (!ParseInteger(text, value) || value < 0 || value > static_cast<long long>(max)) {
        throw UsageError(what + " must be 0.." + std::to_string(max) + ", got " + text);
    }
    return static_cast<std::uint32_t>(value);
}

}  // namespace varekctl
