// varek-server: owns the instrument's port and serves it to any number of
// clients as JSON over HTTP, with a front panel page.
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <chrono>
#include <cstdio>
#include <optional>

#include "api.h"
#include "event_log.h"
#include "frame_server.h"
#include "http_server.h"
#include "instrument_service.h"
#include "listen_address.h"
#include "port_option.h"
#include "program_main.h"
#include "routes.h"
#include "server_metrics.h"
#include "server_options.h"
#include "setup_memory.h"
#include "status_poller.h"
#include "tool_error.h"

namespace {

using namespace varek::server;
using namespace varek::tools;

// Once asked to stop, the server waits this long at most for answers to go out.
constexpr std::chrono::seconds kShutdownGrace{5};

int Run(int argc, char** argv) {
    const ServerOptions options = ParseOptions(argc, argv);
    const InstrumentPort port(options.port);
    // A malformed name is a usage error; the service resolves it again at
    // each reopen, since an adapter may come back on another port.
    ResolvedPort(port.name());
    // Declared first, so that it outlives the instrument's worker, which
    // posts answers to it until it is joined.
    boost::asio::io_context io;
    SetupMemory memory(options.state_file, options.unit);
    ServerMetrics metrics;
    ServiceHooks hooks;
    hooks.on_open = [&memory](VarekDDG& d) { return memory.Restore(d); };
    hooks.on_job = [&metrics](const VarekExchangeReport& report, std::chrono::steady_clock::duration took) {
        metrics.CountExchange(report.outcome, took);
    };
    hooks.on_port = [&metrics](bool up) {
        metrics.PortUp(up);
        if (up) metrics.CountReopen();
    };
    InstrumentService instrument(port.name(), options.baud, hooks);
    Api api(instrument, memory, metrics, options.token, options.metrics_open,
            HostPolicy{options.host, options.allowed_hosts});
    HttpServer server(io, options.host, options.listen_port, api, options.max_connections);
    // The frame port is served on the instrument's own thread: a request
    // frame reaches the instrument, and its reply the client, with no
    // hand-over between threads.
    std::optional<FrameServer> frames;
    if (options.frames_host) {
        frames.emplace(instrument.io(), *options.frames_host, options.frames_port, instrument,
                       options.frames_allow, options.max_connections,
                       std::chrono::seconds(options.frames_idle_seconds));
    }
    // Whichever way Run ends, the worker has stopped before the frame port,
    // whose handlers it runs, goes.
    const struct StopWorkerFirst {
        InstrumentService& instrument;
        ~StopWorkerFirst() { instrument.Stop(); }
    } stop_worker_first{instrument};
    StatusPoller poller(io, instrument, std::chrono::seconds(options.poll_seconds),
                        [&memory, &metrics](VarekDDG& d) {
                            Snapshot snapshot;
                            return ReadSnapshot(d, snapshot, memory, metrics);
                        });
    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    bool stopping = false;
    signals.async_wait([&](const boost::system::error_code& error, int) {
        if (error) return;
        LogEvent("stopping, as a signal asked");
        // Take nothing new; let the running exchange end and answer the
        // waiting requests; then close once their answers are out.
        poller.Stop();
        server.Shutdown();
        if (frames) boost::asio::post(instrument.io(), [&frames] { frames->Shutdown(); });
        instrument.Stop();
        stopping = true;
    });
    std::printf("listening on http://%s/ (instrument on %s%s)\n",
                VarekFormatHostAndPort(options.host, server.port()).c_str(), port.name().c_str(),
                port.simulated() ? ", simulated" : "");
    if (frames)
        std::printf("frames on socket://%s\n",
                    VarekFormatHostAndPort(*options.frames_host, frames->port()).c_str());
    std::fflush(stdout);
    LogEvent("started: instrument on " + port.name() + (port.simulated() ? " (simulated)" : "") +
             ", listening on " + VarekFormatHostAndPort(options.host, server.port()) +
             (frames ? ", frames on " + VarekFormatHostAndPort(*options.frames_host, frames->port())
                     : std::string()) +
             (options.token ? ", token required" : ", no token") +
             (options.state_file ? ", state file " + *options.state_file : std::string()));
    while (!stopping && io.run_one() > 0) {
    }
    io.run_for(kShutdownGrace);
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    return varek::tools::RunProgram("varek-server", [&] { return Run(argc, argv); });
}
