// The varekx_ extensions. Like the varek_ functions they let no exception
// cross into the host.
#include <algorithm>
#include <cstring>
#include <string>

#include "capi/handle.h"
#include "varek/varek_ext.h"

namespace {

// Copies what fits of `message` into the host's buffer, NUL-terminated and
// never ending inside a UTF-8 sequence; returns the whole length.
std::int32_t WriteMessage(const char* message, std::size_t length, char* buffer, std::int32_t size) {
    if (buffer != nullptr && size > 0) {
        std::size_t cut = std::min(length, static_cast<std::size_t>(size) - 1);
        while (cut > 0 && cut < length && (static_cast<unsigned char>(message[cut]) & 0xC0) == 0x80) --cut;
        std::memcpy(buffer, message, cut);
        buffer[cut] = '\0';
    }
    return static_cast<std::int32_t>(length);
}

}  // namespace

extern "C" {

std::int32_t varekx_last_error(VarekHandle handle, char* buffer, std::int32_t size) {
    if (handle == nullptr) return -1;
    try {
        const std::string message = VarekDescribeOutcome(varek::ToConnection(handle)->LastExchange());
        return WriteMessage(message.data(), message.size(), buffer, size);
    } catch (...) {
        static const char kNoMemory[] = "out of memory while describing the failure";
        return WriteMessage(kNoMemory, sizeof kNoMemory - 1, buffer, size);
    }
}

}  // extern "C"
