// The receive path fed an arbitrary byte stream in arbitrary read chunks,
// with reads that bring nothing and reads that fail. It must never write
// outside the buffers it hands to a read, never ask for more than it has
// room for, never wait past its deadline plus one read, accept only frames
// that decode, and report exactly the bytes it read.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "protocol/frame_receiver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Byte 0 is the time-out in 8 ms steps, byte 1 how many steering bytes
    // follow; each steers one read (0 fails, 1 brings nothing, n brings up to
    // n bytes); the rest is what the line carries.
    if (size < 2) return 0;
    const std::int32_t timeout_ms = data[0] * 8;
    const std::size_t split = 2 + std::min<std::size_t>(data[1], size - 2);
    std::size_t control = 2;
    std::size_t line = split;
    std::uint32_t clock = 0xFFFFFF00u;  // wraps during the receive
    const std::uint32_t start = clock;

    auto read = [&](std::uint8_t* buffer, std::int32_t count, std::int32_t wait_ms) -> std::int32_t {
        if (count <= 0 || wait_ms <= 0) std::abort();
        const std::uint8_t steer = control < split ? data[control++] : 0xFF;
        if (steer == 0) return -1;  // a failed read
        const std::size_t left = size - line;
        if (left == 0 || steer == 1) {
            clock += static_cast<std::uint32_t>(wait_ms);  // waited and nothing came
            return 0;
        }
        const std::size_t taken = std::min<std::size_t>({left, static_cast<std::size_t>(count), steer});
        // Writing the whole of `count` proves the buffer holds that much.
        std::vector<std::uint8_t> chunk(static_cast<std::size_t>(count), 0xA5);
        std::copy_n(data + line, taken, chunk.begin());
        std::copy(chunk.begin(), chunk.end(), buffer);
        line += taken;
        clock += 1;
        return static_cast<std::int32_t>(taken);
    };

    VarekFrame reply;
    VarekExchangeReport report;
    report.Begin(timeout_ms);
    const bool accepted = varek::ReceiveFrame(
        read, [&] { return clock; }, reply, timeout_ms, report);
    if (accepted != reply.valid) std::abort();
    if (accepted != (report.outcome == VarekOutcome::Succeeded)) std::abort();
    // The report holds exactly what was read, and a frame never claims more than it announced.
    std::size_t chunked = 0;
    for (const VarekChunk& chunk : report.chunks) {
        if (chunk.offset != chunked) std::abort();
        chunked += chunk.size;
    }
    if (chunked != report.received.size() || chunked != line - split) std::abort();
    if (report.frame_size > 0 && report.frame_received > report.frame_size) std::abort();
    if (report.ReplyFrame().size() != static_cast<std::size_t>(report.frame_received)) std::abort();
    // One read past the deadline at most, and each read waits 100 ms at most.
    if (clock - start > static_cast<std::uint32_t>(timeout_ms) + 100u + 100u) std::abort();
    return 0;
}
