#include "fault_plan.h"

#include <algorithm>
#include <sstream>

#include "hex_text.h"
#include "protocol/frame_layout.h"
#include "varek/user_input.h"

namespace varek::sim {

namespace {

// Counts and milliseconds of a fault: up to ten minutes' worth.
bool ParseInt(const std::string& text, std::int32_t& value) {
    std::string ignored;
    const auto parsed = VarekParseWhole(text, 0, 600000, ignored);
    if (parsed) value = static_cast<std::int32_t>(*parsed);
    return parsed.has_value();
}

bool ParseBytes(const std::string& text, std::vector<std::uint8_t>& bytes) {
    auto parsed = FromHex(text);
    if (!parsed) return false;
    bytes = std::move(*parsed);
    return true;
}

bool ApplyWord(const std::string& word, FaultPlan& plan) {
    const std::size_t equals = word.find('=');
    const std::string key = word.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : word.substr(equals + 1);
    if (key == "checksum") return plan.bad_checksum = true;
    if (key == "tail") return plan.bad_tail = true;
    if (key == "short-length") return plan.short_length = true;
    if (key == "silent") return plan.silent = true;
    if (key == "refuse") return plan.refuse = true;
    if (key == "ignore") return plan.ignore = true;
    if (key == "hangup") return plan.hang_up = true;
    if (key == "babble") return ParseInt(value, plan.babble_ms);
    if (key == "delay") return ParseInt(value, plan.delay_ms);
    if (key == "noise") return ParseBytes(value, plan.noise);
    if (key == "surplus") return ParseBytes(value, plan.surplus);
    if (key == "reply") return ParseBytes(value, plan.reply.emplace());
    if (key == "split") {
        const std::size_t comma = value.find(',');
        return comma != std::string::npos && ParseInt(value.substr(0, comma), plan.split_pieces) &&
               ParseInt(value.substr(comma + 1), plan.split_gap_ms) && plan.split_pieces >= 1;
    }
    return false;
}

}  // namespace

std::optional<FaultPlan> ParseFaultPlan(const std::string& words, std::string& error) {
    FaultPlan plan;
    std::istringstream stream(words);
    std::string word;
    while (stream >> word) {
        if (!ApplyWord(word, plan)) {
            error = "bad fault word: " + word;
            return std::nullopt;
        }
    }
    return plan;
}

namespace {

// A line that never falls silent and never carries a head: EB is never
// followed by 90.
std::vector<TimedBytes> Babble(const FaultPlan& plan) {
    constexpr std::int32_t kEveryMs = 10;
    const std::vector<std::uint8_t> noise = {0x55, 0x90, 0xEB, 0x00, 0xEB, 0xEB, 0x12, 0xCC};
    std::vector<TimedBytes> pieces;
    for (std::int32_t at = 0; at < plan.babble_ms; at += kEveryMs) {
        pieces.push_back({plan.delay_ms + at, noise});
    }
    return pieces;
}

}  // namespace

std::vector<TimedBytes> ShapeReply(std::vector<std::uint8_t> reply, const FaultPlan& plan) {
    if (plan.silent) return {};
    if (plan.babble_ms > 0) return Babble(plan);
    if (plan.reply) reply = *plan.reply;
    if (reply.size() >= static_cast<std::size_t>(frame_layout::kFrameOverhead)) {
        using namespace frame_layout;
        const std::int32_t length_field = reply[kLengthOffset] | (reply[kLengthOffset + 1] << 8);
        const auto checksum_at = static_cast<std::size_t>(ChecksumOffset(length_field));
        if (plan.bad_checksum && checksum_at + 1 < reply.size()) reply[checksum_at] ^= 0x5A;
        if (plan.bad_tail) reply.back() = 0x00;
        if (plan.short_length) {
            reply[kLengthOffset] = kLengthFieldBias - 1;
            reply[kLengthOffset + 1] = 0;
        }
    }
    std::vector<std::uint8_t> line = plan.noise;
    line.insert(line.end(), reply.begin(), reply.end());
    if (plan.hang_up) {
        line.resize(plan.noise.size() + reply.size() / 2);
        return {{plan.delay_ms, line, true}};
    }
    const std::size_t reply_end = line.size();

    std::vector<TimedBytes> pieces;
    const std::size_t piece_count = static_cast<std::size_t>(plan.split_pieces);
    const std::size_t piece_size = (reply_end + piece_count - 1) / piece_count;
    std::int32_t at = plan.delay_ms;
    for (std::size_t start = 0; start < reply_end; start += piece_size) {
        const std::size_t end = std::min(reply_end, start + piece_size);
        pieces.push_back({at,
                          {line.begin() + static_cast<std::ptrdiff_t>(start),
                           line.begin() + static_cast<std::ptrdiff_t>(end)}});
        at += plan.split_gap_ms;
    }
    if (!plan.surplus.empty()) {
        if (pieces.empty()) pieces.push_back({plan.delay_ms, {}});
        pieces.back().bytes.insert(pieces.back().bytes.end(), plan.surplus.begin(), plan.surplus.end());
    }
    return pieces;
}

}  // namespace varek::sim
