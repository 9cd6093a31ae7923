#include "device/status_block.h"

#include "device/little_endian.h"

namespace varek::status_block {

namespace {

// The wire carries delays and widths x100; the division truncates.
std::int64_t TableEntry(const std::vector<std::uint8_t>& block, std::size_t table, std::int32_t channel) {
    const std::size_t offset = table + static_cast<std::size_t>(channel - 1) * kTableEntrySize;
    return static_cast<std::int64_t>(ReadLittleEndian(block, offset, kTableEntrySize) / kTimingScale);
}

std::int32_t Field(const std::vector<std::uint8_t>& block, std::size_t offset, std::size_t size) {
    return static_cast<std::int32_t>(ReadLittleEndian(block, offset, size));
}

}  // namespace

double FrequencyFromPeriodWord(std::uint32_t word) {
    if (word == 0) return 0.0;
    // The same bits as 1e9 / (word x 4.0): a factor of four is exact in binary.
    return VarekDDG::FREQUENCY_CLOCK_HZ / static_cast<double>(word);
}

bool Decode(const std::vector<std::uint8_t>& block, std::int32_t channel, VarekTimingConfig& out) {
    if (block.size() < kMinimumSize) return false;
    out.channel = channel;
    out.delay = TableEntry(block, kDelayTable, channel);
    out.pulse_width = TableEntry(block, kPulseWidthTable, channel);
    out.reg131 = Field(block, kReg131, 1);
    out.reg130 = Field(block, kReg130, 1);
    out.reg128 = Field(block, kReg128, 2);
    out.reg138 = Field(block, kReg138, 2);
    out.reg136 = Field(block, kReg136, 1);
    out.reg137 = Field(block, kReg137, 1);
    out.internal_trigger_freq =
        FrequencyFromPeriodWord(static_cast<std::uint32_t>(ReadLittleEndian(block, kPeriodWord, 4)));
    out.chan_value_a = TableEntry(block, kTableA, channel);
    out.chan_value_b = TableEntry(block, kTableB, channel);
    out.reg276 = ReadFloatBits(block, kReg276);
    return true;
}

}  // namespace varek::status_block
