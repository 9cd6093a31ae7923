// The one connection with the instrument, owned by one worker thread: every
// request that touches the instrument is a job in its queue, so exchanges
// never overlap, however many clients there are. When the port goes away
// (an adapter unplugged) the service says so and reopens it every second.
// A job waits no longer than its ticket's deadline, and a queue too deep to
// serve within that deadline refuses new jobs at once.
//
// The worker also runs an I/O context of its own, between jobs and never
// during one: connections served there (the frame port's) reach the
// instrument, and their answers leave, without a hand-over between threads.
#ifndef VAREK_SERVER_INSTRUMENT_SERVICE_H
#define VAREK_SERVER_INSTRUMENT_SERVICE_H

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "job_ticket.h"
#include "varek/ports.h"
#include "varek/varek_ddg.h"

namespace varek::server {

// How a job went, beside the operations' own results.
enum class JobResult {
    Done,      // the job ran; its result and the connection's record say how
    PortGone,  // the port went away, before the job or during it
    Busy,      // refused on arrival: the jobs ahead would outlast its deadline
    Expired,   // its deadline passed while it waited; it never ran
    Stopping,  // the server is shutting down; it never ran
};

// Where jobs for the instrument go: the service, or a stand-in for fuzzing.
class InstrumentBackend {
public:
    // A job runs with the open connection; it returns false when an
    // operation failed (the connection's record says why).
    using Job = std::function<bool(VarekDDG&)>;
    // Hears how the job went, on the thread that settled it: its result, the
    // connection's record of the last exchange, and how the port was last
    // opened (for PortGone, why it is not open when a reopen failed). It is
    // not called for a job whose ticket someone else withdrew: that one answers.
    using Done = std::function<void(JobResult, bool ok, const VarekExchangeReport& report,
                                    const VarekPortOpening& opening)>;

    virtual ~InstrumentBackend() = default;
    virtual const std::string& port() const = 0;
    virtual void Submit(Job job, Done done, std::shared_ptr<JobTicket> ticket) = 0;
};

// What the service tells its owner, each on the worker thread.
struct ServiceHooks {
    // Runs before any job each time the port opens: at start, and whenever it
    // comes back after being gone.
    InstrumentBackend::Job on_open;
    // After each queued job that reached the instrument: its last exchange,
    // and how long the job took.
    std::function<void(const VarekExchangeReport&, std::chrono::steady_clock::duration)> on_job;
    // The port went away (false) or came back (true).
    std::function<void(bool up)> on_port;
};

class InstrumentService : public InstrumentBackend {
public:
    // Opens `port` at `baud` (any name the library resolves: COM12, usb:VID:PID).
    // Throws std::runtime_error, with the library's reason, when it cannot.
    InstrumentService(std::string port, std::int32_t baud, ServiceHooks hooks = {});
    ~InstrumentService() override;
    InstrumentService(const InstrumentService&) = delete;
    InstrumentService& operator=(const InstrumentService&) = delete;

    const std::string& port() const override { return port_; }
    // Queues `job` for the worker thread; `done` hears how it went.
    void Submit(Job job, Done done, std::shared_ptr<JobTicket> ticket) override;
    // Lets the running job end, answers every waiting one with Stopping,
    // and joins the worker. Later jobs are answered with Stopping at once.
    void Stop();
    // How long since a job last ran (or since the start, when none has).
    std::chrono::steady_clock::duration IdleFor() const;
    // The worker's I/O context. Its handlers run on the worker, one at a
    // time, before each job and while none waits; what they hand to Submit
    // runs next. Objects served there are shut down through it, by a post.
    boost::asio::io_context& io() { return io_; }

private:
    struct Queued {
        Job job;
        Done done;
        std::shared_ptr<JobTicket> ticket;
    };
    using Clock = std::chrono::steady_clock;

    void Work();
    // Runs `next` unless it was withdrawn or is past its deadline; true when
    // it reached the instrument.
    bool Run(Queued& next);
    bool Reopen();
    // Runs `job` now; when it failed because the port went away, closes it.
    // True when the port is lost.
    bool RunOnPort(const Job& job, bool& ok);
    // Resolves the port's name and opens it; false when either failed.
    bool Open();
    // How long the jobs waiting now, and one more, may be expected to take.
    Clock::duration ExpectedWait() const;
    void WakeWorker();

    const std::string port_;
    const std::int32_t baud_;
    const ServiceHooks hooks_;
    std::atomic<Clock::rep> last_job_end_;
    VarekDDG device_;
    VarekPortOpening opening_;  // how the last open went
    bool gone_ = false;
    Clock::time_point next_reopen_{};
    boost::asio::io_context io_;
    std::mutex mutex_;
    std::deque<Queued> jobs_;
    bool running_ = false;
    // A running average of how long a job takes, the basis of ExpectedWait.
    Clock::duration typical_job_{};
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace varek::server

#endif
