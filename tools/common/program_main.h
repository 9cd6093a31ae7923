// How each program ends, in one place: what its body returns is its exit
// code, and a failure it throws ends it with the code of its kind, said on
// stderr as "PROGRAM: why" after whatever it had written to stdout.
#ifndef VAREK_TOOLS_PROGRAM_MAIN_H
#define VAREK_TOOLS_PROGRAM_MAIN_H

#include <functional>

namespace varek::tools {

// UsageError: kExitUsage; DifferenceFound: kExitDiffers; a DeviceError or
// any other exception: kExitFailed.
int RunProgram(const char* program, const std::function<int()>& body);

}  // namespace varek::tools

#endif
