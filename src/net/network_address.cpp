#include "net/network_address.h"

#include <algorithm>
#include <cctype>

namespace varek::net {

namespace {

constexpr const char* kRawScheme = "socket://";
constexpr const char* kRfc2217Scheme = "rfc2217://";

bool StartsWithFolded(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) return false;
    return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char expected, char seen) {
        return expected == std::tolower(static_cast<unsigned char>(seen));
    });
}

std::optional<std::uint16_t> PortNumber(const std::string& text) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const long value = std::stol(text);
    if (value < 1 || value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

// Letters, digits, dots, hyphens and underscores make a host name or an IPv4
// address; hex digits, colons and dots an IPv6 address. Anything else (a
// space, a slash, a user@ part) is no host of ours.
bool PlausibleHost(const std::string& host, bool bracketed) {
    if (host.empty() || host.size() > 253) return false;
    const std::string punctuation = bracketed ? ":." : ".-_";
    return std::all_of(host.begin(), host.end(), [&](char c) {
        const auto code = static_cast<unsigned char>(c);
        const bool letter_or_digit = bracketed ? std::isxdigit(code) != 0 : std::isalnum(code) != 0;
        return letter_or_digit || punctuation.find(c) != std::string::npos;
    });
}

}  // namespace

std::string NetworkAddress::HostAndPort() const {
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool IsNetworkName(const std::string& name) {
    return StartsWithFolded(name, kRawScheme) || StartsWithFolded(name, kRfc2217Scheme);
}

std::optional<NetworkAddress> ParseNetworkAddress(const std::string& name, std::string& why) {
    NetworkAddress address;
    std::string rest;
    if (StartsWithFolded(name, kRawScheme)) {
        rest = name.substr(std::char_traits<char>::length(kRawScheme));
    } else if (StartsWithFolded(name, kRfc2217Scheme)) {
        address.kind = NetworkKind::Rfc2217;
        rest = name.substr(std::char_traits<char>::length(kRfc2217Scheme));
    } else {
        why = name + " is no network port name: those begin with socket:// or rfc2217://";
        return std::nullopt;
    }
    const std::string expected =
        "a network port is named socket://HOST:PORT or rfc2217://HOST:PORT "
        "(HOST a name, an IPv4 address or an IPv6 address in brackets, "
        "PORT 1..65535), got " +
        name;
    std::string port_text;
    bool bracketed = false;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            why = expected;
            return std::nullopt;
        }
        address.host = rest.substr(1, close - 1);
        port_text = rest.substr(close + 2);
        bracketed = true;
    } else {
        const std::size_t colon = rest.rfind(':');
        if (colon == std::string::npos) {
            why = expected;
            return std::nullopt;
        }
        address.host = rest.substr(0, colon);
        port_text = rest.substr(colon + 1);
    }
    const auto port = PortNumber(port_text);
    if (!port || !PlausibleHost(address.host, bracketed) ||
        (bracketed && address.host.find(':') == std::string::npos)) {
        why = expected;
        return std::nullopt;
    }
    address.port = *port;
    why.clear();
    return address;
}

}  // namespace varek::net
