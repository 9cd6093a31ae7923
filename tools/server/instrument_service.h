// The one connection with the instrument, owned by one worker thread: every
// request that touches the instrument is a job in its queue, so exchanges
// never overlap, however many clients there are. When the port goes away
// (an adapter unplugged) the service says so and reopens it every second.
#ifndef VAREK_SERVER_INSTRUMENT_SERVICE_H
#define VAREK_SERVER_INSTRUMENT_SERVICE_H

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "varek/varek_ddg.h"

namespace varek::server {

// How a job went, beside the operations' own results.
enum class JobResult {
    Done,      // the job ran; its result and the connection's record say how
    PortGone,  // the port went away, before the job or during it
};

// Where jobs for the instrument go: the service, or a stand-in for fuzzing.
class InstrumentBackend {
public:
    // A job runs with the open connection; it returns false when an
    // operation failed (the connection's record says why).
    using Job = std::function<bool(VarekDDG&)>;
    // Hears how the job went, on the thread that ran it.
    using Done = std::function<void(JobResult, bool ok, const VarekExchangeReport& report)>;

    virtual ~InstrumentBackend() = default;
    virtual const std::string& port() const = 0;
    virtual void Submit(Job job, Done done) = 0;
};

class InstrumentService : public InstrumentBackend {
public:
    // Opens `port` at `baud` (port names as the C interface takes them).
    // Throws std::runtime_error, with the library's reason, when it cannot.
    InstrumentService(std::string port, std::int32_t baud);
    ~InstrumentService() override;
    InstrumentService(const InstrumentService&) = delete;
    InstrumentService& operator=(const InstrumentService&) = delete;

    const std::string& port() const override { return port_; }
    // Queues `job` for the worker thread; `done` hears how it went.
    void Submit(Job job, Done done) override;

private:
    void Work();
    // Whether the failure in `report` means the port itself went away.
    static bool PortLost(const VarekExchangeReport& report);
    bool Reopen();

    const std::string port_;
    const std::int32_t baud_;
    VarekDDG device_;
    bool gone_ = false;
    std::chrono::steady_clock::time_point next_reopen_{};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::pair<Job, Done>> jobs_;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace varek::server

#endif
