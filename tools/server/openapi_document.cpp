#include "openapi_document.h"

#include <nlohmann/json.hpp>

#include "api_responses.h"
#include "varek/varek_ddg.h"

namespace varek::server {

extern const char* const kOpenApiTemplate;

namespace {

using nlohmann::json;

// The limits a timing value, a trigger mode or a frequency has, as the library checks them.
void FillLimits(json& schemas, json& channel_parameter) {
    const json timing_limit = VarekDDG::MAX_TIMING_VALUE;
    const json last_mode = VarekDDG::TRIGGER_MODE_COUNT - 1;
    channel_parameter["schema"]["maximum"] = VarekDDG::CHANNEL_COUNT;
    schemas["TimingValue"]["oneOf"][0]["maximum"] = timing_limit;
    schemas["ChannelSetup"]["properties"]["delay"]["maximum"] = timing_limit;
    schemas["ChannelSetup"]["properties"]["pulse_width"]["maximum"] = timing_limit;
    schemas["Channel"]["properties"]["channel"]["maximum"] = VarekDDG::CHANNEL_COUNT;
    schemas["Instrument"]["properties"]["channels"]["minItems"] = VarekDDG::CHANNEL_COUNT;
    schemas["Instrument"]["properties"]["channels"]["maxItems"] = VarekDDG::CHANNEL_COUNT;
    schemas["TriggerAnswer"]["properties"]["mode"]["maximum"] = last_mode;
    for (json* trigger : {&schemas["TriggerChange"]["properties"],
                          &schemas["Setup"]["properties"]["trigger"]["properties"]}) {
        (*trigger)["mode"]["maximum"] = last_mode;
        (*trigger)["frequency"]["exclusiveMinimum"] = VarekDDG::MIN_INTERNAL_TRIGGER_FREQ;
        (*trigger)["frequency"]["maximum"] = VarekDDG::MAX_INTERNAL_TRIGGER_FREQ;
    }
    // Channels are keyed "1" to "8": one digit, since there are fewer than ten.
    static_assert(VarekDDG::CHANNEL_COUNT < 10, "a channel key is one digit");
    schemas["Setup"]["properties"]["channels"]["patternProperties"] = {
        {"^[1-" + std::to_string(VarekDDG::CHANNEL_COUNT) + "]$",
         {{"$ref", "#/components/schemas/ChannelSetup"}}}};
}

json OpenFailureNames() {
    json names = json::array();
    for (std::int32_t number = static_cast<std::int32_t>(VarekOpenFailure::None) + 1;
         VarekOpenFailureName(static_cast<VarekOpenFailure>(number)) != nullptr; ++number) {
        names.push_back(VarekOpenFailureName(static_cast<VarekOpenFailure>(number)));
    }
    return names;
}

std::string Build() {
    json document = json::parse(kOpenApiTemplate);
    document["info"]["version"] = VAREK_PROJECT_VERSION;
    json& schemas = document["components"]["schemas"];
    schemas["Outcome"]["enum"] = ErrorOutcomeNames();
    schemas["OpenFailure"]["enum"] = OpenFailureNames();
    FillLimits(schemas, document["components"]["parameters"]["Channel"]);
    return document.dump(2);
}

}  // namespace

const std::string& OpenApiDocument() {
    static const std::string document = Build();
    return document;
}

}  // namespace varek::server
