#include "net/network_line.h"

#include <algorithm>
#include <chrono>

#include "net/tcp_socket.h"

namespace varek::net {

namespace {

using Clock = std::chrono::steady_clock;

// Control bytes (option answers, settings, purges) are a few bytes each; a
// connection that cannot take them this fast is as good as gone.
constexpr std::int32_t kControlSendMs = 1000;

bool SendAll(NativePortHandle socket, const std::vector<std::uint8_t>& bytes, std::int32_t timeout_ms) {
    if (bytes.empty()) return true;
    const auto size = static_cast<std::int32_t>(bytes.size());
    return Send(socket, bytes.data(), size, timeout_ms) == size;
}

std::int32_t RemainingMs(Clock::time_point end) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
    return left > 0 ? static_cast<std::int32_t>(left) : 0;
}

// The wait for control bytes within a wait of `timeout_ms` (negative: none).
std::int32_t ControlSendMs(std::int32_t timeout_ms) {
    return timeout_ms < 0 || timeout_ms > kControlSendMs ? kControlSendMs : timeout_ms;
}

}  // namespace

NetworkLine::NetworkLine(NativePortHandle socket, bool telnet) : socket_(socket) {
    if (telnet) telnet_.emplace();
}

NetworkLine::~NetworkLine() { CloseSocket(socket_); }

std::unique_ptr<NetworkLine> NetworkLine::Open(const NetworkAddress& address, std::int32_t baud,
                                               std::int32_t data_bits, StopBits stop_bits, Parity parity,
                                               VarekOpenError& error) {
    const bool telnet = address.kind == NetworkKind::Rfc2217;
    const std::vector<std::uint8_t> settings = TelnetStream::LineSettings(baud, data_bits, stop_bits, parity);
    if (settings.empty()) {
        // Refused before connecting, as a serial port refuses them.
        error = {VarekOpenFailure::SettingsRefused, 0};
        return nullptr;
    }
    const NativePortHandle socket = Connect(address.host, address.port, kConnectTimeoutMs, error);
    if (socket == NoSocket()) return nullptr;
    std::unique_ptr<NetworkLine> line(new NetworkLine(socket, telnet));
    if (telnet && (!line->AgreeOnComPort(error) || !SendAll(socket, settings, kControlSendMs))) {
        if (error.failure == VarekOpenFailure::None) error = {VarekOpenFailure::Other, 0};
        return nullptr;
    }
    return line;
}

bool NetworkLine::AgreeOnComPort(VarekOpenError& error) {
    if (!SendAll(socket_, TelnetStream::Greeting(), kControlSendMs)) return false;
    // Only the COM port option is waited for, and only this long: nothing
    // else a server may or may not answer (modem lines, above all) holds up
    // the open.
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(kAgreementTimeoutMs);
    while (telnet_->agreement() == ComPortAgreement::Pending) {
        const std::int32_t left = RemainingMs(end);
        if (left == 0 || ReceiveDecoded(left, ControlSendMs(left)) < 0) break;
    }
    line_.clear();  // whatever the line sent before it was set up is no reply of ours
    if (telnet_->agreement() == ComPortAgreement::Agreed) return true;
    error = {VarekOpenFailure::NoComPortAgreement, 0};
    return false;
}

std::int32_t NetworkLine::ReceiveDecoded(std::int32_t timeout_ms, std::int32_t answer_ms,
                                         std::int32_t wake_at) {
    std::uint8_t wire[512];
    const std::int32_t got = Receive(socket_, wire, sizeof wire, timeout_ms, wake_at);
    if (got <= 0) return got;
    std::vector<std::uint8_t> answers;
    const std::size_t line_before = line_.size();
    telnet_->Take(wire, static_cast<std::size_t>(got), line_, answers);
    telnet_bytes_ += static_cast<std::uint64_t>(got) - (line_.size() - line_before);
    return SendAll(socket_, answers, answer_ms) ? got : -1;
}

