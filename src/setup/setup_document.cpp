// Reading and writing the setup document.
#include <set>

#include "setup/json_reader.h"
#include "setup/setup_fields.h"
#include "varek/rules.h"
#include "varek/setup.h"
#include "varek/units.h"
#include "varek/user_input.h"

namespace {

using varek::JsonValue;
using varek::SetupField;
using varek::SetupFields;
using varek::SetupValue;

constexpr std::int64_t kDocumentVersion = 1;
constexpr const char* kVersionKey = "varek_setup";
constexpr const char* kUnitKey = "unit";

bool IsGroup(const std::string& path) {
    for (const SetupField& field : SetupFields()) {
        if (field.path.rfind(path + ".", 0) == 0) return true;
    }
    return false;
}

const SetupField* FieldAt(const std::string& path) {
    for (const SetupField& field : SetupFields()) {
        if (field.path == path) return &field;
    }
    return nullptr;
}

// The keys a group (or the top, for "") takes, for a message.
std::string KeysOf(const std::string& group) {
    std::set<std::string> seen;
    std::string keys = group.empty() ? std::string(kVersionKey) + ", " + kUnitKey : "";
    const std::string prefix = group.empty() ? "" : group + ".";
    for (const SetupField& field : SetupFields()) {
        if (field.path.rfind(prefix, 0) != 0) continue;
        const std::string key =
            field.path.substr(prefix.size(), field.path.find('.', prefix.size()) - prefix.size());
        if (!seen.insert(key).second) continue;
        keys += (keys.empty() ? "" : ", ") + key;
    }
    return keys;
}

std::string UnknownKey(const std::string& group, const std::string& key) {
    const std::string path = group.empty() ? key : group + "." + key;
    if (group == "channels") {
        // "03" is no key of channel 3: a document writes the number as it is.
        std::string ignored;
        const auto number =
            key.empty() || key[0] == '0' ? std::nullopt : VarekParseWhole(key, 1, INT64_MAX, ignored);
        if (number) return path + ": " + VarekChannelRejection(*number);
        return path + ": channels are keyed by their number, \"1\" to \"" +
               std::to_string(VarekDDG::CHANNEL_COUNT) + "\"";
    }
    return path + ": unknown field; " + (group.empty() ? "a setup" : group) + " takes " + KeysOf(group);
}

std::string Expected(const std::string& path, const char* what, const JsonValue& value) {
    return path + ": " + what + " or null expected, not " + varek::JsonKindName(value.kind);
}

// The value of one field, checked by the library's rules.
std::string ReadField(const SetupField& field, const JsonValue& value, std::optional<SetupValue>& out) {
    if (value.kind == JsonValue::Kind::Null) return "";
    switch (field.kind) {
    case SetupField::Kind::Whole:
        if (value.kind != JsonValue::Kind::Number) return Expected(field.path, "a whole number", value);
        if (!value.whole) return field.path + ": a whole number expected, not " + value.text;
        out = value.whole_number;
        break;
    case SetupField::Kind::Real:
        if (value.kind != JsonValue::Kind::Number) return Expected(field.path, "a number", value);
        out = value.number;
        break;
    case SetupField::Kind::Flag:
        if (value.kind != JsonValue::Kind::Boolean) return Expected(field.path, "true, false", value);
        out = value.boolean;
        break;
    }
    const std::string rejection = field.rejection(*out);
    return rejection.empty() ? "" : field.path + ": " + rejection;
}

// Reads the members of a group (the top for ""), recursing into subgroups.
std::string ReadGroup(const std::string& group, const JsonValue& object, VarekSetup& setup) {
    for (const auto& [key, value] : object.members) {
        if (group.empty() && (key == kVersionKey || key == kUnitKey)) continue;
        const std::string path = group.empty() ? key : group + "." + key;
        if (IsGroup(path)) {
            if (value.kind == JsonValue::Kind::Null) continue;
            if (value.kind != JsonValue::Kind::Object) return Expected(path, "an object", value);
            const std::string error = ReadGroup(path, value, setup);
            if (!error.empty()) return error;
            continue;
        }
        const SetupField* field = FieldAt(path);
        if (field == nullptr) return UnknownKey(group, key);
        std::optional<SetupValue> field_value;
        const std::string error = ReadField(*field, value, field_value);
        if (!error.empty()) return error;
        field->put(setup, field_value);
    }
    return "";
}

const JsonValue* Member(const JsonValue& object, const char* key) {
    for (const auto& member : object.members) {
        if (member.first == key) return &member.second;
    }
    return nullptr;
}

std::string ReadTop(const JsonValue& document, VarekSetup& setup) {
    if (document.kind != JsonValue::Kind::Object)
        return std::string("a setup is a JSON object, not ") + varek::JsonKindName(document.kind);
    const JsonValue* version = Member(document, kVersionKey);
    if (version == nullptr)
        return std::string(kVersionKey) + ": missing; a setup begins {\"" + kVersionKey + "\": 1, ...}";
    if (version->kind != JsonValue::Kind::Number || !version->whole ||
        version->whole_number != kDocumentVersion)
        return std::string(kVersionKey) + ": this library reads version " + std::to_string(kDocumentVersion) +
               " of the setup document";
    if (const JsonValue* unit = Member(document, kUnitKey)) {
        if (unit->kind == JsonValue::Kind::String) {
            const std::string rejection = VarekUnitRejection(unit->text);
            if (!rejection.empty()) return std::string(kUnitKey) + ": " + rejection;
            setup.unit = unit->text;
        } else if (unit->kind != JsonValue::Kind::Null) {
            return Expected(kUnitKey, "a string", *unit);
        }
    }
    return ReadGroup("", document, setup);
}

std::string FieldText(const VarekSetup& setup, const std::string& path) {
    const std::optional<SetupValue> value = FieldAt(path)->get(setup);
    return value ? varek::SetupValueText(*value) : "null";
}

}  // namespace

std::string VarekParseSetup(const std::string& text, VarekSetup* setup) {
    if (setup == nullptr) return "no place for the setup (a null pointer)";
    JsonValue document;
    std::string error;
    if (!varek::ReadJson(text, document, error)) return error;
    VarekSetup read;
    error = ReadTop(document, read);
    if (!error.empty()) return error;
    *setup = read;
    return "";
}

std::string VarekSetupText(const VarekSetup& setup) {
    std::string text =
        std::string("{\n  \"") + kVersionKey + "\": " + std::to_string(kDocumentVersion) + ",\n";
    text += std::string("  \"") + kUnitKey + "\": " + (setup.unit ? varek::JsonQuoted(*setup.unit) : "null") +
            ",\n";
    text += "  \"trigger\": {\"mode\": " + FieldText(setup, "trigger.mode") +
            ", \"frequency\": " + FieldText(setup, "trigger.frequency") + "},\n";
    text += "  \"global_output\": " + FieldText(setup, "global_output") + ",\n";
    text += "  \"channels\": {\n";
    for (std::int32_t channel = 1; channel <= VarekDDG::CHANNEL_COUNT; ++channel) {
        const std::string path = "channels." + std::to_string(channel) + ".";
        text += "    \"" + std::to_string(channel) + "\": {\"delay\": " + FieldText(setup, path + "delay") +
                ", \"pulse_width\": " + FieldText(setup, path + "pulse_width") +
                ", \"output\": " + FieldText(setup, path + "output") + "}" +
                (channel < VarekDDG::CHANNEL_COUNT ? ",\n" : "\n");
    }
    return text + "  }\n}\n";
}
