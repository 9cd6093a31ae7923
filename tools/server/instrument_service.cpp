#include "instrument_service.h"

#include <stdexcept>

#include "capi/port_name.h"

namespace varek::server {

namespace {

// How often a lost port is tried again.
constexpr std::chrono::seconds kReopenEvery{1};

}  // namespace

InstrumentService::InstrumentService(std::string port, std::int32_t baud)
    : port_(std::move(port)), baud_(baud) {
    if (!device_.Open(HostPortName(port_.c_str()).c_str(), baud_)) {
        throw std::runtime_error(VarekDescribeOutcome(device_.LastExchange()));
    }
    worker_ = std::thread([this] { Work(); });
}

InstrumentService::~InstrumentService() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

void InstrumentService::Submit(Job job, Done done) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.emplace_back(std::move(job), std::move(done));
    }
    wake_.notify_one();
}

bool InstrumentService::PortLost(const VarekExchangeReport& report) {
    return report.outcome == VarekOutcome::ReadFailed || report.outcome == VarekOutcome::NotOpen ||
           (report.outcome == VarekOutcome::WriteIncomplete && report.bytes_written < 0);
}

bool InstrumentService::Reopen() {
    next_reopen_ = std::chrono::steady_clock::now() + kReopenEvery;
    gone_ = !device_.Open(HostPortName(port_.c_str()).c_str(), baud_);
    return !gone_;
}

void InstrumentService::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (gone_) {
            wake_.wait_until(lock, next_reopen_, [this] { return stopping_ || !jobs_.empty(); });
        } else {
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        }
        if (stopping_) return;
        if (gone_ && std::chrono::steady_clock::now() >= next_reopen_) {
            lock.unlock();
            Reopen();
            lock.lock();
        }
        if (jobs_.empty()) continue;
        auto [job, done] = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        if (gone_) {
            done(JobResult::PortGone, false, device_.LastExchange());  // the open's reason
        } else {
            const bool ok = job(device_);
            const bool lost = !ok && PortLost(device_.LastExchange());
            if (lost) {
                device_.Close();
                gone_ = true;
                next_reopen_ = std::chrono::steady_clock::now() + kReopenEvery;
            }
            done(lost ? JobResult::PortGone : JobResult::Done, ok, device_.LastExchange());
        }
        lock.lock();
    }
}

}  // namespace varek::server
