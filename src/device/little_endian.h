// Reading little-endian values out of reply payloads.
#ifndef VAREK_DEVICE_LITTLE_ENDIAN_H
#define VAREK_DEVICE_LITTLE_ENDIAN_H

#include <cstdint>
#include <cstring>
#include <vector>

namespace varek {

// The `size`-byte unsigned value at `offset`; the caller has checked the bounds.
inline std::uint64_t ReadLittleEndian(const std::vector<std::uint8_t>& bytes, std::size_t offset,
                                      std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = size; i-- > 0;) value = value << 8 | bytes[offset + i];
    return value;
}

// The 4 bytes at `offset` as a float, bit for bit: NaNs and infinities pass.
inline float ReadFloatBits(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    const auto bits = static_cast<std::uint32_t>(ReadLittleEndian(bytes, offset, 4));
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace varek

#endif
