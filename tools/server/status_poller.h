// The server's own reads: when no client has asked for this long, it reads
// the instrument itself, through the one queue like any request, so that
// drift, the metrics and the page stay current.
#ifndef VAREK_SERVER_STATUS_POLLER_H
#define VAREK_SERVER_STATUS_POLLER_H

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>

#include "instrument_service.h"

namespace varek::server {

class StatusPoller {
public:
    // `every` zero: never.
    StatusPoller(boost::asio::io_context& io, InstrumentService& instrument, std::chrono::seconds every,
                 InstrumentBackend::Job read);
    void Stop();

private:
    void Wait(std::chrono::steady_clock::duration delay);

    boost::asio::steady_timer timer_;
    InstrumentService& instrument_;
    const std::chrono::seconds every_;
    const InstrumentBackend::Job read_;
    bool stopped_ = false;
};

}  // namespace varek::server

#endif
