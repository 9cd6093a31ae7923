#include "body_fields.h"

#include <set>

#include "varek/units.h"

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
    // A key given twice would otherwise be read as its last value, silently.
    // It is named by its path, as the library's own reader names it in a
    // setup document: "delay: given twice".
    std::vector<std::set<std::string>> keys_seen;
    std::vector<std::string> path;
    std::string repeated;
    const json::parser_callback_t note_keys = [&](int depth, json::parse_event_t event, json& parsed) {
        if (event == json::parse_event_t::object_start) keys_seen.emplace_back();
        if (event == json::parse_event_t::object_end && !keys_seen.empty()) keys_seen.pop_back();
        if (event == json::parse_event_t::key && !keys_seen.empty()) {
            const std::string key = parsed.get<std::string>();
            path.resize(static_cast<std::size_t>(depth > 0 ? depth - 1 : 0));
            path.push_back(key);
            if (!keys_seen.back().insert(key).second && repeated.empty()) {
                for (const std::string& part : path) repeated += (repeated.empty() ? "" : ".") + part;
            }
        }
        return true;
    };
    json fields = json::parse(body, note_keys, false);
    if (!repeated.empty()) {
        error = repeated + ": given twice";
        return std::nullopt;
    }
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

std::optional<std::int64_t> TimeField(const json& fields, const char* name, WholeRule rule,
                                      const std::string& unit, std::string& error) {
    if (!fields.contains(name) || !fields.at(name).is_string()) return WholeField(fields, name, rule, error);
    std::int64_t units = 0;
    const std::string rejection = VarekParseTime(fields.at(name).get<std::string>(), unit, &units);
    if (!Accepted(name, rejection.empty() ? rule(units) : rejection, error)) return std::nullopt;
    return units;
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
