/// @file
/// How the library reads what users type, so that every program reads it
/// alike: whole numbers (a count, a port, a baud rate, a channel) and
/// HOST:PORT (a terminal server's port, a listening address).
#ifndef VAREK_USER_INPUT_H
#define VAREK_USER_INPUT_H

#include <cstdint>
#include <optional>
#include <string>

#include "varek/export.h"

/// `text` as a whole number from `low` to `high`: decimal digits, a minus
/// sign first when `low` is negative, and with `hex` hexadecimal after 0x. A
/// leading zero is no octal prefix ("010" is ten). Nothing when it is none,
/// with `why` saying so in the library's words ("7x is not a whole number",
/// "70000 is outside 1..65535").
VAREK_API std::optional<std::int64_t> VarekParseWhole(const std::string& text, std::int64_t low,
                                                      std::int64_t high, std::string& why, bool hex = false);

/// A host and a TCP port, as VarekParseHostAndPort reads them.
struct VarekHostAndPort {
    std::string host;        ///< a name, an IPv4 address, or an IPv6 address without its brackets
    std::uint16_t port = 0;  ///< the TCP port
};

/// HOST:PORT: HOST a name, an IPv4 address, or an IPv6 address in brackets
/// ([fd00::5]:4001); PORT from `lowest_port` (0 where 0 picks a free one) to
/// 65535. Nothing when `text` is none, with `why` saying what is wrong.
VAREK_API std::optional<VarekHostAndPort> VarekParseHostAndPort(const std::string& text,
                                                                std::uint16_t lowest_port, std::string& why);

/// HOST:PORT as users write it, an IPv6 address in brackets: [::1]:8470.
VAREK_API std::string VarekFormatHostAndPort(const std::string& host, std::uint16_t port);

#endif
