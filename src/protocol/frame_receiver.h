// The receive half of an exchange: hunt the frame head in the incoming bytes,
// read the length, read the body, decode. Written against a byte source and a
// clock so that tests and fuzzers can drive it without a port.
#ifndef VAREK_PROTOCOL_FRAME_RECEIVER_H
#define VAREK_PROTOCOL_FRAME_RECEIVER_H

#include <cstdint>
#include <vector>

#include "protocol/frame_layout.h"
#include "varek/varek_ddg.h"

namespace varek {

// Each read's own wait, in ms. A read that has begun runs to the end of its
// wait, so a receive may last one body wait longer than its time-out.
constexpr std::int32_t kHeadReadWaitMs = 50;
constexpr std::int32_t kLengthReadWaitMs = 50;
constexpr std::int32_t kBodyReadWaitMs = 100;

// `read_bytes(buffer, count, wait_ms)` returns the bytes placed (0..count) or
// a negative value on failure; `now_ms()` is a 32-bit millisecond clock that
// may wrap. Makes one attempt: once a head is found, any failure ends it.
template <typename ReadBytes, typename NowMs>
bool ReceiveFrame(ReadBytes&& read_bytes, NowMs&& now_ms, VarekFrame& reply, std::int32_t timeout_ms) {
    reply.valid = false;
    const std::uint32_t start = now_ms();
    // Unsigned subtraction keeps the elapsed time right across a clock wrap.
    auto deadline_passed = [&] {
        return timeout_ms <= 0 || now_ms() - start >= static_cast<std::uint32_t>(timeout_ms);
    };

    bool head_byte_seen = false;
    for (;;) {
        if (deadline_passed()) return false;
        std::uint8_t byte = 0;
        const std::int32_t got = read_bytes(&byte, 1, kHeadReadWaitMs);
        if (got < 0) return false;
        if (got == 0) continue;
        if (head_byte_seen && byte == VarekDDG::FRAME_HEAD1) break;
        // A repeated EB keeps the hunt armed: the later one may start the head.
        head_byte_seen = byte == VarekDDG::FRAME_HEAD0;
    }

    std::uint8_t length_bytes[2] = {0, 0};
    for (std::int32_t received = 0; received < 2;) {
        if (deadline_passed()) return false;
        const std::int32_t got = read_bytes(length_bytes + received, 2 - received, kLengthReadWaitMs);
        if (got < 0) return false;
        received += got;
    }
    const std::int32_t length_field = length_bytes[0] | (length_bytes[1] << 8);
    if (length_field < frame_layout::kLengthFieldBias) return false;

    std::vector<std::uint8_t> frame(
        static_cast<std::size_t>(length_field + frame_layout::kBytesBeforeCounted), 0);
    frame[0] = VarekDDG::FRAME_HEAD0;
    frame[1] = VarekDDG::FRAME_HEAD1;
    frame[2] = length_bytes[0];
    frame[3] = length_bytes[1];
    for (std::int32_t received = 0; received < length_field;) {
        if (deadline_passed()) return false;
        const std::int32_t got = read_bytes(frame.data() + frame_layout::kBytesBeforeCounted + received,
                                            length_field - received, kBodyReadWaitMs);
        if (got < 0) return false;
        received += got;
    }
    return VarekDDG::ParseFrame(frame.data(), static_cast<std::int32_t>(frame.size()), reply);
}

}  // namespace varek

#endif
