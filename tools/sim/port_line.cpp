// The line as an existing serial port, opened and driven through the
// library's own SerialPort on both platforms.
#include <algorithm>
#include <thread>

#include "line.h"
#include "varek/exchange_report.h"
#include "varek/ports.h"

namespace varek::sim {

namespace {

using Clock = std::chrono::steady_clock;

// Reads keep the mode the port opens in, returning at once with what has
// arrived (on Linux after waiting in poll for a first byte), so a longer wait
// is made of reads and short rests. A Windows read left pending and cancelled
// when the wait ends is what this avoids: Wine's serial driver ignores the
// time-out record that would end such a read by itself, and now and then loses
// a read cancelled as bytes arrive, so that the wait for the cancel never ends.
constexpr std::chrono::milliseconds kReadRest{1};
// A write the line does not take within this long is cut short by the port's
// own write time-out, and the rest tried again later.
constexpr std::int32_t kWriteWaitMs = 20;
// Beyond the port's write time-out: the port ends a slow write, not a cancel.
constexpr std::int32_t kWriteGraceMs = 1000;

class PortLine : public Line {
public:
    PortLine(std::string name, std::int32_t baud) : name_(std::move(name)), baud_(baud) { Revive(); }

    const std::string& device() const override { return name_; }
    bool up() const override { return port_.IsOpen(); }

    std::size_t Read(std::uint8_t* buffer, std::size_t count, std::chrono::nanoseconds wait) override {
        const auto deadline = Clock::now() + wait;
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            const std::int32_t got =
                port_.Read(buffer, static_cast<std::int32_t>(count),
                           static_cast<std::int32_t>(std::max<long long>(left.count(), 0)));
            if (got < 0)
                throw LineLost("the port " + name_ + " failed: was it unplugged, or its other end closed?");
            const auto now = Clock::now();
            if (got > 0 || now >= deadline) return static_cast<std::size_t>(got);
            std::this_thread::sleep_for(std::min<Clock::duration>(kReadRest, deadline - now));
        }
    }

    std::size_t Write(const std::uint8_t* bytes, std::size_t count) override {
        const std::int32_t put =
            port_.Write(bytes, static_cast<std::int32_t>(count), kWriteWaitMs + kWriteGraceMs);
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
        port_.SetTimeout(0, kWriteWaitMs);
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
