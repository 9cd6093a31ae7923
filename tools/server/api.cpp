#include "api.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "api_responses.h"
#include "event_log.h"
#include "front_panel.h"
#include "openapi_document.h"
#include "routes.h"
#include "varek/rules.h"
#include "varek/user_input.h"

namespace varek::server {

namespace {

constexpr const char* kApiPrefix = "/api/v1/";
constexpr const char* kChannelsPrefix = "channels/";
// Where a monitoring system reads the metrics, and as what.
constexpr const char* kMetricsPath = "/metrics";
constexpr const char* kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";
// The API's own description, served without the token: it is no secret.
constexpr const char* kOpenApiPath = "/api/v1/openapi.json";
// Seconds a client is asked to wait before it tries a busy or portless instrument again.
constexpr const char* kRetryAfterSeconds = "1";

// The page and its parts, served from inside the program.
struct StaticFile {
    const char* path;
    const char* content_type;
    const char* const& content;
};
const StaticFile kStaticFiles[] = {
    {"/", "text/html; charset=utf-8", kFrontPanelPage},
    {"/front_panel.js", "text/javascript; charset=utf-8", kFrontPanelScript},
    {"/front_panel.css", "text/css; charset=utf-8", kFrontPanelStyle},
};

}  // namespace

Api::Api(InstrumentBackend& instrument, SetupMemory& memory, ServerMetrics& metrics,
         std::optional<std::string> token, bool metrics_open, HostPolicy hosts)
    : instrument_(instrument),
      memory_(memory),
      metrics_(metrics),
      token_(std::move(token)),
      metrics_open_(metrics_open),
      hosts_(std::move(hosts)) {
    if (token_) token_ = NormalizedToken(*token_);
}

std::string NormalizedToken(std::string token) {
    static const std::string kByteOrderMark = "\xEF\xBB\xBF";
    if (token.rfind(kByteOrderMark, 0) == 0) token.erase(0, kByteOrderMark.size());
    const auto not_space = [](unsigned char c) { return !std::isspace(c); };
    token.erase(token.begin(), std::find_if(token.begin(), token.end(), not_space));
    token.erase(std::find_if(token.rbegin(), token.rend(), not_space).base(), token.end());
    return token;
}

ApiResponse Api::TooLarge() {
    return Error(413, ServerOutcome::TooLarge,
                 "the request body is larger than " + std::to_string(kMaxBodyBytes / 1024) + " KiB");
}

ApiResponse Api::Busy(const std::string& why) {
    ApiResponse busy =
        Error(503, ServerOutcome::Busy, "the instrument is busy: " + why + "; try again shortly");
    busy.headers.emplace_back("Retry-After", kRetryAfterSeconds);
    return busy;
}

ApiResponse Api::Expired() {
    ApiResponse expired =
        Error(503, ServerOutcome::Expired,
              "the instrument is busy: this request waited " + std::to_string(kRequestDeadline.count()) +
                  " s for its turn and was dropped, not carried out; try again shortly");
    expired.headers.emplace_back("Retry-After", kRetryAfterSeconds);
    return expired;
}

bool Api::Authorized(const std::string& authorization) const {
    if (!token_) return true;
    // The scheme in any letter case (RFC 9110), then the token as the file holds it.
    const std::size_t space = authorization.find(' ');
    const std::string scheme = authorization.substr(0, space);
    bool bearer = scheme.size() == 6;
    for (std::size_t i = 0; bearer && i < scheme.size(); ++i) {
        bearer = std::tolower(static_cast<unsigned char>(scheme[i])) == "bearer"[i];
    }
    const std::string given = space == std::string::npos ? "" : NormalizedToken(authorization.substr(space));
    const std::string& expected = *token_;
    // Every byte compared whatever differs, so that the time taken tells nothing.
    unsigned difference = bearer && given.size() == expected.size() ? 0u : 1u;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const char byte = i < given.size() ? given[i] : '\0';
        difference |=
            static_cast<unsigned>(static_cast<unsigned char>(byte) ^ static_cast<unsigned char>(expected[i]));
    }
    return difference == 0;
}

