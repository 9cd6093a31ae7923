// Which client addresses may use the frame port: networks in CIDR notation
// (10.0.0.0/8, 192.168.1.20/32, fd00::/8), or loopback alone when none are
// named. The frame protocol carries no token: this list is its only guard.
#ifndef VAREK_SERVER_NETWORK_FILTER_H
#define VAREK_SERVER_NETWORK_FILTER_H

#include <array>
#include <boost/asio/ip/address.hpp>
#include <string>
#include <vector>

namespace varek::server {

class NetworkFilter {
public:
    // Loopback addresses only.
    NetworkFilter() = default;
    // The networks of `list`, CIDR[,CIDR...]; throws varek::tools::UsageError
    // naming the entry that is not one.
    static NetworkFilter Parse(const std::string& list);

    bool Allows(const boost::asio::ip::address& address) const;
    bool loopback_only() const { return networks_.empty(); }

private:
    struct Network {
        bool v6;
        std::array<unsigned char, 16> bytes;  // IPv4 in the first 4
        unsigned prefix_bits;
    };

    std::vector<Network> networks_;
};

}  // namespace varek::server

#endif
