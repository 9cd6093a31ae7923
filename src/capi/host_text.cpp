#include "capi/host_text.h"

#include <algorithm>
#include <cstring>

namespace varek {

std::int32_t WriteHostText(const std::string& text, char* buffer, std::int32_t size) {
    if (buffer != nullptr && size > 0) {
        std::size_t cut = std::min(text.size(), static_cast<std::size_t>(size) - 1);
        while (cut > 0 && cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
        std::memcpy(buffer, text.data(), cut);
        buffer[cut] = '\0';
    }
    return static_cast<std::int32_t>(text.size());
}

}  // namespace varek
