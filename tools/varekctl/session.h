// One varekctl run's connection: opened on first use, so that commands whose
// arguments are wrong never touch the port.
#ifndef VAREKCTL_SESSION_H
#define VAREKCTL_SESSION_H

#include <cstdint>
#include <string>

#include "varek/varek_ddg.h"

namespace varekctl {

struct SessionOptions {
    std::string port;  // as the library opens it (a usb: name already resolved)
    std::int32_t baud = 115200;
    bool json = false;
    bool trace = false;  // every exchange on stderr
};

class Session {
public:
    explicit Session(SessionOptions options) : options_(std::move(options)) {}

    // The open connection; throws DeviceError saying why the port did not open.
    VarekDDG& Device();
    bool json() const { return options_.json; }
    std::int32_t baud() const { return options_.baud; }
    const std::string& port() const { return options_.port; }

    // Ends an operation on the device: traces its exchange when asked, and
    // when `ok` is false throws DeviceError naming `attempted` and saying why.
    void Finish(bool ok, const std::string& attempted);

private:
    SessionOptions options_;
    bool opened_ = false;
    VarekDDG device_;
};

// The exchange of `report` as --trace shows it: the request, each chunk read
// with its time, the reply frame as received, and the outcome.
std::string TraceText(const VarekExchangeReport& report);

}  // namespace varekctl

#endif
