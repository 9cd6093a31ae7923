// The server's HTTP API, version 1, apart from the sockets: a request in,
// a response out (possibly later, once the instrument has answered), so that
// it can be fuzzed and reasoned about without a network.
#ifndef VAREK_SERVER_API_H
#define VAREK_SERVER_API_H

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "event_log.h"
#include "instrument_service.h"
#include "job_ticket.h"
#include "request_guard.h"
#include "server_metrics.h"
#include "setup_memory.h"

namespace varek::server {

struct ApiRequest {
    RequestHead head;    // the method, and where the request comes from
    std::string target;  // the path, with any query
    std::string body;
    std::string authorization;  // the Authorization header, "" when absent
    // Where the connection comes from, for messages ("127.0.0.1:51234").
    std::string peer;
    // Its place in the instrument's queue, with its deadline; Handle makes
    // one when the caller has none.
    std::shared_ptr<JobTicket> ticket;
};

struct ApiResponse {
    unsigned status = 200;
    std::string content_type = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // beyond Content-Type
};

// The largest request body the API reads; a larger one is answered with 413.
constexpr std::size_t kMaxBodyBytes = 64 * 1024;

class Api {
public:
    using Respond = std::function<void(ApiResponse)>;

    // With a token, every /api request must carry "Authorization: Bearer
    // TOKEN", and so must /metrics unless `metrics_open`.
    Api(InstrumentBackend& instrument, SetupMemory& memory, ServerMetrics& metrics,
        std::optional<std::string> token, bool metrics_open, HostPolicy hosts);

    // Answers `request` through `respond`, exactly once: at once, or from the
    // instrument's worker once the exchanges are done.
    void Handle(const ApiRequest& request, Respond respond);

    // Counts an answer that goes out, for /metrics.
    void CountResponse(unsigned status) { metrics_.CountResponse(status); }

    // The answer to a body over kMaxBodyBytes.
    static ApiResponse TooLarge();
    // The answer to a request that found the server at its limit of
    // connections, or too many waiting before it.
    static ApiResponse Busy(const std::string& why);
    // The answer to a request that waited past its deadline: not carried out.
    static ApiResponse Expired();

private:
    bool Authorized(const std::string& authorization) const;
    void HandleApi(const ApiRequest& request, const std::string& route, const Respond& respond);
    // Hears how a job went and answers: `success()`, or why it failed.
    static InstrumentBackend::Done Answer(const std::string& port, Respond respond,
                                          std::function<ApiResponse()> success);

    InstrumentBackend& instrument_;
    SetupMemory& memory_;
    ServerMetrics& metrics_;
    std::optional<std::string> token_;
    bool metrics_open_;
    HostPolicy hosts_;
    // A client trying tokens must not fill the log: 5 lines in 10 s at most.
    ThrottledLog refusals_{5, std::chrono::seconds(10)};
};

// A token as a file or a header carries it, without what editors and
// terminals add around it: a byte-order mark, and white space at either end.
std::string NormalizedToken(std::string token);

}  // namespace varek::server

#endif
