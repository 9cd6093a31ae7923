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

TEST(ControlRequests, NoneIsLongerThanTheLongestRequest) {
    for (const auto& request :
         {varek::TriggerRequest(VarekTriggerMode::Mode1), varek::FrequencyRequest(1000.0),
          varek::OutputChannelRequest(1, true), varek::GlobalOutputRequest(true),
          varek::TimingRequest(VarekDDG::CMD_SET_DELAY, 1, VarekDDG::MAX_TIMING_VALUE),
          varek::TimingRequest(VarekDDG::CMD_SET_PULSE_WIDTH, 8, VarekDDG::MAX_TIMING_VALUE),
          varek::SoftwareTriggerRequest()}) {
        ASSERT_TRUE(request.has_value());
        EXPECT_LE(request->words.size(), varek::kLongestRequestWords) << int{request->cmd};
    }
    EXPECT_EQ(varek::TimingRequest(VarekDDG::CMD_SET_DELAY, 1, 1)->words.size(), varek::kLongestRequestWords);
}

// The block's size, 348, written out on purpose here and below: an independent check.
class StatusBlockTest : public ::testing::Test {
protected:
    std::vector<std::uint8_t> block = std::vector<std::uint8_t>(348, 0);
    VarekTimingConfig config{};
};

// The value of `size` bytes at `offset`, least significant first. The
// offsets below are written out on purpose, as an independent check of the
// layout the decoder uses.
std::uint64_t At(const std::vector<std::uint8_t>& bytes, std::size_t offset, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value |= std::uint64_t{bytes[offset + i]} << (8 * i);
    return value;
}

TEST_F(StatusBlockTest, ShortBlockWritesNoFieldOfTheRecord) {
    block.resize(347, 0x11);
    std::memset(&config, 0x5A, sizeof config);
    VarekTimingConfig before;
    std::memcpy(&before, &config, sizeof before);
    EXPECT_FALSE(varek::status_block::Decode(block, 3, config));
    EXPECT_EQ(std::memcmp(&before, &config, sizeof config), 0);
}

TEST_F(StatusBlockTest, EveryFieldComesFromItsOwnBytes) {
    // No two neighbouring bytes alike and none zero: a field read at the
    // wrong offset or one byte too wide shows in its value.
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i % 251 + 1);
    for (std::int32_t channel = 1; channel <= VarekDDG::CHANNEL_COUNT; ++channel) {
        const std::size_t entry = static_cast<std::size_t>(channel - 1) * 8;
        ASSERT_TRUE(varek::status_block::Decode(block, channel, config));
        EXPECT_EQ(config.channel, channel);
        EXPECT_EQ(config.delay, static_cast<std::int64_t>(At(block, 0 + entry, 8) / 100));
        EXPECT_EQ(config.pulse_width, static_cast<std::int64_t>(At(block, 64 + entry, 8) / 100));
        EXPECT_EQ(config.chan_value_a, static_cast<std::int64_t>(At(block, 140 + entry, 8) / 100));
        EXPECT_EQ(config.chan_value_b, static_cast<std::int64_t>(At(block, 204 + entry, 8) / 100));
    }
    EXPECT_EQ(config.reg128, static_cast<std::int32_t>(At(block, 128, 2)));
    EXPECT_EQ(config.reg130, block[130]);
    EXPECT_EQ(config.reg131, block[131]);
    EXPECT_EQ(config.internal_trigger_freq, 1e9 / (static_cast<double>(At(block, 132, 4)) * 4.0));
    EXPECT_EQ(config.reg136, block[136]);
    EXPECT_EQ(config.reg137, block[137]);
    EXPECT_EQ(config.reg138, static_cast<std::int32_t>(At(block, 138, 2)));
    const auto temperature_bits = static_cast<std::uint32_t>(At(block, 276, 4));
    float temperature = 0;
    std::memcpy(&temperature, &temperature_bits, sizeof temperature);
    EXPECT_EQ(config.reg276, temperature);
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

TEST_F(StatusBlockTest, TemperatureIsCopiedBitForBit) {
    const std::uint8_t nan_bits[] = {0x01, 0x00, 0xC0, 0x7F};  // a NaN with payload
    std::copy(std::begin(nan_bits), std::end(nan_bits), block.begin() + 276);
    ASSERT_TRUE(varek::status_block::Decode(block, 1, config));
    std::uint32_t bits = 0;
    std::memcpy(&bits, &config.reg276, sizeof bits);
    EXPECT_EQ(bits, 0x7FC00001u);
}

TEST_F(StatusBlockTest, PeriodWordAtItsExtremesGivesAFiniteFrequency) {
    // The clock written out on purpose, as 1e9 / (word x 4): an independent check.
    const std::pair<std::uint32_t, double> cases[] = {
        {1u, 250000000.0},
        {250000u, 1000.0},
        {1u << 30, 1e9 / 4294967296.0},
        {0xFFFFFFFFu, 1e9 / (4294967295.0 * 4.0)},
    };
    for (const auto& [word, frequency] : cases) {
        for (std::size_t i = 0; i < 4; ++i) block[132 + i] = static_cast<std::uint8_t>(word >> (8 * i));
        ASSERT_TRUE(varek::status_block::Decode(block, 1, config));
        EXPECT_TRUE(std::isfinite(config.internal_trigger_freq)) << word;
        EXPECT_DOUBLE_EQ(config.internal_trigger_freq, frequency) << word;
    }
    EXPECT_EQ(varek::status_block::FrequencyFromPeriodWord(0), 0.0);
}

}  // namespace
