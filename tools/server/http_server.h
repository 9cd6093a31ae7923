// HTTP/1.1 on Boost.Beast: the listener. It holds at most a set number of
// connections (each an HttpSession), turns away more with 503, and never
// spins when the process runs out of descriptors.
#ifndef VAREK_SERVER_HTTP_SERVER_H
#define VAREK_SERVER_HTTP_SERVER_H

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <cstddef>
#include <memory>
#include <string>

#include "api.h"

namespace varek::server {

struct ConnectionRegistry;

class HttpServer {
public:
    // Listens on `address`:`port` (0 picks one), holding at most
    // `max_connections` at once. Throws std::runtime_error when it cannot.
    HttpServer(boost::asio::io_context& io, const std::string& address, unsigned short port, Api& api,
               std::size_t max_connections);
    ~HttpServer();

    unsigned short port() const { return port_; }

    // Stops accepting and closes the connections that wait for a request;
    // those with a request under way close once it is answered.
    void Shutdown();

private:
    void Accept();
    // Closes the connection that has waited longest for a request; false
    // when every connection has one under way.
    bool CloseLongestIdle();
    // Answers a connection beyond the limit with 503 and closes it.
    void TurnAway(boost::asio::ip::tcp::socket socket);

    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer accept_pause_;
    unsigned short port_ = 0;
    Api& api_;
    std::size_t max_connections_;
    std::shared_ptr<ConnectionRegistry> connections_;
};

}  // namespace varek::server

#endif
