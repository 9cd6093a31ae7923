// The receive path driven by scripted reads and a scripted clock: every way
// a reply can be cut, delayed or damaged, without a port.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <vector>

#include "protocol/frame_receiver.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes MakeReply() {
    Bytes frame;
    const std::uint8_t payload[] = {0x12, 0x34};
    VarekDDG::BuildFrame(0x93, 1, payload, 2, frame);
    return frame;
}
const Bytes kReply = MakeReply();

// One scripted read result: bytes to hand out (at most what is asked), or a
// failure. Every read advances the clock by the wait it was given when it
// returns nothing, and by 1 ms when it returns bytes.
struct ScriptedLine {
    std::deque<Bytes> reads;
    bool fail_when_empty = false;
    std::uint32_t clock = 0;
    std::vector<std::int32_t> waits;
    VarekExchangeReport report;

    std::int32_t Read(std::uint8_t* buffer, std::int32_t count, std::int32_t wait_ms) {
        waits.push_back(wait_ms);
        if (reads.empty()) {
            clock += static_cast<std::uint32_t>(wait_ms);
            return fail_when_empty ? -1 : 0;
        }
        Bytes& next = reads.front();
        const auto taken = std::min<std::size_t>(next.size(), static_cast<std::size_t>(count));
        std::copy_n(next.begin(), taken, buffer);
        next.erase(next.begin(), next.begin() + static_cast<std::ptrdiff_t>(taken));
        if (next.empty()) reads.pop_front();
        clock += taken == 0 ? static_cast<std::uint32_t>(wait_ms) : 1u;
        return static_cast<std::int32_t>(taken);
    }

    bool Receive(VarekFrame& reply, std::int32_t timeout_ms) {
        report.Begin(timeout_ms);
        return varek::ReceiveFrame([this](std::uint8_t* buffer, std::int32_t count,
                                          std::int32_t wait_ms) { return Read(buffer, count, wait_ms); },
                                   [this] { return clock; }, reply, timeout_ms, report);
    }
};

Bytes Concat(const Bytes& a, const Bytes& b) {
    Bytes joined = a;
    joined.insert(joined.end(), b.begin(), b.end());
    return joined;
}

TEST(ReceiveFrame, FindsTheHeadAfterNoise) {
    ScriptedLine line;
    line.reads = {
        Concat({0x00, 0x90, 0xEB, 0x12, 0xEB, 0xEB, 0x90}, Bytes(kReply.begin() + 2, kReply.end()))};
    VarekFrame reply;
    ASSERT_TRUE(line.Receive(reply, 1000));
    EXPECT_EQ(reply.cmd, 0x93);
    EXPECT_EQ(reply.data, Bytes({0x12, 0x34}));
}

TEST(ReceiveFrame, EbThenOtherByteThen90IsNoHead) {
    ScriptedLine line;
    line.reads = {Concat({0xEB, 0x00, 0x90}, kReply)};
    VarekFrame reply;
    ASSERT_TRUE(line.Receive(reply, 1000));
    EXPECT_EQ(reply.cmd, 0x93);
}

TEST(ReceiveFrame, AssemblesAReplyCutIntoSingleBytes) {
    ScriptedLine line;
    for (const std::uint8_t byte : kReply) line.reads.push_back({byte});
    line.reads.insert(line.reads.begin() + 3, Bytes{});  // a read that brings nothing
    VarekFrame reply;
    ASSERT_TRUE(line.Receive(reply, 1000));
    EXPECT_EQ(reply.param, 1);
}

TEST(ReceiveFrame, HuntWaitsUpToTheDeadlineAndTheRestByPhase) {
    ScriptedLine line;
    line.reads = {{0xEB}, {0x90}, {0x08}, {0x00}, Bytes(kReply.begin() + 4, kReply.end())};
    VarekFrame reply;
    ASSERT_TRUE(line.Receive(reply, 1000));
    // Each read that brings bytes takes 1 ms of the scripted clock.
    EXPECT_EQ(line.waits, (std::vector<std::int32_t>{1000, 999, 50, 50, 100}));
}

TEST(ReceiveFrame, SilentLineIsOneReadToTheDeadline) {
    ScriptedLine line;
    VarekFrame reply;
    EXPECT_FALSE(line.Receive(reply, 1000));
    EXPECT_EQ(line.report.outcome, VarekOutcome::NothingArrived);
    EXPECT_EQ(line.waits, (std::vector<std::int32_t>{1000}));
}

TEST(ReceiveFrame, ReadsOnlyTheFrameAndLeavesWhatFollows) {
    ScriptedLine line;
    line.reads = {Concat(kReply, {0xAA, 0xBB})};
    VarekFrame reply;
    ASSERT_TRUE(line.Receive(reply, 1000));
    ASSERT_EQ(line.reads.size(), 1u);
    EXPECT_EQ(line.reads.front(), Bytes({0xAA, 0xBB}));
}

