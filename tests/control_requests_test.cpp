// The operations as data: argument checks, parameters and payload words, and
// the status block's decoding, without a line.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "device/control_requests.h"
#include "device/status_block.h"

namespace {

using varek::ControlRequest;

TEST(FrequencyWord, TruncatesTheQuotient) {
    EXPECT_EQ(varek::FrequencyWord(1000.0), 250000u);
    EXPECT_EQ(varek::FrequencyWord(3.0), 83333333u);
    EXPECT_EQ(varek::FrequencyWord(250000000.0), 1u);
}

TEST(FrequencyWord, RejectsEveryFrequencyWithoutA32BitWord) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const double frequency : {0.0, -0.0, -5.0, nan, inf, -inf, 250000001.0, 300000000.0, 0.05, 0.0582}) {
        EXPECT_FALSE(varek::FrequencyWord(frequency).has_value()) << frequency;
    }
}

TEST(FrequencyWord, AcceptsBothEndsOfTheWordRange) {
    // At the published lower limit the quotient reaches 2^32; just above, it
    // truncates to the largest word.
    const double limit = VarekDDG::MIN_INTERNAL_TRIGGER_FREQ;
    EXPECT_FALSE(varek::FrequencyWord(limit).has_value());
    EXPECT_EQ(varek::FrequencyWord(std::nextafter(limit, 1.0)), 4294967295u);
    EXPECT_EQ(varek::FrequencyWord(VarekDDG::MAX_INTERNAL_TRIGGER_FREQ), 1u);
    EXPECT_FALSE(varek::FrequencyWord(std::nextafter(VarekDDG::MAX_INTERNAL_TRIGGER_FREQ, 1e9)).has_value());
    EXPECT_EQ(varek::FrequencyWord(0.0583), 4288164665u);
    EXPECT_EQ(varek::FrequencyWord(std::nextafter(250000000.0, 0.0)), 1u);
}

TEST(TimingRequest, SplitsValueTimesHundredIntoLowThenHighWord) {
    const auto one = varek::TimingRequest(VarekDDG::CMD_SET_DELAY, 1, 1);
    ASSERT_TRUE(one.has_value());
    EXPECT_EQ(one->cmd, VarekDDG::CMD_SET_DELAY);
    EXPECT_EQ(one->param, 1);
    EXPECT_EQ(one->words, (std::vector<std::uint32_t>{100, 0}));

    const auto largest = varek::TimingRequest(VarekDDG::CMD_SET_PULSE_WIDTH, 8, VarekDDG::MAX_TIMING_VALUE);
    ASSERT_TRUE(largest.has_value());
    EXPECT_EQ(largest->words, (std::vector<std::uint32_t>{0xFFFFFFF0u, 0xFFFFFFFFu}));  // 2^64 - 16
    const auto above_32_bits = varek::TimingRequest(VarekDDG::CMD_SET_DELAY, 2, 5000000000);
    ASSERT_TRUE(above_32_bits.has_value());
    EXPECT_EQ(above_32_bits->words, (std::vector<std::uint32_t>{0x6A528800u, 0x74u}));  // 5e11
}

TEST(TimingRequest, RejectsBadChannelsAndValuesThatWouldNotSurviveTheScaling) {
    for (const std::int32_t channel : {0, 9, -1, std::numeric_limits<std::int32_t>::min()}) {
        EXPECT_FALSE(varek::TimingRequest(VarekDDG::CMD_SET_DELAY, channel, 5).has_value()) << channel;
    }
    EXPECT_FALSE(varek::TimingRequest(VarekDDG::CMD_SET_DELAY, 1, -1).has_value());
    EXPECT_FALSE(
        varek::TimingRequest(VarekDDG::CMD_SET_DELAY, 1, VarekDDG::MAX_TIMING_VALUE + 1).has_value());
    EXPECT_FALSE(varek::TimingRequest(VarekDDG::CMD_SET_DELAY, 1, std::numeric_limits<std::int64_t>::max())
                     .has_value());
    EXPECT_TRUE(varek::TimingRequest(VarekDDG::CMD_SET_DELAY, 1, 0).has_value());
}

