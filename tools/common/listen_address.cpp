#include "listen_address.h"

#include "tool_error.h"

namespace varek::tools {

ListenAddress ParseListenAddress(const std::string& option, const std::string& value) {
    std::string why;
    const auto parsed = VarekParseHostAndPort(value, 0, why);
    if (!parsed) throw UsageError(option + " takes HOST:PORT, such as 127.0.0.1:8470, got " + value);
    ListenAddress address{parsed->host, parsed->port};
    if (address.host == "localhost") address.host = "127.0.0.1";
    return address;
}

}  // namespace varek::tools
