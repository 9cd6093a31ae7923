// One request/response exchange against the simulated instrument, with each
// way the instrument or the line can misbehave.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "hex_text.h"
#include "sim_fixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using varek::test::MillisecondsOf;
using ExchangeTest = varek::test::SimTest;

const Bytes kSoftwareTrigger = {0xEB, 0x90, 0x06, 0x00, 0x14, 0x00, 0x00, 0x95, 0x01, 0xCC};
// Fails after the deadline plus one body read; the rest is scheduling slack.
constexpr long long kLateMarginMs = 100 + 150;

TEST_F(ExchangeTest, ReplyIsDecoded) {
    VarekFrame reply;
    ASSERT_TRUE(device.SendFrame(0x14, 0, nullptr, 0, &reply, 1000));
    EXPECT_TRUE(reply.valid);
    EXPECT_EQ(reply.cmd, 0x14);
    EXPECT_EQ(reply.param, 1);
    EXPECT_TRUE(reply.data.empty());
    EXPECT_EQ(sim.LastRequest(), kSoftwareTrigger);
}

TEST_F(ExchangeTest, SendFrameU32WritesWordsLittleEndian) {
    VarekFrame reply;
    ASSERT_TRUE(device.SendFrameU32(0x08, 1, {0x000001F4u, 0u}, &reply, 1000));
    EXPECT_EQ(sim.LastRequest(), Bytes({0xEB, 0x90, 0x0E, 0x00, 0x08, 0x01, 0x00, 0xF4, 0x01, 0x00, 0x00,
                                        0x00, 0x00, 0x00, 0x00, 0x87, 0x02, 0xCC}));
}

TEST_F(ExchangeTest, ClosedConnectionSendsNothingAndLeavesTheReply) {
    device.Close();
    EXPECT_FALSE(device.IsOpen());
    VarekFrame reply;
    reply.valid = true;
    reply.cmd = 0x55;
    EXPECT_FALSE(device.SendFrame(0x14, 0, nullptr, 0, &reply, 1000));
    EXPECT_TRUE(reply.valid);
    EXPECT_EQ(reply.cmd, 0x55);
    EXPECT_TRUE(sim.Received().empty());
}

TEST_F(ExchangeTest, PayloadLengthNoFrameCanCarrySendsNothing) {
    VarekFrame reply;
    EXPECT_FALSE(device.SendFrame(0x14, 0, nullptr, -1, &reply, 1000));
    EXPECT_TRUE(sim.Received().empty());
}

TEST_F(ExchangeTest, NullReplyReturnsRightAfterTheWrite) {
    sim.Fault("delay=500");
    const long long elapsed =
        MillisecondsOf([&] { EXPECT_TRUE(device.SendFrame(0x14, 0, nullptr, 0, nullptr, 1000)); });
    EXPECT_LT(elapsed, 300);
    EXPECT_EQ(sim.RequestCount(), 1);
}

TEST_F(ExchangeTest, NoiseBeforeTheHeadIsSkipped) {
    sim.Fault("noise=0090EB12EBEB");
    VarekFrame reply;
    ASSERT_TRUE(device.SendFrame(0x14, 0, nullptr, 0, &reply, 1000));
    EXPECT_EQ(reply.cmd, 0x14);
    sim.Fault("noise=EB0090");
    ASSERT_TRUE(device.SendFrame(0x07, 1, nullptr, 0, &reply, 1000));
    EXPECT_EQ(reply.cmd, 0x07);
}

TEST_F(ExchangeTest, ReplyInPiecesIsAssembled) {
    sim.Fault("split=10,15");  // one byte per piece: length bytes in separate reads
    VarekFrame reply;
    ASSERT_TRUE(device.SendFrame(0x14, 0, nullptr, 0, &reply, 1000));
    EXPECT_EQ(reply.param, 1);
    sim.Fault("split=3,60");
    ASSERT_TRUE(device.SendFrame(0x06, 0x0301, nullptr, 0, &reply, 1000));
    EXPECT_EQ(reply.cmd, 0x06);
}

