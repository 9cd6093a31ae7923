// The setup document and the declared unit, without a line: what a document
// may hold, how each fault is named, and how times read and print.
#include <gtest/gtest.h>

#include "varek/setup.h"
#include "varek/units.h"

namespace {

std::string Refusal(const std::string& text) {
    VarekSetup setup;
    setup.trigger_mode = 2;
    const std::string why = VarekParseSetup(text, &setup);
    EXPECT_EQ(setup.trigger_mode, 2) << "a refused document leaves the setup as it was";
    return why;
}

TEST(SetupDocument, ReadsEveryFieldAndLeavesAbsentOrNullOnesUnknown) {
    VarekSetup setup;
    ASSERT_EQ(
        VarekParseSetup(R"({"varek_setup": 1, "unit": "10ps", "trigger": {"mode": 1, "frequency": 1000.5},
        "global_output": true, "channels": {"3": {"delay": 12345, "pulse_width": 500, "output": false},
        "8": {"delay": null}, "2": null}})",
                        &setup),
        "");
    EXPECT_EQ(setup.trigger_mode, 1);
    EXPECT_EQ(setup.trigger_frequency, 1000.5);
    EXPECT_EQ(setup.global_output, true);
    EXPECT_EQ(setup.channels[2].delay, 12345);
    EXPECT_EQ(setup.channels[2].pulse_width, 500);
    EXPECT_EQ(setup.channels[2].output, false);
    EXPECT_FALSE(setup.channels[7].delay.has_value());
    EXPECT_FALSE(setup.channels[0].output.has_value());
    EXPECT_EQ(setup.unit, "10ps");
    EXPECT_EQ(VarekUnreportedFields(setup),
              (std::vector<std::string>{"trigger.mode", "channels.3.output", "global_output"}));
}

TEST(SetupDocument, TakesAWholeNumberWrittenWithAFractionOfZeros) {
    VarekSetup setup;
    ASSERT_EQ(VarekParseSetup(R"({"varek_setup": 1.0, "channels": {"2": {"delay": 184467440737095516.000}}})",
                              &setup),
              "");
    EXPECT_EQ(setup.channels[1].delay, 184467440737095516);
}

TEST(SetupDocument, NamesTheFieldOfEveryFault) {
    const std::string head = R"({"varek_setup": 1, )";
    EXPECT_EQ(Refusal(head + R"("channels": {"3": {"delay": -1}}})"),
              "channels.3.delay: delay -1 is outside 0..184467440737095516");
    EXPECT_EQ(Refusal(head + R"("channels": {"3": {"dealy": 5}}})"),
              "channels.3.dealy: unknown field; channels.3 takes delay, pulse_width, output");
    EXPECT_EQ(Refusal(head + R"("channels": {"9": {}}})"), "channels.9: channel 9 is outside 1..8");
    EXPECT_EQ(Refusal(head + R"("channels": {"one": {}}})"),
              "channels.one: channels are keyed by their number, \"1\" to \"8\"");
    EXPECT_EQ(Refusal(head + R"("channels": {"1": {"pulse_width": 2.5}}})"),
              "channels.1.pulse_width: a whole number expected, not 2.5");
    EXPECT_EQ(Refusal(head + R"("channels": {"1": {"pulse_width": 1.50}}})"),
              "channels.1.pulse_width: a whole number expected, not 1.50");
    EXPECT_EQ(Refusal(head + R"("channels": {"1": {"pulse_width": 1e3}}})"),
              "channels.1.pulse_width: a whole number expected, not 1e3");
    EXPECT_EQ(Refusal(head + R"("channels": {"1": {"output": "on"}}})"),
              "channels.1.output: true, false or null expected, not a string");
    EXPECT_EQ(Refusal(head + R"("trigger": {"mode": 3}})"),
              "trigger.mode: trigger mode 3 is not one of 0, 1, 2");
    EXPECT_EQ(
        Refusal(head + R"("trigger": {"frequency": 0}})").rfind("trigger.frequency: internal trigger", 0),
        0u);
    EXPECT_EQ(Refusal(head + R"("trigger": [1]})"), "trigger: an object or null expected, not an array");
    EXPECT_EQ(Refusal(head + R"("colour": 1})"),
              "colour: unknown field; a setup takes varek_setup, unit, trigger, channels, global_output");
    EXPECT_EQ(Refusal(head + R"("unit": "furlong"})").rfind("unit: the unit \"furlong\" is not a time", 0),
              0u);
    EXPECT_EQ(Refusal(R"({"trigger": {}})"),
              "varek_setup: missing; a setup begins {\"varek_setup\": 1, ...}");
    EXPECT_EQ(Refusal(R"({"varek_setup": 2})"),
              "varek_setup: this library reads version 1 of the setup document");
    EXPECT_EQ(Refusal("[]"), "a setup is a JSON object, not an array");
}

