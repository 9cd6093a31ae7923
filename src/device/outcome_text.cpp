// Every outcome in words: what was seen on which port, and what to check.
// Each kind reads unlike the others, so that a refusal is never taken for
// silence or damage.
#include <cstdio>

#include "varek/exchange_report.h"
#include "varek/varek_ddg.h"

namespace {

// What the request asked for, from its command byte.
std::string OperationName(const VarekExchangeReport& report) {
    if (report.request.size() < 5) return "the request";
    switch (report.request[4]) {
    case VarekDDG::CMD_SET_TRIGGER: return "the trigger mode setting";
    case VarekDDG::CMD_SET_INTERNAL_TRIGGER_FREQ: return "the internal trigger frequency setting";
    case VarekDDG::CMD_SET_OUTPUT_CHANNEL: return "the channel output setting";
    case VarekDDG::CMD_SET_GLOBAL_OUTPUT: return "the global output setting";
    case VarekDDG::CMD_SET_DELAY: return "the delay setting";
    case VarekDDG::CMD_SET_PULSE_WIDTH: return "the pulse width setting";
    case VarekDDG::CMD_SOFTWARE_TRIGGER: return "the software trigger";
    case VarekDDG::CMD_READ_TEMPERATURE: return "the temperature query";
    case VarekDDG::CMD_READ_TIMING_CONFIG: return "the status query";
    default: {
        char text[32];
        std::snprintf(text, sizeof text, "command 0x%02X", report.request[4]);
        return text;
    }
    }
}

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFF);
    return text;
}

std::string OpenFailureText(const VarekOpenError& error, std::int32_t baud) {
    switch (error.failure) {
    case VarekOpenFailure::NoSuchPort: return "no such port: check its name";
    case VarekOpenFailure::PermissionDenied:
        return "permission denied: the user may not open it (on Linux, join the dialout group)";
    case VarekOpenFailure::Busy: return "busy: another program holds it; close that program first";
    case VarekOpenFailure::NotASerialDevice: return "it is not a serial device";
    case VarekOpenFailure::SettingsRefused:
        return "it refused the line settings: is " + std::to_string(baud) + " baud supported?";
    case VarekOpenFailure::None:
    case VarekOpenFailure::Other: break;
    }
    return "the system refused to open it";
}

std::string Within(const VarekExchangeReport& report) {
    return "within " + std::to_string(report.timeout_ms) + " ms";
}

}  // namespace

std::string VarekDescribeOutcome(const VarekExchangeReport& report) {
    const std::string& port = report.port;
    switch (report.outcome) {
    case VarekOutcome::Succeeded: return "";
    case VarekOutcome::Unfinished:
        return "the operation on " + port + " ended without a result (out of memory?)";
    case VarekOutcome::OpenFailed: {
        std::string text = "cannot open " + port + ": " + OpenFailureText(report.open_error, report.baud);
        if (report.open_error.os_error != 0)
            text += " (system error " + std::to_string(report.open_error.os_error) + ")";
        return text;
    }
    case VarekOutcome::NotOpen:
        return "the connection" + (port.empty() ? std::string() : " to " + port) +
               " is not open: open it first";
    case VarekOutcome::ArgumentRejected: return "nothing sent: " + report.rejection;
    case VarekOutcome::WriteIncomplete:
        if (report.bytes_written < 0) return "writing to " + port + " failed: was the port unplugged?";
        return "could not send " + OperationName(report) + " to " + port + ": " +
               std::to_string(report.bytes_written) + " of " + std::to_string(report.request.size()) +
               " bytes written " + Within(report) + ": is flow control holding the line?";
    case VarekOutcome::ReadFailed:
        return "the port " + port + " failed while waiting for the reply to " + OperationName(report) +
               ": was it unplugged, or did the line hang up?";
    case VarekOutcome::NothingArrived:
        return "nothing arrived from " + port + " " + Within(report) +
               ": is the instrument on, and on this port?";
    case VarekOutcome::NoFrameHead: {
        const std::size_t shown = report.received.size() < 16 ? report.received.size() : 16;
        return std::to_string(report.received.size()) + " bytes arrived from " + port +
               " but no frame (first bytes: " + VarekHex(report.received.data(), shown) +
               (report.received.size() > shown ? " ..." : "") + "): is it at " + std::to_string(report.baud) +
               " baud, and is this the instrument?";
    }
    case VarekOutcome::FrameIncomplete:
        if (report.frame_size == 0) {
            return "incomplete reply from " + port + ": a frame head but not its length " + Within(report);
        }
        return "incomplete reply from " + port + ": " + std::to_string(report.frame_received) + " of " +
               std::to_string(report.frame_size) + " bytes " + Within(report);
    case VarekOutcome::LengthFieldTooSmall:
        return "damaged reply from " + port + ": length field " + std::to_string(report.length_field) +
               ", below the smallest frame's 6";
    case VarekOutcome::BadTail: {
        char text[64];
        std::snprintf(text, sizeof text, ": tail byte 0x%02X, expected 0x%02X", report.tail_received,
                      VarekDDG::FRAME_TAIL);
        return "damaged reply from " + port + text;
    }
    case VarekOutcome::BadChecksum:
        return "damaged reply from " + port + ": checksum " + Hex4(report.checksum_received) + ", computed " +
               Hex4(report.checksum_computed);
    case VarekOutcome::PayloadTooShort:
        return "short reply from " + port + " to " + OperationName(report) + ": " +
               std::to_string(report.payload_size) + " payload bytes, " +
               std::to_string(report.payload_needed) + " needed";
    case VarekOutcome::Refused:
        return "the instrument on " + port + " refused " + OperationName(report) + " (reply parameter " +
               Hex4(report.reply_param) + ")";
    }
    return "the operation on " + port + " failed";
}
