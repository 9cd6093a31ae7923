// Every outcome in words: what was seen on which port, and what to check.
// Each kind reads unlike the others, so that a refusal is never taken for
// silence or damage.
#include <cstdio>

#include "net/network_address.h"
#include "net/network_line.h"
#include "protocol/quiet_line.h"
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
    case VarekOpenFailure::ConnectRefused:
    case VarekOpenFailure::ConnectTimedOut:
    case VarekOpenFailure::HostNotFound:
    case VarekOpenFailure::NoComPortAgreement:
    case VarekOpenFailure::NameMalformed:
    case VarekOpenFailure::UsbNameAmbiguous:
    case VarekOpenFailure::None:
    case VarekOpenFailure::Other: break;
    }
    return "the system refused to open it";
}

// The terminal server's port the report's port names, if it is one.
std::optional<varek::net::NetworkAddress> NetworkPort(const VarekExchangeReport& report) {
    std::string ignored;
    return varek::net::IsNetworkName(report.port) ? varek::net::ParseNetworkAddress(report.port, ignored)
                                                  : std::nullopt;
}

std::string Seconds(std::int32_t ms) { return std::to_string(ms / 1000) + " s"; }

std::string ConnectFailureText(const varek::net::NetworkAddress& address, const VarekOpenError& error) {
    const bool telnet = address.kind == varek::net::NetworkKind::Rfc2217;
    switch (error.failure) {
    case VarekOpenFailure::ConnectRefused:
        return std::string("connection refused: is that port of the terminal server in ") +
               (telnet ? "RFC 2217" : "TCP server") + " mode, and free?";
    case VarekOpenFailure::ConnectTimedOut:
        return "nothing answered within " + Seconds(varek::net::kConnectTimeoutMs) +
               ": is the terminal server on, and is " + address.host + " its address?";
    case VarekOpenFailure::HostNotFound:
        return "no host is named " + address.host + ": check the name, or give the address";
    case VarekOpenFailure::NoComPortAgreement:
        return "it did not agree to RFC 2217's COM port option within " +
               Seconds(varek::net::kAgreementTimeoutMs) +
               ": is that port in RFC 2217 (telnet) mode? For a port in raw TCP mode, name it socket://" +
               address.HostAndPort();
    default: break;
    }
    return "the connection failed";
}

std::string Within(const VarekExchangeReport& report) {
    return "within " + std::to_string(report.timeout_ms) + " ms";
}

std::string TelnetCommands(const VarekExchangeReport& report) {
    return std::to_string(report.telnet_bytes) + " bytes of Telnet commands";
}

}  // namespace

std::string VarekDescribeOutcome(const VarekExchangeReport& report) {
    const std::string& port = report.port;
    const auto network = NetworkPort(report);
    switch (report.outcome) {
    case VarekOutcome::Succeeded: return "";
    case VarekOutcome::Unfinished:
        return "the operation on " + port + " ended without a result (out of memory?)";
    case VarekOutcome::OpenFailed: {
        const bool connect_failed = network && report.open_error.failure != VarekOpenFailure::SettingsRefused;
        std::string text =
            connect_failed ? "cannot connect to " + network->HostAndPort() + ": " +
                                 ConnectFailureText(*network, report.open_error)
                           : "cannot open " + port + ": " + OpenFailureText(report.open_error, report.baud);
        const bool reason_known = connect_failed && report.open_error.failure != VarekOpenFailure::Other;
        if (report.open_error.os_error != 0 && !reason_known)
            text += " (system error " + std::to_string(report.open_error.os_error) + ")";
        return text;
    }
    case VarekOutcome::NotOpen:
        return "the connection" + (port.empty() ? std::string() : " to " + port) +
               " is not open: open it first";
    case VarekOutcome::ArgumentRejected: return "nothing sent: " + report.rejection;
    case VarekOutcome::WriteIncomplete:
        if (report.bytes_written < 0 && network) {
            return "writing to " + network->HostAndPort() +
                   " failed: the connection was closed; was the terminal server restarted?";
        }
        if (report.bytes_written < 0) return "writing to " + port + " failed: was the port unplugged?";
        return "could not send " + OperationName(report) + " to " + port + ": " +
               std::to_string(report.bytes_written) + " of " + std::to_string(report.request.size()) +
               " bytes written " + Within(report) + ": is flow control holding the line?";
    case VarekOutcome::ReadFailed:
        if (network) {
            return "the connection to " + network->HostAndPort() +
                   " was closed while waiting for the reply to " + OperationName(report) +
                   ": was the terminal server restarted, or its port given to another client?";
        }
        return "the port " + port + " failed while waiting for the reply to " + OperationName(report) +
               ": was it unplugged, or did the line hang up?";
    case VarekOutcome::NothingArrived:
        return "nothing arrived from " + port + " " + Within(report) +
               ": is the instrument on, and on this port?";
    case VarekOutcome::NoFrameHead: {
        const std::uint64_t total = report.ReceivedTotal();
        if (total == 0) {
            return "bytes arrived from " + port + " " + Within(report) +
                   ", but no frame: " + TelnetCommands(report) +
                   " and no line bytes: is the terminal server's port connected to the instrument?";
        }
        const std::size_t shown = report.received.size() < 16 ? report.received.size() : 16;
        return std::to_string(total) + " bytes arrived from " + port +
               " but no frame (first bytes: " + VarekHex(report.received.data(), shown) +
               (total > shown ? " ..." : "") + ")" +
               (report.telnet_bytes > 0 ? ", and " + TelnetCommands(report) : std::string()) + ": is it at " +
               std::to_string(report.baud) + " baud, and is this the instrument?";
    }
    case VarekOutcome::FrameIncomplete: {
        const std::string telnet =
            report.telnet_bytes > 0 ? " (and " + TelnetCommands(report) + ")" : std::string();
        if (report.frame_size == 0) {
            return "incomplete reply from " + port + ": a frame head but not its length " + Within(report) +
                   telnet;
        }
        return "incomplete reply from " + port + ": " + std::to_string(report.frame_received) + " of " +
               std::to_string(report.frame_size) + " bytes " + Within(report) + telnet;
    }
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
    case VarekOutcome::LineKeepsSending:
        return "nothing sent: the line from " + port + " keeps sending (" +
               std::to_string(report.discarded_bytes) + " bytes in " + std::to_string(report.quiet_wait_ms) +
               " ms) and did not fall quiet for " + std::to_string(varek::kQuietLineMs) +
               " ms, so a reply could not be told from stale bytes: is another device or program sending on "
               "it?";
    }
    return "the operation on " + port + " failed";
}

