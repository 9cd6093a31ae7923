// A request body's fields: their syntax checked here, their values by the
// library's rules, every failure in words that name the field.
#ifndef VAREK_SERVER_BODY_FIELDS_H
#define VAREK_SERVER_BODY_FIELDS_H

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace varek::server {

// A request body that is a JSON object with only `allowed` keys, at least
// one. Sets `error` and returns nothing otherwise.
std::optional<nlohmann::json> FieldsOf(const std::string& body, const std::vector<std::string>& allowed,
                                       std::string& error);

// Field `name` of `fields` when it is absent (nothing, no error) or of the
// type asked and, where a rule is given, one the library accepts: a rule is
// one of the library's Varek...Rejection functions. Sets `error` otherwise.
using WholeRule = std::string (*)(std::int64_t);
using RealRule = std::string (*)(double);
std::optional<std::int64_t> WholeField(const nlohmann::json& fields, const char* name, WholeRule rule,
                                       std::string& error);
// A whole number of units, or text such as "12.5us" that the library reads
// as one in the declared `unit` ("" when none is declared).
std::optional<std::int64_t> TimeField(const nlohmann::json& fields, const char* name, WholeRule rule,
                                      const std::string& unit, std::string& error);
std::optional<double> NumberField(const nlohmann::json& fields, const char* name, RealRule rule,
                                  std::string& error);
std::optional<bool> BoolField(const nlohmann::json& fields, const char* name, std::string& error);

}  // namespace varek::server

#endif