TEST(SetupDocument, RefusesTextThatIsNotStrictJson) {
    EXPECT_EQ(Refusal("{\"varek_setup\": 1,\n \"global_output\": true, \"global_output\": false}"),
              "global_output: given twice (line 2, column 25)");
    for (const char* text : {"", "{", "{\"varek_setup\": 1,}", "{\"varek_setup\": 01}", "{} x", "{'a': 1}",
                             "{\"varek_setup\": 1} // note", "{\"a\": \"\\x\"}", "{\"a\": \"\\ud800\"}"}) {
        EXPECT_EQ(Refusal(text).rfind("not JSON: line ", 0), 0u) << text;
    }
    std::string deep(100, '[');
    EXPECT_NE(Refusal(deep).find("nested more than"), std::string::npos);
}

TEST(SetupDocument, WritesWhatItReadsBack) {
    VarekSetup setup;
    setup.trigger_frequency = 1234.5678;
    setup.channels[0].delay = VarekDDG::MAX_TIMING_VALUE;
    setup.channels[7].output = true;
    setup.unit = "a \"quoted\" unit";
    const std::string text = VarekSetupText(setup);
    EXPECT_NE(text.find("\"8\": {\"delay\": null, \"pulse_width\": null, \"output\": true}"),
              std::string::npos)
        << text;
    setup.unit = "1ns";
    VarekSetup again;
    ASSERT_EQ(VarekParseSetup(VarekSetupText(setup), &again), "");
    EXPECT_TRUE(VarekCompareSetups(setup, again).empty());
    EXPECT_EQ(again.trigger_frequency, 1234.5678);
    EXPECT_EQ(again.channels[0].delay, VarekDDG::MAX_TIMING_VALUE);
    EXPECT_EQ(again.unit, "1ns");
}

TEST(SetupDocument, ComparesValuesAsTheInstrumentHoldsThem) {
    VarekSetup wanted, found;
    wanted.trigger_frequency = 999.9999;  // the same frequency word as 1000
    found.trigger_frequency = 1000.0;
    wanted.channels[2].delay = 12345;
    found.channels[2].delay = 12000;
    wanted.channels[2].output = true;  // nothing to compare it with
    wanted.trigger_mode = 1;
    found.trigger_mode = 0;
    const auto differences = VarekCompareSetups(wanted, found);
    ASSERT_EQ(differences.size(), 2u);
    EXPECT_EQ(differences[0].path, "trigger.mode");
    EXPECT_EQ(differences[1].path, "channels.3.delay");
    EXPECT_EQ(differences[1].label, "channel 3 delay");
    EXPECT_EQ(differences[1].wanted, "12345");
    EXPECT_EQ(differences[1].found, "12000");
    found.trigger_frequency = 999.0;
    EXPECT_EQ(VarekCompareSetups(wanted, found).size(), 3u);
}

