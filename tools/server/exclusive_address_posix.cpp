#include "exclusive_address.h"

namespace varek::server {

void ClaimAddressAlone(boost::asio::ip::tcp::acceptor& acceptor, boost::system::error_code& error) {
    // On Linux SO_REUSEADDR lets a restarted server bind while connections of
    // the old one linger in TIME_WAIT, but never lets two listen at once.
    acceptor.set_option(boost::asio::socket_base::reuse_address(true), error);
}

bool AddressTaken(const boost::system::error_code& error) {
    return error == boost::asio::error::address_in_use;
}

}  // namespace varek::server
