// A listening socket that no other program can share, and knowing when
// another program already holds the address: the platforms differ in both.
#ifndef VAREK_SERVER_EXCLUSIVE_ADDRESS_H
#define VAREK_SERVER_EXCLUSIVE_ADDRESS_H

#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

namespace varek::server {

// Sets the options that make an open, unbound acceptor's address its own.
void ClaimAddressAlone(boost::asio::ip::tcp::acceptor& acceptor, boost::system::error_code& error);

// Whether a failed bind means that another program listens there.
bool AddressTaken(const boost::system::error_code& error);

}  // namespace varek::server

#endif
