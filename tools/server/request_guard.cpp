#include "request_guard.h"

#include <algorithm>
#include <boost/asio/ip/address.hpp>
#include <cctype>

namespace varek::server {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The name or address of a Host header, without its port or brackets.
std::string HostName(const std::string& host) {
    if (!host.empty() && host.front() == '[') return Lower(host.substr(1, host.find(']') - 1));
    return Lower(host.substr(0, host.find(':')));
}

std::optional<boost::asio::ip::address> AddressOf(const std::string& name) {
    boost::system::error_code error;
    const auto address = boost::asio::ip::make_address(name, error);
    if (error) return std::nullopt;
    return address;
}

bool IsWildcard(const std::string& address) { return address == "0.0.0.0" || address == "::"; }

// The media type of a Content-Type header, without parameters such as charset.
std::string MediaType(const std::string& content_type) {
    std::string type = content_type.substr(0, content_type.find(';'));
    const auto not_space = [](unsigned char c) { return !std::isspace(c); };
    type.erase(type.begin(), std::find_if(type.begin(), type.end(), not_space));
    type.erase(std::find_if(type.rbegin(), type.rend(), not_space).base(), type.end());
    return Lower(type);
}

bool ChangesState(const std::string& method) {
    return method != "GET" && method != "HEAD" && method != "OPTIONS";
}

}  // namespace

bool IsLoopbackName(const std::string& name) {
    if (Lower(name) == "localhost") return true;
    const auto address = AddressOf(name);
    return address && address->is_loopback();
}

bool HostAllowed(const std::string& host, const HostPolicy& policy) {
    const std::string name = HostName(host);
    if (name.empty()) return false;
    if (IsLoopbackName(name)) return true;
    for (const std::string& allowed : policy.allowed_names) {
        if (name == Lower(allowed)) return true;
    }
    const auto address = AddressOf(name);
    if (!address) return false;
    // An address, unlike a name, cannot be rebound to another machine: on a
    // wildcard listen address every address of this machine is ours.
    if (IsWildcard(policy.listen_address)) return true;
    const auto listening = AddressOf(policy.listen_address);
    return listening && *listening == *address;
}

std::optional<Refusal> RefuseForeign(const RequestHead& request, const HostPolicy& policy) {
    if (!request.host) {
        if (request.version >= 11)
            return Refusal{400, ServerOutcome::BadRequest, "an HTTP/1.1 request must carry a Host header"};
    } else if (!HostAllowed(*request.host, policy)) {
        return Refusal{421, ServerOutcome::UnknownHost,
                       "this server does not answer to the name \"" + *request.host +
                           "\": reach it by its address, or start it with --allow-host NAME"};
    }
    if (request.origin && ChangesState(request.method)) {
        const std::string origin = Lower(*request.origin);
        const std::string host = Lower(request.host.value_or(""));
        if (host.empty() || (origin != "http://" + host && origin != "https://" + host)) {
            return Refusal{403, ServerOutcome::ForbiddenOrigin,
                           "a page from " + *request.origin + " may not change this instrument"};
        }
    }
    if (request.content_type ? MediaType(*request.content_type) != "application/json" : request.has_body) {
        return Refusal{415, ServerOutcome::UnsupportedMediaType,
                       "a request body must be JSON, sent with Content-Type: application/json"};
    }
    return std::nullopt;
}

}  // namespace varek::server
