// How the instrument's side finds requests in what a host sends: however it
// is cut, after garbage, and at a bounded cost per byte whatever comes.
#include <gtest/gtest.h>

#include <chrono>

#include "request_assembler.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using varek::sim::RequestAssembler;

Bytes Request(std::uint8_t cmd, std::uint16_t param, const Bytes& payload = {}) {
    Bytes frame;
    VarekDDG::BuildFrame(cmd, param, payload.data(), static_cast<std::int32_t>(payload.size()), frame);
    return frame;
}

TEST(RequestAssembler, FindsRequestsHoweverTheyAreCut) {
    RequestAssembler assembler;
    Bytes stream = {0x00, 0xEB, 0x00};
    for (const Bytes& request : {Request(0x14, 0), Request(0x08, 3, Bytes(8, 0x11))})
        stream.insert(stream.end(), request.begin(), request.end());
    std::vector<VarekFrame> found;
    const auto now = RequestAssembler::Clock::now();
    for (std::uint8_t byte : stream) {
        for (VarekFrame& frame : assembler.Feed(&byte, 1, now)) found.push_back(std::move(frame));
    }
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].cmd, 0x14);
    EXPECT_EQ(found[1].param, 3);
    EXPECT_EQ(found[1].data, Bytes(8, 0x11));
}

// Heads announcing the largest length every 7 bytes: each would once have
// held 64 KiB and summed it. Now none is held, and the request after them is
// found at once.
TEST(RequestAssembler, SkipsHeadsNoRequestHasAtOnce) {
    RequestAssembler assembler;
    const Bytes head = {0xEB, 0x90, 0xFF, 0xFF, 0x01, 0x02, 0x03};
    const auto now = RequestAssembler::Clock::now();
    std::size_t most_held = 0;
    for (int i = 0; i < 20000; ++i) {
        EXPECT_TRUE(assembler.Feed(head.data(), head.size(), now).empty());
        most_held = std::max(most_held, assembler.pending());
    }
    EXPECT_LT(most_held, 32u);
    const Bytes trigger = Request(0x14, 0);
    const std::vector<VarekFrame> found = assembler.Feed(trigger.data(), trigger.size(), now);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].cmd, 0x14);
}

TEST(RequestAssembler, ForgetsARequestLeftUnfinishedByAPause) {
    RequestAssembler assembler;
    const Bytes trigger = Request(0x14, 0);
    const auto start = RequestAssembler::Clock::now();
    EXPECT_TRUE(assembler.Feed(trigger.data(), 5, start).empty());
    const auto later = start + RequestAssembler::kRequestPause;
    EXPECT_TRUE(assembler.Feed(trigger.data() + 5, trigger.size() - 5, later).empty());
    EXPECT_EQ(assembler.dropped(), 5u);
    EXPECT_EQ(assembler.Feed(trigger.data(), trigger.size(), later).size(), 1u);
}

}  // namespace
