#include "http_server.h"

#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>

namespace varek::server {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using asio::ip::tcp;

namespace {

// How long a client may take to send a request, or to take our answer; an
// idle kept-alive connection is closed after as long.
constexpr std::chrono::seconds kClientTimeLimit{10};
// After a failed accept (most often: no descriptors left) the listener
// pauses this long rather than failing again at once, in a busy loop.
constexpr std::chrono::milliseconds kAcceptPause{100};
// A connection turned away gets this long to read its 503.
constexpr std::chrono::seconds kTurnAwayLinger{1};

// On every answer: the page may be neither framed nor load anything from
// elsewhere, and nothing is cached or sniffed.
constexpr std::pair<const char*, const char*> kSecurityHeaders[] = {
    {"Content-Security-Policy",
     "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self' data:; "
     "base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
    {"X-Frame-Options", "DENY"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
    {"Cache-Control", "no-store"},
};

std::optional<std::string> Field(const http::request<http::string_body>& request, http::field field) {
    const auto found = request.find(field);
    if (found == request.end()) return std::nullopt;
    return std::string(found->value());
}

http::response<http::string_body> Serialized(const ApiResponse& answer, unsigned version, bool keep_alive,
                                             bool head_only) {
    http::response<http::string_body> response(static_cast<http::status>(answer.status), version);
    response.set(http::field::server, "varek-server");
    response.set(http::field::content_type, answer.content_type);
    for (const auto& [name, value] : kSecurityHeaders) response.set(name, value);
    for (const auto& [name, value] : answer.headers) response.set(name, value);
    response.keep_alive(keep_alive);
    response.body() = answer.body;
    response.prepare_payload();
    // HEAD: the length the body would have, and no body.
    if (head_only) response.body().clear();
    return response;
}

}  // namespace

class HttpSession;

// The open connections, touched on the I/O thread only.
struct ConnectionRegistry {
    std::set<HttpSession*> sessions;
    bool stopping = false;
};

class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(tcp::socket socket, Api& api, std::shared_ptr<ConnectionRegistry> registry)
        : stream_(std::move(socket)),
          deadline_(stream_.get_executor()),
          api_(api),
          registry_(std::move(registry)) {
        registry_->sessions.insert(this);
    }
    ~HttpSession() { registry_->sessions.erase(this); }
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    void Read() {
        if (registry_->stopping) return Close();
        state_ = State::Reading;
        idle_since_ = std::chrono::steady_clock::now();
        parser_.emplace();
        parser_->body_limit(kMaxBodyBytes);
        stream_.expires_after(kClientTimeLimit);
        http::async_read_header(
            stream_, buffer_, *parser_,
            [self = shared_from_this()](beast::error_code error, std::size_t) { self->OnHeader(error); });
    }

    void CloseIfIdle() {
        if (state_ == State::Reading) Close();
    }

    // Since when it has waited for a request; nothing while a request is under way.
    std::optional<std::chrono::steady_clock::time_point> IdleSince() const {
        if (state_ != State::Reading) return std::nullopt;
        return idle_since_;
    }

private:
    enum class State { Reading, Waiting, Writing, Closed };

    void OnHeader(beast::error_code error) {
        if (error == http::error::body_limit) return Write(Api::TooLarge(), false);
        if (error) return Close();  // the client left, timed out, or sent no HTTP
        arrived_ = JobTicket::Clock::now();
        const auto& request = parser_->get();
        if (!beast::iequals(request[http::field::expect], "100-continue") || parser_->is_done()) {
            return ReadBody();
        }
        // The client waits for this before it sends the body (curl: a second).
        continue_.emplace(http::status::continue_, request.version());
        http::async_write(stream_, *continue_,
                          [self = shared_from_this()](beast::error_code failed, std::size_t) {
                              if (failed) return self->Close();
                              self->ReadBody();
                          });
    }

    void ReadBody() {
        http::async_read(
            stream_, buffer_, *parser_,
            [self = shared_from_this()](beast::error_code error, std::size_t) { self->OnRead(error); });
    }

    void OnRead(beast::error_code error) {
        if (error == http::error::body_limit) return Write(Api::TooLarge(), false);
        if (error) return Close();
        const auto& request = parser_->get();
        version_ = request.version();
        keep_alive_ = request.keep_alive();
        head_only_ = request.method() == http::verb::head;
        ApiRequest api_request;
        api_request.head = {version_,
                            std::string(request.method_string()),
                            Field(request, http::field::host),
                            Field(request, http::field::origin),
                            Field(request, http::field::content_type),
                            !request.body().empty()};
        api_request.target = std::string(request.target());
        api_request.body = request.body();
        api_request.authorization = std::string(request[http::field::authorization]);
        ticket_ = std::make_shared<JobTicket>(arrived_ + kRequestDeadline);
        api_request.ticket = ticket_;
        state_ = State::Waiting;
        // The instrument's worker holds only a weak reference, so that this
        // connection always ends on the I/O thread; until answered it keeps
        // itself.
        held_ = shared_from_this();
        api_.Handle(api_request, [weak = weak_from_this()](ApiResponse answer) {
            const auto self = weak.lock();
            if (!self) return;
            asio::post(self->stream_.get_executor(),
                       [self, answer = std::move(answer)]() mutable { self->OnAnswer(std::move(answer)); });
        });
        Watch();
    }

    // While the request waits for the instrument: answer "busy" at its
    // deadline, and withdraw it if the client leaves.
    void Watch() {
        deadline_.expires_at(ticket_->deadline());
        deadline_.async_wait(
            [self = shared_from_this()](beast::error_code error) { self->OnDeadline(error); });
        peeking_ = true;
        stream_.socket().async_receive(asio::buffer(&peeked_, 1), tcp::socket::message_peek,
                                       [self = shared_from_this()](beast::error_code error, std::size_t got) {
                                           self->OnPeek(error, got);
                                       });
    }

    void OnDeadline(beast::error_code error) {
        if (error || state_ != State::Waiting) return;
        // Already running: its answer follows within one job.
        if (!ticket_->Withdraw()) return;
        held_.reset();
        Deliver(Api::Busy("this request waited " + std::to_string(kRequestDeadline.count()) +
                          " s for its turn and was dropped, not carried out"));
    }

    void OnPeek(beast::error_code error, std::size_t got) {
        peeking_ = false;
        if (answer_) return WriteAnswer();
        if (state_ != State::Waiting || error == asio::error::operation_aborted) return;
        // Bytes: the client's next request, already sent. Nothing: it left.
        if (!error && got > 0) return;
        client_gone_ = true;
        if (ticket_->Withdraw()) {
            held_.reset();
            Close();
        }
    }

    void OnAnswer(ApiResponse answer) {
        held_.reset();
        if (state_ != State::Waiting) return;
        if (client_gone_) return Close();
        Deliver(std::move(answer));
    }

    void Deliver(ApiResponse answer) {
        deadline_.cancel();
        answer_ = std::move(answer);
        state_ = State::Writing;
        // The watch on the socket ends first; its handler writes the answer.
        if (peeking_) {
            beast::error_code ignored;
            stream_.socket().cancel(ignored);
            return;
        }
        WriteAnswer();
    }

    void WriteAnswer() {
        ApiResponse answer = std::move(*answer_);
        answer_.reset();
        Write(answer, keep_alive_ && !registry_->stopping);
    }

    void Write(const ApiResponse& answer, bool keep_alive) {
        state_ = State::Writing;
        response_.emplace(Serialized(answer, version_, keep_alive, head_only_));
        stream_.expires_after(kClientTimeLimit);
        http::async_write(stream_, *response_,
                          [self = shared_from_this(), keep_alive](beast::error_code error, std::size_t) {
                              if (error || !keep_alive) return self->Close();
                              self->Read();
                          });
    }

    void Close() {
        state_ = State::Closed;
        deadline_.cancel();
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.close();
    }

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::optional<http::response<http::empty_body>> continue_;
    std::optional<http::response<http::string_body>> response_;
    asio::steady_timer deadline_;
    JobTicket::Clock::time_point arrived_{};
    std::chrono::steady_clock::time_point idle_since_{};
    std::shared_ptr<JobTicket> ticket_;
    std::shared_ptr<HttpSession> held_;
    std::optional<ApiResponse> answer_;
    State state_ = State::Reading;
    unsigned version_ = 11;
    bool keep_alive_ = false;
    bool head_only_ = false;
    bool peeking_ = false;
    bool client_gone_ = false;
    char peeked_ = 0;
    Api& api_;
    std::shared_ptr<ConnectionRegistry> registry_;
};

HttpServer::HttpServer(asio::io_context& io, const std::string& address, unsigned short port, Api& api,
                       std::size_t max_connections)
    : acceptor_(io),
      accept_pause_(io),
      api_(api),
      max_connections_(max_connections),
      connections_(std::make_shared<ConnectionRegistry>()) {
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
    away->response =
        Serialized(Api::Busy("the server holds as many connections as it takes"), 11, false, false);
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
