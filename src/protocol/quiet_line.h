// The wait before a request for a line that may still carry the reply to an
// earlier one: a reply that comes late for an exchange that already failed
// must be dropped, not taken for the next request's. Written against a byte
// source, a clock and a pause, like the receive, so that tests can drive it.
#ifndef VAREK_PROTOCOL_QUIET_LINE_H
#define VAREK_PROTOCOL_QUIET_LINE_H

#include <cstdint>

#include "varek/exchange_report.h"

namespace varek {

// The line counts as quiet once nothing has arrived for this long, and is
// given at most this long to become so.
constexpr std::int32_t kQuietLineMs = 100;
constexpr std::int32_t kQuietWaitLimitMs = 1000;

// Reads and drops whatever arrives until the line has been quiet for
// kQuietLineMs. False, with the outcome in `report`, when it kept sending for
// kQuietWaitLimitMs or the port failed. `read_bytes` and `now_ms` are as for
// ReceiveFrame; `pause_ms(ms)` rests between reads that return at once with
// nothing, as a port with return-at-once reads does.
template <typename ReadBytes, typename NowMs, typename PauseMs>
bool AwaitQuietLine(ReadBytes&& read_bytes, NowMs&& now_ms, PauseMs&& pause_ms, VarekExchangeReport& report) {
    const std::uint32_t start = now_ms();
    std::uint32_t last_bytes = start;
    std::uint8_t discard[4096];
    for (;;) {
        const std::uint32_t now = now_ms();
        report.quiet_wait_ms = now - start;
        const std::uint32_t quiet_for = now - last_bytes;
        if (quiet_for >= static_cast<std::uint32_t>(kQuietLineMs)) return true;
        if (now - start >= static_cast<std::uint32_t>(kQuietWaitLimitMs)) {
            report.outcome = VarekOutcome::LineKeepsSending;
            return false;
        }
        const std::int32_t got = read_bytes(discard, static_cast<std::int32_t>(sizeof discard),
                                            kQuietLineMs - static_cast<std::int32_t>(quiet_for));
        if (got < 0) {
            report.outcome = VarekOutcome::ReadFailed;
            return false;
        }
        if (got > 0) {
            report.discarded_bytes += static_cast<std::uint32_t>(got);
            last_bytes = now_ms();
        } else if (now_ms() - now < 1) {
            pause_ms(1);
        }
    }
}

}  // namespace varek

#endif
