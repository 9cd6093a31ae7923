#include "setup/setup_fields.h"

#include "device/number_text.h"
#include "varek/rules.h"

namespace varek {

namespace {

using Kind = SetupField::Kind;

template <typename Member>
std::optional<SetupValue> Get(const std::optional<Member>& member) {
    if (!member) return std::nullopt;
    return SetupValue(
        static_cast<std::conditional_t<std::is_integral_v<Member> && !std::is_same_v<Member, bool>,
                                       std::int64_t, Member>>(*member));
}

template <typename Member>
void Put(std::optional<Member>& member, const std::optional<SetupValue>& value) {
    if (!value) {
        member.reset();
    } else if constexpr (std::is_same_v<Member, bool> || std::is_same_v<Member, double>) {
        member = std::get<Member>(*value);
    } else {
        member = static_cast<Member>(std::get<std::int64_t>(*value));
    }
}

std::int64_t Whole(const SetupValue& value) { return std::get<std::int64_t>(value); }
double Real(const SetupValue& value) { return std::get<double>(value); }
bool Flag(const SetupValue& value) { return std::get<bool>(value); }

std::string NoRule(const SetupValue&) { return ""; }

std::vector<SetupField> MakeFields() {
    std::vector<SetupField> fields;
    fields.push_back({"trigger.mode", "trigger mode", Kind::Whole, false,
                      [](const SetupValue& v) { return VarekTriggerModeRejection(Whole(v)); },
                      [](const VarekSetup& s) { return Get(s.trigger_mode); },
                      [](VarekSetup& s, const std::optional<SetupValue>& v) { Put(s.trigger_mode, v); },
                      [](VarekDDG& d, const SetupValue& v) {
                          return d.SetTrigger(static_cast<VarekTriggerMode>(Whole(v)));
                      }});
    fields.push_back({"trigger.frequency", "trigger frequency", Kind::Real, true,
                      [](const SetupValue& v) { return VarekFrequencyRejection(Real(v)); },
                      [](const VarekSetup& s) { return Get(s.trigger_frequency); },
                      [](VarekSetup& s, const std::optional<SetupValue>& v) { Put(s.trigger_frequency, v); },
                      [](VarekDDG& d, const SetupValue& v) { return d.SetInternalTriggerFreq(Real(v)); }});
    for (std::int32_t channel = 1; channel <= VarekDDG::CHANNEL_COUNT; ++channel) {
        const std::size_t at = static_cast<std::size_t>(channel - 1);
        const std::string path = "channels." + std::to_string(channel) + ".";
        const std::string label = "channel " + std::to_string(channel) + " ";
        fields.push_back(
            {path + "delay", label + "delay", Kind::Whole, true,
             [](const SetupValue& v) { return VarekDelayRejection(Whole(v)); },
             [at](const VarekSetup& s) { return Get(s.channels[at].delay); },
             [at](VarekSetup& s, const std::optional<SetupValue>& v) { Put(s.channels[at].delay, v); },
             [channel](VarekDDG& d, const SetupValue& v) { return d.SetDelay(channel, Whole(v)); }});
        fields.push_back(
            {path + "pulse_width", label + "pulse width", Kind::Whole, true,
             [](const SetupValue& v) { return VarekPulseWidthRejection(Whole(v)); },
             [at](const VarekSetup& s) { return Get(s.channels[at].pulse_width); },
             [at](VarekSetup& s, const std::optional<SetupValue>& v) { Put(s.channels[at].pulse_width, v); },
             [channel](VarekDDG& d, const SetupValue& v) { return d.SetPulseWidth(channel, Whole(v)); }});
        fields.push_back(
            {path + "output", label + "output", Kind::Flag, false, NoRule,
             [at](const VarekSetup& s) { return Get(s.channels[at].output); },
             [at](VarekSetup& s, const std::optional<SetupValue>& v) { Put(s.channels[at].output, v); },
             [channel](VarekDDG& d, const SetupValue& v) { return d.SetOutputChannel(channel, Flag(v)); }});
    }
    fields.push_back({"global_output", "global output", Kind::Flag, false, NoRule,
                      [](const VarekSetup& s) { return Get(s.global_output); },
                      [](VarekSetup& s, const std::optional<SetupValue>& v) { Put(s.global_output, v); },
                      [](VarekDDG& d, const SetupValue& v) { return d.SetGlobalOutput(Flag(v)); }});
    return fields;
}

}  // namespace

const std::vector<SetupField>& SetupFields() {
    static const std::vector<SetupField> fields = MakeFields();
    return fields;
}

std::string SetupValueText(const SetupValue& value) {
    if (const auto* whole = std::get_if<std::int64_t>(&value)) return std::to_string(*whole);
    if (const auto* real = std::get_if<double>(&value)) return ShortestText(*real);
    return std::get<bool>(value) ? "true" : "false";
}

}  // namespace varek
