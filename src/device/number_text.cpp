#include "device/number_text.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "varek/user_input.h"

namespace varek {

std::string ShortestText(double value) {
    char text[64];
    // Whole values in plain digits (1000, not 1e+03) while every digit is exact.
    if (value > -1e15 && value < 1e15 && value == std::trunc(value)) {
        std::snprintf(text, sizeof text, "%.0f", value);
        return text;
    }
    for (int digits = 1; digits < 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) return text;
    }
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

}  // namespace varek

std::optional<std::int64_t> VarekParseWhole(const std::string& text, std::int64_t low, std::int64_t high,
                                            std::string& why, bool hex) {
    const bool negative = low < 0 && !text.empty() && text[0] == '-';
    const std::string unsigned_part = negative ? text.substr(1) : text;
    const bool hex_digits = hex && unsigned_part.size() > 2 && unsigned_part[0] == '0' &&
                            (unsigned_part[1] == 'x' || unsigned_part[1] == 'X');
    const std::string digits = hex_digits ? unsigned_part.substr(2) : unsigned_part;
    const char* allowed = hex_digits ? "0123456789abcdefABCDEF" : "0123456789";
    if (digits.empty() || digits.find_first_not_of(allowed) != std::string::npos) {
        why = (text.empty() ? std::string("nothing") : text) + " is not a whole number";
        return std::nullopt;
    }
    const std::string range = std::to_string(low) + ".." + std::to_string(high);
    errno = 0;
    const unsigned long long magnitude = std::strtoull(digits.c_str(), nullptr, hex_digits ? 16 : 10);
    const unsigned long long limit = negative ? static_cast<unsigned long long>(-(low + 1)) + 1u
                                              : static_cast<unsigned long long>(high < 0 ? 0 : high);
    if (errno == ERANGE || magnitude > limit) {
        why = text + " is outside " + range;
        return std::nullopt;
    }
    const std::int64_t value =
        negative ? static_cast<std::int64_t>(0u - magnitude) : static_cast<std::int64_t>(magnitude);
    if (value < low || value > high) {
        why = text + " is outside " + range;
        return std::nullopt;
    }
    why.clear();
    return value;
}
