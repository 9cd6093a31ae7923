#include "api.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "front_panel.h"

namespace varek::server {

namespace {

using nlohmann::json;

constexpr const char* kApiPrefix = "/api/v1/";
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

// Paths and bodies come from clients and need not be UTF-8: what JSON cannot
// carry is replaced rather than thrown over.
ApiResponse Json(unsigned status, const json& body) {
    return {status, "application/json", body.dump(-1, ' ', false, json::error_handler_t::replace), {}};
}

ApiResponse Error(unsigned status, const std::string& message) {
    return Json(status, json{{"error", message}});
}

ApiResponse NotAllowed(const std::string& message, const std::string& allowed) {
    ApiResponse answer = Error(405, message);
    answer.headers.emplace_back("Allow", allowed);
    return answer;
}

// A request body that is a JSON object with only `allowed` keys, at least one.
// Sets `error` and returns nothing otherwise.
std::optional<json> FieldsOf(const std::string& body, const std::vector<std::string>& allowed,
                             std::string& error) {
    json fields = json::parse(body, nullptr, false);
    if (fields.is_discarded() || !fields.is_object()) {
        error = "the body must be a JSON object, such as {\"" + allowed.front() + "\": ...}";
        return std::nullopt;
    }
    std::string known;
    for (const std::string& key : allowed) known += (known.empty() ? "" : ", ") + key;
    for (const auto& item : fields.items()) {
        bool is_allowed = false;
        for (const std::string& key : allowed) is_allowed = is_allowed || item.key() == key;
        if (!is_allowed) {
            error = "unknown field \"" + item.key() + "\": the fields are " + known;
            return std::nullopt;
        }
    }
    if (fields.empty()) {
        error = "no field given: the fields are " + known;
        return std::nullopt;
    }
    return fields;
}

// A whole number field from `low` to `high`, or an error naming the field.
std::optional<std::int64_t> WholeField(const json& fields, const char* name, std::int64_t low,
                                       std::int64_t high, std::string& error) {
    const json& value = fields.at(name);
    const bool whole =
        value.is_number_integer() &&
        !(value.is_number_unsigned() && value.get<std::uint64_t>() > static_cast<std::uint64_t>(high));
    if (whole && value.get<std::int64_t>() >= low && value.get<std::int64_t>() <= high)
        return value.get<std::int64_t>();
    error = std::string("field \"") + name + "\" must be a whole number from " + std::to_string(low) +
            " to " + std::to_string(high) + ", got " + value.dump();
    return std::nullopt;
}

std::optional<bool> BoolField(const json& fields, const char* name, std::string& error) {
    const json& value = fields.at(name);
    if (value.is_boolean()) return value.get<bool>();
    error = std::string("field \"") + name + "\" must be true or false, got " + value.dump();
    return std::nullopt;
}

json ChannelJson(const VarekTimingConfig& config) {
    return {{"channel", config.channel},
            {"delay", config.delay},
            {"pulse_width", config.pulse_width},
            {"value_a", config.chan_value_a},
            {"value_b", config.chan_value_b}};
}

// What one status read and one temperature read found, filled on the
// instrument's worker and read when it is done.
struct Snapshot {
    VarekTimingConfig channels[VarekDDG::CHANNEL_COUNT];
    float temperature = 0.0f;
};

json InstrumentJson(const std::string& port, const Snapshot& snapshot) {
    const VarekTimingConfig& first = snapshot.channels[0];
    json channels = json::array();
    for (const VarekTimingConfig& config : snapshot.channels) channels.push_back(ChannelJson(config));
    const double temperature = static_cast<double>(snapshot.temperature);
    const double frequency = first.internal_trigger_freq;
    return {{"port", port},
            {"temperature", std::isfinite(temperature) ? json(temperature) : json(nullptr)},
            {"internal_trigger_freq", std::isfinite(frequency) ? json(frequency) : json(nullptr)},
            {"channels", channels},
            {"reg128", first.reg128},
            {"reg130", first.reg130},
            {"reg131", first.reg131},
            {"reg136", first.reg136},
            {"reg137", first.reg137},
            {"reg138", first.reg138}};
}

}  // namespace

Api::Api(InstrumentBackend& instrument, std::optional<std::string> token, HostPolicy hosts)
    : instrument_(instrument), token_(std::move(token)), hosts_(std::move(hosts)) {
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
    return Error(413, "the request body is larger than " + std::to_string(kMaxBodyBytes / 1024) + " KiB");
}

ApiResponse Api::Busy(const std::string& why) {
    ApiResponse busy = Error(503, "the instrument is busy: " + why + "; try again shortly");
    busy.headers.emplace_back("Retry-After", kRetryAfterSeconds);
    return busy;
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
        return respond(Error(refusal->status, refusal->message));
    }
    // HEAD is GET without the body, which the HTTP layer leaves out.
    const std::string method = request.head.method == "HEAD" ? "GET" : request.head.method;
    const std::string path = request.target.substr(0, request.target.find('?'));
    for (const StaticFile& file : kStaticFiles) {
        if (path != file.path && !(file.path == std::string("/") && path == "/index.html")) continue;
        if (method != "GET") return respond(NotAllowed(path + " is read with GET", "GET, HEAD"));
        return respond({200, file.content_type, file.content, {}});
    }
    if (path.rfind(kApiPrefix, 0) != 0) return respond(Error(404, "no such page: " + path));
    if (!Authorized(request.authorization)) {
        ApiResponse refusal = Error(401, "this server needs the header Authorization: Bearer TOKEN");
        refusal.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"varek-server\"");
        return respond(refusal);
    }
    ApiRequest api_request = request;
    api_request.head.method = method;
    if (!api_request.ticket) api_request.ticket = std::make_shared<JobTicket>();
    HandleApi(api_request, path.substr(std::string(kApiPrefix).size()), respond);
}