TEST(ControlRequests, ParametersFollowTheArguments) {
    EXPECT_EQ(varek::TriggerRequest(VarekTriggerMode::Mode0)->param, 1);
    EXPECT_EQ(varek::TriggerRequest(VarekTriggerMode::Mode1)->param, 2);
    EXPECT_EQ(varek::TriggerRequest(VarekTriggerMode::Mode2)->param, 3);
    EXPECT_EQ(varek::TriggerRequest(static_cast<VarekTriggerMode>(3))->param, 1);
    EXPECT_EQ(varek::TriggerRequest(static_cast<VarekTriggerMode>(-1))->param, 1);
    EXPECT_EQ(varek::OutputChannelRequest(3, true)->param, 0x0301);
    EXPECT_EQ(varek::OutputChannelRequest(8, false)->param, 0x0800);
    EXPECT_FALSE(varek::OutputChannelRequest(9, true).has_value());
    EXPECT_EQ(varek::GlobalOutputRequest(true)->param, 1);
    EXPECT_EQ(varek::GlobalOutputRequest(false)->param, 0);
}

class StatusBlockTest : public ::testing::Test {
protected:
    std::vector<std::uint8_t> block = std::vector<std::uint8_t>(348, 0);
    VarekTimingConfig config{};
};

TEST_F(StatusBlockTest, ShortBlockLeavesTheRecordUntouched) {
    block.resize(347);
    config.delay = 77;
    EXPECT_FALSE(varek::status_block::Decode(block, 1, config));
    EXPECT_EQ(config.delay, 77);
}

TEST_F(StatusBlockTest, TablesAreDividedByHundredTruncating) {
    block[0] = 0x64;                                          // channel 1 delay 100 -> 1
    block[8] = 99;                                            // channel 2 delay 99 -> 0
    std::fill(block.begin() + 16, block.begin() + 24, 0xFF);  // channel 3: 2^64 - 1
    ASSERT_TRUE(varek::status_block::Decode(block, 1, config));
    EXPECT_EQ(config.delay, 1);
    ASSERT_TRUE(varek::status_block::Decode(block, 2, config));
    EXPECT_EQ(config.delay, 0);
    ASSERT_TRUE(varek::status_block::Decode(block, 3, config));
    EXPECT_EQ(config.delay, 184467440737095516);
}

TEST_F(StatusBlockTest, ChannelEightReadsTheLastEntryOfEveryTable) {
    block[56] = 100;   // delay
    block[120] = 200;  // pulse width
    block[196] = 44;   // table A, 300 + 44 = 0x12C
    block[197] = 1;
    block[260] = 144;  // table B: 400 = 0x190
    block[261] = 1;
    block.resize(400, 0xEE);  // bytes past 348 are ignored
    ASSERT_TRUE(varek::status_block::Decode(block, 8, config));
    EXPECT_EQ(config.channel, 8);
    EXPECT_EQ(config.delay, 1);
    EXPECT_EQ(config.pulse_width, 2);
    EXPECT_EQ(config.chan_value_a, 3);
    EXPECT_EQ(config.chan_value_b, 4);
}

TEST_F(StatusBlockTest, InstrumentWideFieldsAreZeroExtended) {
    const std::uint8_t fields[] = {0x34, 0x12, 0xAB, 0xCD, 0x90, 0xD0, 0x03, 0x00, 0x01, 0x02, 0x78, 0x56};
    std::copy(std::begin(fields), std::end(fields), block.begin() + 128);
    const std::uint8_t nan_bits[] = {0x01, 0x00, 0xC0, 0x7F};  // a NaN with payload
    std::copy(std::begin(nan_bits), std::end(nan_bits), block.begin() + 276);
    ASSERT_TRUE(varek::status_block::Decode(block, 1, config));
    EXPECT_EQ(config.reg128, 0x1234);
    EXPECT_EQ(config.reg130, 0xAB);
    EXPECT_EQ(config.reg131, 0xCD);
    EXPECT_EQ(config.internal_trigger_freq, 1000.0);
    EXPECT_EQ(config.reg136, 1);
    EXPECT_EQ(config.reg137, 2);
    EXPECT_EQ(config.reg138, 0x5678);
    std::uint32_t bits = 0;
    std::memcpy(&bits, &config.reg276, sizeof bits);
    EXPECT_EQ(bits, 0x7FC00001u);
}

TEST(PeriodWord, TurnsIntoAFrequency) {
    EXPECT_EQ(varek::status_block::FrequencyFromPeriodWord(0), 0.0);
    EXPECT_EQ(varek::status_block::FrequencyFromPeriodWord(1), 250000000.0);
    EXPECT_EQ(varek::status_block::FrequencyFromPeriodWord(250000), 1000.0);
}

}  // namespace
