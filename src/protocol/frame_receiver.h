// The receive half of an exchange: hunt the frame head in the incoming bytes,
// read the length, read the body, decode. Written against a byte source and a
// clock so that tests and fuzzers can drive it without a port.
#ifndef VAREK_PROTOCOL_FRAME_RECEIVER_H
#define VAREK_PROTOCOL_FRAME_RECEIVER_H

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

#include "protocol/frame_fault.h"
#include "protocol/frame_layout.h"
#include "varek/exchange_report.h"
#include "varek/varek_ddg.h"

namespace varek {

// The wait of each read of the length and of the body, in ms. A read that
// has begun runs to the end of its wait, so a receive may last one body
// wait longer than its time-out. The hunt for the head waits up to the
// deadline: on a silent line the receive sleeps through its time-out.
constexpr std::int32_t kLengthReadWaitMs = 50;
constexpr std::int32_t kBodyReadWaitMs = 100;

// `read_bytes(buffer, count, wait_ms)` returns the bytes placed (0..count) or
// a negative value on failure (as is more than asked for); `now_ms()` is a
// 32-bit millisecond clock that may wrap. Makes one attempt: once a head is
// found, any failure ends it. Records in `report` where the receive ended and
// every chunk read, timed from the start of the receive; `report` comes
// cleared of any earlier exchange.
template <typename ReadBytes, typename NowMs>
bool ReceiveFrame(ReadBytes&& read_bytes, NowMs&& now_ms, VarekFrame& reply, std::int32_t timeout_ms,
                  VarekExchangeReport& report) {
    reply.valid = false;
    const std::uint32_t start = now_ms();
    // Unsigned subtraction keeps the elapsed time right across a clock wrap.
    auto deadline_passed = [&] {
        return timeout_ms <= 0 || now_ms() - start >= static_cast<std::uint32_t>(timeout_ms);
    };
    // Asked only once the deadline has not passed, so never 0.
    auto until_deadline = [&] { return timeout_ms - static_cast<std::int32_t>(now_ms() - start); };
    auto fail = [&](VarekOutcome outcome) {
        report.outcome = outcome;
        return false;
    };
    bool head_found = false;
    // One read, kept in the report when it brings bytes; false when it failed.
    auto read = [&](std::uint8_t* buffer, std::int32_t wanted, std::int32_t wait_ms, std::int32_t& got) {
        got = read_bytes(buffer, wanted, wait_ms);
        if (got < 0 || got > wanted) return false;
        if (got > 0) report.KeepRead(now_ms() - start, buffer, static_cast<std::uint32_t>(got), !head_found);
        return true;
    };
    // Noise counts can pass what the report's field holds only on a line
    // that babbles for minutes: they stop at its largest value.
    auto noise_count = [](std::int64_t bytes) {
        return static_cast<std::int32_t>(std::min<std::int64_t>(bytes, INT32_MAX));
    };

    // The hunt reads no further than a head could end its length field: up
    // to 4 bytes from a clear start, 3 after an EB. So it takes in exactly
    // the bytes a byte-by-byte hunt would, in fewer reads.
    std::uint8_t length_bytes[2] = {0, 0};
    std::int32_t length_received = 0;
    std::int64_t hunted = 0;
    bool head_byte_seen = false;
    while (!head_found) {
        if (deadline_passed()) {
            report.noise_bytes = noise_count(hunted);
            return fail(hunted == 0 ? VarekOutcome::NothingArrived : VarekOutcome::NoFrameHead);
        }
        std::uint8_t chunk[4] = {};
        std::int32_t got = 0;
        if (!read(chunk, head_byte_seen ? 3 : 4, until_deadline(), got))
            return fail(VarekOutcome::ReadFailed);
        for (std::int32_t i = 0; i < got; ++i) {
            if (head_found) {
                length_bytes[length_received++] = chunk[i];
            } else if (head_byte_seen && chunk[i] == VarekDDG::FRAME_HEAD1) {
                head_found = true;
                report.noise_bytes = noise_count(hunted + i - 1);
            } else {
                // A repeated EB keeps the hunt armed: the later one may start the head.
                head_byte_seen = chunk[i] == VarekDDG::FRAME_HEAD0;
            }
        }
        hunted += got;
    }

    report.frame_received = 2 + length_received;
    while (length_received < 2) {
        if (deadline_passed()) return fail(VarekOutcome::FrameIncomplete);
        std::int32_t got = 0;
        if (!read(length_bytes + length_received, 2 - length_received, kLengthReadWaitMs, got)) {
            return fail(VarekOutcome::ReadFailed);
        }
        length_received += got;
        report.frame_received += got;
    }
    const std::int32_t length_field = length_bytes[0] | (length_bytes[1] << 8);
    report.length_field = length_field;
    if (length_field < frame_layout::kLengthFieldBias) return fail(VarekOutcome::LengthFieldTooSmall);

    std::vector<std::uint8_t> frame(
        static_cast<std::size_t>(length_field + frame_layout::kBytesBeforeCounted), 0);
    report.frame_size = static_cast<std::int32_t>(frame.size());
    frame[frame_layout::kHeadOffset] = VarekDDG::FRAME_HEAD0;
    frame[frame_layout::kHeadOffset + 1] = VarekDDG::FRAME_HEAD1;
    frame[frame_layout::kLengthOffset] = length_bytes[0];
    frame[frame_layout::kLengthOffset + 1] = length_bytes[1];
    for (std::int32_t received = 0; received < length_field;) {
        if (deadline_passed()) return fail(VarekOutcome::FrameIncomplete);
        std::int32_t got = 0;
        if (!read(frame.data() + frame_layout::kBytesBeforeCounted + received, length_field - received,
                  kBodyReadWaitMs, got)) {
            return fail(VarekOutcome::ReadFailed);
        }
        received += got;
        report.frame_received += got;
    }
    switch (ParseFrameChecked(frame.data(), static_cast<std::int32_t>(frame.size()), reply)) {
    case FrameFault::None: report.outcome = VarekOutcome::Succeeded; return true;
    case FrameFault::Tail: report.tail_received = frame.back(); return fail(VarekOutcome::BadTail);
    default:
        // The head and the length were checked while hunting; only the sum is left.
        report.checksum_received =
            static_cast<std::uint16_t>(frame[frame.size() - 3] | frame[frame.size() - 2] << 8);
        report.checksum_computed = VarekDDG::Checksum(frame.data(), length_field + 1);
        return fail(VarekOutcome::BadChecksum);
    }
}

}  // namespace varek

#endif
