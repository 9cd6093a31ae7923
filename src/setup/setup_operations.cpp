// Reading a setup from the instrument, applying one, and comparing two.
#include "device/control_requests.h"
#include "device/status_block.h"
#include "setup/setup_fields.h"
#include "varek/setup.h"

namespace {

using varek::SetupField;
using varek::SetupFields;
using varek::SetupValue;

// The value a status read gives back for `value` once it has been sent:
// a frequency travels as its frequency word, everything else unchanged.
SetupValue AsHeld(const SetupField& field, const SetupValue& value) {
    if (field.kind != SetupField::Kind::Real) return value;
    const std::optional<std::uint32_t> word = varek::FrequencyWord(std::get<double>(value));
    return word ? SetupValue(varek::status_block::FrequencyFromPeriodWord(*word)) : value;
}

bool IsGlobalOutput(const SetupField& field) { return field.path == "global_output"; }

}  // namespace

VarekSetup VarekSetupFromStatus(const VarekTimingConfig* configs) {
    VarekSetup read;
    // A frequency no word stands for (a word of 0 reads as 0) is not one a
    // setup could restore: unknown.
    if (varek::FrequencyWord(configs[0].internal_trigger_freq))
        read.trigger_frequency = configs[0].internal_trigger_freq;
    for (std::int32_t at = 0; at < VarekDDG::CHANNEL_COUNT; ++at) {
        read.channels[at].delay = configs[at].delay;
        read.channels[at].pulse_width = configs[at].pulse_width;
    }
    return read;
}

bool VarekReadSetup(VarekDDG& device, VarekSetup* setup) {
    VarekTimingConfig configs[VarekDDG::CHANNEL_COUNT];
    if (setup == nullptr || !device.ReadAllTimingConfigs(configs)) return false;
    *setup = VarekSetupFromStatus(configs);
    return true;
}

bool VarekApplySetup(VarekDDG& device, const VarekSetup& setup, std::optional<bool> global_output_now,
                     VarekAppliedSetup* applied) {
    VarekAppliedSetup record;
    VarekAppliedSetup& done = applied != nullptr ? *applied : record;
    done = VarekAppliedSetup{};
    // One operation: on success its value is taken; on failure it is
    // uncertain unless the instrument certainly did not act on it.
    auto send = [&](const SetupField& field, const SetupValue& value) {
        const bool sent = field.send(device, value);
        if (sent || VarekMayHaveActed(device.LastExchange()))
            field.put(sent ? done.taken : done.uncertain, value);
        return sent;
    };
    const SetupField* global_output = nullptr;
    bool changes_timing = false;
    for (const SetupField& field : SetupFields()) {
        if (IsGlobalOutput(field)) {
            global_output = &field;
        } else {
            changes_timing = changes_timing || field.get(setup);
        }
    }
    const std::optional<bool> global_after = setup.global_output ? setup.global_output : global_output_now;
    // Off first, when it may be on now and its value afterwards is known;
    // with neither known it is left alone, since it could not be put back.
    const bool pause_output = changes_timing && global_after && global_output_now != false;
    if (pause_output && !send(*global_output, false)) return false;
    for (const SetupField& field : SetupFields()) {
        if (IsGlobalOutput(field)) continue;
        const std::optional<SetupValue> value = field.get(setup);
        if (value && !send(field, *value)) return false;
    }
    if (pause_output) return !*global_after || send(*global_output, true);
    return !setup.global_output || send(*global_output, *setup.global_output);
}

std::vector<VarekSetupDifference> VarekCompareSetups(const VarekSetup& wanted, const VarekSetup& found) {
    std::vector<VarekSetupDifference> differences;
    for (const SetupField& field : SetupFields()) {
        const std::optional<SetupValue> want = field.get(wanted);
        const std::optional<SetupValue> have = field.get(found);
        if (!want || !have || AsHeld(field, *want) == AsHeld(field, *have)) continue;
        differences.push_back(
            {field.path, field.label, varek::SetupValueText(*want), varek::SetupValueText(*have)});
    }
    return differences;
}

std::vector<std::string> VarekGivenFields(const VarekSetup& setup) {
    std::vector<std::string> paths;
    for (const SetupField& field : SetupFields()) {
        if (field.get(setup)) paths.push_back(field.path);
    }
    return paths;
}

VarekSetup VarekCompleteSetup(const VarekSetup& read, const VarekSetup& as_set) {
    VarekSetup complete = read;
    for (const SetupField& field : SetupFields()) {
        if (!field.reported) field.put(complete, field.get(as_set));
    }
    return complete;
}

std::vector<std::string> VarekUnreportedFields(const VarekSetup& setup) {
    std::vector<std::string> paths;
    for (const SetupField& field : SetupFields()) {
        if (!field.reported && field.get(setup)) paths.push_back(field.path);
    }
    return paths;
}

VarekSetup VarekMergeSetups(const VarekSetup& base, const VarekSetup& change) {
    VarekSetup merged = base;
    for (const SetupField& field : SetupFields()) {
        if (const std::optional<SetupValue> value = field.get(change)) field.put(merged, value);
    }
    if (change.unit) merged.unit = change.unit;
    return merged;
}

VarekSetup VarekWithoutFields(const VarekSetup& base, const VarekSetup& fields) {
    VarekSetup rest = base;
    for (const SetupField& field : SetupFields()) {
        if (field.get(fields)) field.put(rest, std::nullopt);
    }
    return rest;
}

bool VarekSetupEmpty(const VarekSetup& setup) {
    for (const SetupField& field : SetupFields()) {
        if (field.get(setup)) return false;
    }
    return true;
}
