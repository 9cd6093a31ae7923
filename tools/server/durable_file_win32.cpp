#include <windows.h>

#include <stdexcept>

#include "durable_file.h"

namespace varek::server {

namespace {

[[noreturn]] void Fail(const std::string& doing, const std::string& path, DWORD error) {
    char text[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                   sizeof text, nullptr);
    std::string reason = text;
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.'))
        reason.pop_back();
    throw std::runtime_error("cannot " + doing + " " + path + ": " + reason);
}

}  // namespace

void ReplaceFileDurably(const std::string& path, const std::string& content) {
    // CREATE_NEW fails where anything stands already, a link included: a
    // name of our own, made new, is neither followed nor overwritten.
    std::string temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < kTemporaryNames && file == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = TemporaryName(path, GetCurrentProcessId(), attempt);
        file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        const DWORD error = GetLastError();
        if (file == INVALID_HANDLE_VALUE && error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            Fail("create", temporary, error);
    }
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error(AllTemporaryNamesTaken(path, GetCurrentProcessId()));
    DWORD written = 0;
    // The content must be on the disk before the move makes it the file.
    const bool ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
                    written == content.size() && FlushFileBuffers(file);
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (!ok) {
        DeleteFileA(temporary.c_str());
        Fail("write", temporary, error);
    }
    // MOVEFILE_WRITE_THROUGH: returns once the move itself is on the disk.
    if (!MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD move_error = GetLastError();
        DeleteFileA(temporary.c_str());
        Fail("replace", path, move_error);
    }
}

}  // namespace varek::server
