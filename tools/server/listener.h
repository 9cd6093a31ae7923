// Opening a listening socket, as the HTTP port and the frame port both do.
#ifndef VAREK_SERVER_LISTENER_H
#define VAREK_SERVER_LISTENER_H

#include <boost/asio/ip/tcp.hpp>
#include <string>

namespace varek::server {

// Makes `acceptor` listen on `address` (an IP address) at `port` (0 picks
// one) and returns the port it got. Throws std::runtime_error beginning with
// `failure` ("cannot listen on") and naming the address and the reason.
unsigned short Listen(boost::asio::ip::tcp::acceptor& acceptor, const std::string& address,
                      unsigned short port, const std::string& failure);

}  // namespace varek::server

#endif
