#include <gtest/gtest.h>

#include <functional>
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
    longer.push_back(0x12);
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

// A frame whose checksum is recomputed after `edit`, so that it breaks only
// the rule the edit targets and every later check would pass.
Bytes Resummed(Bytes bytes, const std::function<void(Bytes&)>& edit) {
    edit(bytes);
    const std::int32_t length_field = bytes[2] | (bytes[3] << 8);
    if (length_field + 3 < static_cast<std::int32_t>(bytes.size())) {
        const std::uint16_t sum = VarekDDG::Checksum(bytes.data(), length_field + 1);
        bytes[static_cast<std::size_t>(length_field) + 1] = static_cast<std::uint8_t>(sum & 0xFF);
        bytes[static_cast<std::size_t>(length_field) + 2] = static_cast<std::uint8_t>(sum >> 8);
    }
    return bytes;
}

// Rejects `bytes` and leaves the record reset, though it held a frame before.
void ExpectRejected(const Bytes& bytes, const char* rule) {
    VarekFrame frame;
    ASSERT_TRUE(Parse(kDelayOneFrame, frame));
    EXPECT_FALSE(Parse(bytes, frame)) << rule;
    EXPECT_FALSE(frame.valid) << rule;
    EXPECT_EQ(frame.cmd, 0) << rule;
    EXPECT_EQ(frame.param, 0) << rule;
    EXPECT_TRUE(frame.data.empty()) << rule;
}

TEST(ParseFrame, RejectsAWrongHeadByteEvenWithAMatchingChecksum) {
    ExpectRejected(Resummed(kDelayOneFrame, [](Bytes& b) { b[0] = 0xEA; }), "first head byte");
    ExpectRejected(Resummed(kDelayOneFrame, [](Bytes& b) { b[1] = 0x91; }), "second head byte");
}

TEST(ParseFrame, RejectsALengthFieldBelowSixWithoutReadingPastIt) {
    // Each of these is a whole frame for its own length field, checksum and
    // tail in place: only the length rule stands between it and a decode
    // whose payload would end before it begins.
    for (std::uint8_t length_field = 3; length_field < 6; ++length_field) {
        Bytes bytes(static_cast<std::size_t>(length_field) + 4, 0x11);
        bytes[0] = 0xEB;
        bytes[1] = 0x90;
        bytes[2] = length_field;
        bytes[3] = 0;
        bytes[static_cast<std::size_t>(length_field) + 3] = 0xCC;
        ExpectRejected(Resummed(bytes, [](Bytes&) {}), "length field below 6");
    }
}

TEST(ParseFrame, RejectsABufferShorterThanTheLengthAnnounces) {
    // Exactly one byte short, in a buffer of its own so that a read past
    // its end shows under the sanitizers.
    ExpectRejected(Bytes(kDelayOneFrame.begin(), kDelayOneFrame.end() - 1), "one byte short");
    ExpectRejected(Bytes(kSoftwareTrigger.begin(), kSoftwareTrigger.begin() + 6), "six bytes");
}

TEST(ParseFrame, RejectsAWrongTailOrChecksumAlone) {
    Bytes bad_tail = kDelayOneFrame;  // the tail is not summed: the checksum still matches
    bad_tail.back() = 0xCD;
    ExpectRejected(bad_tail, "tail");
    Bytes swapped_sum = kDelayOneFrame;
    std::swap(swapped_sum[15], swapped_sum[16]);
    ExpectRejected(swapped_sum, "checksum bytes swapped");
    Bytes off_by_one = kDelayOneFrame;
    ++off_by_one[15];
    ExpectRejected(off_by_one, "checksum one higher");
}

TEST(ParseFrame, RejectsNullAndTooShortBuffers) {
    VarekFrame frame;
    EXPECT_FALSE(VarekDDG::ParseFrame(nullptr, 10, frame));
    EXPECT_FALSE(VarekDDG::ParseFrame(kSoftwareTrigger.data(), -1, frame));
    EXPECT_FALSE(VarekDDG::ParseFrame(kSoftwareTrigger.data(), 0, frame));
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
