#include "device/number_text.h"

#include <cstdio>
#include <cstdlib>

namespace varek {

std::string ShortestText(double value) {
    char text[64];
    for (int digits = 1; digits < 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) return text;
    }
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

}  // namespace varek
