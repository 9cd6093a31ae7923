// Sizes and byte offsets of the frame format, shared by the codec, the
// receive path and the simulator.
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

// Where each field starts. Multi-byte fields are little-endian.
constexpr std::int32_t kHeadOffset = 0;     // EB, then 90
constexpr std::int32_t kLengthOffset = 2;   // 16 bits
constexpr std::int32_t kCommandOffset = 4;  // 8 bits
constexpr std::int32_t kParamOffset = 5;    // 16 bits
constexpr std::int32_t kPayloadOffset = 7;
// The checksum follows the payload and covers every byte before it: in a
// frame whose length field is L it starts at L + 1, and the tail byte is the
// frame's last, at L + 3.
constexpr std::int32_t ChecksumOffset(std::int32_t length_field) { return length_field + 1; }
constexpr std::int32_t TailOffset(std::int32_t length_field) { return length_field + 3; }

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
