// HOST:PORT as the programs' listening options take it (varek-server's
// --listen and --frames, varek-sim's --listen), by the library's rule.
#ifndef VAREK_TOOLS_LISTEN_ADDRESS_H
#define VAREK_TOOLS_LISTEN_ADDRESS_H

#include <string>

#include "varek/user_input.h"

namespace varek::tools {

struct ListenAddress {
    std::string host;         // an IPv6 address without its brackets; localhost as 127.0.0.1
    unsigned short port = 0;  // 0: any free port
};

// `value` of `option` as HOST:PORT; throws UsageError naming the option.
ListenAddress ParseListenAddress(const std::string& option, const std::string& value);

}  // namespace varek::tools

#endif
