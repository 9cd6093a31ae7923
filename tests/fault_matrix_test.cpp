// Every way the line or the instrument can fail, through the C interface as a
// host meets it: each call fails within the time-out plus one read wait, the
// handle stays usable, and once the port is gone every later call fails
// promptly and closing the handle releases everything.
#include <gtest/gtest.h>

#include "process_stats.h"
#include "sim_control.h"
#include "sim_fixture.h"
#include "varek/varek.h"
#include "varek/varek_ext.h"

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

    // Why the handle's last operation failed, as a C host reads it.
    std::string LastError() {
        const std::int32_t length = varekx_last_error(handle, nullptr, 0);
        std::string message(static_cast<std::size_t>(length) + 1, '\0');
        EXPECT_EQ(varekx_last_error(handle, message.data(), length + 1), length);
        message.resize(static_cast<std::size_t>(length));
        return message;
    }

    SimControl sim;
    std::size_t handles_before = 0;
    VarekHandle handle = nullptr;
};

TEST_F(FaultMatrixTest, EveryFaultOfTheReplyFailsInTimeSaysWhyAndLeavesTheHandleUsable) {
    const std::string port = varek::test::CurrentSimCPortName(sim);
    // The status block's 348 bytes written out on purpose: an independent check.
    // The babble outlasts the time-out, so the deadline must hold while bytes
    // keep coming, and ends 300 ms later, so the next exchange finds its reply
    // behind the rest of it. Babble that outlasts the next exchange's own
    // deadline as well would fail that one too, as it would at the bench.
    struct Fault {
        const char* fault;
        std::string reason;
        std::int32_t outcome;
    };
    const Fault faults[] = {
        {"silent", "nothing arrived from " + port + " within 1000 ms: is the instrument on",
         VAREKX_OUTCOME_NOTHING_ARRIVED},
        {"delay=1300", "nothing arrived from " + port + " within 1000 ms", VAREKX_OUTCOME_NOTHING_ARRIVED},
        {"split=4,400", "incomplete reply from " + port + ": ", VAREKX_OUTCOME_FRAME_INCOMPLETE},
        {"checksum", "damaged reply from " + port + ": checksum 0x", VAREKX_OUTCOME_BAD_CHECKSUM},
        {"tail", "damaged reply from " + port + ": tail byte 0x", VAREKX_OUTCOME_BAD_TAIL},
        {"short-length", "damaged reply from " + port + ": length field 5, below the smallest frame's 6",
         VAREKX_OUTCOME_LENGTH_FIELD_TOO_SMALL},
        {"refuse", "short reply from " + port + " to the status query: 0 payload bytes, 348 needed",
         VAREKX_OUTCOME_PAYLOAD_TOO_SHORT},
        {"babble=1300",
         " bytes arrived from " + port + " but no frame (first bytes: ", VAREKX_OUTCOME_NO_FRAME_HEAD},
        // Silence takes the noise too.
        {"noise=EB00EB12 silent", "nothing arrived from " + port, VAREKX_OUTCOME_NOTHING_ARRIVED},
        {"reply=00FF3AEB00",
         "5 bytes arrived from " + port + " but no frame (first bytes: 00 FF 3A EB 00): is it at 115200 baud",
         VAREKX_OUTCOME_NO_FRAME_HEAD},
        {"reply=EB9006", "incomplete reply from " + port + ": a frame head but not its length within 1000 ms",
         VAREKX_OUTCOME_FRAME_INCOMPLETE},
    };
    for (const auto& [fault, reason, outcome] : faults) {
        sim.Fault(fault);
        std::int64_t delay = -1;
        const long long elapsed = FailureTime(
            [&] { return varek_read_timing_config(handle, 1, &delay, nullptr, nullptr, nullptr); });
        EXPECT_LE(elapsed, kLatestFailureMs) << fault;
        EXPECT_EQ(delay, -1) << fault;
        EXPECT_NE(LastError().find(reason), std::string::npos) << fault << ": " << LastError();
        EXPECT_EQ(varekx_last_outcome(handle), outcome) << fault;
        EXPECT_EQ(varek_software_trigger(handle), VAREK_OK) << "usable after " << fault;
        EXPECT_EQ(LastError(), "") << "a success clears the reason";
        EXPECT_EQ(varekx_last_outcome(handle), VAREKX_OUTCOME_SUCCEEDED);
    }
}

TEST_F(FaultMatrixTest, ARefusalSaysWhatWasRefusedAndNothingElse) {
    sim.Fault("refuse");
    EXPECT_EQ(varek_software_trigger(handle), VAREK_FAILED);
    EXPECT_EQ(LastError(), "the instrument on " + varek::test::CurrentSimCPortName(sim) +
                               " refused the software trigger (reply parameter 0x0000)");
    EXPECT_EQ(varekx_last_outcome(handle), VAREKX_OUTCOME_REFUSED);
    EXPECT_EQ(varek_set_delay(handle, 9, 5), VAREK_FAILED);
    EXPECT_EQ(varekx_last_outcome(handle), VAREKX_OUTCOME_ARGUMENT_REJECTED);
    EXPECT_EQ(varekx_last_outcome(nullptr), -1);
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
    EXPECT_FALSE(LastError().empty());
    EXPECT_EQ(varekx_last_outcome(handle), VAREKX_OUTCOME_READ_FAILED) << LastError();
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
        EXPECT_FALSE(LastError().empty());
    }
    sim.Command("revive");
}

}  // namespace
