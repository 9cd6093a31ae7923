// The nine instrument operations against the simulated instrument: the bytes
// they send, what they accept as an answer, and what the instrument ends up
// holding.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <tuple>
#include <vector>

#include "sim_fixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using OperationsTest = varek::test::SimTest;

Bytes Frame(std::uint8_t cmd, std::uint16_t param, const Bytes& payload = {}) {
    Bytes frame;
    VarekDDG::BuildFrame(cmd, param, payload.data(), static_cast<std::int32_t>(payload.size()), frame);
    return frame;
}

TEST_F(OperationsTest, RequestsCarryTheExpectedBytes) {
    ASSERT_TRUE(device.SetTrigger(VarekTriggerMode::Mode1));
    EXPECT_EQ(sim.LastRequest(), Bytes({0xEB, 0x90, 0x06, 0x00, 0x01, 0x02, 0x00, 0x84, 0x01, 0xCC}));
    ASSERT_TRUE(device.SetOutputChannel(3, true));
    EXPECT_EQ(sim.LastRequest(), Bytes({0xEB, 0x90, 0x06, 0x00, 0x06, 0x01, 0x03, 0x8B, 0x01, 0xCC}));
    ASSERT_TRUE(device.SetGlobalOutput(true));
    EXPECT_EQ(sim.LastRequest(), Bytes({0xEB, 0x90, 0x06, 0x00, 0x07, 0x01, 0x00, 0x89, 0x01, 0xCC}));
    ASSERT_TRUE(device.SetDelay(1, 1));
    EXPECT_EQ(sim.LastRequest(),
              Bytes({0xEB, 0x90, 0x0E, 0x00, 0x08, 0x01, 0x00, 0x64, 0, 0, 0, 0, 0, 0, 0, 0xF6, 0x01, 0xCC}));
    ASSERT_TRUE(device.SetDelay(1, 0));
    EXPECT_EQ(sim.LastRequest(), Frame(0x08, 1, Bytes(8, 0)));
    ASSERT_TRUE(device.SetPulseWidth(8, 12345));
    EXPECT_EQ(sim.LastRequest(), Frame(0x09, 8, {0x44, 0xD6, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00}));
    ASSERT_TRUE(device.SetInternalTriggerFreq(1000));
    EXPECT_EQ(sim.LastRequest(),
              Bytes({0xEB, 0x90, 0x0A, 0x00, 0x05, 0x00, 0x00, 0x90, 0xD0, 0x03, 0x00, 0xED, 0x02, 0xCC}));
    ASSERT_TRUE(device.SoftwareTrigger());
    EXPECT_EQ(sim.LastRequest(), Bytes({0xEB, 0x90, 0x06, 0x00, 0x14, 0x00, 0x00, 0x95, 0x01, 0xCC}));
    float temperature = 0;
    ASSERT_TRUE(device.ReadTemperature(&temperature));
    EXPECT_EQ(sim.LastRequest(), Bytes({0xEB, 0x90, 0x06, 0x00, 0x93, 0x00, 0x00, 0x14, 0x02, 0xCC}));
    VarekTimingConfig config{};
    ASSERT_TRUE(device.ReadTimingConfig(5, &config));
    EXPECT_EQ(sim.LastRequest(), Bytes({0xEB, 0x90, 0x06, 0x00, 0xC1, 0x00, 0x00, 0x42, 0x02, 0xCC}));
}

TEST_F(OperationsTest, TriggerModesMapToCodes) {
    const std::pair<std::int32_t, std::string> cases[] = {{0, "1"}, {3, "1"}, {-1, "1"}, {1, "2"}, {2, "3"}};
    for (const auto& [mode, code] : cases) {
        ASSERT_TRUE(device.SetTrigger(static_cast<VarekTriggerMode>(mode))) << mode;
        EXPECT_EQ(sim.State("trigger"), code) << mode;
    }
}

