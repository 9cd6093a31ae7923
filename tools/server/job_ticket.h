// A request's claim on the instrument. Whoever settles it first answers the
// client: the worker by starting the job, or the connection by withdrawing
// it (its deadline passed, or its client left). A withdrawn job never runs,
// so a fire whose client has given up is never carried out later.
#ifndef VAREK_SERVER_JOB_TICKET_H
#define VAREK_SERVER_JOB_TICKET_H

#include <atomic>
#include <chrono>

namespace varek::server {

// How long a request may wait for the instrument, from its arrival: the
// server's promise to every client.
constexpr std::chrono::seconds kRequestDeadline{10};

class JobTicket {
public:
    using Clock = std::chrono::steady_clock;

    explicit JobTicket(Clock::time_point deadline = Clock::now() + kRequestDeadline) : deadline_(deadline) {}

    Clock::time_point deadline() const { return deadline_; }

    // The worker's claim: true when the job may run now.
    bool Start() { return Settle(State::Running); }
    // The connection's claim: true when the job will now never run.
    bool Withdraw() { return Settle(State::Withdrawn); }

private:
    enum class State { Waiting, Running, Withdrawn };

    bool Settle(State to) {
        State expected = State::Waiting;
        return state_.compare_exchange_strong(expected, to);
    }

    const Clock::time_point deadline_;
    std::atomic<State> state_{State::Waiting};
};

}  // namespace varek::server

#endif
