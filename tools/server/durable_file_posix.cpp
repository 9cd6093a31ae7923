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
    // A name of our own, made new: whatever stands at one of the names
    // already, a link above all, is neither followed nor overwritten.
    std::string temporary;
    int file = -1;
    for (int attempt = 0; attempt < kTemporaryNames && file < 0; ++attempt) {
        temporary = TemporaryName(path, static_cast<unsigned long>(::getpid()), attempt);
        file = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (file < 0 && errno != EEXIST) Fail("create", temporary);
    }
    if (file < 0)
        throw std::runtime_error(AllTemporaryNamesTaken(path, static_cast<unsigned long>(::getpid())));
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
