// Replacing a small file so that a crash or a power cut leaves either the
// old content or the new, never a torn mix: the new content goes to a
// temporary file beside it, reaches the disk, and is renamed over the old.
#ifndef VAREK_SERVER_DURABLE_FILE_H
#define VAREK_SERVER_DURABLE_FILE_H

#include <string>

namespace varek::server {

// Throws std::runtime_error naming the file and the system's reason.
void ReplaceFileDurably(const std::string& path, const std::string& content);

}  // namespace varek::server

#endif
