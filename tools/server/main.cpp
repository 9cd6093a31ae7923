// varek-server: owns the instrument's port and serves it to any number of
// clients as JSON over HTTP, with a front panel page.
#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <chrono>
#include <cstdio>
#include <optional>

#include "api.h"
#include "frame_server.h"
#include "http_server.h"
#include "instrument_service.h"
#include "port_option.h"
#include "server_options.h"
#include "setup_memory.h"
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
    InstrumentService instrument(port.name(), options.baud,
                                 [&memory](VarekDDG& d) { return memory.Restore(d); });
    Api api(instrument, memory, options.token, HostPolicy{options.host, options.allowed_hosts});
    HttpServer server(io, options.host, options.listen_port, api, options.max_connections);
    std::optional<FrameServer> frames;
    if (options.frames_host) {
        frames.emplace(io, *options.frames_host, options.frames_port, instrument, options.frames_allow,
                       options.max_connections);
    }
    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    bool stopping = false;
    signals.async_wait([&](const boost::system::error_code& error, int) {
        if (error) return;
        // Take nothing new; let the running exchange end and answer the
        // waiting requests; then close once their answers are out.
        server.Shutdown();
        if (frames) frames->Shutdown();
        instrument.Stop();
        stopping = true;
    });
    const bool v6 = options.host.find(':') != std::string::npos;
    std::printf("listening on http://%s%s%s:%u/ (instrument on %s%s)\n", v6 ? "[" : "", options.host.c_str(),
                v6 ? "]" : "", server.port(), port.name().c_str(), port.simulated() ? ", simulated" : "");
    if (frames) {
        const bool frames_v6 = options.frames_host->find(':') != std::string::npos;
        std::printf("frames on socket://%s%s%s:%u\n", frames_v6 ? "[" : "", options.frames_host->c_str(),
                    frames_v6 ? "]" : "", frames->port());
    }
    std::fflush(stdout);
    while (!stopping && io.run_one() > 0) {
    }
    io.run_for(kShutdownGrace);
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "varek-server: %s\n", error.what());
        return kExitUsage;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "varek-server: %s\n", error.what());
        return kExitFailed;
    }
}
