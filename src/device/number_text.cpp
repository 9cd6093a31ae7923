#include "device/number_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace varek {

std::string ShortestText(double value) {
    char text[64];
    // Whole values in plain digits (1000, not 1e+03) while every digit is exact.
    if (value > -1e15 && value < 1e15 && value == std::trunc(value)) {
        std::snprintf(text, sizeof text, "%.0f", value);
        return text;
    }
    for (int digits = 1; digits < 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) return text;
    }
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

}  // namespace varek
