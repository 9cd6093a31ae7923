// The server's HTTP API, version 1, apart from the sockets: a request in,
// a response out (possibly later, once the instrument has answered), so that
// it can be fuzzed and reasoned about without a network.
#ifndef VAREK_SERVER_API_H
#define VAREK_SERVER_API_H

#include <functional>
#include <optional>
#include <string>

#include "instrument_service.h"

namespace varek::server {

struct ApiRequest {
    std::string method;  // GET, PUT, POST, ...
    std::string target;  // the path, with any query
    std::string body;
    std::string authorization;  // the Authorization header, "" when absent
};

struct ApiResponse {
    unsigned status = 200;
    std::string content_type = "application/json";
    std::string body;
};

// The largest request body the API reads; a larger one is answered with 413.
constexpr std::size_t kMaxBodyBytes = 64 * 1024;

class Api {
public:
    using Respond = std::function<void(ApiResponse)>;

    // With a token, every /api request must carry "Authorization: Bearer TOKEN".
    Api(InstrumentBackend& instrument, std::optional<std::string> token);

    // Answers `request` through `respond`, exactly once: at once, or from the
    // instrument's worker once the exchanges are done.
    void Handle(const ApiRequest& request, Respond respond);

    // The answer to a body over kMaxBodyBytes.
    static ApiResponse TooLarge();

private:
    bool Authorized(const std::string& authorization) const;

    InstrumentBackend& instrument_;
    std::optional<std::string> token_;
};

}  // namespace varek::server

#endif
