// The instrument's frame format: EB 90, length L (payload + 6), command,
// parameter, payload, 16-bit byte sum of everything before it, CC. All
// multi-byte fields are little-endian.
#include <cstdio>
#include <cstring>

#include "protocol/frame_fault.h"
#include "protocol/frame_layout.h"
#include "varek/varek_ddg.h"

using namespace varek::frame_layout;

std::uint16_t VarekDDG::Checksum(const std::uint8_t* bytes, std::int32_t len) {
    // A plain sum modulo 65536, eight bytes at a time: the even and odd bytes
    // of each 64-bit word add into four 16-bit lanes, which cannot overflow
    // within 128 words (2 x 255 x 128 < 65536) and are folded after each run.
    constexpr std::uint64_t kLowBytes = 0x00FF00FF00FF00FFull;
    constexpr std::int32_t kWordsPerRun = 128;
    std::uint64_t sum = 0;
    std::int32_t i = 0;
    while (len - i >= 8) {
        std::uint64_t lanes = 0;
        for (std::int32_t word = 0; word < kWordsPerRun && len - i >= 8; ++word, i += 8) {
            std::uint64_t value = 0;
            std::memcpy(&value, bytes + i, sizeof value);
            lanes += (value & kLowBytes) + ((value >> 8) & kLowBytes);
        }
        sum += (lanes & 0xFFFF) + ((lanes >> 16) & 0xFFFF) + ((lanes >> 32) & 0xFFFF) + (lanes >> 48);
    }
    for (; i < len; ++i) sum += bytes[i];
    return static_cast<std::uint16_t>(sum);
}

void VarekDDG::BuildFrame(std::uint8_t cmd, std::uint16_t param, const std::uint8_t* payload,
                          std::int32_t len, std::vector<std::uint8_t>& out) {
    // No frame can carry such a payload: leave no frame rather than a wrong one.
    if (len < 0 || len > MAX_PAYLOAD_LENGTH) {
        out.clear();
        return;
    }
    const auto length_field = static_cast<std::uint16_t>(len + kLengthFieldBias);
    out.resize(static_cast<std::size_t>(len) + kFrameOverhead);
    std::uint8_t* frame = out.data();
    frame[kHeadOffset] = FRAME_HEAD0;
    frame[kHeadOffset + 1] = FRAME_HEAD1;
    frame[kLengthOffset] = static_cast<std::uint8_t>(length_field & 0xFF);
    frame[kLengthOffset + 1] = static_cast<std::uint8_t>(length_field >> 8);
    frame[kCommandOffset] = cmd;
    frame[kParamOffset] = static_cast<std::uint8_t>(param & 0xFF);
    frame[kParamOffset + 1] = static_cast<std::uint8_t>(param >> 8);
    if (payload != nullptr && len > 0)
        std::memcpy(frame + kPayloadOffset, payload, static_cast<std::size_t>(len));
    const std::int32_t checksum_at = ChecksumOffset(length_field);
    const std::uint16_t sum = Checksum(frame, checksum_at);
    frame[checksum_at] = static_cast<std::uint8_t>(sum & 0xFF);
    frame[checksum_at + 1] = static_cast<std::uint8_t>(sum >> 8);
    frame[TailOffset(length_field)] = FRAME_TAIL;
}

void VarekDDG::BuildFrameU32(std::uint8_t cmd, std::uint16_t param, const std::vector<std::uint32_t>& words,
                             std::vector<std::uint8_t>& out) {
    const std::vector<std::uint8_t> payload = varek::frame_layout::WordsToBytes(words);
    BuildFrame(cmd, param, payload.data(), static_cast<std::int32_t>(payload.size()), out);
}

namespace varek {

FrameFault ParseFrameChecked(const std::uint8_t* buf, std::int32_t len, VarekFrame& frame) {
    frame.valid = false;
    frame.cmd = 0;
    frame.param = 0;
    frame.data.clear();

    if (buf == nullptr || len < kPayloadOffset) return FrameFault::TooShort;
    if (buf[kHeadOffset] != VarekDDG::FRAME_HEAD0 || buf[kHeadOffset + 1] != VarekDDG::FRAME_HEAD1)
        return FrameFault::Head;
    const std::int32_t length_field = buf[kLengthOffset] | (buf[kLengthOffset + 1] << 8);
    if (length_field < kLengthFieldBias) return FrameFault::LengthField;
    if (len < length_field + kBytesBeforeCounted) return FrameFault::Truncated;
    if (buf[TailOffset(length_field)] != VarekDDG::FRAME_TAIL) return FrameFault::Tail;
    const std::int32_t checksum_at = ChecksumOffset(length_field);
    const std::uint16_t carried = static_cast<std::uint16_t>(buf[checksum_at] | (buf[checksum_at + 1] << 8));
    if (VarekDDG::Checksum(buf, checksum_at) != carried) return FrameFault::Checksum;

    frame.cmd = buf[kCommandOffset];
    frame.param = static_cast<std::uint16_t>(buf[kParamOffset] | (buf[kParamOffset + 1] << 8));
    frame.data.assign(buf + kPayloadOffset, buf + checksum_at);
    frame.valid = true;
    return FrameFault::None;
}

}  // namespace varek

bool VarekDDG::ParseFrame(const std::uint8_t* buf, std::int32_t len, VarekFrame& frame) {
    return varek::ParseFrameChecked(buf, len, frame) == varek::FrameFault::None;
}

void VarekDDG::DumpFrame(const std::vector<std::uint8_t>& bytes, const char* label) {
    if (bytes.empty()) return;
    if (label != nullptr) std::printf("%s: ", label);
    for (const std::uint8_t byte : bytes) std::printf("%02X ", byte);
    std::printf("(%zu bytes)\n", bytes.size());
}
