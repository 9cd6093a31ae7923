#include "durable_file.h"

namespace varek::server {

std::string TemporaryName(const std::string& path, unsigned long process, int attempt) {
    return path + "." + std::to_string(process) + "." + std::to_string(attempt) + ".tmp";
}

std::string AllTemporaryNamesTaken(const std::string& path, unsigned long process) {
    return "cannot create a temporary file beside " + path + ": " + TemporaryName(path, process, 0) + " to " +
           TemporaryName(path, process, kTemporaryNames - 1) +
           " all exist already (links or leftovers?): remove them";
}

}  // namespace varek::server