TEST(ReceiveFrame, HuntNeverTakesMoreThanTheHeadAndLength) {
    // All at once, as a fast line delivers it: the hunt must leave the body
    // and what follows to the reads after it.
    for (const Bytes& noise :
         {Bytes{}, Bytes{0x00}, Bytes{0xEB}, Bytes{0xEB, 0xEB, 0x12}, Bytes{0x90, 0xEB, 0x00}}) {
        ScriptedLine line;
        line.reads = {Concat(Concat(noise, kReply), {0xAA, 0xBB, 0xCC})};
        VarekFrame reply;
        ASSERT_TRUE(line.Receive(reply, 1000));
        EXPECT_EQ(reply.data, Bytes({0x12, 0x34}));
        ASSERT_EQ(line.reads.size(), 1u);
        EXPECT_EQ(line.reads.front(), Bytes({0xAA, 0xBB, 0xCC}));
    }
}

TEST(ReceiveFrame, ReadThatClaimsMoreThanAskedFails) {
    VarekFrame reply;
    VarekExchangeReport report;
    EXPECT_FALSE(
        varek::ReceiveFrame([](std::uint8_t*, std::int32_t count, std::int32_t) { return count + 1; },
                            [] { return 0u; }, reply, 1000, report));
    EXPECT_EQ(report.outcome, VarekOutcome::ReadFailed);
    EXPECT_TRUE(report.received.empty());
}

TEST(ReceiveFrame, ShortLengthFailsAtOnceAndKeepsEarlierFields) {
    ScriptedLine line;
    line.reads = {{0xEB, 0x90, 0x05, 0x00}, kReply};
    VarekFrame reply;
    reply.cmd = 0x77;
    reply.param = 0x1234;
    reply.data = {9};
    reply.valid = true;
    EXPECT_FALSE(line.Receive(reply, 1000));
    EXPECT_FALSE(reply.valid);
    EXPECT_EQ(reply.cmd, 0x77);
    EXPECT_EQ(reply.param, 0x1234);
    EXPECT_EQ(reply.data, Bytes{9});
    EXPECT_EQ(line.reads.size(), 1u) << "no second hunt after a bad length";
}

TEST(ReceiveFrame, DamagedFrameResetsTheRecord) {
    Bytes bad_tail = kReply;
    bad_tail.back() = 0x00;
    ScriptedLine line;
    line.reads = {bad_tail};
    VarekFrame reply;
    reply.cmd = 0x77;
    EXPECT_FALSE(line.Receive(reply, 1000));
    EXPECT_EQ(reply.cmd, 0);
}

TEST(ReceiveFrame, ZeroOrNegativeTimeoutFailsBeforeReading) {
    for (const std::int32_t timeout : {0, -1}) {
        ScriptedLine line;
        line.reads = {kReply};
        VarekFrame reply;
        EXPECT_FALSE(line.Receive(reply, timeout));
        EXPECT_TRUE(line.waits.empty());
    }
}

TEST(ReceiveFrame, SilenceFailsAtTheDeadlineInEveryPhase) {
    const std::vector<Bytes> partial = {{}, {0xEB, 0x90}, {0xEB, 0x90, 0x08}, {0xEB, 0x90, 0x08, 0x00, 0x93}};
    for (const Bytes& before_silence : partial) {
        ScriptedLine line;
        if (!before_silence.empty()) line.reads = {before_silence};
        VarekFrame reply;
        EXPECT_FALSE(line.Receive(reply, 1000));
        EXPECT_GE(line.clock, 1000u);
        EXPECT_LE(line.clock, 1000u + 100u);
    }
}

TEST(ReceiveFrame, ABodyCompletedByALateReadIsStillAccepted) {
    ScriptedLine line;
    line.reads = {Bytes(kReply.begin(), kReply.begin() + 6)};
    // The rest arrives in a read that starts before the deadline and ends after it.
    VarekFrame reply;
    bool late_read_done = false;
    const bool accepted = varek::ReceiveFrame(
        [&](std::uint8_t* buffer, std::int32_t count, std::int32_t wait_ms) {
            if (!line.reads.empty()) return line.Read(buffer, count, wait_ms);
            if (line.clock < 900) {
                line.clock += static_cast<std::uint32_t>(wait_ms);
                return 0;
            }
            late_read_done = true;
            line.clock += 100;  // ends past the 1000 ms deadline
            std::copy(kReply.begin() + 6, kReply.end(), buffer);
            return static_cast<std::int32_t>(kReply.size() - 6);
        },
        [&] { return line.clock; }, reply, 1000, line.report);
    EXPECT_TRUE(late_read_done);
    EXPECT_TRUE(accepted);
    EXPECT_GT(line.clock, 1000u);
}

