// The C interface through the shipped library, against simulated instruments.
#include <gtest/gtest.h>

#include <thread>

#include "process_stats.h"
#include "sim_control.h"
#include "sim_fixture.h"
#include "varek/varek.h"
#include "varek/varek_ext.h"

namespace {

using varek::test::MillisecondsOf;
using varek::test::SimControl;
using varek::test::SimCPortName;

class CInterfaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim.Reset();
        handle = varek_init(SimCPortName().c_str(), 0);
        ASSERT_NE(handle, nullptr);
    }
    void TearDown() override { varek_close(handle); }

    SimControl sim;
    VarekHandle handle = nullptr;
};

TEST(CInterfaceInit, NamesThatOpenNothingGiveNullAndLeaveNothingOpen) {
    const std::size_t handles_before = varek::stats::OpenHandles();
    EXPECT_EQ(varek_init(nullptr, 115200), nullptr);
    EXPECT_EQ(varek_init("", 115200), nullptr);
    EXPECT_EQ(varek_init("COM2147483648", 115200), nullptr);
    EXPECT_EQ(varek_init(varek::test::MissingCPortName(), 115200), nullptr);
    EXPECT_LE(varek::stats::OpenHandles(), handles_before);  // Wine may close descriptors of its own
}

TEST(CInterfaceInit, BaudDefaultsTo115200) {
    SimControl sim;
    const std::pair<std::int32_t, const char*> cases[] = {
        {0, "baud=115200 "}, {-5, "baud=115200 "}, {9600, "baud=9600 "}};
    for (const auto& [baud, expected] : cases) {
        VarekHandle handle = varek_init(SimCPortName().c_str(), baud);
        ASSERT_NE(handle, nullptr) << baud;
        EXPECT_EQ(sim.LineSettings().rfind(expected, 0), 0u) << baud;
        varek_close(handle);
    }
}

TEST(CInterfaceInit, PortHeldByALiveHandleCannotBeOpenedAgain) {
    if (!varek::test::ExclusiveOpenIsEnforced()) GTEST_SKIP() << "Wine enforces no share mode on devices";
    VarekHandle first = varek_init(SimCPortName().c_str(), 0);
    ASSERT_NE(first, nullptr);
    const std::size_t handles_held = varek::stats::OpenHandles();
    EXPECT_EQ(varek_init(SimCPortName().c_str(), 0), nullptr);
    EXPECT_LE(varek::stats::OpenHandles(), handles_held) << "the refused open left nothing behind";
    varek_close(first);
    VarekHandle again = varek_init(SimCPortName().c_str(), 0);
    EXPECT_NE(again, nullptr) << "closing released the port";
    varek_close(again);
}

// What varekx_open says when it gives no handle, as a C host reads it.
std::string OpenFailure(const char* name) {
    char why[512] = "unwritten";
    VarekHandle handle = varekx_open(name, 0, why, sizeof why);
    varek_close(handle);
    return handle == nullptr ? why : "opened";
}

TEST(CInterfaceOpenWithAReason, SaysWhyAPortDidNotOpen) {
    const std::string missing = varek::test::MissingCPortName();
    EXPECT_EQ(
        OpenFailure(missing.c_str()).rfind("cannot open " + missing + ": no such port: check its name", 0),
        0u);
    EXPECT_EQ(OpenFailure(""), "no port name given");
    EXPECT_EQ(OpenFailure("usb:0403"),
              "a USB port is named usb:VID:PID or usb:VID:PID:SERIAL with 4-digit hex ids, got usb:0403");
    if (varek::test::ExclusiveOpenIsEnforced()) {
        VarekHandle first = varek_init(SimCPortName().c_str(), 0);
        ASSERT_NE(first, nullptr);
        EXPECT_NE(OpenFailure(SimCPortName().c_str()).find("busy: another program holds it"),
                  std::string::npos);
        varek_close(first);
    }
    char why[16] = "unwritten";
    VarekHandle handle = varekx_open(SimCPortName().c_str(), 0, why, sizeof why);
    EXPECT_NE(handle, nullptr);
    EXPECT_STREQ(why, "") << "an open that succeeded says nothing";
    EXPECT_EQ(varekx_last_outcome(handle), VAREKX_OUTCOME_SUCCEEDED);
    varek_close(handle);
}

