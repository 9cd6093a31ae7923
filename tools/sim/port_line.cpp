// The line as an existing serial port, opened and driven through the
// library's own SerialPort on both platforms.
#ifdef _WIN32
#include <windows.h>  // the fields of the time-out record, which Windows defines
#endif

#include <algorithm>

#include "line.h"
#include "varek/exchange_report.h"
#include "varek/ports.h"

namespace varek::sim {

namespace {

// The longest one read of the port waits: the time-out record holds one
// fixed wait for a first byte, so longer waits are made of several reads.
constexpr std::uint32_t kReadTickMs = 10;
// A write that the line does not take within this long is tried again later.
constexpr std::int32_t kWriteWaitMs = 20;

class PortLine : public Line {
public:
    PortLine(std::string name, std::int32_t baud) : name_(std::move(name)), baud_(baud) { Revive(); }

    const std::string& device() const override { return name_; }
    bool up() const override { return port_.IsOpen(); }

    std::size_t Read(std::uint8_t* buffer, std::size_t count, std::chrono::nanoseconds wait) override {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        for (;;) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            const auto wait_ms = std::clamp<long long>(left.count(), 0, kReadTickMs);
            const std::int32_t got =
                port_.Read(buffer, static_cast<std::int32_t>(count), static_cast<std::int32_t>(wait_ms));
            if (got < 0)
                throw LineLost("the port " + name_ + " failed: was it unplugged, or its other end closed?");
            if (got > 0 || wait_ms == 0 || std::chrono::steady_clock::now() >= deadline) {
                return static_cast<std::size_t>(got);
            }
        }
    }

    std::size_t Write(const std::uint8_t* bytes, std::size_t count) override {
        const std::int32_t put = port_.Write(bytes, static_cast<std::int32_t>(count), kWriteWaitMs);
        if (put < 0) throw LineLost("writing to the port " + name_ + " failed: was it unplugged?");
        return static_cast<std::size_t>(put);
    }

    void HangUp() override { port_.Close(); }

    void Revive() override {
        const VarekResolvedPort port = VarekResolvePort(name_.c_str());
        if (!port.ok()) throw std::runtime_error(port.why);
        VarekExchangeReport report;
        report.port = port.name;
        report.baud = baud_;
        if (!port_.Open(port.system_name.c_str(), baud_, 8, StopBits::One, Parity::None, report.open_error)) {
            report.outcome = VarekOutcome::OpenFailed;
            throw std::runtime_error(VarekDescribeOutcome(report));
        }
        // A read returns what has arrived at once, or waits up to one tick
        // for a first byte: MAXDWORD interval and multiplier with a constant
        // is the one Windows setting that does this. Linux reads wait in poll.
        CommTimeouts timeouts{};
        timeouts.ReadIntervalTimeout = 0xFFFFFFFF;
        timeouts.ReadTotalTimeoutMultiplier = 0xFFFFFFFF;
        timeouts.ReadTotalTimeoutConstant = kReadTickMs;
        port_.SetTimeouts(timeouts);
    }

    std::string HostSettings() const override { return ""; }

private:
    std::string name_;
    std::int32_t baud_;
    SerialPort port_;
};

}  // namespace

std::unique_ptr<Line> OpenSerialPort(const std::string& name, std::int32_t baud) {
    return std::make_unique<PortLine>(name, baud);
}

}  // namespace varek::sim