std::int32_t NetworkLine::Read(std::uint8_t* buffer, std::int32_t count, std::int32_t timeout_ms) {
    if (!telnet_) return Receive(socket_, buffer, count, timeout_ms);
    const bool unlimited = timeout_ms < 0;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(unlimited ? 0 : timeout_ms);
    // Telnet commands alone bring no line bytes: wait on for those, but no
    // longer than the read's own wait, however many commands come.
    while (line_.empty()) {
        const std::int32_t left = unlimited ? -1 : RemainingMs(end);
        const std::int32_t got = ReceiveDecoded(left, ControlSendMs(left));
        if (got < 0) return -1;
        if (got == 0) return 0;  // the time-out passed
        if (line_.empty() && !unlimited && RemainingMs(end) == 0) return 0;
    }
    const auto taken = static_cast<std::int32_t>(std::min(line_.size(), static_cast<std::size_t>(count)));
    std::copy_n(line_.begin(), taken, buffer);
    line_.erase(line_.begin(), line_.begin() + taken);
    return taken;
}

std::int32_t NetworkLine::ReadAll(std::uint8_t* buffer, std::int32_t count, std::int32_t timeout_ms) {
    const bool unlimited = timeout_ms < 0;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(unlimited ? 0 : timeout_ms);
    std::int32_t got = 0;
    if (!telnet_) {
        while (got < count) {
            const std::int32_t left = unlimited ? -1 : RemainingMs(end);
            const std::int32_t taken = Receive(socket_, buffer + got, count - got, left, count - got);
            if (taken < 0) return got > 0 ? got : -1;
            if (taken == 0) break;  // the wait is over
            got += taken;
        }
        return got;
    }
    // Escaped bytes and Telnet commands only add to what comes over the
    // wire, so waiting for as many wire bytes as line bytes are missing
    // never waits for more than the line sends.
    const auto wanted = static_cast<std::size_t>(count);
    // However many commands keep coming, the wait ends when it is over.
    bool failed = false;
    while (line_.size() < wanted) {
        const std::int32_t left = unlimited ? -1 : RemainingMs(end);
        const auto missing = static_cast<std::int32_t>(wanted - line_.size());
        const std::int32_t received = ReceiveDecoded(left, ControlSendMs(left), missing);
        failed = received < 0;
        if (received <= 0 || left == 0) break;
    }
    if (failed && line_.empty()) return -1;
    const auto taken = static_cast<std::int32_t>(std::min(line_.size(), wanted));
    std::copy_n(line_.begin(), taken, buffer);
    line_.erase(line_.begin(), line_.begin() + taken);
    return taken;
}

std::int32_t NetworkLine::Write(const std::uint8_t* bytes, std::int32_t count, std::int32_t timeout_ms) {
    if (!telnet_) return Send(socket_, bytes, count, timeout_ms);
    std::vector<std::uint8_t> wire;
    TelnetStream::Escape(bytes, static_cast<std::size_t>(count), wire);
    const std::int32_t sent = Send(socket_, wire.data(), static_cast<std::int32_t>(wire.size()), timeout_ms);
    if (sent < 0) return -1;
    return static_cast<std::int32_t>(
        TelnetStream::LineBytesSent(bytes, static_cast<std::size_t>(count), static_cast<std::size_t>(sent)));
}

bool NetworkLine::DiscardInput() {
    std::uint8_t wire[512];
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(kDiscardLimitMs);
    // Over Telnet the bytes are decoded, so that option requests among them
    // are answered, not lost with the line's bytes. Only line bytes can be
    // taken for a reply: a line that sends nothing but Telnet commands counts
    // as emptied once the wait is over.
    bool emptied = false;
    while (!emptied) {
        line_.clear();
        const std::int32_t got = telnet_ ? ReceiveDecoded(0, ControlSendMs(RemainingMs(end)))
                                         : Receive(socket_, wire, sizeof wire, 0);
        emptied = got <= 0;
        if (Clock::now() >= end) break;
    }
    emptied = emptied || (telnet_ && line_.empty());
    line_.clear();
    if (telnet_) SendAll(socket_, TelnetStream::PurgeReceived(), kControlSendMs);
    return emptied;
}

}  // namespace varek::net
