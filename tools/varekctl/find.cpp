#include "find.h"

#include <cstdio>
#include <thread>

#include "status_report.h"
#include "tool_error.h"
#include "varek/ports.h"

namespace varekctl {

using varek::tools::DeviceError;

namespace {

struct Probe {
    std::string port;
    bool found = false;
    float temperature = 0.0f;
    std::string reason;  // why not, when not found
};

Probe ProbePort(const std::string& port, std::int32_t baud) {
    Probe probe;
    probe.port = port;
    try {
        const VarekResolvedPort resolved = VarekResolvePort(port.c_str());
        VarekDDG device;
        if (!resolved.ok()) {
            probe.reason = resolved.why;
        } else if (!device.Open(resolved.system_name.c_str(), baud)) {
            const bool busy = device.LastExchange().open_error.failure == VarekOpenFailure::Busy;
            probe.reason =
                busy ? "busy: held by another program" : VarekDescribeOutcome(device.LastExchange());
        } else if (device.ReadTemperature(&probe.temperature)) {
            probe.found = true;
        } else {
            probe.reason = VarekDescribeOutcome(device.LastExchange());
        }
    } catch (const std::exception& error) {
        probe.reason = error.what();
    }
    return probe;
}

void PrintProbes(const std::vector<Probe>& probes, bool json) {
    if (!json) {
        for (const Probe& probe : probes) {
            if (probe.found) {
                std::printf("%s: instrument found, temperature %.2f\n", probe.port.c_str(),
                            static_cast<double>(probe.temperature));
            } else {
                std::printf("%s: %s\n", probe.port.c_str(), probe.reason.c_str());
            }
        }
        return;
    }
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const Probe& probe : probes) {
        nlohmann::ordered_json entry{{"port", probe.port}, {"found", probe.found}};
        if (probe.found) {
            entry["temperature"] = JsonNumber(static_cast<double>(probe.temperature));
        } else {
            entry["reason"] = probe.reason;
        }
        list.push_back(entry);
    }
    PrintJson(list);
}

}  // namespace

Action PrepareFind(const std::vector<std::string>& args, const CommandContext&) {
    return [args](Session& session) {
        std::vector<std::string> ports = args;
        if (ports.empty()) {
            for (const VarekPortInfo& port : VarekListPorts()) ports.push_back(port.name);
        }
        // One thread a port, so that the whole probe takes one time-out.
        std::vector<Probe> probes(ports.size());
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < ports.size(); ++i) {
            threads.emplace_back([&, i] { probes[i] = ProbePort(ports[i], session.baud()); });
        }
        for (std::thread& thread : threads) thread.join();
        PrintProbes(probes, session.json());
        for (const Probe& probe : probes) {
            if (probe.found) return;
        }
        throw DeviceError(ports.empty() ? "no serial ports to probe"
                                        : "no instrument answered on " + std::to_string(ports.size()) +
                                              " port" + (ports.size() == 1 ? "" : "s"));
    };
}

}  // namespace varekctl
