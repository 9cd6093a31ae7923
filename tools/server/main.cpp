// varek-server: owns the instrument's port and serves it to any number of
// clients as JSON over HTTP, with a front panel page.
#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "api.h"
#include "embedded_instrument.h"
#include "http_server.h"
#include "instrument_service.h"

namespace {

using namespace varek::server;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: varek-server [--port PORT] [--baud N] [--listen HOST:PORT] [--token-file FILE]\n"
                 "Opens the instrument on PORT (COM12, /dev/ttyUSB0; sim for a simulated instrument on\n"
                 "Linux; default: the environment variable VAREK_PORT) and serves it over HTTP: JSON under\n"
                 "/api/v1/ and a front panel at /. Every request that reaches the instrument waits its\n"
                 "turn in one queue. Listens on 127.0.0.1:8470 unless --listen says otherwise; an address\n"
                 "beyond this machine needs --token-file, whose first line every API request must then\n"
                 "carry as \"Authorization: Bearer TOKEN\".\n"
                 "Exit codes: 1 the port or the address failed, 2 a usage error.\n");
}

struct Options {
    std::string port;
    std::int32_t baud = 115200;
    std::string host = "127.0.0.1";
    unsigned short listen_port = 8470;
    std::optional<std::string> token;
};

std::string TokenFrom(const std::string& file) {
    std::ifstream in(file);
    std::string token;
    if (!in || !std::getline(in, token)) throw UsageError("cannot read the token file " + file);
    while (!token.empty() && (token.back() == '\r' || token.back() == ' ')) token.pop_back();
    if (token.empty()) throw UsageError("the token file " + file + " holds no token on its first line");
    return token;
}

bool IsLoopback(const std::string& host) {
    return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    const char* environment_port = std::getenv("VAREK_PORT");
    if (environment_port != nullptr) options.port = environment_port;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintUsage(stdout);
            std::exit(0);
        }
        if (i + 1 >= argc)
            throw UsageError("unknown or incomplete argument " + arg + " (varek-server --help)");
        const std::string value = argv[++i];
        if (arg == "--port") {
            options.port = value;
        } else if (arg == "--baud") {
            if (value.empty() || value.size() > 9 ||
                value.find_first_not_of("0123456789") != std::string::npos || std::stoi(value) == 0) {
                throw UsageError("--baud takes a baud rate, a positive whole number, got " + value);
            }
            options.baud = std::stoi(value);
        } else if (arg == "--listen") {
            const std::size_t colon = value.rfind(':');
            const std::string number = colon == std::string::npos ? "" : value.substr(colon + 1);
            if (number.empty() || number.size() > 5 ||
                number.find_first_not_of("0123456789") != std::string::npos || std::stoi(number) > 65535) {
                throw UsageError("--listen takes HOST:PORT, such as 127.0.0.1:8470, got " + value);
            }
            options.host = value.substr(0, colon);
            if (options.host.size() > 2 && options.host.front() == '[' && options.host.back() == ']') {
                options.host = options.host.substr(1, options.host.size() - 2);
            }
            if (options.host == "localhost") options.host = "127.0.0.1";
            options.listen_port = static_cast<unsigned short>(std::stoi(number));
        } else if (arg == "--token-file") {
            options.token = TokenFrom(value);
        } else {
            throw UsageError("unknown argument " + arg + " (varek-server --help)");
        }
    }
    if (options.port.empty()) {
        throw UsageError(
            "no port given: name the instrument's with --port PORT or VAREK_PORT (--port sim serves "
            "a simulated instrument)");
    }
    if (!IsLoopback(options.host) && !options.token) {
        throw UsageError(
            "listening on " + options.host +
            " reaches beyond this machine: give --token-file FILE, so that only holders of the token "
            "can drive the instrument");
    }
    return options;
}

int Run(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    std::unique_ptr<varek::sim::EmbeddedInstrument> simulated;
    std::string port = options.port;
    if (port == "sim") {
        try {
            simulated = std::make_unique<varek::sim::EmbeddedInstrument>();
        } catch (const std::runtime_error& error) {
            throw UsageError(std::string("--port sim: ") + error.what());
        }
        port = simulated->port();
    }
    InstrumentService instrument(port, options.baud);
    Api api(instrument, options.token);
    boost::asio::io_context io;
    HttpServer server(io, options.host, options.listen_port, api);
    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&io](const boost::system::error_code&, int) { io.stop(); });
    const bool v6 = options.host.find(':') != std::string::npos;
    std::printf("listening on http://%s%s%s:%u/ (instrument on %s%s)\n", v6 ? "[" : "", options.host.c_str(),
                v6 ? "]" : "", server.port(), port.c_str(), simulated ? ", simulated" : "");
    std::fflush(stdout);
    io.run();
    return 0;
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
