// HOST:PORT as the programs' listening options take it (varek-server's
// --listen and --frames, varek-sim's --listen).
#ifndef VAREK_TOOLS_LISTEN_ADDRESS_H
#define VAREK_TOOLS_LISTEN_ADDRESS_H

#include <string>

namespace varek::tools {

struct ListenAddress {
    std::string host;         // an IPv6 address without its brackets; localhost as 127.0.0.1
    unsigned short port = 0;  // 0: any free port
};

// `value` of `option` as HOST:PORT; throws UsageError naming the option.
ListenAddress ParseListenAddress(const std::string& option, const std::string& value);

// HOST:PORT as the user writes it, an IPv6 address in brackets: [::1]:8470.
std::string HostAndPort(const std::string& host, unsigned short port);

}  // namespace varek::tools

#endif
