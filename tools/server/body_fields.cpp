#include "body_fields.h"

namespace varek::server {

using nlohmann::json;

namespace {

std::string Named(const char* name) { return std::string("field \"") + name + "\""; }

// The library's verdict on a value that parsed; sets `error` on a refusal.
bool Accepted(const char* name, const std::string& rejection, std::string& error) {
    if (rejection.empty()) return true;
    error = Named(name) + ": " + rejection;
    return false;
}

}  // namespace

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

std::optional<std::int64_t> WholeField(const json& fields, const char* name, WholeRule rule,
                                       std::string& error) {
    if (!fields.contains(name)) return std::nullopt;
    const json& value = fields.at(name);
    const bool whole =
        value.is_number_integer() && !(value.is_number_unsigned() && value.get<std::uint64_t>() > INT64_MAX);
    if (!whole) {
        error = Named(name) + " must be a whole number, got " + value.dump();
        return std::nullopt;
    }
    const auto number = value.get<std::int64_t>();
    if (!Accepted(name, rule(number), error)) return std::nullopt;
    return number;
}

std::optional<double> NumberField(const json& fields, const char* name, RealRule rule, std::string& error) {
    if (!fields.contains(name)) return std::nullopt;
    const json& value = fields.at(name);
    if (!value.is_number()) {
        error = Named(name) + " must be a number, got " + value.dump();
        return std::nullopt;
    }
    const auto number = value.get<double>();
    if (!Accepted(name, rule(number), error)) return std::nullopt;
    return number;
}

std::optional<bool> BoolField(const json& fields, const char* name, std::string& error) {
    if (!fields.contains(name)) return std::nullopt;
    const json& value = fields.at(name);
    if (value.is_boolean()) return value.get<bool>();
    error = Named(name) + " must be true or false, got " + value.dump();
    return std::nullopt;
}

}  // namespace varek::server
