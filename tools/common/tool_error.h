// How the programs end: their exit codes, and the two kinds of failure
// that choose between them.
#ifndef VAREK_TOOLS_TOOL_ERROR_H
#define VAREK_TOOLS_TOOL_ERROR_H

#include <stdexcept>
#include <string>

namespace varek::tools {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;   // the port or the instrument failed
constexpr int kExitUsage = 2;    // the command line was wrong; nothing was sent
constexpr int kExitDiffers = 3;  // the instrument does not hold what a setup says

// The command line was wrong; nothing was sent.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The port or the instrument failed.
struct DeviceError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The instrument works, but holds other values than a setup says; the
// message lists them.
struct DifferenceFound : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace varek::tools

#endif