void Api::HandleApi(const ApiRequest& request, const std::string& route, const Respond& respond) {
    const std::string path = kApiPrefix + route;
    const std::string& port = instrument_.port();

    // Runs `job` on the instrument and answers with `success()` or the reason it failed.
    auto run = [this, respond, port, ticket = request.ticket](InstrumentBackend::Job job,
                                                              std::function<ApiResponse()> success) {
        auto done = [=](JobResult result, bool ok, const VarekExchangeReport& report) {
            switch (result) {
            case JobResult::Done: return respond(ok ? success() : Error(502, VarekDescribeOutcome(report)));
            case JobResult::PortGone: {
                ApiResponse gone =
                    Error(503, "the instrument's port " + port + " is gone (" + VarekDescribeOutcome(report) +
                                   "); the server tries it again every second");
                gone.headers.emplace_back("Retry-After", kRetryAfterSeconds);
                return respond(gone);
            }
            case JobResult::Busy:
                return respond(Busy("the requests waiting for it would take longer than " +
                                    std::to_string(kRequestDeadline.count()) + " s"));
            case JobResult::Expired:
                return respond(Busy("this request waited " + std::to_string(kRequestDeadline.count()) +
                                    " s for its turn and was dropped, not carried out"));
            case JobResult::Stopping:
                return respond(Error(503, "the server is shutting down; the request was not carried out"));
            }
        };
        instrument_.Submit(std::move(job), std::move(done), ticket);
    };
    auto expect = [&](const char* method) {
        if (request.head.method == method) return true;
        respond(NotAllowed(path + " takes " + method, method == std::string("GET") ? "GET, HEAD" : method));
        return false;
    };
    std::string error;

    if (route == "instrument") {
        if (!expect("GET")) return;
        auto snapshot = std::make_shared<Snapshot>();
        return run(
            [snapshot](VarekDDG& d) {
                return d.ReadAllTimingConfigs(snapshot->channels) &&
                       d.ReadTemperature(&snapshot->temperature);
            },
            [snapshot, port] { return Json(200, InstrumentJson(port, *snapshot)); });
    }
    if (route.rfind("channels/", 0) == 0) {
        const std::string number = route.substr(9);
        const bool digits = !number.empty() && number.size() <= 2 &&
                            number.find_first_not_of("0123456789") == std::string::npos;
        const int channel = digits ? std::stoi(number) : 0;
        if (channel < 1 || channel > VarekDDG::CHANNEL_COUNT) {
            return respond(Error(404, "no channel " + number + ": channels are 1.." +
                                          std::to_string(VarekDDG::CHANNEL_COUNT)));
        }
        if (!expect("PUT")) return;
        const auto fields = FieldsOf(request.body, {"delay", "pulse_width", "enabled"}, error);
        if (!fields) return respond(Error(400, error));
        std::optional<std::int64_t> delay, width;
        std::optional<bool> enabled;
        if (fields->contains("delay") &&
            !(delay = WholeField(*fields, "delay", 0, VarekDDG::MAX_TIMING_VALUE, error))) {
            return respond(Error(400, error));
        }
        if (fields->contains("pulse_width") &&
            !(width = WholeField(*fields, "pulse_width", 0, VarekDDG::MAX_TIMING_VALUE, error))) {
            return respond(Error(400, error));
        }
        if (fields->contains("enabled") && !(enabled = BoolField(*fields, "enabled", error))) {
            return respond(Error(400, error));
        }
        auto config = std::make_shared<VarekTimingConfig>();
        return run(
            [=](VarekDDG& d) {
                return (!delay || d.SetDelay(channel, *delay)) &&
                       (!width || d.SetPulseWidth(channel, *width)) &&
                       (!enabled || d.SetOutputChannel(channel, *enabled)) &&
                       d.ReadTimingConfig(channel, config.get());
            },
            [config] { return Json(200, ChannelJson(*config)); });
    }
    if (route == "trigger") {
        if (!expect("PUT")) return;
        const auto fields = FieldsOf(request.body, {"mode", "frequency"}, error);
        if (!fields) return respond(Error(400, error));
        std::optional<std::int64_t> mode;
        std::optional<double> frequency;
        if (fields->contains("mode") && !(mode = WholeField(*fields, "mode", 0, 2, error)))
            return respond(Error(400, error));
        if (fields->contains("frequency")) {
            const json& value = fields->at("frequency");
            if (!value.is_number() || !(value.get<double>() > VarekDDG::MIN_INTERNAL_TRIGGER_FREQ) ||
                value.get<double>() > VarekDDG::MAX_INTERNAL_TRIGGER_FREQ) {
                char limits[128];
                std::snprintf(limits, sizeof limits,
                              "field \"frequency\" must be a number above %.7g and at most %.0f, got ",
                              VarekDDG::MIN_INTERNAL_TRIGGER_FREQ, VarekDDG::MAX_INTERNAL_TRIGGER_FREQ);
                return respond(Error(400, limits + value.dump()));
            }
            frequency = value.get<double>();
        }
        auto config = std::make_shared<VarekTimingConfig>();
        return run(
            [=](VarekDDG& d) {
                return (!mode || d.SetTrigger(static_cast<VarekTriggerMode>(*mode))) &&
                       (!frequency || d.SetInternalTriggerFreq(*frequency)) &&
                       d.ReadTimingConfig(1, config.get());
            },
            [config, mode] {
                json answer{{"internal_trigger_freq", config->internal_trigger_freq},
                            {"reg130", config->reg130}};
                if (mode) answer["mode"] = *mode;
                return Json(200, answer);
            });
    }
    if (route == "output") {
        if (!expect("PUT")) return;
        const auto fields = FieldsOf(request.body, {"enabled"}, error);
        if (!fields) return respond(Error(400, error));
        const auto enabled = BoolField(*fields, "enabled", error);
        if (!enabled) return respond(Error(400, error));
        return run([on = *enabled](VarekDDG& d) { return d.SetGlobalOutput(on); },
                   [on = *enabled] {
                       return Json(200, json{{"enabled", on}});
                   });
    }
    if (route == "fire") {
        if (!expect("POST")) return;
        return run([](VarekDDG& d) { return d.SoftwareTrigger(); },
                   [] {
                       return Json(200, json{{"fired", true}});
                   });
    }
    respond(Error(404, "no such path: " + path +
                           " (the API: GET /api/v1/instrument, PUT /api/v1/channels/N, "
                           "PUT /api/v1/trigger, PUT /api/v1/output, POST /api/v1/fire)"));
}

}  // namespace varek::server
