#include "hostile_peer.h"

#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

namespace varek::test {

namespace asio = boost::asio;
using asio::ip::tcp;

HostilePeer::HostilePeer(std::function<void(Socket&, const std::atomic<bool>&)> script)
    : acceptor_(io_, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)), client_(io_) {
    thread_ = std::thread([this, script = std::move(script)] {
        boost::system::error_code error;
        acceptor_.accept(client_, error);
        if (error) return;
        client_.set_option(tcp::no_delay(true), error);
        try {
            script(client_, stopping_);
        } catch (const boost::system::system_error&) {
            // The client left: the script is over.
        }
    });
}

HostilePeer::~HostilePeer() {
    stopping_ = true;
    boost::system::error_code ignored;
    acceptor_.close(ignored);
    client_.shutdown(tcp::socket::shutdown_both, ignored);
    thread_.join();
}

std::string HostilePeer::Name(const std::string& scheme) const {
    return scheme + "://127.0.0.1:" + std::to_string(acceptor_.local_endpoint().port());
}

void HostilePeer::AgreeToComPort(Socket& socket) {
    // The client's greeting: IAC WILL COM-PORT, IAC WILL BINARY, IAC DO BINARY.
    std::uint8_t greeting[9];
    asio::read(socket, asio::buffer(greeting));
    Send(socket, {0xFF, 0xFD, 44, 0xFF, 0xFD, 0, 0xFF, 0xFB, 0});
}

void HostilePeer::AwaitRequest(Socket& socket) {
    // Settings and purges come before the request; the request is the first
    // thing that ends in the frame tail after a frame head.
    bool head = false;
    std::uint8_t previous = 0;
    for (;;) {
        std::uint8_t byte = 0;
        asio::read(socket, asio::buffer(&byte, 1));
        if (previous == 0xEB && byte == 0x90) head = true;
        if (head && byte == 0xCC) return;
        previous = byte;
    }
}

std::uint64_t HostilePeer::Flood(Socket& socket, const std::vector<std::uint8_t>& pattern,
                                 const std::atomic<bool>& stopping) {
    std::vector<std::uint8_t> block;
    while (block.size() < 64 * 1024) block.insert(block.end(), pattern.begin(), pattern.end());
    std::uint64_t sent = 0;
    boost::system::error_code error;
    while (!stopping && !error) sent += asio::write(socket, asio::buffer(block), error);
    return sent;
}

void HostilePeer::Send(Socket& socket, const std::vector<std::uint8_t>& bytes) {
    asio::write(socket, asio::buffer(bytes));
}

}  // namespace varek::test
