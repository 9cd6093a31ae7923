// A terminal server of the worst kind, on a loopback TCP port: it takes one
// client and does to it what a test script says (agree to RFC 2217 and then
// flood Telnet commands, send garbage for ever, never end a subnegotiation).
// Tests use it to show that an exchange ends within its bounds whatever the
// far end sends.
#ifndef VAREK_TESTS_HOSTILE_PEER_H
#define VAREK_TESTS_HOSTILE_PEER_H

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace varek::test {

class HostilePeer {
public:
    using Socket = boost::asio::ip::tcp::socket;
    // `script(socket, stopping)` runs on a thread of its own for the one
    // client that connects; it should end soon after `stopping` turns true.
    explicit HostilePeer(std::function<void(Socket&, const std::atomic<bool>&)> script);
    ~HostilePeer();
    HostilePeer(const HostilePeer&) = delete;
    HostilePeer& operator=(const HostilePeer&) = delete;

    // "socket://127.0.0.1:PORT" or "rfc2217://127.0.0.1:PORT".
    std::string Name(const std::string& scheme) const;

    // Answers a client's RFC 2217 greeting as a server that takes the COM
    // port option and binary mode.
    static void AgreeToComPort(Socket& socket);
    // Reads until one whole request frame has come (Telnet-escaped or not).
    static void AwaitRequest(Socket& socket);
    // Sends `pattern` over and over until `stopping` or the client leaves;
    // returns the bytes sent.
    static std::uint64_t Flood(Socket& socket, const std::vector<std::uint8_t>& pattern,
                               const std::atomic<bool>& stopping);
    static void Send(Socket& socket, const std::vector<std::uint8_t>& bytes);

private:
    boost::asio::io_context io_;
    boost::asio::ip::tcp::acceptor acceptor_;
    Socket client_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace varek::test

#endif
