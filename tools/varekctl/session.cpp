#include "session.h"

#include <cstdio>

#include "port_option.h"
#include "tool_error.h"

namespace varekctl {

using varek::tools::DeviceError;

VarekDDG& Session::Device() {
    if (!opened_) {
        const VarekResolvedPort port = varek::tools::ResolvedPort(options_.port);
        port_name_ = port.name;
        if (!device_.Open(port.system_name.c_str(), options_.baud)) {
            const char* hint = port.network ? "" : " (varekctl ports lists this machine's serial ports)";
            throw DeviceError(VarekDescribeOutcome(device_.LastExchange()) + hint);
        }
        opened_ = true;
    }
    return device_;
}

void Session::Finish(bool ok, const std::string& attempted) {
    if (options_.trace) {
        std::fflush(stdout);
        std::fputs(TraceText(device_.LastExchange()).c_str(), stderr);
    }
    if (!ok) throw DeviceError(attempted + ": " + VarekDescribeOutcome(device_.LastExchange()));
}

std::string TraceText(const VarekExchangeReport& report) {
    std::string text;
    if (!report.request.empty()) {
        text += "trace: request " + VarekHex(report.request.data(), report.request.size()) + "\n";
    }
    if (report.discarded_bytes > 0 || report.quiet_wait_ms > 0) {
        text += "trace: waited " + std::to_string(report.quiet_wait_ms) + " ms for the line to fall quiet, " +
                std::to_string(report.discarded_bytes) + " bytes discarded\n";
    }
    for (const VarekChunk& chunk : report.chunks) {
        if (report.received_omitted > 0 && chunk.offset == report.omitted_at) {
            text += "trace: ... " + std::to_string(report.received_omitted) + " bytes in " +
                    std::to_string(report.reads_omitted) + " reads not kept ...\n";
        }
        text += "trace: +" + std::to_string(chunk.at_ms) + " ms read " +
                VarekHex(report.received.data() + chunk.offset, chunk.size) + "\n";
    }
    if (report.telnet_bytes > 0) {
        text += "trace: " + std::to_string(report.telnet_bytes) + " bytes of Telnet commands\n";
    }
    const std::vector<std::uint8_t> reply = report.ReplyFrame();
    if (!reply.empty()) text += "trace: reply " + VarekHex(reply.data(), reply.size()) + "\n";
    text += "trace: " + (report.failed() ? VarekDescribeOutcome(report) : std::string("ok")) + "\n";
    return text;
}

}  // namespace varekctl