void Api::Handle(const ApiRequest& request, Respond respond) {
    if (const auto refusal = RefuseForeign(request.head, hosts_)) {
        return respond(Error(refusal->status, refusal->outcome, refusal->message));
    }
    // HEAD is GET without the body, which the HTTP layer leaves out.
    const std::string method = request.head.method == "HEAD" ? "GET" : request.head.method;
    const std::string path = request.target.substr(0, request.target.find('?'));
    for (const StaticFile& file : kStaticFiles) {
        if (path != file.path && !(file.path == std::string("/") && path == "/index.html")) continue;
        if (method != "GET") return respond(NotAllowed(path + " is read with GET", "GET, HEAD"));
        return respond({200, file.content_type, file.content, {}});
    }
    if (path == kOpenApiPath) {
        if (method != "GET") return respond(NotAllowed(path + " is read with GET", "GET, HEAD"));
        return respond({200, "application/json", OpenApiDocument(), {}});
    }
    const bool metrics = path == kMetricsPath;
    if (!metrics && path.rfind(kApiPrefix, 0) != 0)
        return respond(Error(404, ServerOutcome::NotFound, "no such page: " + path));
    // Where the server sits behind a proxy every client comes from loopback,
    // so where it comes from waives nothing: the metrics are open only when
    // the operator says so.
    if (!(metrics && metrics_open_) && !Authorized(request.authorization)) {
        refusals_.Log("refused " + request.head.method + " " + path + " from " + request.peer + ": " +
                      (request.authorization.empty() ? "no token given" : "not the token"));
        ApiResponse refusal = Error(401, ServerOutcome::Unauthorized,
                                    "this server needs the header Authorization: Bearer TOKEN");
        refusal.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"varek-server\"");
        return respond(refusal);
    }
    if (metrics) {
        if (method != "GET") return respond(NotAllowed(path + " is read with GET", "GET, HEAD"));
        return respond({200, kMetricsContentType, metrics_.Text(memory_.Drift().size()), {}});
    }
    ApiRequest api_request = request;
    api_request.head.method = method;
    if (!api_request.ticket) api_request.ticket = std::make_shared<JobTicket>();
    HandleApi(api_request, path.substr(std::string(kApiPrefix).size()), respond);
}

void Api::HandleApi(const ApiRequest& request, const std::string& route, const Respond& respond) {
    const std::string path = kApiPrefix + route;
    // channels/N: one path a channel, one route for them all.
    std::string pattern = route;
    std::int32_t channel = 0;
    if (route.rfind(kChannelsPrefix, 0) == 0) {
        const std::string number = route.substr(std::string(kChannelsPrefix).size());
        std::string rejection;
        const auto parsed = VarekParseWhole(number, 0, INT64_MAX, rejection);
        if (parsed) rejection = VarekChannelRejection(*parsed);
        if (!rejection.empty())
            return respond(
                Error(404, ServerOutcome::NotFound, "no channel " + number + " (" + rejection + ")"));
        channel = static_cast<std::int32_t>(*parsed);
        pattern = std::string(kChannelsPrefix) + "N";
    }
    const Route* match = nullptr;
    std::string allowed;
    for (const Route& candidate : ApiRoutes()) {
        if (pattern != candidate.path) continue;
        allowed += (allowed.empty() ? "" : ", ") + std::string(candidate.method);
        if (request.head.method == candidate.method) match = &candidate;
    }
    if (allowed.empty())
        return respond(Error(404, ServerOutcome::NotFound,
                             "no such path: " + path + " (the API: " + DescribeRoutes() + ")"));
    if (match == nullptr) {
        if (allowed == "GET") allowed += ", HEAD";
        return respond(NotAllowed(path + " takes " + allowed, allowed));
    }
    const std::string& port = instrument_.port();
    auto run = [this, respond, port, ticket = request.ticket](InstrumentBackend::Job job,
                                                              std::function<ApiResponse()> success) {
        instrument_.Submit(std::move(job), Answer(port, respond, std::move(success)), ticket);
    };
    match->handle(RouteCall{request, channel, port, memory_, metrics_, run, respond});
}

InstrumentBackend::Done Api::Answer(const std::string& port, Respond respond,
                                    std::function<ApiResponse()> success) {
    return
        [=](JobResult result, bool ok, const VarekExchangeReport& report, const VarekPortOpening& opening) {
            switch (result) {
            case JobResult::Done: return respond(ok ? success() : ExchangeFailed(report));
            case JobResult::PortGone: {
                // Lost during this job, or at an earlier one whose reopens have failed since.
                const bool reopen_failed = !opening.ok();
                nlohmann::json body{
                    {"error", "the instrument's port " + port + " is gone (" +
                                  (reopen_failed ? opening.why : VarekDescribeOutcome(report)) +
                                  "); the server tries it again every second"},
                    {"outcome", ServerOutcomeName(ServerOutcome::PortGone)},
                    {"open_failure",
                     reopen_failed ? nlohmann::json(VarekOpenFailureName(opening.error.failure)) : nullptr}};
                ApiResponse gone = Json(503, body);
                gone.headers.emplace_back("Retry-After", kRetryAfterSeconds);
                return respond(gone);
            }
            case JobResult::Busy:
                return respond(Busy("the requests waiting for it would take longer than " +
                                    std::to_string(kRequestDeadline.count()) + " s"));
            case JobResult::Expired: return respond(Expired());
            case JobResult::Stopping:
                return respond(Error(503, ServerOutcome::Stopping,
                                     "the server is shutting down; the request was not carried out"));
            }
        };
}

}  // namespace varek::server
