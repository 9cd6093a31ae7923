// The server's request handling fed any method, path, body and
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
    void Submit(Job job, Done done) override {
        const bool ok = job(device_);
        done(lost_ ? varek::server::JobResult::PortGone : varek::server::JobResult::Done, ok,
             device_.LastExchange());
    }

private:
    bool lost_;
    std::string port_ = "COM12";
    VarekDDG device_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Byte 0: the method; byte 1: bit 0 a token required, bit 1 the right
    // one sent, bit 2 the port lost; then the target up to a newline, then
    // the body.
    if (size < 2) return 0;
    static const char* const kMethods[] = {"GET", "PUT", "POST", "DELETE", "HEAD", "OPTIONS", "PATCH", "get"};
    const std::string input(reinterpret_cast<const char*>(data) + 2, size - 2);
    const std::size_t newline = input.find('\n');
    varek::server::ApiRequest request;
    request.method = kMethods[data[0] % 8];
    request.target = input.substr(0, newline);
    request.body = newline == std::string::npos ? "" : input.substr(newline + 1);
    request.authorization = (data[1] & 2) != 0 ? "Bearer token" : "Bearer tokem";

    ClosedInstrument instrument((data[1] & 4) != 0);
    varek::server::Api api(instrument,
                           (data[1] & 1) != 0 ? std::optional<std::string>("token") : std::nullopt);
    int answers = 0;
    api.Handle(request, [&answers](const varek::server::ApiResponse& response) {
        ++answers;
        static const std::set<unsigned> kKnown = {200, 400, 401, 404, 405, 413, 502, 503};
        if (kKnown.count(response.status) == 0) std::abort();
        if (response.content_type == "application/json" &&
            nlohmann::json::parse(response.body, nullptr, false).is_discarded()) {
            std::abort();
        }
    });
    if (answers != 1) std::abort();
    return 0;
}