TEST_F(OperationsTest, RejectedArgumentsSendNothing) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const std::int32_t channel : {0, 9, -1}) {
        EXPECT_FALSE(device.SetOutputChannel(channel, true));
        EXPECT_FALSE(device.SetDelay(channel, 5));
        EXPECT_FALSE(device.SetPulseWidth(channel, 5));
        VarekTimingConfig config{};
        EXPECT_FALSE(device.ReadTimingConfig(channel, &config));
    }
    EXPECT_FALSE(device.SetDelay(1, -1));
    EXPECT_FALSE(device.SetPulseWidth(1, -1));
    EXPECT_FALSE(device.SetDelay(1, 184467440737095517));
    EXPECT_FALSE(device.SetPulseWidth(2, std::numeric_limits<std::int64_t>::max()));
    for (const double frequency : {0.0, -0.0, -5.0, nan, inf, 300000000.0, 250000001.0, 0.05}) {
        EXPECT_FALSE(device.SetInternalTriggerFreq(frequency)) << frequency;
    }
    EXPECT_FALSE(device.ReadTemperature(nullptr));
    EXPECT_FALSE(device.ReadTimingConfig(1, nullptr));
    EXPECT_TRUE(sim.Received().empty());
}

TEST_F(OperationsTest, BoundaryValuesGoOutWhole) {
    ASSERT_TRUE(device.SetDelay(2, 184467440737095516));
    EXPECT_EQ(sim.State("delay2"), "18446744073709551600");
    ASSERT_TRUE(device.SetPulseWidth(2, 3000000000));  // above 2^31, and x100 above 2^32
    EXPECT_EQ(sim.State("width2"), "300000000000");
    ASSERT_TRUE(device.SetInternalTriggerFreq(250000000));
    EXPECT_EQ(sim.State("word"), "1");
    ASSERT_TRUE(device.SetInternalTriggerFreq(0.0583));
    EXPECT_EQ(sim.State("word"), "4288164665");
    ASSERT_TRUE(device.SetInternalTriggerFreq(3));
    EXPECT_EQ(sim.State("word"), "83333333");
}

TEST_F(OperationsTest, AcknowledgementIsTheLowByteOfTheReplyParameter) {
    sim.Fault("refuse");
    EXPECT_FALSE(device.SoftwareTrigger());
    EXPECT_EQ(sim.State("fired"), "0") << "a refused request changes nothing";
    sim.NextReply({0xEB, 0x90, 0x06, 0x00, 0x14, 0x01, 0xFF, 0x95, 0x02, 0xCC});  // param 01 FF
    EXPECT_TRUE(device.SoftwareTrigger());
    sim.NextReply({0xEB, 0x90, 0x06, 0x00, 0x01, 0x01, 0x00, 0x83, 0x01, 0xCC});  // another command's reply
    EXPECT_TRUE(device.SetGlobalOutput(false));
    sim.NextReply(Frame(0x07, 0x0002));
    EXPECT_FALSE(device.SetGlobalOutput(true));
    sim.NextReply(Frame(0x08, 0x0001, {1, 2, 3}));  // a payload is not judged
    EXPECT_TRUE(device.SetDelay(1, 1));
}

TEST_F(OperationsTest, InstrumentRefusesWhatItCannotAccept) {
    VarekFrame reply;
    ASSERT_TRUE(device.SendFrameU32(VarekDDG::CMD_SET_DELAY, 9, {100, 0}, &reply, 1000));
    EXPECT_EQ(reply.param, 0);
    ASSERT_TRUE(device.SendFrame(VarekDDG::CMD_SET_TRIGGER, 4, nullptr, 0, &reply, 1000));
    EXPECT_EQ(reply.param, 0);
    ASSERT_TRUE(device.SendFrame(0x42, 1, nullptr, 0, &reply, 1000));
    EXPECT_EQ(reply.param, 0);
    EXPECT_EQ(sim.State("delay1"), "0");
    EXPECT_EQ(sim.State("trigger"), "1");
}

