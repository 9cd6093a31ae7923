// Finds whole request frames in the bytes the host writes, however they are
// cut, and hands each to the library's codec to check and decode. A head
// whose length field no request of the command set has is skipped at once,
// so that the work per byte received stays small whatever is sent.
//
// The codec checks and decodes one frame that starts at a known place; it
// cannot say where frames are in a stream. That part stays here, on the
// instrument's side: the host's receive path is not used, so that the
// simulator cannot share that path's mistakes, and an instrument listens
// differently anyway: it never times out a request, but forgets one left
// unfinished by a pause and takes several requests in a row. varek-server's
// frame port listens the same way, as the instrument's stand-in.
#ifndef VAREK_SIM_REQUEST_ASSEMBLER_H
#define VAREK_SIM_REQUEST_ASSEMBLER_H

#include <chrono>
#include <cstdint>
#include <vector>

#include "varek/varek_ddg.h"

namespace varek::sim {

class RequestAssembler {
public:
    using Clock = std::chrono::steady_clock;
    // A host writes a request in one go: like the instrument, forget a
    // request left unfinished by this much quiet, and hunt a new head.
    static constexpr std::chrono::milliseconds kRequestPause{100};

    // Appends `bytes`, which arrived at `now`, and returns every request
    // completed by them, in order. A request left unfinished by
    // kRequestPause of quiet before `now` is forgotten first; dropped() says
    // how many bytes that was.
    std::vector<VarekFrame> Feed(const std::uint8_t* bytes, std::size_t count, Clock::time_point now);
    std::size_t dropped() const { return dropped_; }
    // How many bytes the last Feed skipped as no part of any frame.
    std::size_t skipped() const { return skipped_; }
    void Clear() { pending_.clear(); }
    // Bytes held for a request not yet whole.
    std::size_t pending() const { return pending_.size(); }

private:
    std::vector<std::uint8_t> pending_;
    Clock::time_point last_bytes_{};
    std::size_t dropped_ = 0;  // by the last Feed
    std::size_t skipped_ = 0;  // by the last Feed
};

}  // namespace varek::sim

#endif
