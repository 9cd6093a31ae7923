#include "routes.h"

#include <cmath>
#include <memory>
#include <nlohmann/json.hpp>

#include "api_responses.h"
#include "body_fields.h"
#include "varek/rules.h"
#include "varek/setup.h"
#include "varek/units.h"

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

template <typename Value>
json OrNull(const std::optional<Value>& value) {
    return value ? json(*value) : json(nullptr);
}

// A channel's timing as read, as times too when a unit is declared, with
// its output as this server set it.
json ChannelJson(const VarekTimingConfig& config, const VarekSetup& as_set, const std::string& unit) {
    json channel = ChannelJson(config);
    channel["delay_time"] = unit.empty() ? json(nullptr) : json(VarekFormatTime(config.delay, unit));
    channel["pulse_width_time"] =
        unit.empty() ? json(nullptr) : json(VarekFormatTime(config.pulse_width, unit));
    channel["output"] = OrNull(as_set.channels[config.channel - 1].output);
    return channel;
}

// Differences as the API gives them: [{"field": "channels.3.delay", "set": 12345, "read": 0}].
json DifferencesJson(const std::vector<VarekSetupDifference>& differences) {
    json list = json::array();
    for (const VarekSetupDifference& d : differences) {
        list.push_back({{"field", d.path}, {"set", json::parse(d.wanted)}, {"read", json::parse(d.found)}});
    }
    return list;
}

ApiResponse SetupResponse(unsigned status, const VarekSetup& setup) {
    return {status, "application/json", VarekSetupText(setup), {}};
}

// Sends what `change` gives, and keeps what the instrument took as set
// (a field whose request may have been carried out despite failing as
// unknown).
bool ApplyAndRecord(VarekDDG& device, const VarekSetup& change, std::optional<bool> global_output_now,
                    SetupMemory& memory) {
    VarekAppliedSetup applied;
    const bool ok = VarekApplySetup(device, change, global_output_now, &applied);
    memory.Record(applied);
    return ok;
}

