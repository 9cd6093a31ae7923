#include "listener.h"

#include <stdexcept>

namespace varek::server {

namespace asio = boost::asio;
using asio::ip::tcp;

unsigned short Listen(tcp::acceptor& acceptor, const std::string& address, unsigned short port,
                      const std::string& failure) {
    boost::system::error_code error;
    const auto ip = asio::ip::make_address(address, error);
    if (error) throw std::runtime_error(failure + " " + address + ": not an IP address");
    const tcp::endpoint endpoint(ip, port);
    acceptor.open(endpoint.protocol(), error);
    if (!error) acceptor.set_option(asio::socket_base::reuse_address(true), error);
    if (!error) acceptor.bind(endpoint, error);
    if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error) {
        throw std::runtime_error(failure + " " + address + ":" + std::to_string(port) + ": " +
                                 error.message());
    }
    return acceptor.local_endpoint().port();
}

}  // namespace varek::server
