#include "control_server.h"

#include <boost/asio/write.hpp>
#include <stdexcept>

namespace varek::sim {

namespace asio = boost::asio;
using asio::ip::tcp;

ControlServer::ControlServer(int port) : acceptor_(io_) {
    boost::system::error_code error;
    const tcp::endpoint endpoint(asio::ip::address_v4::loopback(), static_cast<unsigned short>(port));
    acceptor_.open(endpoint.protocol(), error);
    if (!error) acceptor_.set_option(tcp::acceptor::reuse_address(true), error);
    if (!error) acceptor_.bind(endpoint, error);
    if (!error) acceptor_.listen(8, error);
    if (error) throw std::runtime_error("control port " + std::to_string(port) + ": " + error.message());
    port_ = acceptor_.local_endpoint().port();
    Accept();
}

void ControlServer::Poll(const Handler& handle) {
    handle_ = &handle;
    io_.poll();
    io_.restart();
    handle_ = nullptr;
}

void ControlServer::Accept() {
    auto client = std::make_shared<Client>(io_);
    acceptor_.async_accept(client->socket, [this, client](const boost::system::error_code& error) {
        if (!error) {
            // Answers are single short lines; Nagle would only add latency.
            boost::system::error_code ignored;
            client->socket.set_option(tcp::no_delay(true), ignored);
            clients_.push_back(client);
            Receive(client);
        }
        Accept();
    });
}

void ControlServer::Receive(const std::shared_ptr<Client>& client) {
    client->socket.async_read_some(asio::buffer(client->chunk),
                                   [this, client](const boost::system::error_code& error, std::size_t got) {
                                       if (error) {
                                           Drop(client);
                                           return;
                                       }
                                       client->pending.append(client->chunk, got);
                                       Answer(client);
                                   });
}

void ControlServer::Answer(const std::shared_ptr<Client>& client) {
    for (std::size_t newline; (newline = client->pending.find('\n')) != std::string::npos;) {
        std::string line = client->pending.substr(0, newline);
        client->pending.erase(0, newline + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string answer = (*handle_)(line) + "\n";
        boost::system::error_code error;
        asio::write(client->socket, asio::buffer(answer), error);
        if (error) {
            Drop(client);
            return;
        }
    }
    Receive(client);
}

void ControlServer::Drop(const std::shared_ptr<Client>& client) {
    boost::system::error_code ignored;
    client->socket.close(ignored);
    clients_.remove(client);
}

}  // namespace varek::sim
