#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "durable_file.h"

namespace varek::server {

namespace {

[[noreturn]] void Fail(const std::string& doing, const std::string& path) {
    throw std::runtime_error("cannot " + doing + " " + path + ": " + std::strerror(errno));
}

// Fails as Fail does, having removed the temporary file first.
[[noreturn]] void FailRemoving(const std::string& temporary, const std::string& doing,
                               const std::string& path) {
    const int error = errno;
    ::unlink(temporary.c_str());
    errno = error;
    Fail(doing, path);
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void ReplaceFileDurably(const std::string& path, const std::string& content) {
    const std::string temporary = path + ".tmp";
    const int file = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file < 0) Fail("create", temporary);
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(file, content.data() + written, content.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(file);
            errno = error;
            FailRemoving(temporary, "write", temporary);
        }
        written += static_cast<std::size_t>(n);
    }
    // The content must be on the disk before the rename makes it the file.
    if (::fsync(file) != 0 || ::close(file) != 0) FailRemoving(temporary, "write", temporary);
    if (::rename(temporary.c_str(), path.c_str()) != 0) FailRemoving(temporary, "replace", path);
    // And the rename itself, which lives in the folder.
    const int folder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

}  // namespace varek::server
