// What --version prints: the program's name and the one project version,
// which CMake's project() sets for the library, the programs and the packages.
#ifndef VAREK_TOOLS_PROGRAM_VERSION_H
#define VAREK_TOOLS_PROGRAM_VERSION_H

#include <cstdio>

namespace varek::tools {

inline void PrintVersion(const char* program) { std::printf("%s %s\n", program, VAREK_PROJECT_VERSION); }

}  // namespace varek::tools

#endif
