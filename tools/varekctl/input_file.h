// What varekctl reads from a FILE|- argument: a script or a setup.
#ifndef VAREKCTL_INPUT_FILE_H
#define VAREKCTL_INPUT_FILE_H

#include <fstream>
#include <istream>
#include <string>

namespace varekctl {

// `name` opened for reading into `file`, or the standard input for "-";
// throws UsageError, calling it a `what` ("script", "setup"), for a
// directory or a file that cannot be read.
std::istream& OpenInput(const std::string& name, const char* what, std::ifstream& file);

}  // namespace varekctl

#endif
