#include "http_session.h"

#include <boost/asio/post.hpp>
#include <string>

#include "listen_address.h"
#include "network_filter.h"

namespace varek::server {

namespace {

// How long a client may take to send a request, or to take our answer; an
// idle kept-alive connection is closed after as long.
constexpr std::chrono::seconds kClientTimeLimit{10};

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

}  // namespace

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

HttpSession::HttpSession(tcp::socket socket, Api& api, std::shared_ptr<ConnectionRegistry> registry)
    : stream_(std::move(socket)),
      deadline_(stream_.get_executor()),
      api_(api),
      registry_(std::move(registry)) {
    registry_->sessions.insert(this);
    beast::error_code ignored;
    // Answers are whole when written: Nagle's wait would only hold them back.
    stream_.socket().set_option(tcp::no_delay(true), ignored);
    const tcp::endpoint peer = stream_.socket().remote_endpoint(ignored);
    peer_ = VarekFormatHostAndPort(peer.address().to_string(), peer.port());
}

HttpSession::~HttpSession() { registry_->sessions.erase(this); }

void HttpSession::Read() {
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

void HttpSession::CloseIfIdle() {
    if (state_ == State::Reading) Close();
}

std::optional<std::chrono::steady_clock::time_point> HttpSession::IdleSince() const {
    if (state_ != State::Reading) return std::nullopt;
    return idle_since_;
}

void HttpSession::OnHeader(beast::error_code error) {
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

void HttpSession::ReadBody() {
    http::async_read(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code error, std::size_t) { self->OnRead(error); });
}

void HttpSession::OnRead(beast::error_code error) {
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
    api_request.peer = peer_;
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

void HttpSession::Watch() {
    deadline_.expires_at(ticket_->deadline());
    deadline_.async_wait([self = shared_from_this()](beast::error_code error) { self->OnDeadline(error); });
    peeking_ = true;
    stream_.socket().async_receive(
        asio::buffer(&peeked_, 1), tcp::socket::message_peek,
        [self = shared_from_this()](beast::error_code error, std::size_t got) { self->OnPeek(error, got); });
}

void HttpSession::OnDeadline(beast::error_code error) {
    if (error || state_ != State::Waiting) return;
    // Already running: its answer follows within one job.
    if (!ticket_->Withdraw()) return;
    held_.reset();
    Deliver(Api::Expired());
}

void HttpSession::OnPeek(beast::error_code error, std::size_t got) {
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

void HttpSession::OnAnswer(ApiResponse answer) {
    held_.reset();
    if (state_ != State::Waiting) return;
    if (client_gone_) return Close();
    Deliver(std::move(answer));
}

void HttpSession::Deliver(ApiResponse answer) {
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

void HttpSession::WriteAnswer() {
    ApiResponse answer = std::move(*answer_);
    answer_.reset();
    Write(answer, keep_alive_ && !registry_->stopping);
}

void HttpSession::Write(const ApiResponse& answer, bool keep_alive) {
    state_ = State::Writing;
    api_.CountResponse(answer.status);
    response_.emplace(Serialized(answer, version_, keep_alive, head_only_));
    stream_.expires_after(kClientTimeLimit);
    http::async_write(stream_, *response_,
                      [self = shared_from_this(), keep_alive](beast::error_code error, std::size_t) {
                          if (error || !keep_alive) return self->Close();
                          self->Read();
                      });
}

void HttpSession::Close() {
    state_ = State::Closed;
    deadline_.cancel();
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.close();
}

}  // namespace varek::server
