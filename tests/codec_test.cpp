#include <gtest/gtest.h>

#include <vector>

#include "varek/varek_ddg.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kSoftwareTrigger = {0xEB, 0x90, 0x06, 0x00, 0x14, 0x00, 0x00, 0x95, 0x01, 0xCC};
const Bytes kDelayOneFrame = {0xEB, 0x90, 0x0E, 0x00, 0x08, 0x01, 0x00, 0xF4, 0x01,
                              0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x87, 0x02, 0xCC};

Bytes Build(std::uint8_t cmd, std::uint16_t param, const Bytes& payload) {
    Bytes out;
    VarekDDG::BuildFrame(cmd, param, payload.data(), static_cast<std::int32_t>(payload.size()), out);
    return out;
}

bool Parse(const Bytes& bytes, VarekFrame& frame) {
    return VarekDDG::ParseFrame(bytes.data(), static_cast<std::int32_t>(bytes.size()), frame);
}

TEST(Checksum, SumsBytesModulo65536AndIgnoresEmptyOrNegativeLengths) {
    const Bytes bytes(300, 0xFF);  // 76500 = 0x12AD4
    EXPECT_EQ(VarekDDG::Checksum(bytes.data(), 300), 0x2AD4);
    EXPECT_EQ(VarekDDG::Checksum(kSoftwareTrigger.data(), 7), 0x0195);
    EXPECT_EQ(VarekDDG::Checksum(bytes.data(), 0), 0);
    EXPECT_EQ(VarekDDG::Checksum(bytes.data(), -4), 0);
}

TEST(Checksum, AgreesWithAPlainSumAtEveryLengthAndOffset) {
    std::vector<std::uint8_t> bytes(70000);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7919 % 251 + (i & 4));
    for (const std::int32_t len : {1, 7, 8, 9, 15, 16, 17, 1023, 1024, 1025, 1031, 65535, 65536}) {
        for (const std::size_t offset : {0u, 1u, 3u, 7u}) {
            std::uint32_t plain = 0;
            for (std::int32_t i = 0; i < len; ++i) plain += bytes[offset + static_cast<std::size_t>(i)];
            EXPECT_EQ(VarekDDG::Checksum(bytes.data() + offset, len), static_cast<std::uint16_t>(plain))
                << len << " at " << offset;
        }
    }
    const std::vector<std::uint8_t> all_ones(65536, 0xFF);
    EXPECT_EQ(VarekDDG::Checksum(all_ones.data(), 65536), static_cast<std::uint16_t>(65536u * 255u));
}

TEST(BuildFrame, MatchesTheKnownFrames) {
    EXPECT_EQ(Build(0x14, 0, {}), kSoftwareTrigger);
    EXPECT_EQ(Build(0x08, 1, {0xF4, 0x01, 0, 0, 0, 0, 0, 0}), kDelayOneFrame);
    const Bytes channel_three = Build(0x06, 0x0301, {});
    EXPECT_EQ(channel_three[5], 0x01);
    EXPECT_EQ(channel_three[6], 0x03);
}

TEST(BuildFrame, ResizesOutputToExactlyTheFrame) {
    Bytes out(100, 0xAA);
    VarekDDG::BuildFrame(0x14, 0, nullptr, 0, out);
    EXPECT_EQ(out, kSoftwareTrigger);
}

TEST(BuildFrame, NullPayloadWithLengthLeavesZeroPayloadArea) {
    Bytes out;
    VarekDDG::BuildFrame(0x42, 7, nullptr, 5, out);
    ASSERT_EQ(out.size(), 15u);
    EXPECT_EQ(out[2], 11);
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(Bytes(out.begin() + 7, out.begin() + 12), Bytes(5, 0));
    const std::uint16_t sum = VarekDDG::Checksum(out.data(), 12);
    EXPECT_EQ(out[12], sum & 0xFF);
    EXPECT_EQ(out[13], sum >> 8);
    EXPECT_EQ(out[14], 0xCC);
}

