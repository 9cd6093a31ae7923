#include "network_filter.h"

#include "varek/user_input.h"

#include "tool_error.h"

namespace varek::server {

namespace {

namespace ip = boost::asio::ip;

// An IPv4 client of a dual-stack listener arrives as ::ffff:a.b.c.d.
ip::address Unmapped(const ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return ip::make_address_v4(ip::v4_mapped, address.to_v6());
    }
    return address;
}

std::array<unsigned char, 16> BytesOf(const ip::address& address) {
    std::array<unsigned char, 16> bytes{};
    if (address.is_v4()) {
        const auto v4 = address.to_v4().to_bytes();
        std::copy(v4.begin(), v4.end(), bytes.begin());
    } else {
        bytes = address.to_v6().to_bytes();
    }
    return bytes;
}

bool PrefixMatches(const std::array<unsigned char, 16>& a, const std::array<unsigned char, 16>& b,
                   unsigned bits) {
    for (unsigned i = 0; bits > 0; ++i) {
        const unsigned taken = bits < 8 ? bits : 8;
        const auto mask = static_cast<unsigned char>(0xFF << (8 - taken));
        if ((a[i] & mask) != (b[i] & mask)) return false;
        bits -= taken;
    }
    return true;
}

}  // namespace

NetworkFilter NetworkFilter::Parse(const std::string& list) {
    NetworkFilter filter;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = list.find(',', start);
        const std::string entry =
            list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const std::string expected =
            "--frames-allow takes networks as CIDR[,CIDR...], such as "
            "10.0.0.0/8,192.168.1.20/32; '" +
            entry + "' is none";
        const std::size_t slash = entry.find('/');
        const std::string bits = slash == std::string::npos ? "" : entry.substr(slash + 1);
        boost::system::error_code error;
        const ip::address address = ip::make_address(entry.substr(0, slash), error);
        std::string ignored;
        const auto prefix =
            error ? std::nullopt : VarekParseWhole(bits, 0, address.is_v4() ? 32 : 128, ignored);
        if (!prefix) throw varek::tools::UsageError(expected);
        filter.networks_.push_back({address.is_v6(), BytesOf(address), static_cast<unsigned>(*prefix)});
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return filter;
}

bool NetworkFilter::Allows(const ip::address& client) const {
    const ip::address address = Unmapped(client);
    if (networks_.empty()) return address.is_loopback();
    for (const Network& network : networks_) {
        if (network.v6 == address.is_v6() &&
            PrefixMatches(network.bytes, BytesOf(address), network.prefix_bits)) {
            return true;
        }
    }
    return false;
}

}  // namespace varek::server
