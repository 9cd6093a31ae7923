// Network port names: socket://HOST:PORT for a terminal server's raw TCP
// port, rfc2217://HOST:PORT for one that speaks Telnet's COM port option.
#ifndef VAREK_NET_NETWORK_ADDRESS_H
#define VAREK_NET_NETWORK_ADDRESS_H

#include <cstdint>
#include <optional>
#include <string>

namespace varek::net {

enum class NetworkKind { Raw, Rfc2217 };

struct NetworkAddress {
    NetworkKind kind = NetworkKind::Raw;
    std::string host;  // a name or an address; an IPv6 address without its brackets
    std::uint16_t port = 0;

    // HOST:PORT as a user wrote it, [::1]:4001 for an IPv6 address.
    std::string HostAndPort() const;
};

// True when `name` begins with socket:// or rfc2217:// (in any letter case):
// a network name, well-formed or not.
bool IsNetworkName(const std::string& name);

// The address `name` names, or nothing with `why` saying what is wrong.
std::optional<NetworkAddress> ParseNetworkAddress(const std::string& name, std::string& why);

}  // namespace varek::net

#endif