TEST_F(OperationsTest, WhatIsSetIsReadBack) {
    ASSERT_TRUE(device.SetDelay(3, 12345));
    ASSERT_TRUE(device.SetPulseWidth(3, 678));
    ASSERT_TRUE(device.SetInternalTriggerFreq(1000));
    ASSERT_TRUE(device.SetGlobalOutput(true));
    ASSERT_TRUE(device.SetOutputChannel(3, true));
    ASSERT_TRUE(device.SetTrigger(VarekTriggerMode::Mode2));
    ASSERT_TRUE(device.SoftwareTrigger());
    VarekTimingConfig config{};
    ASSERT_TRUE(device.ReadTimingConfig(3, &config));
    EXPECT_EQ(config.channel, 3);
    EXPECT_EQ(config.delay, 12345);
    EXPECT_EQ(config.pulse_width, 678);
    EXPECT_EQ(config.internal_trigger_freq, 1000.0);
    EXPECT_EQ(config.reg131, 1);
    EXPECT_EQ(config.reg130, 3);
    EXPECT_EQ(config.reg136, 1);
    EXPECT_EQ(config.reg137, 0x04);
    EXPECT_EQ(config.chan_value_a, 12345 + 678);
    EXPECT_EQ(sim.State("on3"), "1");
    ASSERT_TRUE(device.ReadTimingConfig(4, &config));
    EXPECT_EQ(config.delay, 0);
}

// A record whose every byte, padding included, is a marker: a failed read
// must leave all of it, the channel too, exactly as it was.
struct MarkedConfig {
    MarkedConfig() {
        std::memset(&config, 0x5A, sizeof config);
        std::memcpy(&before, &config, sizeof before);
    }
    bool Untouched() const { return std::memcmp(&config, &before, sizeof config) == 0; }
    VarekTimingConfig config;
    VarekTimingConfig before;
};

TEST_F(OperationsTest, StatusBlockLengthDecides) {
    MarkedConfig marked;
    // 347 and 348 written out on purpose: an independent check of the block's size.
    sim.NextReply(Frame(0xC1, 1, Bytes(347, 0)));
    EXPECT_FALSE(device.ReadTimingConfig(1, &marked.config));
    EXPECT_TRUE(marked.Untouched());

    Bytes block(348, 0);
    block[0] = 0x64;
    const Bytes reply = Frame(0x55, 0, block);  // command and parameter are not judged
    EXPECT_EQ(reply.size(), 358u);
    EXPECT_EQ(reply[2], 0x62);
    EXPECT_EQ(reply[3], 0x01);
    sim.NextReply(reply);
    VarekTimingConfig config{};
    ASSERT_TRUE(device.ReadTimingConfig(1, &config));
    EXPECT_EQ(config.delay, 1);
}

TEST_F(OperationsTest, TemperatureIsCopiedBitForBit) {
    float temperature = -1;
    ASSERT_TRUE(device.ReadTemperature(&temperature));
    EXPECT_EQ(temperature, 25.0f);
    sim.NextReply(Frame(0x93, 0, {0x00, 0x00, 0xC8, 0x41}));
    ASSERT_TRUE(device.ReadTemperature(&temperature));
    EXPECT_EQ(temperature, 25.0f);
    sim.NextReply(Frame(0x93, 1, {0x00, 0x00, 0x80, 0x3F, 0x12, 0x34, 0x56, 0x78}));
    ASSERT_TRUE(device.ReadTemperature(&temperature));
    EXPECT_EQ(temperature, 1.0f);
    sim.NextReply(Frame(0x93, 1, {0x01, 0x00, 0xC0, 0x7F}));
    ASSERT_TRUE(device.ReadTemperature(&temperature));
    std::uint32_t bits = 0;
    std::memcpy(&bits, &temperature, sizeof bits);
    EXPECT_EQ(bits, 0x7FC00001u);
    sim.Command("temperature 31.5");
    ASSERT_TRUE(device.ReadTemperature(&temperature));
    EXPECT_EQ(temperature, 31.5f);

    temperature = -1;
    sim.NextReply(Frame(0x93, 1, {0x00, 0x00, 0xC8}));
    EXPECT_FALSE(device.ReadTemperature(&temperature));
    EXPECT_EQ(temperature, -1.0f);
}

