#include <cstdint>
#include <cstring>
#include <optional>

#include "varek/units.h"

namespace {

// A decimal number held exactly: digits × 10^exponent.
struct Decimal {
    std::uint64_t digits = 0;
    int exponent = 0;
};

struct Prefix {
    const char* suffix;
    int exponent;
};
// The micro sign is accepted in both of its code points, and as "u".
const Prefix kPrefixes[] = {
    {"s", 0},          {"ms", -3}, {"us", -6},  {"\xC2\xB5s", -6},
    {"\xCE\xBCs", -6}, {"ns", -9}, {"ps", -12}, {"fs", -15},
};
// The prefixes a time is written with, largest first.
const Prefix kShownPrefixes[] = {{"s", 0}, {"ms", -3}, {"us", -6}, {"ns", -9}, {"ps", -12}, {"fs", -15}};

// More digits than a 64-bit number holds exactly are refused rather than rounded.
constexpr int kMaxDigits = 18;

// Reads "12.5" (no sign) exactly, trailing zeros folded into the exponent;
// `end` is where the number stops. More significant digits than kMaxDigits
// set `too_long`.
std::optional<Decimal> ReadDecimal(const std::string& text, std::size_t& end, bool& too_long) {
    Decimal number;
    int digit_count = 0;
    bool any = false, point = false;
    std::size_t at = 0;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9') break;
        any = true;
        if (number.digits == 0 && c == '0') {
            if (point) --number.exponent;
            continue;
        }
        if (++digit_count > kMaxDigits) {
            too_long = true;
            return std::nullopt;
        }
        number.digits = number.digits * 10 + static_cast<std::uint64_t>(c - '0');
        if (point) --number.exponent;
    }
    if (!any) return std::nullopt;
    while (number.digits != 0 && number.digits % 10 == 0) {
        number.digits /= 10;
        ++number.exponent;
    }
    end = at;
    return number;
}

// The exponent of the prefix `text` is, if it is one of seconds.
std::optional<int> PrefixExponent(const std::string& text) {
    for (const Prefix& prefix : kPrefixes) {
        if (text == prefix.suffix) return prefix.exponent;
    }
    return std::nullopt;
}

// "12.5us" or "12.5 us": the number, and the prefix's exponent if one follows.
struct Quantity {
    Decimal value;
    std::optional<int> prefix;
};
std::optional<Quantity> ReadQuantity(const std::string& text, bool& too_long) {
    std::size_t end = 0;
    const std::optional<Decimal> number = ReadDecimal(text, end, too_long);
    if (!number) return std::nullopt;
    std::string rest = text.substr(end);
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    Quantity quantity{*number, std::nullopt};
    if (rest.empty()) return quantity;
    quantity.prefix = PrefixExponent(rest);
    if (!quantity.prefix) return std::nullopt;
    quantity.value.exponent += *quantity.prefix;
    return quantity;
}

std::optional<Decimal> ReadUnit(const std::string& unit) {
    bool too_long = false;
    const std::optional<Quantity> quantity = ReadQuantity(unit, too_long);
    if (!quantity || !quantity->prefix || quantity->value.digits == 0) return std::nullopt;
    return quantity->value;
}

std::optional<std::uint64_t> PowerOfTen(int exponent) {
    std::uint64_t power = 1;
    for (int i = 0; i < exponent; ++i) {
        if (__builtin_mul_overflow(power, 10u, &power)) return std::nullopt;
    }
    return power;
}

const char* kUnitForm = "such as 1ns or 10ps, from the instrument's manual";

}  // namespace

std::string VarekUnitRejection(const std::string& unit) {
    if (ReadUnit(unit)) return "";
    return "the unit \"" + unit + "\" is not a time (" + kUnitForm + ")";
}

std::string VarekParseTime(const std::string& text, const std::string& unit, std::int64_t* units) {
    bool too_long = false;
    const std::optional<Quantity> quantity = ReadQuantity(text, too_long);
    if (too_long)
        return "\"" + text + "\" has more digits than " + std::to_string(kMaxDigits) +
               ": too large or too fine";
    if (!quantity) return "\"" + text + "\" is neither a whole number of units nor a time such as 12.5us";
    if (!quantity->prefix) {
        if (quantity->value.exponent < 0) return "\"" + text + "\" is not a whole number of units";
        const std::optional<std::uint64_t> scale = PowerOfTen(quantity->value.exponent);
        std::uint64_t whole = 0;
        if (!scale || __builtin_mul_overflow(quantity->value.digits, *scale, &whole) || whole > INT64_MAX)
            return "\"" + text + "\" is too large";
        *units = static_cast<std::int64_t>(whole);
        return "";
    }
    if (unit.empty())
        return "\"" + text + "\" is a time, but no unit is declared: give --unit (or VAREK_UNIT), " +
               kUnitForm;
    const std::optional<Decimal> one = ReadUnit(unit);
    if (!one) return VarekUnitRejection(unit);
    // units = value / one = (value.digits / one.digits) × 10^(value.exponent - one.exponent)
    const int shift = quantity->value.exponent - one->exponent;
    const std::string not_whole = "\"" + text + "\" is not a whole number of units of " + unit;
    std::uint64_t numerator = quantity->value.digits;
    std::uint64_t denominator = one->digits;
    const std::optional<std::uint64_t> scale = PowerOfTen(shift < 0 ? -shift : shift);
    if (shift >= 0) {
        if (!scale || __builtin_mul_overflow(numerator, *scale, &numerator))
            return "\"" + text + "\" is too large";
    } else if (!scale || __builtin_mul_overflow(denominator, *scale, &denominator)) {
        if (numerator != 0) return not_whole;
        denominator = 1;
    }
    if (numerator % denominator != 0) return not_whole;
    const std::uint64_t whole = numerator / denominator;
    if (whole > INT64_MAX) return "\"" + text + "\" is too large";
    *units = static_cast<std::int64_t>(whole);
    return "";
}

std::string VarekFormatTime(std::int64_t units, const std::string& unit) {
    const std::optional<Decimal> one = ReadUnit(unit);
    std::uint64_t digits = 0;
    if (!one || units < 0 || __builtin_mul_overflow(static_cast<std::uint64_t>(units), one->digits, &digits))
        return std::to_string(units);
    const std::string written = std::to_string(digits);
    // The value is written × 10^exponent; the prefix is the largest that
    // leaves at least one digit before the point (zero takes the unit's own).
    const int exponent = one->exponent;
    const int magnitude = digits == 0 ? exponent + static_cast<int>(std::to_string(one->digits).size()) - 1
                                      : exponent + static_cast<int>(written.size()) - 1;
    const Prefix* chosen = &kShownPrefixes[sizeof kShownPrefixes / sizeof kShownPrefixes[0] - 1];
    for (const Prefix& prefix : kShownPrefixes) {
        if (prefix.exponent <= magnitude) {
            chosen = &prefix;
            break;
        }
    }
    const int shift = exponent - chosen->exponent;  // the number is written × 10^shift
    std::string number;
    if (shift >= 0) {
        number = digits == 0 ? "0" : written + std::string(static_cast<std::size_t>(shift), '0');
    } else {
        const std::size_t fraction = static_cast<std::size_t>(-shift);
        std::string padded = written;
        if (padded.size() <= fraction) padded.insert(0, fraction + 1 - padded.size(), '0');
        number = padded.substr(0, padded.size() - fraction) + "." + padded.substr(padded.size() - fraction);
        while (number.back() == '0') number.pop_back();
        if (number.back() == '.') number.pop_back();
    }
    return number + " " + chosen->suffix;
}
