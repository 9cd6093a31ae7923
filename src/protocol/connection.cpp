// One connection: the port it owns, the request/response exchange, and the
// record of how the last operation ended.
#include <chrono>
#include <thread>

#include "protocol/frame_layout.h"
#include "protocol/frame_receiver.h"
#include "protocol/line_platform.h"
#include "protocol/quiet_line.h"
#include "varek/varek_ddg.h"

namespace {

// The port's name for messages: "COM12" rather than "\\.\COM12". Windows
// names are UTF-16; beyond ASCII they show as '?', which a message can bear.
std::string DisplayName(const PortNameChar* name) {
    std::string text;
    for (; name != nullptr && *name != 0; ++name) {
        const auto code = static_cast<std::uint32_t>(*name);
        text += sizeof(PortNameChar) == 1 || code < 0x80 ? static_cast<char>(*name) : '?';
    }
    const std::string device_namespace = "\\\\.\\";
    return text.rfind(device_namespace, 0) == 0 ? text.substr(device_namespace.size()) : text;
}

// Whether the reply to the request of `report`, which failed, may still be
// on its way: the request went out, or part of it, and no whole reply came.
bool ReplyMayFollow(const VarekExchangeReport& report) {
    switch (report.outcome) {
    case VarekOutcome::WriteIncomplete: return report.bytes_written > 0;
    case VarekOutcome::NothingArrived:
    case VarekOutcome::NoFrameHead:
    case VarekOutcome::FrameIncomplete:
    case VarekOutcome::LengthFieldTooSmall:
    case VarekOutcome::BadTail:
    case VarekOutcome::BadChecksum: return true;
    default: return false;
    }
}

// Drops whatever arrived since the last exchange (a late or surplus reply),
// so that it is not taken for the answer to the coming request. When a reply
// may still be on its way, or a network line sends faster than it can be
// emptied, the line must first fall quiet.
bool PurgeInput(SerialPort& port, VarekExchangeReport& report) {
    if (port.DiscardInput() && !report.reply_may_follow) return true;
    const auto read = [&port](std::uint8_t* buffer, std::int32_t count, std::int32_t wait_ms) {
        return port.Read(buffer, count, wait_ms);
    };
    const auto pause = [](std::int32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    if (!varek::AwaitQuietLine(read, varek::TickCountMs, pause, report)) return false;
    report.reply_may_follow = false;
    if (port.DiscardInput()) return true;
    report.outcome = VarekOutcome::LineKeepsSending;
    return false;
}

}  // namespace

VarekDDG::~VarekDDG() { Close(); }

bool VarekDDG::Open(const PortNameChar* port_name, std::int32_t baud) {
    last_exchange.Begin(0);
    last_exchange.port = DisplayName(port_name);
    last_exchange.baud = baud;
    last_exchange.reply_may_follow = false;
    if (!port.Open(port_name, baud, 8, StopBits::One, Parity::None, last_exchange.open_error)) {
        last_exchange.outcome = VarekOutcome::OpenFailed;
        return false;
    }
    last_exchange.outcome = VarekOutcome::Succeeded;
    return true;
}

void VarekDDG::Close() { port.Close(); }

bool VarekDDG::IsOpen() const { return port.IsOpen(); }

SerialPort& VarekDDG::Port() { return port; }

const VarekExchangeReport& VarekDDG::LastExchange() const { return last_exchange; }

bool VarekDDG::SendFrame(std::uint8_t cmd, std::uint16_t param, const std::uint8_t* payload, std::int32_t len,
                         VarekFrame* reply, std::int32_t timeout_ms) {
    last_exchange.Begin(timeout_ms);
    if (!port.IsOpen()) {
        last_exchange.outcome = VarekOutcome::NotOpen;
        return false;
    }
    std::vector<std::uint8_t>& request = last_exchange.request;
    BuildFrame(cmd, param, payload, len, request);
    if (request.empty()) {
        last_exchange.outcome = VarekOutcome::ArgumentRejected;
        last_exchange.rejection = "a payload of " + std::to_string(len) + " bytes; a frame carries 0.." +
                                  std::to_string(MAX_PAYLOAD_LENGTH);
        return false;
    }

    if (!PurgeInput(port, last_exchange)) return false;
    const auto request_size = static_cast<std::int32_t>(request.size());
    last_exchange.bytes_written = port.Write(request.data(), request_size, timeout_ms);
    if (last_exchange.bytes_written != request_size) {
        last_exchange.outcome = VarekOutcome::WriteIncomplete;
        last_exchange.reply_may_follow = ReplyMayFollow(last_exchange);
        return false;
    }
    if (reply == nullptr) {
        last_exchange.outcome = VarekOutcome::Succeeded;
        return true;
    }
    const std::uint64_t telnet_before = port.TelnetBytesReceived();
    const bool received = RecvFrame(*reply, timeout_ms);
    last_exchange.telnet_bytes = port.TelnetBytesReceived() - telnet_before;
    // Telnet commands are bytes from the line too, though none of the reply's.
    if (last_exchange.outcome == VarekOutcome::NothingArrived && last_exchange.telnet_bytes > 0)
        last_exchange.outcome = VarekOutcome::NoFrameHead;
    if (!received) last_exchange.reply_may_follow = ReplyMayFollow(last_exchange);
    return received;
}

bool VarekDDG::SendFrameU32(std::uint8_t cmd, std::uint16_t param, const std::vector<std::uint32_t>& words,
                            VarekFrame* reply, std::int32_t timeout_ms) {
    const std::vector<std::uint8_t> payload = varek::frame_layout::WordsToBytes(words);
    return SendFrame(cmd, param, payload.data(), static_cast<std::int32_t>(payload.size()), reply,
                     timeout_ms);
}

bool VarekDDG::RecvFrame(VarekFrame& reply, std::int32_t timeout_ms) {
    return varek::ReceiveFrame([this](std::uint8_t* buffer, std::int32_t count,
                                      std::int32_t wait_ms) { return port.ReadAll(buffer, count, wait_ms); },
                               varek::TickCountMs, reply, timeout_ms, last_exchange);
}
