// Who may ask: the checks every request passes before the API looks at it,
// so that a web page from elsewhere, opened in a browser on this machine,
// can neither drive the instrument nor read it.
// - Host must name this server (DNS rebinding gives a foreign page our
//   address under its own name);
// - a request that changes something must not come from a foreign Origin
//   (a page may send, though not read, cross-site requests);
// - a body must be declared JSON (a plain form post or a no-cors fetch can
//   send only text/plain, form and multipart bodies, without asking).
#ifndef VAREK_SERVER_REQUEST_GUARD_H
#define VAREK_SERVER_REQUEST_GUARD_H

#include <optional>
#include <string>
#include <vector>

namespace varek::server {

struct HostPolicy {
    // The address the server listens on, as given (127.0.0.1, ::1, 0.0.0.0, 192.0.2.7).
    std::string listen_address;
    // Further names clients may reach it by (--allow-host), such as a reverse proxy's.
    std::vector<std::string> allowed_names;
};

// What a request says of itself and of where it comes from.
struct RequestHead {
    unsigned version = 11;  // HTTP/1.0 is 10, HTTP/1.1 is 11
    std::string method;
    std::optional<std::string> host;
    std::optional<std::string> origin;
    std::optional<std::string> content_type;
    bool has_body = false;
};

// The server's own reasons for an error answer, beside the library's
// outcomes; their names (ServerOutcomeName) go out in each error's body.
enum class ServerOutcome {
    Busy,                  // the request could not have its turn in time, or the server is full
    Expired,               // it waited past its deadline, and was not carried out
    PortGone,              // the instrument's port is gone; the server reopens it
    Stopping,              // the server is shutting down
    BadRequest,            // malformed JSON, a bad or unknown field, no Host in HTTP/1.1
    Unauthorized,          // the token is missing or wrong
    ForbiddenOrigin,       // a change sent from a page of another origin
    UnknownHost,           // the Host names no name of this server
    UnsupportedMediaType,  // a body not declared JSON
    NotFound,              // no such path or channel
    MethodNotAllowed,      // the path takes another method
    TooLarge,              // a body over the limit
    SetupDiffers,          // a setup applied, but read back otherwise
};

// "busy", "port_gone", ...
const char* ServerOutcomeName(ServerOutcome outcome);

struct Refusal {
    unsigned status;
    ServerOutcome outcome;
    std::string message;
};

// Nothing when the request may go on; else its status and the reason.
std::optional<Refusal> RefuseForeign(const RequestHead& request, const HostPolicy& policy);

// Whether `name` (a name or an address, without port or brackets) is this
// machine's own: localhost, 127.0.0.0/8, ::1.
bool IsLoopbackName(const std::string& name);

// Whether `host` (a Host header: a name or address, with or without a port)
// names this server under `policy`.
bool HostAllowed(const std::string& host, const HostPolicy& policy);

}  // namespace varek::server

#endif
