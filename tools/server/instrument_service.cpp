#include "instrument_service.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <stdexcept>

#include "event_log.h"
#include "varek/ports.h"

namespace varek::server {

namespace {

// How often a lost port is tried again.
constexpr std::chrono::seconds kReopenEvery{1};
// However fast the instrument, no more jobs wait than this: each holds a
// client's connection and its answer's memory.
constexpr std::size_t kMaxWaitingJobs = 256;

}  // namespace

InstrumentService::InstrumentService(std::string port, std::int32_t baud, ServiceHooks hooks)
    : port_(std::move(port)),
      baud_(baud),
      hooks_(std::move(hooks)),
      last_job_end_(Clock::now().time_since_epoch().count()) {
    if (!Open()) throw std::runtime_error(opening_.why);
    worker_ = std::thread([this] { Work(); });
}

bool InstrumentService::Open() {
    // A usb: name is resolved again each time: the adapter may come back on
    // another port.
    opening_ = VarekOpenPort(device_, port_.c_str(), baud_);
    return opening_.ok();
}

InstrumentService::~InstrumentService() { Stop(); }

std::chrono::steady_clock::duration InstrumentService::IdleFor() const {
    return Clock::now() - Clock::time_point(Clock::duration(last_job_end_.load()));
}

void InstrumentService::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    WakeWorker();
    if (worker_.joinable()) worker_.join();
}

void InstrumentService::WakeWorker() {
    // An empty handler: the worker, asleep in its I/O context, wakes for it.
    boost::asio::post(io_, [] {});
}

InstrumentService::Clock::duration InstrumentService::ExpectedWait() const {
    const auto ahead = static_cast<Clock::rep>(jobs_.size() + (running_ ? 1 : 0));
    return typical_job_ * (ahead + 1);
}

void InstrumentService::Submit(Job job, Done done, std::shared_ptr<JobTicket> ticket) {
    std::unique_lock<std::mutex> lock(mutex_);
    JobResult refusal = JobResult::Done;
    if (stopping_) {
        refusal = JobResult::Stopping;
    } else if (jobs_.size() >= kMaxWaitingJobs || Clock::now() + ExpectedWait() > ticket->deadline()) {
        refusal = JobResult::Busy;
    }
    if (refusal != JobResult::Done) {
        lock.unlock();
        if (ticket->Withdraw()) done(refusal, false, VarekExchangeReport{}, VarekPortOpening{});
        return;
    }
    jobs_.push_back({std::move(job), std::move(done), std::move(ticket)});
    lock.unlock();
    WakeWorker();
}

bool InstrumentService::Reopen() {
    next_reopen_ = Clock::now() + kReopenEvery;
    gone_ = !Open();
    if (gone_) return false;
    LogEvent("port " + port_ + " back");
    if (hooks_.on_port) hooks_.on_port(true);
    bool ok = false;
    if (hooks_.on_open) RunOnPort(hooks_.on_open, ok);
    return !gone_;
}

bool InstrumentService::RunOnPort(const Job& job, bool& ok) {
    ok = job(device_);
    last_job_end_.store(Clock::now().time_since_epoch().count());
    const bool lost = !ok && VarekPortLost(device_.LastExchange());
    if (lost) {
        LogEvent("port " + port_ + " lost: " + VarekDescribeOutcome(device_.LastExchange()) +
                 "; trying it again every second");
        device_.Close();
        gone_ = true;
        next_reopen_ = Clock::now() + kReopenEvery;
        if (hooks_.on_port) hooks_.on_port(false);
    }
    return lost;
}

bool InstrumentService::Run(Queued& next) {
    if (Clock::now() > next.ticket->deadline()) {
        if (next.ticket->Withdraw()) next.done(JobResult::Expired, false, VarekExchangeReport{}, opening_);
        return false;
    }
    // Withdrawn: its deadline passed or its client left, and it was answered then.
    if (!next.ticket->Start()) return false;
    if (gone_) {
        next.done(JobResult::PortGone, false, device_.LastExchange(), opening_);
        return false;
    }
    bool ok = false;
    const Clock::time_point started = Clock::now();
    const bool lost = RunOnPort(next.job, ok);
    if (hooks_.on_job) hooks_.on_job(device_.LastExchange(), Clock::now() - started);
    next.done(lost ? JobResult::PortGone : JobResult::Done, ok, device_.LastExchange(), opening_);
    return true;
}

void InstrumentService::Work() {
    const auto keep_running = boost::asio::make_work_guard(io_);
    if (hooks_.on_open) {
        bool ok = false;
        RunOnPort(hooks_.on_open, ok);
    }
    std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
    for (;;) {
        // What came meanwhile goes first: requests, clients that left (so
        // that their jobs, withdrawn, never run), timers.
        io_.poll();
        lock.lock();
        if (stopping_) break;
        if (gone_ && Clock::now() >= next_reopen_) {
            lock.unlock();
            Reopen();
            continue;
        }
        if (jobs_.empty()) {
            lock.unlock();
            // Asleep until a handler is due: I/O, a timer, a job's wake, or the next reopen.
            if (gone_) {
                io_.run_one_until(next_reopen_);
            } else {
                io_.run_one();
            }
            continue;
        }
        Queued next = std::move(jobs_.front());
        jobs_.pop_front();
        running_ = true;
        lock.unlock();
        const Clock::time_point started = Clock::now();
        const bool ran = Run(next);
        const Clock::duration took = Clock::now() - started;
        lock.lock();
        running_ = false;
        if (ran) typical_job_ = (typical_job_ * 3 + took) / 4;
        lock.unlock();
    }
    std::deque<Queued> left;
    left.swap(jobs_);
    lock.unlock();
    for (Queued& job : left) {
        if (job.ticket->Withdraw()) job.done(JobResult::Stopping, false, VarekExchangeReport{}, opening_);
    }
}

}  // namespace varek::server
