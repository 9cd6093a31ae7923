#include "listener.h"

#include <stdexcept>

#include "exclusive_address.h"
#include "listen_address.h"

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
    if (!error) ClaimAddressAlone(acceptor, error);
    if (!error) acceptor.bind(endpoint, error);
    if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
    const std::string named = VarekFormatHostAndPort(address, port);
    if (AddressTaken(error)) {
        throw std::runtime_error(failure + " " + named + ": another program listens on " + named +
                                 " (another varek-server?); stop it, or choose another address");
    }
    if (error) throw std::runtime_error(failure + " " + named + ": " + error.message());
    return acceptor.local_endpoint().port();
}

}  // namespace varek::server