TEST_F(ExchangeTest, DelayedReplyWithinTheTimeoutIsAccepted) {
    sim.Fault("delay=400");
    VarekFrame reply;
    bool ok = false;
    const long long elapsed =
        MillisecondsOf([&] { ok = device.SendFrame(0x14, 0, nullptr, 0, &reply, 1000); });
    EXPECT_TRUE(ok);
    EXPECT_GE(elapsed, 380);
}

TEST_F(ExchangeTest, DamagedRepliesFailAndResetTheReply) {
    for (const char* fault : {"checksum", "tail"}) {
        sim.Fault(fault);
        VarekFrame reply;
        reply.cmd = 0x55;
        reply.data = {1, 2};
        EXPECT_FALSE(device.SendFrame(0x14, 0, nullptr, 0, &reply, 1000)) << fault;
        EXPECT_FALSE(reply.valid);
        EXPECT_EQ(reply.cmd, 0);
        EXPECT_TRUE(reply.data.empty());
    }
}

TEST_F(ExchangeTest, LengthFieldUnderSixFailsAtOnceKeepingTheFields) {
    sim.Fault("short-length");
    VarekFrame reply;
    reply.cmd = 0x55;
    reply.param = 0x0102;
    bool ok = true;
    const long long elapsed =
        MillisecondsOf([&] { ok = device.SendFrame(0x14, 0, nullptr, 0, &reply, 1000); });
    EXPECT_FALSE(ok);
    EXPECT_LT(elapsed, 500);
    EXPECT_EQ(reply.cmd, 0x55);
    EXPECT_EQ(reply.param, 0x0102);
}

TEST_F(ExchangeTest, NoReplyFailsAfterTheTimeoutPlusOneReadWait) {
    sim.Fault("silent");
    VarekFrame reply;
    bool ok = true;
    const long long elapsed =
        MillisecondsOf([&] { ok = device.SendFrame(0x14, 0, nullptr, 0, &reply, 1000); });
    EXPECT_FALSE(ok);
    EXPECT_GE(elapsed, 1000);
    EXPECT_LE(elapsed, 1000 + kLateMarginMs);
    EXPECT_TRUE(device.SendFrame(0x14, 0, nullptr, 0, &reply, 1000)) << "the connection stays usable";
}

TEST_F(ExchangeTest, ZeroTimeoutSendsButDoesNotWait) {
    VarekFrame reply;
    bool ok = true;
    const long long elapsed = MillisecondsOf([&] { ok = device.SendFrame(0x14, 0, nullptr, 0, &reply, 0); });
    EXPECT_FALSE(ok);
    EXPECT_LT(elapsed, 200);
    EXPECT_EQ(sim.RequestCount(), 1);
}