TEST(ReceiveFrame, ClockWrapDoesNotEndTheWait) {
    ScriptedLine line;
    line.clock = 0xFFFFFF00u;  // wraps 256 ms into the receive
    VarekFrame reply;
    EXPECT_FALSE(line.Receive(reply, 1000));
    EXPECT_GE(line.clock - 0xFFFFFF00u, 1000u);
}

TEST(ReceiveFrame, ReadFailureEndsTheReceive) {
    ScriptedLine line;
    line.reads = {{0xEB, 0x90, 0x08}};
    line.fail_when_empty = true;
    VarekFrame reply;
    EXPECT_FALSE(line.Receive(reply, 1000));
    EXPECT_LT(line.clock, 1000u);
}

// Where a receive ended, as its report says: one case per way it can end.
struct EndingCase {
    const char* name;
    std::vector<Bytes> reads;
    bool fail_when_empty;
    VarekOutcome outcome;
    std::int32_t noise_bytes;
    std::int32_t frame_received;
    std::int32_t frame_size;
};

TEST(ReceiveFrame, ReportsWhereTheReceiveEnded) {
    Bytes bad_tail = kReply;
    bad_tail.back() = 0xCD;
    Bytes bad_sum = kReply;
    bad_sum[kReply.size() - 3] ^= 0x01;
    const Bytes noise(37, 0x3A);
    const EndingCase cases[] = {
        {"silence", {}, false, VarekOutcome::NothingArrived, 0, 0, 0},
        {"noise", {noise}, false, VarekOutcome::NoFrameHead, 37, 0, 0},
        {"noise ending in EB", {Concat(noise, {0xEB})}, false, VarekOutcome::NoFrameHead, 38, 0, 0},
        {"head only", {{0x00, 0xEB, 0x90, 0x08}}, false, VarekOutcome::FrameIncomplete, 1, 3, 0},
        {"half a body",
         {Bytes(kReply.begin(), kReply.begin() + 6)},
         false,
         VarekOutcome::FrameIncomplete,
         0,
         6,
         12},
        {"length 5", {{0xEB, 0x90, 0x05, 0x00}}, false, VarekOutcome::LengthFieldTooSmall, 0, 4, 0},
        {"tail", {bad_tail}, false, VarekOutcome::BadTail, 0, 12, 12},
        {"checksum", {bad_sum}, false, VarekOutcome::BadChecksum, 0, 12, 12},
        {"read failed", {{0xEB, 0x90}}, true, VarekOutcome::ReadFailed, 0, 2, 0},
        {"whole", {Concat({0x01, 0x02}, kReply)}, false, VarekOutcome::Succeeded, 2, 12, 12},
    };
    for (const EndingCase& ending : cases) {
        ScriptedLine line;
        line.reads = {ending.reads.begin(), ending.reads.end()};
        line.fail_when_empty = ending.fail_when_empty;
        VarekFrame reply;
        EXPECT_EQ(line.Receive(reply, 1000), ending.outcome == VarekOutcome::Succeeded) << ending.name;
        EXPECT_EQ(line.report.outcome, ending.outcome) << ending.name;
        EXPECT_EQ(line.report.noise_bytes, ending.noise_bytes) << ending.name;
        EXPECT_EQ(line.report.frame_received, ending.frame_received) << ending.name;
        EXPECT_EQ(line.report.frame_size, ending.frame_size) << ending.name;
    }
}

TEST(ReceiveFrame, ReportsTheValuesThatFailedAFrame) {
    ScriptedLine line;
    Bytes bad_sum = kReply;
    bad_sum[kReply.size() - 3] = 0x34;
    bad_sum[kReply.size() - 2] = 0x12;
    line.reads = {bad_sum};
    VarekFrame reply;
    EXPECT_FALSE(line.Receive(reply, 1000));
    EXPECT_EQ(line.report.checksum_received, 0x1234);
    EXPECT_EQ(line.report.checksum_computed,
              VarekDDG::Checksum(kReply.data(), static_cast<std::int32_t>(kReply.size() - 3)));

    Bytes bad_tail = kReply;
    bad_tail.back() = 0xCD;
    line.reads = {bad_tail};
    EXPECT_FALSE(line.Receive(reply, 1000));
    EXPECT_EQ(line.report.tail_received, 0xCD);

    line.reads = {{0xEB, 0x90, 0x02, 0x00}};
    EXPECT_FALSE(line.Receive(reply, 1000));
    EXPECT_EQ(line.report.length_field, 2);
}

