// The line as a TCP port, the way a terminal server in raw mode offers a
// serial port: one client at a time, its bytes the line's bytes. A second
// client is closed at once, as such servers turn away a second user; the
// line waits for the next client when one leaves.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <optional>

#include "line.h"

namespace varek::sim {

namespace {

namespace asio = boost::asio;
using asio::ip::tcp;

class TcpLine : public Line {
public:
    TcpLine(const std::string& host, unsigned short port) : acceptor_(io_) {
        boost::system::error_code error;
        const auto found = tcp::resolver(io_).resolve(host, std::to_string(port), error);
        if (error || found.empty()) {
            throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port) + ": " +
                                     error.message());
        }
        endpoint_ = found.begin()->endpoint();
        Revive();
    }

    const std::string& device() const override { return device_; }
    bool up() const override { return acceptor_.is_open(); }

    std::size_t Read(std::uint8_t* buffer, std::size_t count, std::chrono::nanoseconds wait) override {
        if (!client_) {
            RunFor(wait, [] { return false; });
            if (!client_) return 0;
        }
        std::optional<std::size_t> got;
        client_->async_read_some(asio::buffer(buffer, count),
                                 [this, &got](const boost::system::error_code& error, std::size_t size) {
                                     if (error && error != asio::error::operation_aborted) client_.reset();
                                     got = error ? 0 : size;
                                 });
        RunFor(wait, [&got] { return got.has_value(); });
        if (!got) {
            if (client_) client_->cancel();
            while (!got) io_.run_one();
        }
        return *got;
    }

    std::size_t Write(const std::uint8_t* bytes, std::size_t count) override {
        // With no client the bytes are lost, as a terminal server loses what
        // its serial port sends while no one is connected.
        if (!client_) return count;
        boost::system::error_code error;
        const std::size_t put = client_->write_some(asio::buffer(bytes, count), error);
        if (error == asio::error::would_block) return 0;
        if (error) {
            client_.reset();
            return count;
        }
        return put;
    }

    void HangUp() override {
        client_.reset();
        boost::system::error_code ignored;
        acceptor_.close(ignored);
        io_.restart();
        io_.poll();  // the cancelled accept's handler runs, so no stale one is left waiting
    }

    void Revive() override {
        boost::system::error_code error;
        acceptor_.open(endpoint_.protocol(), error);
        if (!error) acceptor_.set_option(tcp::acceptor::reuse_address(true), error);
        if (!error) acceptor_.bind(endpoint_, error);
        if (!error) acceptor_.listen(4, error);
        if (error) {
            boost::system::error_code ignored;
            acceptor_.close(ignored);
            throw std::runtime_error("cannot listen on " + endpoint_.address().to_string() + ":" +
                                     std::to_string(endpoint_.port()) + ": " + error.message());
        }
        const tcp::endpoint bound = acceptor_.local_endpoint();
        const std::string address = bound.address().to_string();
        device_ = "socket://" + (bound.address().is_v6() ? "[" + address + "]" : address) + ":" +
                  std::to_string(bound.port());
        Accept();
    }

    std::string HostSettings() const override { return ""; }

private:
    void Accept() {
        auto incoming = std::make_shared<tcp::socket>(io_);
        acceptor_.async_accept(*incoming, [this, incoming](const boost::system::error_code& error) {
            if (error == asio::error::operation_aborted) return;
            if (!error) {
                boost::system::error_code ignored;
                if (client_) {
                    incoming->close(ignored);  // one client at a time
                } else {
                    incoming->set_option(tcp::no_delay(true), ignored);
                    incoming->non_blocking(true, ignored);
                    client_ = incoming;
                }
            }
            Accept();
        });
    }

    // Runs the handlers due within `wait`, or until `done()`.
    template <typename Done>
    void RunFor(std::chrono::nanoseconds wait, Done done) {
        if (io_.stopped()) io_.restart();
        const auto end = std::chrono::steady_clock::now() + wait;
        while (!done() && std::chrono::steady_clock::now() < end) {
            io_.run_one_until(end);
        }
        if (wait <= std::chrono::nanoseconds(0)) io_.poll();
    }

    asio::io_context io_;
    tcp::acceptor acceptor_;
    tcp::endpoint endpoint_;
    std::string device_;
    std::shared_ptr<tcp::socket> client_;
};

}  // namespace

std::unique_ptr<Line> ListenTcp(const std::string& host, unsigned short port) {
    return std::make_unique<TcpLine>(host, port);
}

}  // namespace varek::sim