TEST(BuildFrame, LengthNoFrameCanCarryLeavesNoFrame) {
    Bytes out(3, 1);
    VarekDDG::BuildFrame(0x14, 0, nullptr, -1, out);
    EXPECT_TRUE(out.empty());
    const Bytes big(65530, 0);
    VarekDDG::BuildFrame(0x14, 0, big.data(), 65530, out);
    EXPECT_TRUE(out.empty());
    VarekDDG::BuildFrame(0x14, 0, big.data(), 65529, out);
    EXPECT_EQ(out.size(), 65539u);
    EXPECT_EQ(out[2], 0xFF);
    EXPECT_EQ(out[3], 0xFF);
}

TEST(BuildFrameU32, LaysWordsLittleEndian) {
    Bytes out;
    VarekDDG::BuildFrameU32(0x08, 1, {0x000001F4u, 0u}, out);
    EXPECT_EQ(out, kDelayOneFrame);
    VarekDDG::BuildFrameU32(0x14, 0, {}, out);
    EXPECT_EQ(out, kSoftwareTrigger);
}

TEST(ParseFrame, AcceptsAFrameAndIgnoresBytesAfterIt) {
    VarekFrame frame;
    ASSERT_TRUE(Parse(kSoftwareTrigger, frame));
    EXPECT_TRUE(frame.valid);
    EXPECT_EQ(frame.cmd, 0x14);
    EXPECT_EQ(frame.param, 0);
    EXPECT_TRUE(frame.data.empty());

    Bytes longer = kDelayOneFrame;
    longer.insert(longer.end(), {0x12, 0x34});
    ASSERT_TRUE(Parse(longer, frame));
    EXPECT_EQ(frame.cmd, 0x08);
    EXPECT_EQ(frame.param, 1);
    EXPECT_EQ(frame.data, Bytes({0xF4, 0x01, 0, 0, 0, 0, 0, 0}));
}

TEST(ParseFrame, AcceptsAChecksumThatWrapped) {
    const Bytes payload(400, 0xFE);
    const Bytes frame_bytes = Build(0xC1, 0xFFFF, payload);
    VarekFrame frame;
    ASSERT_TRUE(Parse(frame_bytes, frame));
    EXPECT_EQ(frame.data, payload);
    EXPECT_EQ(frame.param, 0xFFFF);
}

TEST(ParseFrame, RejectsEveryMalformedFrameAndResetsTheRecord) {
    Bytes bad_head0 = kSoftwareTrigger;
    bad_head0[0] = 0xEA;
    Bytes bad_head1 = kSoftwareTrigger;
    bad_head1[1] = 0x91;
    Bytes short_length = kSoftwareTrigger;
    short_length[2] = 5;
    Bytes bad_tail = kSoftwareTrigger;
    bad_tail[9] = 0xCD;
    Bytes swapped_sum = kSoftwareTrigger;
    std::swap(swapped_sum[7], swapped_sum[8]);
    const Bytes truncated(kSoftwareTrigger.begin(), kSoftwareTrigger.end() - 1);
    const Bytes six(kSoftwareTrigger.begin(), kSoftwareTrigger.begin() + 6);

    for (const Bytes& bytes : {bad_head0, bad_head1, short_length, bad_tail, swapped_sum, truncated, six}) {
        VarekFrame frame;
        ASSERT_TRUE(Parse(kDelayOneFrame, frame));
        EXPECT_FALSE(Parse(bytes, frame));
        EXPECT_FALSE(frame.valid);
        EXPECT_EQ(frame.cmd, 0);
        EXPECT_EQ(frame.param, 0);
        EXPECT_TRUE(frame.data.empty());
    }
    VarekFrame frame;
    EXPECT_FALSE(VarekDDG::ParseFrame(nullptr, 10, frame));
    EXPECT_FALSE(VarekDDG::ParseFrame(kSoftwareTrigger.data(), -1, frame));
}

TEST(DumpFrame, PrintsLabelBytesAndCount) {
    testing::internal::CaptureStdout();
    VarekDDG::DumpFrame(kSoftwareTrigger, "TX");
    VarekDDG::DumpFrame({0x0A, 0xFF}, nullptr);
    VarekDDG::DumpFrame({}, "empty");
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "TX: EB 90 06 00 14 00 00 95 01 CC (10 bytes)\n"
              "0A FF (2 bytes)\n");
}

}  // namespace
