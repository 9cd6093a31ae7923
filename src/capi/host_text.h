// Text handed to a C host in a buffer of its own.
#ifndef VAREK_CAPI_HOST_TEXT_H
#define VAREK_CAPI_HOST_TEXT_H

#include <cstdint>
#include <string>

namespace varek {

// Copies what fits of `text` into the host's buffer, NUL-terminated and never
// ending inside a UTF-8 sequence (nothing when `buffer` is null or `size` 0
// or less); returns the whole length, so that a host may call again with a
// larger buffer.
std::int32_t WriteHostText(const std::string& text, char* buffer, std::int32_t size);

}  // namespace varek

#endif