TEST_F(OperationsTest, FailuresLeaveOutputsUntouchedAndTheConnectionUsable) {
    float temperature = -1;
    MarkedConfig marked;
    for (const char* fault : {"checksum", "short-length", "refuse", "tail"}) {
        sim.Fault(fault);
        EXPECT_FALSE(device.ReadTimingConfig(2, &marked.config)) << fault;
        EXPECT_TRUE(marked.Untouched()) << fault;
        sim.Fault(fault);
        EXPECT_FALSE(device.ReadTemperature(&temperature)) << fault;
    }
    for (const std::int32_t channel : {0, 9}) {
        EXPECT_FALSE(device.ReadTimingConfig(channel, &marked.config));
        EXPECT_TRUE(marked.Untouched()) << channel;
    }
    EXPECT_EQ(temperature, -1.0f);
    ASSERT_TRUE(device.ReadTemperature(&temperature));
    EXPECT_EQ(temperature, 25.0f);
}

TEST_F(OperationsTest, SilentInstrumentFailsEveryOperationAfterTheTimeout) {
    sim.Fault("silent");
    float temperature = -1;
    const long long elapsed =
        varek::test::MillisecondsOf([&] { EXPECT_FALSE(device.ReadTemperature(&temperature)); });
    EXPECT_GE(elapsed, 1000);
    EXPECT_LE(elapsed, 1250);
    EXPECT_EQ(temperature, -1.0f);
    sim.Fault("silent");
    EXPECT_FALSE(device.SetDelay(1, 5));
}

TEST_F(OperationsTest, ClosedConnectionFailsEveryOperationWithoutSending) {
    device.Close();
    float temperature = -1;
    VarekTimingConfig config{};
    EXPECT_FALSE(device.SetTrigger(VarekTriggerMode::Mode0));
    EXPECT_FALSE(device.SetInternalTriggerFreq(1000));
    EXPECT_FALSE(device.SetOutputChannel(1, true));
    EXPECT_FALSE(device.SetDelay(1, 1));
    EXPECT_FALSE(device.SetPulseWidth(1, 1));
    EXPECT_FALSE(device.SetGlobalOutput(true));
    EXPECT_FALSE(device.SoftwareTrigger());
    EXPECT_FALSE(device.ReadTemperature(&temperature));
    EXPECT_FALSE(device.ReadTimingConfig(1, &config));
    EXPECT_TRUE(sim.Received().empty());
}

TEST_F(OperationsTest, OneStatusReadGivesEveryChannel) {
    ASSERT_TRUE(device.SetDelay(2, 222));
    ASSERT_TRUE(device.SetPulseWidth(7, 77));
    const int before = sim.RequestCount();
    VarekTimingConfig all[VarekDDG::CHANNEL_COUNT];
    ASSERT_TRUE(device.ReadAllTimingConfigs(all));
    EXPECT_EQ(sim.RequestCount() - before, 1);
    for (std::int32_t channel = 1; channel <= VarekDDG::CHANNEL_COUNT; ++channel) {
        VarekTimingConfig one{};
        ASSERT_TRUE(device.ReadTimingConfig(channel, &one));
        const VarekTimingConfig& same = all[channel - 1];
        EXPECT_EQ(std::tie(one.channel, one.delay, one.pulse_width, one.chan_value_a, one.chan_value_b,
                           one.reg131, one.reg137, one.internal_trigger_freq),
                  std::tie(same.channel, same.delay, same.pulse_width, same.chan_value_a, same.chan_value_b,
                           same.reg131, same.reg137, same.internal_trigger_freq))
            << channel;
    }
    EXPECT_EQ(all[1].delay, 222);
    EXPECT_EQ(all[6].pulse_width, 77);

    // Every byte of every record a marker: a failed read must leave them all.
    VarekTimingConfig configs[VarekDDG::CHANNEL_COUNT];
    std::memset(configs, 0x5A, sizeof configs);
    const std::vector<unsigned char> marked(reinterpret_cast<unsigned char*>(configs),
                                            reinterpret_cast<unsigned char*>(configs) + sizeof configs);
    sim.NextReply(Frame(0xC1, 1, Bytes(347, 0)));
    EXPECT_FALSE(device.ReadAllTimingConfigs(configs));
    EXPECT_EQ(std::memcmp(configs, marked.data(), sizeof configs), 0);
    EXPECT_EQ(device.LastExchange().outcome, VarekOutcome::PayloadTooShort);
    EXPECT_FALSE(device.ReadAllTimingConfigs(nullptr));
}

}  // namespace