TEST(CInterfaceNullHandle, EveryOperationGivesMinusOneAndWritesNothing) {
    float temperature = -1;
    std::int64_t delay = -1;
    std::int64_t width = -1;
    std::int32_t reg131 = -1;
    double frequency = -1;
    EXPECT_EQ(varek_set_trigger(nullptr, 0), VAREK_NULL_HANDLE);
    EXPECT_EQ(varek_set_trigger_freq(nullptr, 1000), VAREK_NULL_HANDLE);
    EXPECT_EQ(varek_set_output_channel(nullptr, 1, 1), VAREK_NULL_HANDLE);
    EXPECT_EQ(varek_set_delay(nullptr, 1, 1), VAREK_NULL_HANDLE);
    EXPECT_EQ(varek_set_pulse_width(nullptr, 1, 1), VAREK_NULL_HANDLE);
    EXPECT_EQ(varek_set_global_output(nullptr, 1), VAREK_NULL_HANDLE);
    EXPECT_EQ(varek_software_trigger(nullptr), VAREK_NULL_HANDLE);
    EXPECT_EQ(varek_read_temperature(nullptr, &temperature), VAREK_NULL_HANDLE);
    EXPECT_EQ(varek_read_timing_config(nullptr, 1, &delay, &width, &reg131, &frequency), VAREK_NULL_HANDLE);
    EXPECT_EQ(temperature, -1.0f);
    EXPECT_EQ(delay, -1);
    EXPECT_EQ(frequency, -1.0);
    varek_close(nullptr);
}

TEST_F(CInterfaceTest, OperationsReachTheInstrument) {
    EXPECT_EQ(varek_set_trigger(handle, 2), VAREK_OK);
    EXPECT_EQ(varek_set_trigger_freq(handle, 1000.0), VAREK_OK);
    EXPECT_EQ(varek_set_output_channel(handle, 2, -1), VAREK_OK);
    EXPECT_EQ(varek_set_output_channel(handle, 5, 2), VAREK_OK);
    EXPECT_EQ(varek_set_global_output(handle, 7), VAREK_OK);
    EXPECT_EQ(varek_set_delay(handle, 4, 5000000000), VAREK_OK);
    EXPECT_EQ(varek_set_pulse_width(handle, 4, 2147483648), VAREK_OK);
    EXPECT_EQ(varek_software_trigger(handle), VAREK_OK);
    EXPECT_EQ(sim.State("trigger"), "3");
    EXPECT_EQ(sim.State("word"), "250000");
    EXPECT_EQ(sim.State("on2"), "1");
    EXPECT_EQ(sim.State("on5"), "1");
    EXPECT_EQ(sim.State("global"), "1");
    EXPECT_EQ(sim.State("delay4"), "500000000000");
    EXPECT_EQ(sim.State("width4"), "214748364800");
    EXPECT_EQ(sim.State("fired"), "1");

    std::int64_t delay = 0;
    std::int64_t width = 0;
    std::int32_t reg131 = 0;
    double frequency = 0;
    ASSERT_EQ(varek_read_timing_config(handle, 4, &delay, &width, &reg131, &frequency), VAREK_OK);
    EXPECT_EQ(delay, 5000000000);
    EXPECT_EQ(width, 2147483648);
    EXPECT_EQ(reg131, 1);
    EXPECT_EQ(frequency, 1000.0);
    float temperature = 0;
    ASSERT_EQ(varek_read_temperature(handle, &temperature), VAREK_OK);
    EXPECT_EQ(temperature, 25.0f);
}

