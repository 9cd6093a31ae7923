#include "http_server.h"

#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>

namespace varek::server {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using asio::ip::tcp;

// How long a client may take to send a request, or to take our answer.
constexpr std::chrono::seconds kClientTimeLimit{10};

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, Api& api) : stream_(std::move(socket)), api_(api) {}

    void Read() {
        parser_.emplace();
        parser_->body_limit(kMaxBodyBytes);
        stream_.expires_after(kClientTimeLimit);
        http::async_read(
            stream_, buffer_, *parser_,
            [self = shared_from_this()](beast::error_code error, std::size_t) { self->OnRead(error); });
    }

private:
    void OnRead(beast::error_code error) {
        if (error == http::error::body_limit) return Write(Api::TooLarge(), false);
        if (error) return Close();  // the client left, timed out, or sent no HTTP
        const auto& request = parser_->get();
        keep_alive_ = request.keep_alive();
        ApiRequest api_request{std::string(request.method_string()), std::string(request.target()),
                               request.body(), std::string(request[http::field::authorization])};
        // The answer may come from the instrument's worker: back to this
        // connection's own executor before writing.
        api_.Handle(api_request, [self = shared_from_this()](ApiResponse response) {
            asio::post(self->stream_.get_executor(),
                       [self, response = std::move(response)] { self->Write(response, self->keep_alive_); });
        });
    }

    void Write(const ApiResponse& answer, bool keep_alive) {
        response_.emplace(static_cast<http::status>(answer.status), 11);
        response_->set(http::field::server, "varek-server");
        response_->set(http::field::content_type, answer.content_type);
        response_->set(http::field::cache_control, "no-store");
        response_->keep_alive(keep_alive);
        response_->body() = answer.body;
        response_->prepare_payload();
        stream_.expires_after(kClientTimeLimit);
        http::async_write(stream_, *response_,
                          [self = shared_from_this(), keep_alive](beast::error_code error, std::size_t) {
                              if (error || !keep_alive) return self->Close();
                              self->Read();
                          });
    }

    void Close() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.close();
    }

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::optional<http::response<http::string_body>> response_;
    bool keep_alive_ = false;
    Api& api_;
};

}  // namespace

HttpServer::HttpServer(asio::io_context& io, const std::string& address, unsigned short port, Api& api)
    : acceptor_(io), api_(api) {
    beast::error_code error;
    const auto ip = asio::ip::make_address(address, error);
    if (error) throw std::runtime_error("cannot listen on " + address + ": not an IP address");
    const tcp::endpoint endpoint(ip, port);
    acceptor_.open(endpoint.protocol(), error);
    if (!error) acceptor_.set_option(asio::socket_base::reuse_address(true), error);
    if (!error) acceptor_.bind(endpoint, error);
    if (!error) acceptor_.listen(asio::socket_base::max_listen_connections, error);
    if (error) {
        throw std::runtime_error("cannot listen on " + address + ":" + std::to_string(port) + ": " +
                                 error.message());
    }
    port_ = acceptor_.local_endpoint().port();
    Accept();
}

void HttpServer::Accept() {
    acceptor_.async_accept([this](beast::error_code error, tcp::socket socket) {
        if (!error) std::make_shared<Session>(std::move(socket), api_)->Read();
        Accept();
    });
}

}  // namespace varek::server
