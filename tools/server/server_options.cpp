#include "server_options.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "api.h"
#include "listen_address.h"
#include "openapi_document.h"
#include "port_option.h"
#include "program_version.h"
#include "request_guard.h"
#include "tool_error.h"
#include "unit_option.h"
#include "varek/user_input.h"

namespace varek::server {

namespace {

using varek::tools::UsageError;

// A token file holds a token, not a document: reading stops here.
constexpr std::size_t kMaxTokenFileBytes = 4096;

void PrintUsage(std::FILE* out) {
    std::fprintf(
        out,
        "usage: varek-server [--port PORT] [--baud N] [--listen HOST:PORT] [--token-file FILE]\n"
        "                    [--allow-host NAME]... [--max-connections N]\n"
        "                    [--frames HOST:PORT [--frames-allow CIDR[,CIDR]...] [--frames-idle SECONDS]]\n"
        "                    [--state-file FILE] [--unit UNIT] [--poll SECONDS] [--metrics-open]\n"
        "       varek-server --version | --openapi\n"
        "Opens the instrument on PORT (COM12, /dev/ttyUSB0, socket://HOST:PORT; sim for a\n"
        "simulated instrument on Linux; default: the environment variable VAREK_PORT) and serves\n"
        "it over HTTP: JSON under /api/v1/ and a front panel at /. Every request that reaches\n"
        "the instrument waits its turn in one queue, for at most 10 s. Listens on 127.0.0.1:8470\n"
        "unless --listen says otherwise; an address beyond this machine needs --token-file, whose\n"
        "first line every API request must then carry as \"Authorization: Bearer TOKEN\".\n"
        "Requests must name this server as their Host: its address, a loopback name, or a NAME\n"
        "given with --allow-host (such as a reverse proxy's). At most N connections at once\n"
        "(default %zu); more are answered 503.\n"
        "--frames HOST:PORT also serves the instrument's own frame protocol on a TCP port, so\n"
        "that programs using the library with socket://HOST:PORT share the instrument: each\n"
        "request frame waits its turn in the same queue. It carries no token: it listens on\n"
        "loopback, or for the networks --frames-allow names (loopback only when named);\n"
        "other clients are closed at once. At most N frame clients at once, too; at that limit a\n"
        "new client takes the place of the one idle longest, once that one has been idle 10 s.\n"
        "A frame client idle for --frames-idle SECONDS (default 300) is closed.\n"
        "The server remembers what it set, the trigger mode and the outputs among it, which\n"
        "the instrument cannot report, and shows where the read-back differs (drift).\n"
        "--state-file FILE keeps what was set in FILE (replaced whole at each change) and\n"
        "applies it, then reads it back, at start and whenever the port comes back.\n"
        "--unit UNIT (else VAREK_UNIT) says what one unit of the instrument is, from its\n"
        "manual (1ns, 10ps): the page then shows and takes times with SI prefixes.\n"
        "--poll SECONDS: after that long without a request the server reads the status and\n"
        "the temperature itself, so that drift, /metrics and the page stay current\n"
        "(default 5; 0: never). GET /metrics gives Prometheus's text format; with a token file\n"
        "it needs the token like the API, unless --metrics-open. What happens (start, the port lost and "
        "back, a\n"
        "setup restored, drift, a refused token) goes to stderr, one line each, UTC time first.\n"
        "GET /api/v1/openapi.json (or --openapi) gives the API as an OpenAPI 3.1 document; every\n"
        "error is {\"error\": WORDS, \"outcome\": NAME}.\n"
        "Exit codes: 1 the port or the address failed, 2 a usage error.\n",
        kDefaultMaxConnections);
}

std::string TokenFrom(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::string content(kMaxTokenFileBytes + 1, '\0');
    if (in) in.read(&content[0], static_cast<std::streamsize>(content.size()));
    if (!in && !in.eof()) throw UsageError("cannot read the token file " + file);
    content.resize(static_cast<std::size_t>(in.gcount()));
    if (content.size() > kMaxTokenFileBytes) {
        throw UsageError("the token file " + file + " is larger than 4 KiB: it should hold the token alone");
    }
    const std::string token = NormalizedToken(content.substr(0, content.find('\n')));
    if (token.empty()) throw UsageError("the token file " + file + " holds no token on its first line");
    return token;
}

// `text` as a whole number from 1 to `high`, or nothing.
std::optional<std::int64_t> PositiveNumber(const std::string& text, std::int64_t high) {
    std::string ignored;
    return VarekParseWhole(text, 1, high, ignored);
}

}  // namespace

ServerOptions ParseOptions(int argc, char** argv) {
    ServerOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--version") {
            varek::tools::PrintVersion("varek-server");
            std::exit(varek::tools::kExitOk);
        }
        if (arg == "--help" || arg == "-h") {
            PrintUsage(stdout);
            std::exit(varek::tools::kExitOk);
        }
        if (arg == "--openapi") {
            std::fputs(OpenApiDocument().c_str(), stdout);
            std::exit(varek::tools::kExitOk);
        }
        if (arg == "--metrics-open") {
            options.metrics_open = true;
            continue;
        }
        if (i + 1 >= argc)
            throw UsageError("unknown or incomplete argument " + arg + " (varek-server --help)");
        const std::string value = argv[++i];
        if (arg == "--port") {
            options.port = value;
        } else if (arg == "--baud") {
            options.baud = varek::tools::ParseBaud(value);
        } else if (arg == "--listen") {
            const auto address = varek::tools::ParseListenAddress(arg, value);
            options.host = address.host;
            options.listen_port = address.port;
        } else if (arg == "--frames") {
            const auto address = varek::tools::ParseListenAddress(arg, value);
            options.frames_host = address.host;
            options.frames_port = address.port;
        } else if (arg == "--frames-allow") {
            options.frames_allow = NetworkFilter::Parse(value);
        } else if (arg == "--token-file") {
            options.token = TokenFrom(value);
        } else if (arg == "--allow-host") {
            if (value.empty() || value.find_first_of(" /:@") != std::string::npos) {
                throw UsageError("--allow-host takes a host name, such as lab-pc.example.org, got " + value);
            }
            options.allowed_hosts.push_back(value);
        } else if (arg == "--state-file") {
            if (value.empty()) throw UsageError("--state-file takes a file name");
            options.state_file = value;
        } else if (arg == "--frames-idle") {
            const auto seconds = PositiveNumber(value, 86400);
            if (!seconds) throw UsageError("--frames-idle takes whole seconds from 1 to 86400, got " + value);
            options.frames_idle_seconds = static_cast<unsigned>(*seconds);
        } else if (arg == "--poll") {
            const bool off = value == "0";
            const auto seconds = off ? std::optional<std::int64_t>(0) : PositiveNumber(value, 86400);
            if (!seconds) throw UsageError("--poll takes whole seconds from 0 (off) to 86400, got " + value);
            options.poll_seconds = static_cast<unsigned>(*seconds);
        } else if (arg == "--unit") {
            options.unit = value;
        } else if (arg == "--max-connections") {
            const auto count = PositiveNumber(value, 65535);
            if (!count)
                throw UsageError("--max-connections takes a whole number from 1 to 65535, got " + value);
            options.max_connections = static_cast<std::size_t>(*count);  // at most 65535
        } else {
            throw UsageError("unknown argument " + arg + " (varek-server --help)");
        }
    }
    options.port = varek::tools::ChosenPort(options.port);
    options.unit = varek::tools::ChosenUnit(options.unit);
    if (!IsLoopbackName(options.host) && !options.token) {
        throw UsageError(
            "listening on " + options.host +
            " reaches beyond this machine: give --token-file FILE, so that only holders of the token "
            "can drive the instrument");
    }
    if (options.frames_host && !IsLoopbackName(*options.frames_host) &&
        options.frames_allow.loopback_only()) {
        throw UsageError("the frame port carries no token: --frames " + *options.frames_host +
                         " reaches beyond this machine, so give --frames-allow CIDR[,CIDR] with the networks "
                         "that may use it");
    }
    return options;
}

}  // namespace varek::server
