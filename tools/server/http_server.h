// HTTP/1.1 on Boost.Beast: reads each request (with time limits, so that a
// slow or idle client holds nothing), hands it to the API, writes the answer.
#ifndef VAREK_SERVER_HTTP_SERVER_H
#define VAREK_SERVER_HTTP_SERVER_H

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <string>

#include "api.h"

namespace varek::server {

class HttpServer {
public:
    // Listens on `address`:`port` (0 picks one). Throws std::runtime_error
    // when it cannot.
    HttpServer(boost::asio::io_context& io, const std::string& address, unsigned short port, Api& api);

    unsigned short port() const { return port_; }

private:
    void Accept();

    boost::asio::ip::tcp::acceptor acceptor_;
    unsigned short port_ = 0;
    Api& api_;
};

}  // namespace varek::server

#endif
