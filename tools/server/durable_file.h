// Replacing a small file so that a crash or a power cut leaves either the
// old content or the new, never a torn mix: the new content goes to a
// temporary file beside it, reaches the disk, and is renamed over the old.
// The temporary file is created new (never opened where something stands),
// so that a link planted beside the file cannot redirect the write.
#ifndef VAREK_SERVER_DURABLE_FILE_H
#define VAREK_SERVER_DURABLE_FILE_H

#include <string>

namespace varek::server {

// Throws std::runtime_error naming the file and the system's reason.
void ReplaceFileDurably(const std::string& path, const std::string& content);

// The temporary file is made new, beside the file, under the first of these
// names that nothing holds yet: PATH.PROCESS.N.tmp, N from 0.
constexpr int kTemporaryNames = 8;
std::string TemporaryName(const std::string& path, unsigned long process, int attempt);
// Why no temporary file could be made: every name was taken.
std::string AllTemporaryNamesTaken(const std::string& path, unsigned long process);

}  // namespace varek::server

#endif
