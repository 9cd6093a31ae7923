#include "status_report.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace varekctl {

namespace {

// JSON has no NaN or infinity.
std::string JsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string JsonString(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

void PrintTemperature(float temperature, bool json) {
    if (json) {
        std::printf("{\"temperature\": %s}\n", JsonNumber(temperature).c_str());
    } else {
        std::printf("temperature: %.2f\n", static_cast<double>(temperature));
    }
}

void PrintStatus(const std::string& port, const std::vector<VarekTimingConfig>& configs, bool json) {
    if (configs.empty()) return;
    const VarekTimingConfig& first = configs.front();
    if (json) {
        std::printf(
            "{\"port\": %s, \"internal_trigger_freq\": %s, \"reg128\": %d, \"reg130\": %d, \"reg131\": %d, "
            "\"reg136\": %d, \"reg137\": %d, \"reg138\": %d, \"reg276\": %s, \"channels\": [",
            JsonString(port).c_str(), JsonNumber(first.internal_trigger_freq).c_str(), first.reg128,
            first.reg130, first.reg131, first.reg136, first.reg137, first.reg138,
            JsonNumber(static_cast<double>(first.reg276)).c_str());
        for (std::size_t i = 0; i < configs.size(); ++i) {
            const VarekTimingConfig& c = configs[i];
            std::printf("%s{\"channel\": %d, \"delay\": %" PRId64 ", \"pulse_width\": %" PRId64
                        ", \"chan_value_a\": %" PRId64 ", \"chan_value_b\": %" PRId64 "}",
                        i == 0 ? "" : ", ", c.channel, c.delay, c.pulse_width, c.chan_value_a,
                        c.chan_value_b);
        }
        std::printf("]}\n");
        return;
    }
    std::printf("instrument on %s\n", port.c_str());
    std::printf("  internal trigger frequency  %.6g\n", first.internal_trigger_freq);
    std::printf(
        "  reg128 %d   reg130 %d   reg131 %d   reg136 %d   reg137 0x%02X   reg138 0x%04X   reg276 %g\n",
        first.reg128, first.reg130, first.reg131, first.reg136, first.reg137, first.reg138,
        static_cast<double>(first.reg276));
    std::printf("  %-8s %20s %20s %20s %20s\n", "channel", "delay", "pulse width", "value a", "value b");
    for (const VarekTimingConfig& c : configs) {
        std::printf("  %-8d %20" PRId64 " %20" PRId64 " %20" PRId64 " %20" PRId64 "\n", c.channel, c.delay,
                    c.pulse_width, c.chan_value_a, c.chan_value_b);
    }
}

}  // namespace varekctl
