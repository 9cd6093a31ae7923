// The frame port: the instrument's own frame protocol on a TCP port, so that
// programs using the library with socket://SERVER:PORT share the one
// instrument. Each request frame a client sends becomes one job in the
// server's queue, one exchange with the instrument, and the bytes the
// instrument sent back go to that client alone.
#ifndef VAREK_SERVER_FRAME_SERVER_H
#define VAREK_SERVER_FRAME_SERVER_H

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <memory>
#include <string>

#include "instrument_service.h"
#include "network_filter.h"

namespace varek::server {

struct FrameClients;

class FrameServer {
public:
    // Listens on `address`:`port` (0 picks one) for clients that `filter`
    // allows, at most `max_clients` at once; others are closed at once.
    // Throws std::runtime_error when it cannot listen.
    FrameServer(boost::asio::io_context& io, const std::string& address, unsigned short port,
                InstrumentBackend& instrument, NetworkFilter filter, std::size_t max_clients);
    ~FrameServer();

    unsigned short port() const { return port_; }
    // Stops accepting and closes every client's connection.
    void Shutdown();

private:
    void Accept();

    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer accept_pause_;
    unsigned short port_ = 0;
    InstrumentBackend& instrument_;
    NetworkFilter filter_;
    std::size_t max_clients_;
    std::shared_ptr<FrameClients> clients_;
};

}  // namespace varek::server

#endif
