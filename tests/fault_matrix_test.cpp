// Every way the line or the instrument can fail, through the C interface as a
// host meets it: each call fails within the time-out plus one read wait, the
// handle stays usable, and once the port is gone every later call fails
// promptly and closing the handle releases everything.
#include <gtest/gtest.h>

#include "process_stats.h"
#include "sim_control.h"
#include "sim_fixture.h"
#include "varek/varek.h"

namespace {

using varek::test::MillisecondsOf;
using varek::test::SimControl;

// One read wait past the time-out, plus slack for a loaded machine.
constexpr long long kLatestFailureMs = 1000 + 100 + 250;
constexpr long long kPromptMs = 300;

class FaultMatrixTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim.Reset();
        handles_before = varek::stats::OpenHandles();
        handle = varek_init(varek::test::CurrentSimCPortName(sim).c_str(), 0);
        ASSERT_NE(handle, nullptr);
    }
    void TearDown() override {
        varek_close(handle);
        // Not equal: under Wine the count is the process's Unix descriptors, of
        // which Wine itself closes some as it goes. A leak only ever adds.
        EXPECT_LE(varek::stats::OpenHandles(), handles_before) << "closing released everything";
    }

    // Runs `operation`, expects VAREK_FAILED, returns how long it took.
    template <typename Operation>
    long long FailureTime(Operation&& operation) {
        std::int32_t result = VAREK_OK;
        const long long elapsed = MillisecondsOf([&] { result = operation(); });
        EXPECT_EQ(result, VAREK_FAILED);
        return elapsed;
    }

    SimControl sim;
    std::size_t handles_before = 0;
    VarekHandle handle = nullptr;
};

TEST_F(FaultMatrixTest, EveryFaultOfTheReplyFailsInTimeAndLeavesTheHandleUsable) {
    const char* faults[] = {
        "silent", "delay=1300",  "split=4,400",           "checksum",    "tail", "short-length",
        "refuse", "babble=2000", "noise=EB00EB12 silent", "reply=EB9006"};
    for (const char* fault : faults) {
        sim.Fault(fault);
        std::int64_t delay = -1;
        const long long elapsed = FailureTime(
            [&] { return varek_read_timing_config(handle, 1, &delay, nullptr, nullptr, nullptr); });
        EXPECT_LE(elapsed, kLatestFailureMs) << fault;
        EXPECT_EQ(delay, -1) << fault;
        EXPECT_EQ(varek_software_trigger(handle), VAREK_OK) << "usable after " << fault;
    }
}

TEST_F(FaultMatrixTest, SurplusAfterTheReplyIsNotAFailure) {
    sim.Fault("surplus=EB9006001401009601CC55");
    EXPECT_EQ(varek_software_trigger(handle), VAREK_OK);
    EXPECT_EQ(varek_set_global_output(handle, 1), VAREK_OK);
    EXPECT_EQ(sim.State("global"), "1");
}

TEST_F(FaultMatrixTest, InstrumentGoneHalfwayThroughAReply) {
    sim.Fault("hangup");
    const long long elapsed = FailureTime([&] { return varek_software_trigger(handle); });
    EXPECT_LE(elapsed, kLatestFailureMs);
    for (int call = 0; call < 3; ++call) {
        EXPECT_LE(FailureTime([&] { return varek_set_delay(handle, 1, 5); }), kPromptMs) << "call " << call;
    }
    sim.Command("revive");
}

TEST_F(FaultMatrixTest, PortVanishesWhileTheHandleIsOpen) {
    sim.Command("hangup");
    for (int call = 0; call < 3; ++call) {
        float temperature = -1;
        EXPECT_LE(FailureTime([&] { return varek_read_temperature(handle, &temperature); }), kPromptMs)
            << "call " << call;
        EXPECT_EQ(temperature, -1.0f);
    }
    sim.Command("revive");
}

}  // namespace
