#include "api.h"

#include <cmath>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "front_panel.h"

namespace varek::server {

namespace {

using nlohmann::json;

constexpr const char* kApiPrefix = "/api/v1/";

// Paths and bodies come from clients and need not be UTF-8: what JSON cannot
// carry is replaced rather than thrown over.
ApiResponse Json(unsigned status, const json& body) {
    return {status, "application/json", body.dump(-1, ' ', false, json::error_handler_t::replace)};
}

ApiResponse Error(unsigned status, const std::string& message) {
    return Json(status, json{{"error", message}});
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

Api::Api(InstrumentBackend& instrument, std::optional<std::string> token)
    : instrument_(instrument), token_(std::move(token)) {}

ApiResponse Api::TooLarge() {
    return Error(413, "the request body is larger than " + std::to_string(kMaxBodyBytes / 1024) + " KiB");
}

bool Api::Authorized(const std::string& authorization) const {
    if (!token_) return true;
    const std::string expected = "Bearer " + *token_;
    // Every byte compared whatever differs, so that the time taken tells nothing.
    unsigned difference = authorization.size() == expected.size() ? 0u : 1u;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const char given = i < authorization.size() ? authorization[i] : '\0';
        difference |= static_cast<unsigned>(static_cast<unsigned char>(given) ^
                                            static_cast<unsigned char>(expected[i]));
    }
    return difference == 0;
}

void Api::Handle(const ApiRequest& request, Respond respond) {
    const std::string path = request.target.substr(0, request.target.find('?'));
    if (path == "/" || path == "/index.html") {
        if (request.method != "GET") return respond(Error(405, "the front panel is read with GET"));
        return respond({200, "text/html; charset=utf-8", kFrontPanelPage});
    }
    if (path.rfind(kApiPrefix, 0) != 0) return respond(Error(404, "no such page: " + path));
    if (!Authorized(request.authorization)) {
        return respond(Error(401, "this server needs the header Authorization: Bearer TOKEN"));
    }
    const std::string route = path.substr(std::string(kApiPrefix).size());
    const std::string& port = instrument_.port();

    // Runs `job` on the instrument and answers with `success()` or the reason it failed.
    auto run = [this, respond, port](InstrumentBackend::Job job, std::function<ApiResponse()> success) {
        instrument_.Submit(std::move(job), [=](JobResult result, bool ok, const VarekExchangeReport& report) {
            if (result == JobResult::PortGone) {
                return respond(Error(503, "the instrument's port " + port + " is gone (" +
                                              VarekDescribeOutcome(report) +
                                              "); the server tries it again every second"));
            }
            if (!ok) return respond(Error(502, VarekDescribeOutcome(report)));
            respond(success());
        });
    };
    auto expect = [&](const char* method) {
        if (request.method == method) return true;
        respond(Error(405, "/api/v1/" + route + " takes " + method));
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