TEST(SetupDocument, MergesTheFieldsAChangeGivesAndForgetsOnesMadeUnknown) {
    VarekSetup base, change;
    base.channels[0].delay = 1;
    base.global_output = true;
    change.channels[0].delay = 2;
    change.channels[1].output = false;
    const VarekSetup merged = VarekMergeSetups(base, change);
    EXPECT_EQ(merged.channels[0].delay, 2);
    EXPECT_EQ(merged.channels[1].output, false);
    EXPECT_EQ(merged.global_output, true);
    EXPECT_TRUE(VarekSetupEmpty(VarekSetup{}));
    EXPECT_FALSE(VarekSetupEmpty(change));
    const VarekSetup rest = VarekWithoutFields(merged, change);
    EXPECT_EQ(rest.channels[0].delay, std::nullopt);
    EXPECT_EQ(rest.channels[1].output, std::nullopt);
    EXPECT_EQ(rest.global_output, true);
}

std::string ParsedTime(const std::string& text, const std::string& unit) {
    std::int64_t units = -1;
    const std::string why = VarekParseTime(text, unit, &units);
    return why.empty() ? std::to_string(units) : why;
}

TEST(TimeUnits, ReadsTimesAsWholeUnits) {
    EXPECT_EQ(ParsedTime("12345", ""), "12345");
    EXPECT_EQ(ParsedTime("12.5us", "1ns"), "12500");
    EXPECT_EQ(ParsedTime("12.5 us", "1ns"), "12500");
    EXPECT_EQ(ParsedTime("12.5\xC2\xB5s", "1 ns"), "12500");
    EXPECT_EQ(ParsedTime("1s", "10ps"), "100000000000");
    EXPECT_EQ(ParsedTime("0.00000000001s", "10ps"), "1");
    EXPECT_EQ(ParsedTime("5ns", "2.5ns"), "2");
    EXPECT_EQ(ParsedTime("0ms", "1ns"), "0");
    EXPECT_EQ(ParsedTime("15ps", "10ps"), "\"15ps\" is not a whole number of units of 10ps");
    EXPECT_NE(ParsedTime("1fs", "1ns").find("not a whole number"), std::string::npos);
    EXPECT_NE(ParsedTime("12.5us", "").find("no unit is declared"), std::string::npos);
    EXPECT_NE(ParsedTime("12.5", "1ns").find("not a whole number of units"), std::string::npos);
    EXPECT_NE(ParsedTime("99999999999999999999", "").find("more digits than 18"), std::string::npos);
    EXPECT_NE(ParsedTime("100000000s", "1fs").find("too large"), std::string::npos);
    for (const char* text : {"", "us", "-5", "5 kg", "1.2.3ns", "5  ns"})
        EXPECT_NE(ParsedTime(text, "1ns").find("neither"), std::string::npos) << text;
}

TEST(TimeUnits, PrintsExactTimesWithThePrefixThatFits) {
    EXPECT_EQ(VarekFormatTime(12345, "1ns"), "12.345 us");
    EXPECT_EQ(VarekFormatTime(500, "1ns"), "500 ns");
    EXPECT_EQ(VarekFormatTime(1000, "1ns"), "1 us");
    EXPECT_EQ(VarekFormatTime(1, "10ps"), "10 ps");
    EXPECT_EQ(VarekFormatTime(123456789012, "10ps"), "1.23456789012 s");
    EXPECT_EQ(VarekFormatTime(0, "1ns"), "0 ns");
    EXPECT_EQ(VarekFormatTime(3, "2.5ns"), "7.5 ns");
    EXPECT_EQ(VarekFormatTime(12345, ""), "12345");
    EXPECT_EQ(VarekUnitRejection("1ns"), "");
    EXPECT_NE(VarekUnitRejection("0ns"), "");
    EXPECT_NE(VarekUnitRejection("5"), "");
    for (std::int64_t units :
         {std::int64_t{1}, std::int64_t{999}, std::int64_t{123456}, VarekDDG::MAX_TIMING_VALUE}) {
        std::int64_t back = -1;
        const std::string shown = VarekFormatTime(units, "10ps");
        EXPECT_EQ(VarekParseTime(shown, "10ps", &back), "") << shown;
        EXPECT_EQ(back, units) << shown;
    }
}

}  // namespace
