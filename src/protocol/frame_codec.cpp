// The instrument's frame format: EB 90, length L (payload + 6), command,
// parameter, payload, 16-bit byte sum of everything before it, CC. All
// multi-byte fields are little-endian.
#include <cstdio>
#include <cstring>

#include "protocol/frame_fault.h"
#include "protocol/frame_layout.h"
#include "varek/varek_ddg.h"

using varek::frame_layout::kFrameOverhead;
using varek::frame_layout::kLengthFieldBias;

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
    frame[0] = FRAME_HEAD0;
    frame[1] = FRAME_HEAD1;
    frame[2] = static_cast<std::uint8_t>(length_field & 0xFF);
    frame[3] = static_cast<std::uint8_t>(length_field >> 8);
    frame[4] = cmd;
    frame[5] = static_cast<std::uint8_t>(param & 0xFF);
    frame[6] = static_cast<std::uint8_t>(param >> 8);
    if (payload != nullptr && len > 0) std::memcpy(frame + 7, payload, static_cast<std::size_t>(len));
    const std::uint16_t sum = Checksum(frame, len + 7);
    frame[7 + len] = static_cast<std::uint8_t>(sum & 0xFF);
    frame[8 + len] = static_cast<std::uint8_t>(sum >> 8);
    frame[9 + len] = FRAME_TAIL;
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

    if (buf == nullptr || len < 7) return FrameFault::TooShort;
    if (buf[0] != VarekDDG::FRAME_HEAD0 || buf[1] != VarekDDG::FRAME_HEAD1) return FrameFault::Head;
    const std::int32_t length_field = buf[2] | (buf[3] << 8);
    if (length_field < kLengthFieldBias) return FrameFault::LengthField;
    if (len < length_field + 4) return FrameFault::Truncated;
    if (buf[length_field + 3] != VarekDDG::FRAME_TAIL) return FrameFault::Tail;
    const std::uint16_t carried =
        static_cast<std::uint16_t>(buf[length_field + 1] | (buf[length_field + 2] << 8));
    if (VarekDDG::Checksum(buf, length_field + 1) != carried) return FrameFault::Checksum;

    frame.cmd = buf[4];
    frame.param = static_cast<std::uint16_t>(buf[5] | (buf[6] << 8));
    frame.data.assign(buf + 7, buf + 1 + length_field);
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
