// Bytes as compact upper-case hex ("EB9006") and back. Shared by the
// simulator's control channel and the tests that talk to it.
#ifndef VAREK_SIM_HEX_TEXT_H
#define VAREK_SIM_HEX_TEXT_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varek::sim {

inline std::string ToHex(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

// Accepts upper or lower case and ignores blanks; nullopt for anything else
// or an odd number of digits.
inline std::optional<std::vector<std::uint8_t>> FromHex(const std::string& text) {
    auto digit_value = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::vector<std::uint8_t> bytes;
    int pending = -1;
    for (const char c : text) {
        if (c == ' ') continue;
        const int value = digit_value(c);
        if (value < 0) return std::nullopt;
        if (pending < 0) {
            pending = value;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(pending * 16 + value));
            pending = -1;
        }
    }
    if (pending >= 0) return std::nullopt;
    return bytes;
}

}  // namespace varek::sim

#endif
