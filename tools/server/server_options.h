// varek-server's command line.
#ifndef VAREK_SERVER_SERVER_OPTIONS_H
#define VAREK_SERVER_SERVER_OPTIONS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "network_filter.h"
#include "varek/varek_ddg.h"

namespace varek::server {

constexpr std::size_t kDefaultMaxConnections = 64;

struct ServerOptions {
    std::string port;  // as given, or VAREK_PORT
    std::int32_t baud = VarekDDG::DEFAULT_BAUD;
    std::string host = "127.0.0.1";
    unsigned short listen_port = 8470;
    std::optional<std::string> token;
    bool metrics_open = false;  // /metrics without the token, even when there is one
    std::vector<std::string> allowed_hosts;
    std::size_t max_connections = kDefaultMaxConnections;
    // The frame port, when --frames names one.
    std::optional<std::string> frames_host;
    unsigned short frames_port = 0;
    NetworkFilter frames_allow;             // loopback alone unless --frames-allow names networks
    unsigned frames_idle_seconds = 300;     // a frame client idle this long is closed
    std::optional<std::string> state_file;  // where what was set is kept, when named
    std::string unit;                       // what one unit is, "" when not declared
    // The server reads the status and the temperature itself after this many
    // seconds without a request; 0: never.
    unsigned poll_seconds = 5;
};

// Parses argv; prints the usage and exits for --help; throws
// varek::tools::UsageError for anything wrong.
ServerOptions ParseOptions(int argc, char** argv);

}  // namespace varek::server

#endif
