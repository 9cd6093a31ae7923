// What one unit of the instrument is, as the user declares it from the
// manual: --unit VALUE, else VAREK_UNIT, else none (plain units, nothing
// guessed).
#ifndef VAREK_TOOLS_UNIT_OPTION_H
#define VAREK_TOOLS_UNIT_OPTION_H

#include <string>

namespace varek::tools {

constexpr const char* kUnitVariable = "VAREK_UNIT";

// `given` (the --unit value, "" when none) or else VAREK_UNIT, checked by the
// library; "" when neither declares one. Throws UsageError for a value that
// is not a time.
std::string ChosenUnit(const std::string& given);

}  // namespace varek::tools

#endif