TEST_F(CInterfaceTest, RejectedArgumentsGiveMinusTwoWithoutAnExchange) {
    std::int64_t delay = -1;
    EXPECT_EQ(varek_read_timing_config(handle, 0, &delay, nullptr, nullptr, nullptr), VAREK_FAILED);
    EXPECT_EQ(varek_read_timing_config(handle, 9, &delay, nullptr, nullptr, nullptr), VAREK_FAILED);
    EXPECT_EQ(varek_read_temperature(handle, nullptr), VAREK_FAILED);
    EXPECT_EQ(varek_set_delay(handle, 1, -5), VAREK_FAILED);
    EXPECT_EQ(varek_set_pulse_width(handle, 0, 5), VAREK_FAILED);
    EXPECT_EQ(varek_set_trigger_freq(handle, 0.0), VAREK_FAILED);
    EXPECT_EQ(varek_set_output_channel(handle, 9, 1), VAREK_FAILED);
    EXPECT_EQ(delay, -1);
    EXPECT_TRUE(sim.Received().empty());
}

TEST_F(CInterfaceTest, TimingConfigWritesOnlyTheOutputsAskedFor) {
    ASSERT_EQ(varek_set_delay(handle, 1, 42), VAREK_OK);
    ASSERT_EQ(varek_set_global_output(handle, 1), VAREK_OK);
    sim.Reset();
    EXPECT_EQ(varek_read_timing_config(handle, 1, nullptr, nullptr, nullptr, nullptr), VAREK_OK);
    EXPECT_EQ(sim.RequestCount(), 1) << "the exchange happens without outputs";

    std::int32_t reg131 = -1;
    ASSERT_EQ(varek_set_global_output(handle, 1), VAREK_OK);
    EXPECT_EQ(varek_read_timing_config(handle, 1, nullptr, nullptr, &reg131, nullptr), VAREK_OK);
    EXPECT_EQ(reg131, 1);

    std::int64_t delay = -1;
    sim.Fault("checksum");
    EXPECT_EQ(varek_read_timing_config(handle, 1, &delay, nullptr, &reg131, nullptr), VAREK_FAILED);
    EXPECT_EQ(delay, -1);
}

TEST_F(CInterfaceTest, SilentInstrumentGivesMinusTwoAfterTheTimeoutAndTheHandleStaysUsable) {
    sim.Fault("silent");
    std::int32_t result = 0;
    const long long elapsed = MillisecondsOf([&] { result = varek_software_trigger(handle); });
    EXPECT_EQ(result, VAREK_FAILED);
    EXPECT_GE(elapsed, 1000);
    EXPECT_LE(elapsed, 1250);
    EXPECT_EQ(varek_software_trigger(handle), VAREK_OK);
}

TEST(CInterfaceThreads, TwoHandlesOnTwoInstrumentsWorkAtOnce) {
    SimControl first_sim(1);
    SimControl second_sim(2);
    first_sim.Reset();
    second_sim.Reset();
    constexpr int kRounds = 40;
    auto drive = [](std::string port, std::int32_t channel, int& failures) {
        VarekHandle handle = varek_init(port.c_str(), 0);
        if (handle == nullptr) {
            failures = kRounds;
            return;
        }
        for (int round = 1; round <= kRounds; ++round) {
            std::int64_t delay = 0;
            if (varek_set_delay(handle, channel, round) != VAREK_OK ||
                varek_read_timing_config(handle, channel, &delay, nullptr, nullptr, nullptr) != VAREK_OK ||
                delay != round) {
                ++failures;
            }
        }
        varek_close(handle);
    };
    int first_failures = 0;
    int second_failures = 0;
    std::thread first(drive, SimCPortName(1), 1, std::ref(first_failures));
    std::thread second(drive, SimCPortName(2), 2, std::ref(second_failures));
    first.join();
    second.join();
    EXPECT_EQ(first_failures, 0);
    EXPECT_EQ(second_failures, 0);
    EXPECT_EQ(first_sim.State("delay1"), "4000");
    EXPECT_EQ(second_sim.State("delay2"), "4000");
    EXPECT_EQ(first_sim.State("delay2"), "0");
}

}  // namespace