TEST(ReceiveFrame, RecordsEveryChunkWithItsTime) {
    ScriptedLine line;
    // Noise, then the reply in three pieces with reads that bring nothing
    // between (the hunt's read waits to the deadline: it has no such read).
    line.reads = {{0x00, 0xEB}, Bytes(kReply.begin(), kReply.begin() + 3),
                  {},           Bytes(kReply.begin() + 3, kReply.begin() + 6),
                  {},           Bytes(kReply.begin() + 6, kReply.end())};
    VarekFrame reply;
    ASSERT_TRUE(line.Receive(reply, 1000));
    EXPECT_EQ(line.report.received, Concat({0x00, 0xEB}, kReply));
    EXPECT_EQ(line.report.ReplyFrame(), kReply);
    ASSERT_GE(line.report.chunks.size(), 3u);
    std::uint32_t offset = 0;
    std::uint32_t previous_ms = 0;
    for (const VarekChunk& chunk : line.report.chunks) {
        EXPECT_EQ(chunk.offset, offset);
        EXPECT_GT(chunk.size, 0u);
        EXPECT_GE(chunk.at_ms, previous_ms);
        offset += chunk.size;
        previous_ms = chunk.at_ms;
    }
    EXPECT_EQ(offset, line.report.received.size());
    EXPECT_GE(line.report.chunks.back().at_ms, 150u)
        << "an empty length read (50 ms) and an empty body read (100 ms) came first";
}

// Noise without a head byte, as a babbling line sends it.
Bytes Noise(std::size_t count) {
    Bytes noise(count);
    for (std::size_t i = 0; i < count; ++i) noise[i] = static_cast<std::uint8_t>(i % 0xEB);
    return noise;
}

TEST(ReceiveFrame, KeepsTheFirstAndLastNoiseAndTheWholeReplyHoweverLongTheNoise) {
    constexpr std::size_t kNoise = 200000;
    constexpr std::uint32_t kKept = VarekExchangeReport::KEPT_NOISE_BYTES;
    const Bytes noise = Noise(kNoise);
    ScriptedLine line;
    line.reads = {noise, kReply};
    VarekFrame reply;
    ASSERT_TRUE(line.Receive(reply, 1000000));
    const VarekExchangeReport& report = line.report;
    EXPECT_EQ(report.ReplyFrame(), kReply);
    EXPECT_EQ(report.noise_bytes, static_cast<std::int32_t>(kNoise));
    EXPECT_EQ(report.ReceivedTotal(), kNoise + kReply.size());
    // The first bytes up to the end of the read that passed the mark, then a
    // tail of the noise's own last bytes, then the reply.
    EXPECT_GE(report.omitted_at, kKept);
    EXPECT_LT(report.omitted_at, kKept + 4);
    EXPECT_TRUE(
        std::equal(report.received.begin(), report.received.begin() + report.omitted_at, noise.begin()));
    const std::size_t tail = report.received.size() - report.omitted_at - kReply.size();
    EXPECT_GE(tail, kKept);
    EXPECT_LT(tail, 2 * kKept);
    EXPECT_TRUE(std::equal(report.received.begin() + report.omitted_at, report.received.end() - kReply.size(),
                           noise.end() - static_cast<std::ptrdiff_t>(tail)));
    EXPECT_EQ(report.received_omitted, kNoise - report.omitted_at - tail);
    // The reads kept still tile what is kept, and a line that babbles cannot
    // make either record grow.
    std::uint32_t offset = 0;
    for (const VarekChunk& chunk : report.chunks) {
        EXPECT_EQ(chunk.offset, offset);
        offset += chunk.size;
    }
    EXPECT_EQ(offset, report.received.size());
    EXPECT_GT(report.reads_omitted, kNoise / 8);
    EXPECT_LT(report.received.capacity(), 16u * 1024u);
    EXPECT_LT(report.chunks.capacity(), 4096u);
}

TEST(ReceiveFrame, CountsNoiseItDoesNotKeepWhenNoHeadComes) {
    ScriptedLine line;
    line.reads = {Noise(100000)};
    VarekFrame reply;
    EXPECT_FALSE(line.Receive(reply, 1000000));
    EXPECT_EQ(line.report.outcome, VarekOutcome::NoFrameHead);
    EXPECT_EQ(line.report.ReceivedTotal(), 100000u);
    EXPECT_LT(line.report.received.size(), 3u * VarekExchangeReport::KEPT_NOISE_BYTES);
    EXPECT_NE(VarekDescribeOutcome(line.report).find("100000 bytes arrived"), std::string::npos)
        << VarekDescribeOutcome(line.report);
}

}  // namespace
