// How the simulated instrument misbehaves when it answers one request.
#ifndef VAREK_SIM_FAULT_PLAN_H
#define VAREK_SIM_FAULT_PLAN_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varek::sim {

struct FaultPlan {
    std::int32_t delay_ms = 0;        // before the first byte of the reply
    std::vector<std::uint8_t> noise;  // sent before the head
    std::int32_t split_pieces = 1;    // the reply cut into this many pieces...
    std::int32_t split_gap_ms = 0;    // ...with this pause between them
    bool bad_checksum = false;
    bool bad_tail = false;
    bool short_length = false;                       // length field 5
    bool silent = false;                             // no reply at all
    bool hang_up = false;                            // line closed halfway through the reply
    std::int32_t babble_ms = 0;                      // noise with no head instead of a reply
    bool refuse = false;                             // refuse it: parameter 0x0000, nothing applied
    bool ignore = false;                             // acknowledge a setting, but apply nothing
    std::vector<std::uint8_t> surplus;               // sent right after the reply
    std::optional<std::vector<std::uint8_t>> reply;  // these bytes instead of the answer
};

// Parses blank-separated words: delay=MS noise=HEX split=PIECES,GAP_MS
// checksum tail short-length silent refuse ignore hangup babble=MS surplus=HEX reply=HEX. Sets `error`
// and returns nullopt on a word it does not know.
std::optional<FaultPlan> ParseFaultPlan(const std::string& words, std::string& error);

// One piece of output and when to send it, in ms after the request arrived.
struct TimedBytes {
    std::int32_t at_ms;
    std::vector<std::uint8_t> bytes;
    bool then_hang_up = false;  // close the line once these bytes are out
};

// Turns the instrument's reply frame into what goes on the line.
std::vector<TimedBytes> ShapeReply(std::vector<std::uint8_t> reply, const FaultPlan& plan);

}  // namespace varek::sim

#endif
