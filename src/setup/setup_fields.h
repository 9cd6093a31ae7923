// Every field of the setup document, once, in the order they are applied:
// its path, its words, whether the instrument reports it, how it is read
// from and written into a VarekSetup, and how it is sent. The document's
// reading, writing, comparing and applying all walk this one table.
#ifndef VAREK_SETUP_SETUP_FIELDS_H
#define VAREK_SETUP_SETUP_FIELDS_H

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "varek/setup.h"

namespace varek {

using SetupValue = std::variant<std::int64_t, double, bool>;

struct SetupField {
    enum class Kind { Whole, Real, Flag };
    std::string path;   // "channels.3.delay"
    std::string label;  // "channel 3 delay"
    Kind kind;
    bool reported;  // whether a status read gives it back
    // Why a value cannot be sent, "" when it can (the library's own rules).
    std::function<std::string(const SetupValue&)> rejection;
    std::function<std::optional<SetupValue>(const VarekSetup&)> get;
    std::function<void(VarekSetup&, const std::optional<SetupValue>&)> put;
    std::function<bool(VarekDDG&, const SetupValue&)> send;
};

const std::vector<SetupField>& SetupFields();

// The value as the document writes it: 12345, 1000.5, true.
std::string SetupValueText(const SetupValue& value);

}  // namespace varek

#endif
