// The two ways a varekctl command fails, each with its exit code.
#ifndef VAREKCTL_TOOL_ERROR_H
#define VAREKCTL_TOOL_ERROR_H

#include <stdexcept>
#include <string>

namespace varekctl {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // the port or the instrument failed
constexpr int kExitUsage = 2;   // the command line was wrong; nothing was sent

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct DeviceError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace varekctl

#endif
