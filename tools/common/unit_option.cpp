#include "unit_option.h"

#include <cstdlib>

#include "tool_error.h"
#include "varek/units.h"

namespace varek::tools {

std::string ChosenUnit(const std::string& given) {
    const char* variable = std::getenv(kUnitVariable);
    const bool from_option = !given.empty();
    const std::string unit = from_option ? given : variable != nullptr ? variable : "";
    if (unit.empty()) return "";
    const std::string rejection = VarekUnitRejection(unit);
    if (!rejection.empty())
        throw UsageError((from_option ? "--unit: " : std::string(kUnitVariable) + ": ") + rejection);
    return unit;
}

}  // namespace varek::tools
