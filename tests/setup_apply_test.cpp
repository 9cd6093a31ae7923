// Applying a setup to the simulated instrument: what the instrument ends up
// holding, and what the apply reports as taken and as uncertain when an
// operation fails on the way, which is what a holder of "what was set" keeps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_fixture.h"
#include "varek/setup.h"

namespace {

using SetupApplyTest = varek::test::SimTest;
using Paths = std::vector<std::string>;

// Timing and an output to change while the global output is on.
VarekSetup TimingWithOutputsOn() {
    VarekSetup setup;
    setup.channels[0].delay = 100;
    setup.channels[0].output = true;
    setup.global_output = true;
    return setup;
}

TEST_F(SetupApplyTest, ReportsEveryFieldTakenWithTheGlobalOutputAsLeft) {
    VarekAppliedSetup applied;
    ASSERT_TRUE(VarekApplySetup(device, TimingWithOutputsOn(), true, &applied));
    EXPECT_EQ(VarekGivenFields(applied.taken),
              (Paths{"channels.1.delay", "channels.1.output", "global_output"}));
    EXPECT_EQ(applied.taken.global_output, true);
    EXPECT_EQ(applied.taken.channels[0].delay, 100);
    EXPECT_TRUE(VarekSetupEmpty(applied.uncertain));
    EXPECT_EQ(sim.State("global"), "1");
    EXPECT_EQ(sim.State("on1"), "1");
}

TEST_F(SetupApplyTest, AReplyLostAfterThePauseLeavesTheOutputOffAndTheFieldUncertain) {
    sim.Fault("");        // the global output goes off as asked
    sim.Fault("silent");  // the delay is carried out, but its reply never comes
    VarekAppliedSetup applied;
    EXPECT_FALSE(VarekApplySetup(device, TimingWithOutputsOn(), true, &applied));
    EXPECT_EQ(device.LastExchange().outcome, VarekOutcome::NothingArrived);
    EXPECT_EQ(VarekGivenFields(applied.taken), Paths{"global_output"});
    EXPECT_EQ(applied.taken.global_output, false);
    EXPECT_EQ(VarekGivenFields(applied.uncertain), Paths{"channels.1.delay"});
    EXPECT_EQ(applied.uncertain.channels[0].delay, 100);
    // What the record says is what the instrument holds: off, and the delay taken after all.
    EXPECT_EQ(sim.State("global"), "0");
    VarekSetup read;
    ASSERT_TRUE(VarekReadSetup(device, &read));
    EXPECT_EQ(read.channels[0].delay, 100);
}

TEST_F(SetupApplyTest, ARefusedOrUnsentFieldIsNotUncertain) {
    VarekSetup output_only;
    output_only.channels[1].output = true;
    sim.Fault("refuse");
    VarekAppliedSetup applied;
    EXPECT_FALSE(VarekApplySetup(device, output_only, std::nullopt, &applied));
    EXPECT_EQ(device.LastExchange().outcome, VarekOutcome::Refused);
    EXPECT_TRUE(VarekSetupEmpty(applied.taken));
    EXPECT_TRUE(VarekSetupEmpty(applied.uncertain));
    EXPECT_EQ(sim.State("on2"), "0");

    device.Close();
    applied.taken.channels[1].output = false;  // an earlier apply's record is replaced, never added to
    EXPECT_FALSE(VarekApplySetup(device, output_only, std::nullopt, &applied));
    EXPECT_TRUE(VarekSetupEmpty(applied.taken));
    EXPECT_TRUE(VarekSetupEmpty(applied.uncertain));
}

}  // namespace