const char* VarekOutcomeName(VarekOutcome outcome) {
    switch (outcome) {
    case VarekOutcome::Succeeded: return "succeeded";
    case VarekOutcome::Unfinished: return "unfinished";
    case VarekOutcome::OpenFailed: return "open_failed";
    case VarekOutcome::NotOpen: return "not_open";
    case VarekOutcome::ArgumentRejected: return "argument_rejected";
    case VarekOutcome::WriteIncomplete: return "write_incomplete";
    case VarekOutcome::ReadFailed: return "read_failed";
    case VarekOutcome::NothingArrived: return "nothing_arrived";
    case VarekOutcome::NoFrameHead: return "no_frame_head";
    case VarekOutcome::FrameIncomplete: return "frame_incomplete";
    case VarekOutcome::LengthFieldTooSmall: return "length_field_too_small";
    case VarekOutcome::BadTail: return "bad_tail";
    case VarekOutcome::BadChecksum: return "bad_checksum";
    case VarekOutcome::PayloadTooShort: return "payload_too_short";
    case VarekOutcome::Refused: return "refused";
    case VarekOutcome::LineKeepsSending: return "line_keeps_sending";
    }
    return nullptr;
}

const char* VarekOpenFailureName(VarekOpenFailure failure) {
    switch (failure) {
    case VarekOpenFailure::None: return "none";
    case VarekOpenFailure::NoSuchPort: return "no_such_port";
    case VarekOpenFailure::PermissionDenied: return "permission_denied";
    case VarekOpenFailure::Busy: return "busy";
    case VarekOpenFailure::NotASerialDevice: return "not_a_serial_device";
    case VarekOpenFailure::SettingsRefused: return "settings_refused";
    case VarekOpenFailure::Other: return "other";
    case VarekOpenFailure::ConnectRefused: return "connect_refused";
    case VarekOpenFailure::ConnectTimedOut: return "connect_timed_out";
    case VarekOpenFailure::HostNotFound: return "host_not_found";
    case VarekOpenFailure::NoComPortAgreement: return "no_com_port_agreement";
    case VarekOpenFailure::NameMalformed: return "name_malformed";
    case VarekOpenFailure::UsbNameAmbiguous: return "usb_name_ambiguous";
    }
    return nullptr;
}

bool VarekPortLost(const VarekExchangeReport& report) {
    return report.outcome == VarekOutcome::ReadFailed || report.outcome == VarekOutcome::NotOpen ||
           (report.outcome == VarekOutcome::WriteIncomplete && report.bytes_written < 0);
}

bool VarekMayHaveActed(const VarekExchangeReport& report) {
    switch (report.outcome) {
    case VarekOutcome::Succeeded: return true;
    case VarekOutcome::OpenFailed:
    case VarekOutcome::NotOpen:
    case VarekOutcome::ArgumentRejected:
    case VarekOutcome::Refused: return false;
    default: return report.bytes_written > 0;
    }
}
