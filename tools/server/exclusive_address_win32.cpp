#include <winsock2.h>

#include "exclusive_address.h"

namespace varek::server {

void ClaimAddressAlone(boost::asio::ip::tcp::acceptor& acceptor, boost::system::error_code& error) {
    // On Windows SO_REUSEADDR would let a second program bind the same port
    // and take its connections; SO_EXCLUSIVEADDRUSE forbids exactly that.
    using ExclusiveAddressUse = boost::asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>;
    acceptor.set_option(ExclusiveAddressUse(true), error);
}

bool AddressTaken(const boost::system::error_code& error) {
    // A port held with SO_EXCLUSIVEADDRUSE refuses others with "access denied".
    return error == boost::asio::error::address_in_use || error == boost::asio::error::access_denied;
}

}  // namespace varek::server
