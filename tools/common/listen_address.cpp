#include "listen_address.h"

#include "tool_error.h"

namespace varek::tools {

ListenAddress ParseListenAddress(const std::string& option, const std::string& value) {
    const std::size_t colon = value.rfind(':');
    const std::string number = colon == std::string::npos ? "" : value.substr(colon + 1);
    if (colon == 0 || number.empty() || number.size() > 5 ||
        number.find_first_not_of("0123456789") != std::string::npos || std::stoi(number) > 65535) {
        throw UsageError(option + " takes HOST:PORT, such as 127.0.0.1:8470, got " + value);
    }
    ListenAddress address;
    address.host = value.substr(0, colon);
    if (address.host.size() > 2 && address.host.front() == '[' && address.host.back() == ']') {
        address.host = address.host.substr(1, address.host.size() - 2);
    }
    if (address.host == "localhost") address.host = "127.0.0.1";
    address.port = static_cast<unsigned short>(std::stoi(number));
    return address;
}

std::string HostAndPort(const std::string& host, unsigned short port) {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace varek::tools
