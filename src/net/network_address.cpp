#include "net/network_address.h"

#include <algorithm>
#include <cctype>

#include "varek/user_input.h"

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

std::string NetworkAddress::HostAndPort() const { return VarekFormatHostAndPort(host, port); }

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
    std::string ignored;
    const auto parsed = VarekParseHostAndPort(rest, 1, ignored);
    if (!parsed) {
        why =
            "a network port is named socket://HOST:PORT or rfc2217://HOST:PORT "
            "(HOST a name, an IPv4 address or an IPv6 address in brackets, "
            "PORT 1..65535), got " +
            name;
        return std::nullopt;
    }
    address.host = parsed->host;
    address.port = parsed->port;
    why.clear();
    return address;
}

}  // namespace varek::net

std::optional<VarekHostAndPort> VarekParseHostAndPort(const std::string& text, std::uint16_t lowest_port,
                                                      std::string& why) {
    why = "HOST:PORT expected (HOST a name, an IPv4 address or an IPv6 address in brackets, PORT " +
          std::to_string(lowest_port) + "..65535), got " + text;
    VarekHostAndPort address;
    std::string port_text;
    const bool bracketed = !text.empty() && text.front() == '[';
    if (bracketed) {
        const std::size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return std::nullopt;
        address.host = text.substr(1, close - 1);
        port_text = text.substr(close + 2);
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon == std::string::npos) return std::nullopt;
        address.host = text.substr(0, colon);
        port_text = text.substr(colon + 1);
    }
    std::string ignored;
    const auto port = VarekParseWhole(port_text, lowest_port, 65535, ignored);
    if (!port || !varek::net::PlausibleHost(address.host, bracketed) ||
        (bracketed && address.host.find(':') == std::string::npos)) {
        return std::nullopt;
    }
    address.port = static_cast<std::uint16_t>(*port);
    why.clear();
    return address;
}

std::string VarekFormatHostAndPort(const std::string& host, std::uint16_t port) {
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}
