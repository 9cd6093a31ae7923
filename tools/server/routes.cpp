#include "routes.h"

#include <cmath>
#include <memory>
#include <nlohmann/json.hpp>

#include "api_responses.h"
#include "body_fields.h"
#include "varek/rules.h"

namespace varek::server {

namespace {

using nlohmann::json;

json ChannelJson(const VarekTimingConfig& config) {
    return {{"channel", config.channel},
            {"delay", config.delay},
            {"pulse_width", config.pulse_width},
            {"value_a", config.chan_value_a},
            {"value_b", config.chan_value_b}};
}

json Finite(double value) { return std::isfinite(value) ? json(value) : json(nullptr); }

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
    return {{"port", port},
            {"temperature", Finite(static_cast<double>(snapshot.temperature))},
            {"internal_trigger_freq", Finite(first.internal_trigger_freq)},
            {"channel_count", VarekDDG::CHANNEL_COUNT},
            {"limits",
             {{"max_timing_value", VarekDDG::MAX_TIMING_VALUE},
              {"min_trigger_freq", VarekDDG::MIN_INTERNAL_TRIGGER_FREQ},
              {"max_trigger_freq", VarekDDG::MAX_INTERNAL_TRIGGER_FREQ},
              {"trigger_mode_count", VarekDDG::TRIGGER_MODE_COUNT}}},
            {"channels", channels},
            {"reg128", first.reg128},
            {"reg130", first.reg130},
            {"reg131", first.reg131},
            {"reg136", first.reg136},
            {"reg137", first.reg137},
            {"reg138", first.reg138}};
}

void GetInstrument(const RouteCall& call) {
    auto snapshot = std::make_shared<Snapshot>();
    call.run(
        [snapshot](VarekDDG& d) {
            return d.ReadAllTimingConfigs(snapshot->channels) && d.ReadTemperature(&snapshot->temperature);
        },
        [snapshot, port = call.port] { return Json(200, InstrumentJson(port, *snapshot)); });
}

void PutChannel(const RouteCall& call) {
    std::string error;
    const auto fields = FieldsOf(call.request.body, {"delay", "pulse_width", "enabled"}, error);
    if (!fields) return call.respond(Error(400, error));
    const auto delay = WholeField(*fields, "delay", VarekDelayRejection, error);
    const auto width = WholeField(*fields, "pulse_width", VarekPulseWidthRejection, error);
    const auto enabled = BoolField(*fields, "enabled", error);
    if (!error.empty()) return call.respond(Error(400, error));
    auto config = std::make_shared<VarekTimingConfig>();
    call.run(
        [=, channel = call.channel](VarekDDG& d) {
            return (!delay || d.SetDelay(channel, *delay)) && (!width || d.SetPulseWidth(channel, *width)) &&
                   (!enabled || d.SetOutputChannel(channel, *enabled)) &&
                   d.ReadTimingConfig(channel, config.get());
        },
        [config] { return Json(200, ChannelJson(*config)); });
}

void PutTrigger(const RouteCall& call) {
    std::string error;
    const auto fields = FieldsOf(call.request.body, {"mode", "frequency"}, error);
    if (!fields) return call.respond(Error(400, error));
    const auto mode = WholeField(*fields, "mode", VarekTriggerModeRejection, error);
    const auto frequency = NumberField(*fields, "frequency", VarekFrequencyRejection, error);
    if (!error.empty()) return call.respond(Error(400, error));
    auto config = std::make_shared<VarekTimingConfig>();
    call.run(
        [=](VarekDDG& d) {
            return (!mode || d.SetTrigger(static_cast<VarekTriggerMode>(*mode))) &&
                   (!frequency || d.SetInternalTriggerFreq(*frequency)) &&
                   d.ReadTimingConfig(1, config.get());
        },
        [config, mode] {
            json answer{{"internal_trigger_freq", config->internal_trigger_freq}, {"reg130", config->reg130}};
            if (mode) answer["mode"] = *mode;
            return Json(200, answer);
        });
}

void PutOutput(const RouteCall& call) {
    std::string error;
    const auto fields = FieldsOf(call.request.body, {"enabled"}, error);
    if (!fields) return call.respond(Error(400, error));
    const auto enabled = BoolField(*fields, "enabled", error);
    if (!error.empty()) return call.respond(Error(400, error));
    call.run([on = *enabled](VarekDDG& d) { return d.SetGlobalOutput(on); },
             [on = *enabled] {
                 return Json(200, json{{"enabled", on}});
             });
}

void PostFire(const RouteCall& call) {
    call.run([](VarekDDG& d) { return d.SoftwareTrigger(); },
             [] {
                 return Json(200, json{{"fired", true}});
             });
}

}  // namespace

const std::vector<Route>& ApiRoutes() {
    static const std::vector<Route> routes = {
        {"GET", "instrument", GetInstrument}, {"PUT", "channels/N", PutChannel},
        {"PUT", "trigger", PutTrigger},       {"PUT", "output", PutOutput},
        {"POST", "fire", PostFire},
    };
    return routes;
}

std::string DescribeRoutes() {
    std::string text;
    for (const Route& route : ApiRoutes()) {
        text += (text.empty() ? "" : ", ") + std::string(route.method) + " /api/v1/" + route.path;
    }
    return text;
}

}  // namespace varek::server
