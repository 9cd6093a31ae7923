// One varekctl run's connection: opened on first use, so that commands whose
// arguments are wrong never touch the port.
#ifndef VAREKCTL_SESSION_H
#define VAREKCTL_SESSION_H

#include <cstdint>
#include <string>

#include "varek/varek_ddg.h"

namespace varekctl {

class Session {
public:
    Session(std::string port, std::int32_t baud, bool json)
        : port_(std::move(port)), baud_(baud), json_(json) {}

    // The open connection; throws DeviceError when the port cannot be opened.
    VarekDDG& Device();
    bool json() const { return json_; }
    const std::string& port() const { return port_; }

    // Throws DeviceError saying that `attempted` got no valid answer.
    [[noreturn]] void NoAnswer(const std::string& attempted) const;
    // Throws DeviceError saying that `attempted` was not acknowledged.
    [[noreturn]] void NotAcknowledged(const std::string& attempted) const;

private:
    std::string port_;
    std::int32_t baud_;
    bool json_;
    bool opened_ = false;
    VarekDDG device_;
};

}  // namespace varekctl

#endif
