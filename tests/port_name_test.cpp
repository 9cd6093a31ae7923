#include <gtest/gtest.h>

#include "ports/port_name.h"

namespace {

using varek::NormalizePortName;

TEST(NormalizePortName, PrefixesComPortsAboveNineAndNothingElse) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"COM1", u"COM1"},
        {u"COM9", u"COM9"},
        {u"COM10", u"\\\\.\\COM10"},
        {u"com3", u"com3"},
        {u"com12", u"\\\\.\\com12"},
        {u"cOm255", u"\\\\.\\cOm255"},
        {u"COM010", u"\\\\.\\COM010"},
        {u"COM09", u"COM09"},
        {u"COM0", u"COM0"},
        {u"COM", u"COM"},
        {u"", u""},
        {u"COM1x", u"COM1x"},
        {u"COM12:", u"COM12:"},
        {u"COM 12", u"COM 12"},
        {u"COM+12", u"COM+12"},
        {u" COM12", u" COM12"},
        {u"COMX12", u"COMX12"},
        {u"LPT12", u"LPT12"},
        {u"\\\\.\\COM12", u"\\\\.\\COM12"},
        {u"\\\\?\\COM12", u"\\\\?\\COM12"},
        {u"\\\\.\\", u"\\\\.\\"},
        {u"//./COM12", u"//./COM12"},
        {u"COM2147483647", u"\\\\.\\COM2147483647"},
        {u"COM\u00B9\u00B2", u"COM\u00B9\u00B2"},  // superscript digits are not digits here
        {u"COM\uFF11\uFF12", u"COM\uFF11\uFF12"},  // nor are full-width ones
        {u"\u0441OM12", u"\u0441OM12"},            // a Cyrillic es is not C
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_TRUE(NormalizePortName(input) == expected)
            << std::string(input.begin(), input.end());  // ASCII view for the message
    }
}

TEST(NormalizePortName, NumberBeyondThirtyTwoBitsOpensNothing) {
    EXPECT_TRUE(NormalizePortName(u"COM2147483648").empty());
    EXPECT_TRUE(NormalizePortName(u"COM99999999999999999999999").empty());
    EXPECT_EQ(NormalizePortName(u"COM0000000000002147483647"), u"\\\\.\\COM0000000000002147483647");
}

}  // namespace
