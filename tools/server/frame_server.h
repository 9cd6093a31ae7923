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
#include <chrono>
#include <memory>
#include <string>

#include "instrument_service.h"
#include "network_filter.h"

namespace varek::server {

struct FrameClients;

class FrameServer {
public:
    // Listens on `address`:`port` (0 picks one) for clients that `filter`
    // allows, at most `max_clients` at once; others are closed at once, but
    // at the limit a new client takes the place of the one idle longest, if
    // that one has been idle for kIdleBeforeMakingRoom. A client idle for
    // `idle_limit` is closed. Throws std::runtime_error when it cannot listen.
    FrameServer(boost::asio::io_context& io, const std::string& address, unsigned short port,
                InstrumentBackend& instrument, NetworkFilter filter, std::size_t max_clients,
                std::chrono::seconds idle_limit);
    ~FrameServer();

    unsigned short port() const { return port_; }
    // Stops accepting and closes every client's connection.
    void Shutdown();

    static constexpr std::chrono::seconds kIdleBeforeMakingRoom{10};

private:
    void Accept();
    // Closes the client idle longest, if it has been idle long enough to
    // give way; false when none has.
    bool MakeRoom(const std::string& newcomer);

    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer accept_pause_;
    unsigned short port_ = 0;
    InstrumentBackend& instrument_;
    NetworkFilter filter_;
    std::size_t max_clients_;
    std::chrono::seconds idle_limit_;
    std::shared_ptr<FrameClients> clients_;
};

}  // namespace varek::server

#endif
