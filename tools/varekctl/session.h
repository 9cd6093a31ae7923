// One varekctl run's connection: opened on first use, so that commands whose
// arguments are wrong never touch the port.
#ifndef VAREKCTL_SESSION_H
#define VAREKCTL_SESSION_H

#include <cstdint>
#include <string>

#include "varek/varek_ddg.h"

namespace varekctl {

struct SessionOptions {
    std::string port;  // as the user names it, resolved by the library on first use
    std::int32_t baud = VarekDDG::DEFAULT_BAUD;
    bool json = false;
    bool trace = false;  // every exchange on stderr
};

class Session {
public:
    explicit Session(SessionOptions options) : options_(std::move(options)) {}

    // The open connection; throws DeviceError saying why the port did not
    // open, UsageError for a malformed name.
    VarekDDG& Device();
    bool json() const { return options_.json; }
    std::int32_t baud() const { return options_.baud; }
    // The port as opened (the one a usb: name picked), once Device() has run.
    const std::string& port() const { return port_name_; }

    // Ends an operation on the device: traces its exchange when asked, and
    // when `ok` is false throws DeviceError naming `attempted` and saying why.
    void Finish(bool ok, const std::string& attempted);

private:
    SessionOptions options_;
    std::string port_name_;
    bool opened_ = false;
    VarekDDG device_;
};

// The exchange of `report` as --trace shows it: the request, each chunk read
// with its time, the reply frame as received, and the outcome.
std::string TraceText(const VarekExchangeReport& report);

}  // namespace varekctl

#endif
