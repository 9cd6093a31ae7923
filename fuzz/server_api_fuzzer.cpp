// The server's request handling fed any method, path, headers, body and
// Authorization header: it must answer every request exactly once, with a
// status it knows and, for JSON, a body that parses. The instrument behind
// it is a connection that is not open, so every job fails as a lost port or
// an instrument failure would.
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "api.h"

namespace {

class ClosedInstrument : public varek::server::InstrumentBackend {
public:
    explicit ClosedInstrument(bool lost) : lost_(lost) {}
    const std::string& port() const override { return port_; }
    void Submit(Job job, Done done, std::shared_ptr<varek::server::JobTicket> ticket) override {
        if (!ticket->Start()) std::abort();  // nobody else may settle it here
        const bool ok = job(device_);
        done(lost_ ? varek::server::JobResult::PortGone : varek::server::JobResult::Done, ok,
             device_.LastExchange(), opening_);
    }

private:
    bool lost_;
    std::string port_ = "COM12";
    VarekDDG device_;
    VarekPortOpening opening_{{VarekOpenFailure::NoSuchPort, 2}, "cannot open COM12: no such port", "COM12"};
};

// The next line of `input` from `at`, which moves past it.
std::string NextLine(const std::string& input, std::size_t& at) {
    if (at >= input.size()) return "";
    const std::size_t end = std::min(input.find('\n', at), input.size());
    std::string line = input.substr(at, end - at);
    at = end + 1;
    return line;
}

std::optional<std::string> Header(const std::string& line) {
    if (line.empty()) return std::nullopt;
    return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Byte 0: the method; byte 1: bit 0 a token required, bit 1 the right
    // one sent, bit 2 the port lost, bit 3 HTTP/1.0; then lines: the target,
    // the Host, Origin and Content-Type headers (an empty line: absent);
    // then the body.
    if (size < 2) return 0;
    static const char* const kMethods[] = {"GET", "PUT", "POST", "DELETE", "HEAD", "OPTIONS", "PATCH", "get"};
    const std::string input(reinterpret_cast<const char*>(data) + 2, size - 2);
    std::size_t at = 0;
    varek::server::ApiRequest request;
    request.head.method = kMethods[data[0] % 8];
    request.head.version = (data[1] & 8) != 0 ? 10 : 11;
    request.target = NextLine(input, at);
    request.head.host = Header(NextLine(input, at));
    request.head.origin = Header(NextLine(input, at));
    request.head.content_type = Header(NextLine(input, at));
    request.body = at < input.size() ? input.substr(at) : "";
    request.head.has_body = !request.body.empty();
    request.authorization = (data[1] & 2) != 0 ? "bearer  token " : "Bearer tokem";

    ClosedInstrument instrument((data[1] & 4) != 0);
    varek::server::SetupMemory memory(std::nullopt, "");
    varek::server::ServerMetrics metrics;
    varek::server::Api api(instrument, memory, metrics,
                           (data[1] & 1) != 0 ? std::optional<std::string>("token") : std::nullopt,
                           (data[1] & 16) != 0, varek::server::HostPolicy{"127.0.0.1", {"lab-pc"}});
    int answers = 0;
    api.Handle(request, [&answers](const varek::server::ApiResponse& response) {
        ++answers;
        static const std::set<unsigned> kKnown = {200, 400, 401, 403, 404, 405, 413, 415, 421, 502, 503};
        if (kKnown.count(response.status) == 0) std::abort();
        if (response.content_type == "application/json" &&
            nlohmann::json::parse(response.body, nullptr, false).is_discarded()) {
            std::abort();
        }
    });
    if (answers != 1) std::abort();
    return 0;
}
