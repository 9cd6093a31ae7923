#include "varek/exchange_report.h"

#include <algorithm>

void VarekExchangeReport::Begin(std::int32_t timeout) {
    outcome = VarekOutcome::Unfinished;
    open_error = {};
    rejection.clear();
    timeout_ms = timeout;
    request.clear();
    bytes_written = 0;
    received.clear();
    chunks.clear();
    received_omitted = 0;
    omitted_at = 0;
    reads_omitted = 0;
    telnet_bytes = 0;
    discarded_bytes = 0;
    quiet_wait_ms = 0;
    noise_bytes = 0;
    length_field = -1;
    frame_size = 0;
    frame_received = 0;
    tail_received = 0;
    checksum_received = 0;
    checksum_computed = 0;
    payload_size = 0;
    payload_needed = 0;
    reply_param = 0;
}

void VarekExchangeReport::KeepRead(std::uint32_t at_ms, const std::uint8_t* bytes, std::uint32_t count,
                                   bool noise) {
    chunks.push_back({at_ms, static_cast<std::uint32_t>(received.size()), count});
    received.insert(received.end(), bytes, bytes + count);
    if (!noise || received.size() < 3 * KEPT_NOISE_BYTES) return;
    if (received_omitted == 0) {
        // The first bytes stay whole, up to the end of the read that passes the mark.
        const auto past = std::find_if(chunks.begin(), chunks.end(), [](const VarekChunk& chunk) {
            return chunk.offset + chunk.size >= KEPT_NOISE_BYTES;
        });
        omitted_at = past->offset + past->size;
    }
    if (received.size() - omitted_at < 2 * KEPT_NOISE_BYTES) return;
    // Drop the oldest reads after the kept head, whole, leaving the last
    // KEPT_NOISE_BYTES or a little more, and always the read just made.
    const auto first =
        std::lower_bound(chunks.begin(), chunks.end(), omitted_at,
                         [](const VarekChunk& chunk, std::uint32_t at) { return chunk.offset < at; });
    auto end = first;
    std::uint32_t dropped = 0;
    while (end + 1 < chunks.end() && received.size() - omitted_at - dropped - end->size >= KEPT_NOISE_BYTES) {
        dropped += end->size;
        ++end;
    }
    received.erase(received.begin() + omitted_at, received.begin() + omitted_at + dropped);
    reads_omitted += static_cast<std::uint64_t>(end - first);
    received_omitted += dropped;
    for (auto later = chunks.erase(first, end); later != chunks.end(); ++later) later->offset -= dropped;
}

std::vector<std::uint8_t> VarekExchangeReport::ReplyFrame() const {
    // The frame is what was read last: the receive reads nothing after it.
    if (frame_received == 0) return {};
    return std::vector<std::uint8_t>(received.end() - frame_received, received.end());
}

std::string VarekHex(const std::uint8_t* bytes, std::size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(count * 3);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) text += ' ';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}
