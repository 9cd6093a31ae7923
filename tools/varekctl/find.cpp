#include "find.h"

#include <cstdio>
#include <thread>

#include "capi/port_name.h"
#include "port_list.h"
#include "status_report.h"
#include "tool_error.h"

namespace varekctl {

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
        VarekDDG device;
        if (!device.Open(varek::HostPortName(ResolvePortName(port).c_str()).c_str(), baud)) {
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
    std::printf("[");
    for (std::size_t i = 0; i < probes.size(); ++i) {
        const Probe& probe = probes[i];
        std::printf("%s{\"port\": %s, \"found\": %s, ", i == 0 ? "" : ", ", JsonString(probe.port).c_str(),
                    probe.found ? "true" : "false");
        if (probe.found) {
            std::printf("\"temperature\": %.9g}", static_cast<double>(probe.temperature));
        } else {
            std::printf("\"reason\": %s}", JsonString(probe.reason).c_str());
        }
    }
    std::printf("]\n");
}

}  // namespace

Action PrepareFind(const std::vector<std::string>& args) {
    return [args](Session& session) {
        std::vector<std::string> ports = args;
        if (ports.empty()) {
            for (const SerialPortInfo& port : ListSerialPorts()) ports.push_back(port.name);
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
