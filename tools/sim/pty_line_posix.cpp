// The pseudo-terminal line: the only serial code of the simulator's own, so
// that the tests check the library's serial layer against something not
// written with it.
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "line.h"
#include "line_settings.h"
#include "pty_device.h"

namespace varek::sim {

namespace {

class PtyLine : public Line {
public:
    explicit PtyLine(std::string link_path) : link_path_(std::move(link_path)) { Revive(); }

    const std::string& device() const override { return device_; }
    bool up() const override { return pty_ != nullptr && pty_->master() >= 0; }

    std::size_t Read(std::uint8_t* buffer, std::size_t count, std::chrono::nanoseconds wait) override {
        pollfd entry{pty_->master(), POLLIN, 0};
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
        const timespec timeout{static_cast<time_t>(seconds.count()),
                               static_cast<long>((wait - seconds).count())};
        if (ppoll(&entry, 1, &timeout, nullptr) <= 0) return 0;
        const ssize_t got = read(pty_->master(), buffer, count);
        // The keeper holds the slave open, so the master never sees a hang-up.
        return got > 0 ? static_cast<std::size_t>(got) : 0;
    }

    std::size_t Write(const std::uint8_t* bytes, std::size_t count) override {
        const ssize_t put = write(pty_->master(), bytes, count);
        return put > 0 ? static_cast<std::size_t>(put) : 0;  // full: the host is not reading
    }

    void HangUp() override { pty_->Close(); }

    void Revive() override {
        if (pty_ != nullptr) pty_->Close();
        pty_ = std::make_unique<PtyDevice>();
        if (!link_path_.empty()) pty_->Link(link_path_);
        device_ = pty_->device_path();
    }

    std::string HostSettings() const override {
        return up() ? DescribeLineSettings(pty_->slave_keeper()) : "";
    }

private:
    std::string link_path_;
    std::string device_;
    std::unique_ptr<PtyDevice> pty_;
};

}  // namespace

std::unique_ptr<Line> OpenPseudoTerminal(const std::string& link_path) {
    return std::make_unique<PtyLine>(link_path);
}

}  // namespace varek::sim
