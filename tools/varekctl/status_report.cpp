#include "status_report.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "varek/units.h"

namespace varekctl {

using nlohmann::ordered_json;

ordered_json JsonNumber(double value) {
    return std::isfinite(value) ? ordered_json(value) : ordered_json(nullptr);
}

void PrintJson(const ordered_json& value) {
    // Names and descriptions come from the system and need not be UTF-8.
    std::printf("%s\n", value.dump(-1, ' ', false, ordered_json::error_handler_t::replace).c_str());
}

void PrintPorts(const std::vector<VarekPortInfo>& ports, bool json) {
    if (json) {
        ordered_json list = ordered_json::array();
        for (const VarekPortInfo& p : ports) {
            ordered_json port{{"name", p.name}, {"description", p.description}, {"usb", p.is_usb()}};
            if (p.is_usb()) {
                port.update(ordered_json{{"vid", p.vid},
                                         {"pid", p.pid},
                                         {"serial_number", p.serial_number},
                                         {"manufacturer", p.manufacturer},
                                         {"product", p.product},
                                         {"location", p.location},
                                         {"locator", p.locator}});
            }
            if (!p.by_id.empty()) port["by_id"] = p.by_id;
            list.push_back(port);
        }
        return PrintJson(list);
    }
    if (ports.empty()) std::fprintf(stderr, "no serial ports found\n");
    for (const VarekPortInfo& p : ports) {
        std::string line = p.name + "  " + (p.description.empty() ? "-" : p.description);
        if (p.is_usb()) {
            line += "  USB " + p.vid + ":" + p.pid;
            if (!p.serial_number.empty()) line += " serial " + p.serial_number;
            if (!p.manufacturer.empty()) line += " by " + p.manufacturer;
            if (!p.location.empty()) line += " at " + p.location;
            if (!p.locator.empty()) line += "  (--port " + p.locator + ")";
        }
        if (!p.by_id.empty()) line += "  " + p.by_id;
        std::printf("%s\n", line.c_str());
    }
}

void PrintTemperature(float temperature, bool json) {
    if (json) return PrintJson(ordered_json{{"temperature", JsonNumber(static_cast<double>(temperature))}});
    std::printf("temperature: %.2f\n", static_cast<double>(temperature));
}

void PrintStatus(const std::string& port, const std::vector<VarekTimingConfig>& configs, bool json,
                 const std::string& unit) {
    if (configs.empty()) return;
    const VarekTimingConfig& first = configs.front();
    if (json) {
        ordered_json channels = ordered_json::array();
        for (const VarekTimingConfig& c : configs) {
            channels.push_back({{"channel", c.channel},
                                {"delay", c.delay},
                                {"pulse_width", c.pulse_width},
                                {"chan_value_a", c.chan_value_a},
                                {"chan_value_b", c.chan_value_b}});
        }
        ordered_json status{{"port", port}};
        if (!unit.empty()) status["unit"] = unit;
        status.update(ordered_json{{"internal_trigger_freq", JsonNumber(first.internal_trigger_freq)},
                                   {"reg128", first.reg128},
                                   {"reg130", first.reg130},
                                   {"reg131", first.reg131},
                                   {"reg136", first.reg136},
                                   {"reg137", first.reg137},
                                   {"reg138", first.reg138},
                                   {"reg276", JsonNumber(static_cast<double>(first.reg276))},
                                   {"channels", channels}});
        return PrintJson(status);
    }
    std::printf("instrument on %s\n", port.c_str());
    std::printf("  internal trigger frequency  %.6g\n", first.internal_trigger_freq);
    std::printf("  %-8s %20s %20s\n", "channel", "delay", "pulse width");
    for (const VarekTimingConfig& c : configs) {
        std::printf("  %-8d %20s %20s\n", c.channel, VarekFormatTime(c.delay, unit).c_str(),
                    VarekFormatTime(c.pulse_width, unit).c_str());
    }
    if (!unit.empty()) std::printf("  (one unit is %s, as declared)\n", unit.c_str());
    std::printf("raw status (values whose meaning the instrument does not state):\n");
    std::printf(
        "  reg128 %d   reg130 %d   reg131 %d   reg136 %d   reg137 0x%02X   reg138 0x%04X   reg276 %g\n",
        first.reg128, first.reg130, first.reg131, first.reg136, first.reg137, first.reg138,
        static_cast<double>(first.reg276));
    std::printf("  %-8s %20s %20s\n", "channel", "value a", "value b");
    for (const VarekTimingConfig& c : configs) {
        std::printf("  %-8d %20" PRId64 " %20" PRId64 "\n", c.channel, c.chan_value_a, c.chan_value_b);
    }
}

}  // namespace varekctl
