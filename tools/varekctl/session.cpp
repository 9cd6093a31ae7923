#include "session.h"

#include "platform.h"
#include "tool_error.h"

namespace varekctl {

VarekDDG& Session::Device() {
    if (!opened_) {
        if (!device_.Open(ToPortName(port_).c_str(), baud_)) {
            throw DeviceError("cannot open " + port_ + ": " + DescribeOpenFailure(port_) +
                              " (varekctl ports lists this machine's serial ports)");
        }
        opened_ = true;
    }
    return device_;
}

void Session::NoAnswer(const std::string& attempted) const {
    throw DeviceError(attempted + ": no valid reply from the instrument on " + port_ + " within " +
                      std::to_string(VarekDDG::OPERATION_TIMEOUT_MS) +
                      " ms: is it powered, on this port and at " + std::to_string(baud_) + " baud?");
}

void Session::NotAcknowledged(const std::string& attempted) const {
    throw DeviceError(attempted + ": the instrument on " + port_ + " did not acknowledge within " +
                      std::to_string(VarekDDG::OPERATION_TIMEOUT_MS) +
                      " ms (no reply, a damaged reply or a refusal): is it powered, on this port and at " +
                      std::to_string(baud_) + " baud?");
}

}  // namespace varekctl