json InstrumentJson(const std::string& port, const Snapshot& snapshot, const SetupMemory& memory,
                    const ServerMetrics& metrics) {
    const VarekTimingConfig& first = snapshot.channels[0];
    const VarekSetup as_set = memory.AsSet();
    json channels = json::array();
    for (const VarekTimingConfig& config : snapshot.channels)
        channels.push_back(ChannelJson(config, as_set, memory.unit()));
    return {{"port", port},
            {"unit", memory.unit().empty() ? json(nullptr) : json(memory.unit())},
            {"trigger_mode", OrNull(as_set.trigger_mode)},
            {"global_output", OrNull(as_set.global_output)},
            {"drift", DifferencesJson(memory.Drift())},
            {"temperature_history", json(metrics.TemperatureHistory())},
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

}  // namespace

bool ReadSnapshot(VarekDDG& device, Snapshot& snapshot, SetupMemory& memory, ServerMetrics& metrics) {
    if (!device.ReadAllTimingConfigs(snapshot.channels)) return false;
    memory.Observe(VarekSetupFromStatus(snapshot.channels));
    if (!device.ReadTemperature(&snapshot.temperature)) return false;
    metrics.Temperature(snapshot.temperature);
    return true;
}

namespace {

void GetInstrument(const RouteCall& call) {
    auto snapshot = std::make_shared<Snapshot>();
    SetupMemory& memory = call.memory;
    ServerMetrics& metrics = call.metrics;
    call.run(
        [snapshot, &memory, &metrics](VarekDDG& d) { return ReadSnapshot(d, *snapshot, memory, metrics); },
        [snapshot, port = call.port, &memory, &metrics] {
            return Json(200, InstrumentJson(port, *snapshot, memory, metrics));
        });
}

void GetChannel(const RouteCall& call) {
    auto config = std::make_shared<VarekTimingConfig>();
    SetupMemory& memory = call.memory;
    call.run(
        [config, channel = call.channel](VarekDDG& d) { return d.ReadTimingConfig(channel, config.get()); },
        [config, &memory] { return Json(200, ChannelJson(*config, memory.AsSet(), memory.unit())); });
}

void GetSetup(const RouteCall& call) {
    auto read = std::make_shared<VarekSetup>();
    SetupMemory& memory = call.memory;
    call.run(
        [read, &memory](VarekDDG& d) {
            if (!VarekReadSetup(d, read.get())) return false;
            memory.Observe(*read);
            return true;
        },
        [read, &memory] { return SetupResponse(200, memory.Document(*read)); });
}

void PutSetup(const RouteCall& call) {
    VarekSetup wanted;
    const std::string refusal = VarekParseSetup(call.request.body, &wanted);
    if (!refusal.empty())
        return call.respond(Error(400, ServerOutcome::BadRequest, refusal + "; nothing was sent"));
    auto read = std::make_shared<VarekSetup>();
    SetupMemory& memory = call.memory;
    call.run(
        [wanted, read, &memory](VarekDDG& d) {
            if (!ApplyAndRecord(d, wanted, memory.AsSet().global_output, memory)) return false;
            if (!VarekReadSetup(d, read.get())) return false;
            memory.Observe(*read);
            return true;
        },
        [wanted, read, &memory] {
            const auto differences = VarekCompareSetups(wanted, *read);
            if (differences.empty()) return SetupResponse(200, memory.Document(*read));
            return Json(502, json{{"error", "the setup was applied, but the instrument reads back otherwise"},
                                  {"outcome", ServerOutcomeName(ServerOutcome::SetupDiffers)},
                                  {"differences", DifferencesJson(differences)}});
        });
}

void PutChannel(const RouteCall& call) {
    std::string error;
    const auto fields = FieldsOf(call.request.body, {"delay", "pulse_width", "enabled"}, error);
    if (!fields) return call.respond(Error(400, ServerOutcome::BadRequest, error));
    const auto delay = TimeField(*fields, "delay", VarekDelayRejection, call.memory.unit(), error);
    const auto width = TimeField(*fields, "pulse_width", VarekPulseWidthRejection, call.memory.unit(), error);
    const auto enabled = BoolField(*fields, "enabled", error);
    if (!error.empty()) return call.respond(Error(400, ServerOutcome::BadRequest, error));
    VarekSetup change;
    change.channels[call.channel - 1] = {delay, width, enabled};
    auto config = std::make_shared<VarekTimingConfig>();
    SetupMemory& memory = call.memory;
    call.run(
        [=, &memory, channel = call.channel](VarekDDG& d) {
            return ApplyAndRecord(d, change, std::nullopt, memory) &&
                   d.ReadTimingConfig(channel, config.get());
        },
        [config, &memory] { return Json(200, ChannelJson(*config, memory.AsSet(), memory.unit())); });
}

void PutTrigger(const RouteCall& call) {
    std::string error;
    const auto fields = FieldsOf(call.request.body, {"mode", "frequency"}, error);
    if (!fields) return call.respond(Error(400, ServerOutcome::BadRequest, error));
    const auto mode = WholeField(*fields, "mode", VarekTriggerModeRejection, error);
    const auto frequency = NumberField(*fields, "frequency", VarekFrequencyRejection, error);
    if (!error.empty()) return call.respond(Error(400, ServerOutcome::BadRequest, error));
    VarekSetup change;
    if (mode) change.trigger_mode = static_cast<std::int32_t>(*mode);
    change.trigger_frequency = frequency;
    auto config = std::make_shared<VarekTimingConfig>();
    SetupMemory& memory = call.memory;
    call.run(
        [=, &memory](VarekDDG& d) {
            return ApplyAndRecord(d, change, std::nullopt, memory) && d.ReadTimingConfig(1, config.get());
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
    if (!fields) return call.respond(Error(400, ServerOutcome::BadRequest, error));
    const auto enabled = BoolField(*fields, "enabled", error);
    if (!error.empty()) return call.respond(Error(400, ServerOutcome::BadRequest, error));
    SetupMemory& memory = call.memory;
    call.run(
        [on = *enabled, &memory](VarekDDG& d) {
            VarekSetup change;
            change.global_output = on;
            return ApplyAndRecord(d, change, std::nullopt, memory);
        },
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
        {"GET", "instrument", GetInstrument}, {"GET", "channels/N", GetChannel},
        {"PUT", "channels/N", PutChannel},    {"PUT", "trigger", PutTrigger},
        {"PUT", "output", PutOutput},         {"POST", "fire", PostFire},
        {"GET", "setup", GetSetup},           {"PUT", "setup", PutSetup},
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