TEST_F(ExchangeTest, SurplusAndLateRepliesArePurgedBeforeTheNextRequest) {
    // A complete stale frame after the reply: taken for the next answer
    // unless the next exchange discards it first.
    Bytes stale;
    VarekDDG::BuildFrame(0x55, 0x0001, nullptr, 0, stale);
    sim.Fault("surplus=" + varek::sim::ToHex(stale));
    VarekFrame reply;
    ASSERT_TRUE(device.SendFrame(0x14, 0, nullptr, 0, &reply, 1000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(device.SendFrame(0x07, 1, nullptr, 0, &reply, 1000));
    EXPECT_EQ(reply.cmd, 0x07);

    sim.Fault("delay=1300");
    EXPECT_FALSE(device.SendFrame(0x06, 0x0101, nullptr, 0, &reply, 1000));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the late reply lands meanwhile
    ASSERT_TRUE(device.SendFrame(0x01, 2, nullptr, 0, &reply, 1000));
    EXPECT_EQ(reply.cmd, 0x01);
}

// The status reply comes 50 ms after its exchange gave up; the next request's
// reply comes slower. Without waiting for the line to fall quiet the late
// status block would be read as the temperature (0.00, success).
TEST_F(ExchangeTest, AReplyLateForAFailedExchangeIsNotTheNextOnes) {
    VarekTimingConfig config{};
    sim.Fault("delay=1050");
    EXPECT_FALSE(device.ReadTimingConfig(1, &config));
    EXPECT_EQ(device.LastExchange().outcome, VarekOutcome::NothingArrived);
    sim.Fault("delay=300");
    float temperature = 0;
    ASSERT_TRUE(device.ReadTemperature(&temperature)) << VarekDescribeOutcome(device.LastExchange());
    EXPECT_EQ(temperature, 25.0f);
    EXPECT_GT(device.LastExchange().discarded_bytes, 300u) << "the late status block was dropped";
    EXPECT_GE(device.LastExchange().quiet_wait_ms, 100u);
    // A success leaves nothing to wait for: the next exchange goes at once.
    ASSERT_TRUE(device.ReadTemperature(&temperature));
    EXPECT_EQ(device.LastExchange().quiet_wait_ms, 0u);
}

TEST_F(ExchangeTest, ARefusedArgumentKeepsTheWaitForALateReply) {
    sim.Fault("delay=1050");
    EXPECT_FALSE(device.SoftwareTrigger());
    EXPECT_FALSE(device.SetDelay(9, 1));  // rejected before anything is sent
    EXPECT_TRUE(device.LastExchange().reply_may_follow);
    float temperature = 0;
    ASSERT_TRUE(device.ReadTemperature(&temperature)) << VarekDescribeOutcome(device.LastExchange());
    EXPECT_EQ(temperature, 25.0f);
    EXPECT_FALSE(device.LastExchange().reply_may_follow);
}

TEST_F(ExchangeTest, TheReportHoldsTheWholeExchange) {
    sim.Fault("noise=0102 split=3,30");
    ASSERT_TRUE(device.SoftwareTrigger());
    const VarekExchangeReport& report = device.LastExchange();
    EXPECT_EQ(report.outcome, VarekOutcome::Succeeded);
    EXPECT_EQ(report.request, kSoftwareTrigger);
    EXPECT_EQ(report.bytes_written, 10);
    EXPECT_EQ(report.noise_bytes, 2);
    EXPECT_EQ(report.ReplyFrame(), Bytes({0xEB, 0x90, 0x06, 0x00, 0x14, 0x01, 0x00, 0x96, 0x01, 0xCC}));
    std::uint32_t total = 0;
    for (const VarekChunk& chunk : report.chunks) total += chunk.size;
    EXPECT_EQ(total, 12u);
    EXPECT_GE(report.chunks.size(), 3u) << "the pieces came apart";
    EXPECT_GE(report.chunks.back().at_ms, 40u) << "two gaps of 30 ms came before the last piece";
    EXPECT_EQ(VarekDescribeOutcome(report), "");
}

TEST_F(ExchangeTest, AFailedOpenSaysWhyAndNamesThePort) {
    VarekDDG other;
    EXPECT_FALSE(other.Open(varek::test::MissingPortName().c_str(), 115200));
    EXPECT_EQ(other.LastExchange().outcome, VarekOutcome::OpenFailed);
    EXPECT_EQ(other.LastExchange().open_error.failure, VarekOpenFailure::NoSuchPort);
    EXPECT_NE(other.LastExchange().open_error.os_error, 0);
    EXPECT_NE(VarekDescribeOutcome(other.LastExchange()).find(": no such port"), std::string::npos)
        << VarekDescribeOutcome(other.LastExchange());
    EXPECT_FALSE(other.SoftwareTrigger());
    EXPECT_EQ(VarekDescribeOutcome(other.LastExchange()).rfind("the connection to ", 0), 0u)
        << VarekDescribeOutcome(other.LastExchange());
}

}  // namespace
