#include "status_report.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace varekctl {

std::string JsonNumber(double value) {
    // JSON has no NaN or infinity.
    if (!std::isfinite(value)) return "null";
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string JsonString(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

void PrintPorts(const std::vector<SerialPortInfo>& ports, bool json) {
    if (json) {
        std::printf("[");
        for (std::size_t i = 0; i < ports.size(); ++i) {
            const SerialPortInfo& p = ports[i];
            std::printf("%s{\"name\": %s, \"description\": %s, \"usb\": %s", i == 0 ? "" : ", ",
                        JsonString(p.name).c_str(), JsonString(p.description).c_str(),
                        p.is_usb() ? "true" : "false");
            if (p.is_usb()) {
                std::printf(
                    ", \"vid\": %s, \"pid\": %s, \"serial_number\": %s, \"manufacturer\": %s, "
                    "\"product\": %s, \"location\": %s",
                    JsonString(p.vid).c_str(), JsonString(p.pid).c_str(), JsonString(p.serial_number).c_str(),
                    JsonString(p.manufacturer).c_str(), JsonString(p.product).c_str(),
                    JsonString(p.location).c_str());
            }
            if (!p.by_id.empty()) std::printf(", \"by_id\": %s", JsonString(p.by_id).c_str());
            std::printf("}");
        }
        std::printf("]\n");
        return;
    }
    if (ports.empty()) std::fprintf(stderr, "no serial ports found\n");
    for (const SerialPortInfo& p : ports) {
        std::string line = p.name + "  " + (p.description.empty() ? "-" : p.description);
        if (p.is_usb()) {
            line += "  USB " + p.vid + ":" + p.pid;
            if (!p.serial_number.empty()) line += " serial " + p.serial_number;
            if (!p.manufacturer.empty()) line += " by " + p.manufacturer;
            if (!p.location.empty()) line += " at " + p.location;
            line += "  (--port usb:" + p.vid + ":" + p.pid +
                    (p.serial_number.empty() ? "" : ":" + p.serial_number) + ")";
        }
        if (!p.by_id.empty()) line += "  " + p.by_id;
        std::printf("%s\n", line.c_str());
    }
}

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
