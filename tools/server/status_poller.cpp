#include "status_poller.h"

#include <memory>

namespace varek::server {

StatusPoller::StatusPoller(boost::asio::io_context& io, InstrumentService& instrument,
                           std::chrono::seconds every, InstrumentBackend::Job read)
    : timer_(io), instrument_(instrument), every_(every), read_(std::move(read)) {
    if (every_.count() > 0) Wait(every_);
}

void StatusPoller::Stop() {
    stopped_ = true;
    timer_.cancel();
}

void StatusPoller::Wait(std::chrono::steady_clock::duration delay) {
    timer_.expires_after(delay);
    timer_.async_wait([this](const boost::system::error_code& error) {
        if (error || stopped_) return;
        const auto idle = instrument_.IdleFor();
        if (idle >= every_) {
            // Nobody waits for its answer: how it went shows in the metrics and the log.
            instrument_.Submit(
                read_, [](JobResult, bool, const VarekExchangeReport&, const VarekPortOpening&) {},
                std::make_shared<JobTicket>());
            return Wait(every_);
        }
        Wait(every_ - idle);
    });
}

}  // namespace varek::server
