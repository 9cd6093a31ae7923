// One client's connection: reads each request (with time limits, so that a
// slow or idle client holds nothing), hands it to the API, and writes the
// answer; while the answer waits for the instrument it answers "busy" at
// the request's deadline, and withdraws the request if the client leaves.
#ifndef VAREK_SERVER_HTTP_SESSION_H
#define VAREK_SERVER_HTTP_SESSION_H

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <memory>
#include <optional>
#include <set>

#include "api.h"

namespace varek::server {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using asio::ip::tcp;

class HttpSession;

// The open connections, touched on the I/O thread only.
struct ConnectionRegistry {
    std::set<HttpSession*> sessions;
    bool stopping = false;
};

// `answer` as HTTP sends it, with the headers every answer carries; for a
// HEAD request the length of a body that is not sent.
http::response<http::string_body> Serialized(const ApiResponse& answer, unsigned version, bool keep_alive,
                                             bool head_only);

class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    // Serves `socket` once Read() is called, listed in `registry` while it lives.
    HttpSession(tcp::socket socket, Api& api, std::shared_ptr<ConnectionRegistry> registry);
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // Waits for the next request (the first, or one more on a kept-alive connection).
    void Read();
    // Closes the connection if it waits for a request.
    void CloseIfIdle();

    // Since when it has waited for a request; nothing while a request is under way.
    std::optional<std::chrono::steady_clock::time_point> IdleSince() const;

private:
    enum class State { Reading, Waiting, Writing, Closed };
    void OnHeader(beast::error_code error);
    void ReadBody();
    void OnRead(beast::error_code error);

    // While the request waits for the instrument: answer "busy" at its
    // deadline, and withdraw it if the client leaves.
    void Watch();
    void OnDeadline(beast::error_code error);
    void OnPeek(beast::error_code error, std::size_t got);
    void OnAnswer(ApiResponse answer);
    void Deliver(ApiResponse answer);
    void WriteAnswer();
    void Write(const ApiResponse& answer, bool keep_alive);
    void Close();

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
    std::string peer_;  // HOST:PORT, for log lines
};

}  // namespace varek::server

#endif
