#include "http_server.h"

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <memory>
#include <set>

#include "http_session.h"
#include "listener.h"

namespace varek::server {

namespace {

// After a failed accept (most often: no descriptors left) the listener
// pauses this long rather than failing again at once, in a busy loop.
constexpr std::chrono::milliseconds kAcceptPause{100};
// A connection turned away gets this long to read its 503.
constexpr std::chrono::seconds kTurnAwayLinger{1};

}  // namespace

HttpServer::HttpServer(asio::io_context& io, const std::string& address, unsigned short port, Api& api,
                       std::size_t max_connections)
    : acceptor_(io),
      accept_pause_(io),
      api_(api),
      max_connections_(max_connections),
      connections_(std::make_shared<ConnectionRegistry>()) {
    port_ = Listen(acceptor_, address, port, "cannot listen on");
    Accept();
}

HttpServer::~HttpServer() = default;

void HttpServer::Shutdown() {
    connections_->stopping = true;
    beast::error_code ignored;
    acceptor_.close(ignored);
    accept_pause_.cancel();
    // Closing one may end it at once: walk a copy.
    const std::set<HttpSession*> open = connections_->sessions;
    for (HttpSession* session : open) session->CloseIfIdle();
}

void HttpServer::Accept() {
    acceptor_.async_accept([this](beast::error_code error, tcp::socket socket) {
        if (connections_->stopping) return;
        // Out of descriptors (or any failure): an idle connection gives way
        // to the one waiting, else the listener pauses rather than spins.
        if (error && CloseLongestIdle()) return Accept();
        if (error) {
            accept_pause_.expires_after(kAcceptPause);
            accept_pause_.async_wait([this](beast::error_code cancelled) {
                if (!cancelled) Accept();
            });
            return;
        }
        if (connections_->sessions.size() >= max_connections_) {
            TurnAway(std::move(socket));
        } else {
            std::make_shared<HttpSession>(std::move(socket), api_, connections_)->Read();
        }
        Accept();
    });
}

bool HttpServer::CloseLongestIdle() {
    HttpSession* longest = nullptr;
    std::chrono::steady_clock::time_point earliest = std::chrono::steady_clock::time_point::max();
    for (HttpSession* session : connections_->sessions) {
        const auto since = session->IdleSince();
        if (since && *since < earliest) {
            earliest = *since;
            longest = session;
        }
    }
    if (longest == nullptr) return false;
    longest->CloseIfIdle();
    return true;
}

void HttpServer::TurnAway(tcp::socket socket) {
    struct TurnedAway {
        explicit TurnedAway(tcp::socket s) : socket(std::move(s)), linger(socket.get_executor()) {}
        tcp::socket socket;
        asio::steady_timer linger;
        http::response<http::string_body> response;
        char discard[512];
    };
    auto away = std::make_shared<TurnedAway>(std::move(socket));
    const ApiResponse busy = Api::Busy("the server holds as many connections as it takes");
    api_.CountResponse(busy.status);
    away->response = Serialized(busy, 11, false, false);
    http::async_write(away->socket, away->response, [away](beast::error_code error, std::size_t) {
        beast::error_code ignored;
        if (error) {
            away->socket.close(ignored);
            return;
        }
        // Closing with the request unread would reset the connection, and the
        // client might lose the answer: end our side, and read until it ends its.
        away->socket.shutdown(tcp::socket::shutdown_send, ignored);
        away->linger.expires_after(kTurnAwayLinger);
        away->linger.async_wait([away](beast::error_code) {
            beast::error_code ignored_too;
            away->socket.close(ignored_too);
        });
        struct Drain {
            std::shared_ptr<TurnedAway> away;
            void operator()(beast::error_code drained, std::size_t) const {
                if (drained) {
                    away->linger.cancel();
                    return;
                }
                away->socket.async_read_some(asio::buffer(away->discard), *this);
            }
        };
        Drain{away}({}, 0);
    });
}

}  // namespace varek::server
