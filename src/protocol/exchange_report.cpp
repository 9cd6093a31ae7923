#include "varek/exchange_report.h"

void VarekExchangeReport::Begin(std::int32_t timeout) {
    outcome = VarekOutcome::Unfinished;
    open_error = {};
    rejection.clear();
    timeout_ms = timeout;
    request.clear();
    bytes_written = 0;
    received.clear();
    chunks.clear();
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

std::vector<std::uint8_t> VarekExchangeReport::ReplyFrame() const {
    if (frame_received == 0) return {};
    const auto begin = received.begin() + noise_bytes;
    return std::vector<std::uint8_t>(begin, begin + frame_received);
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
