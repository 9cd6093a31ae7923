// Sizes of the frame format shared by the codec and the receive path.
#ifndef VAREK_PROTOCOL_FRAME_LAYOUT_H
#define VAREK_PROTOCOL_FRAME_LAYOUT_H

#include <cstdint>
#include <vector>

namespace varek::frame_layout {

// The length field counts command, parameter, payload, checksum and tail.
constexpr std::int32_t kLengthFieldBias = 6;
// Head (2) and length field (2) precede what the length field counts.
constexpr std::int32_t kBytesBeforeCounted = 4;
constexpr std::int32_t kFrameOverhead = kLengthFieldBias + kBytesBeforeCounted;

// 32-bit words as payload bytes, each least significant byte first.
inline std::vector<std::uint8_t> WordsToBytes(const std::vector<std::uint32_t>& words) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(words.size() * 4);
    for (const std::uint32_t word : words) {
        bytes.push_back(static_cast<std::uint8_t>(word));
        bytes.push_back(static_cast<std::uint8_t>(word >> 8));
        bytes.push_back(static_cast<std::uint8_t>(word >> 16));
        bytes.push_back(static_cast<std::uint8_t>(word >> 24));
    }
    return bytes;
}

}  // namespace varek::frame_layout

#endif
