#include "input_file.h"

#include <filesystem>
#include <iostream>

#include "tool_error.h"

namespace varekctl {

std::istream& OpenInput(const std::string& name, const char* what, std::ifstream& file) {
    if (name == "-") return std::cin;
    std::error_code error;
    if (std::filesystem::is_directory(name, error))
        throw varek::tools::UsageError(std::string(what) + " " + name + " is a directory");
    file.open(name, std::ios::binary);
    if (!file) throw varek::tools::UsageError(std::string("cannot read ") + what + " " + name);
    return file;
}

}  // namespace varekctl
