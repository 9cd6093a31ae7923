// The instrument's status block: the payload of its reply to
// CMD_READ_TIMING_CONFIG. Little-endian; per-channel tables hold eight 64-bit
// values, channel c at table + (c - 1) x 8.
#ifndef VAREK_DEVICE_STATUS_BLOCK_H
#define VAREK_DEVICE_STATUS_BLOCK_H

#include <cstdint>
#include <vector>

#include "varek/varek_ddg.h"

namespace varek::status_block {

constexpr std::size_t kDelayTable = 0;
constexpr std::size_t kPulseWidthTable = 64;
constexpr std::size_t kReg128 = 128;  // 16-bit
constexpr std::size_t kReg130 = 130;
constexpr std::size_t kReg131 = 131;
constexpr std::size_t kPeriodWord = 132;  // 32-bit
constexpr std::size_t kReg136 = 136;
constexpr std::size_t kReg137 = 137;
constexpr std::size_t kReg138 = 138;  // 16-bit
constexpr std::size_t kTableA = 140;
constexpr std::size_t kTableB = 204;
constexpr std::size_t kReg276 = 276;  // 32-bit float
constexpr std::size_t kMinimumSize = 348;

// Decodes channel `channel`'s view of `block` into `out`; false, with `out`
// untouched, when the block is shorter than kMinimumSize. The channel must be
// in range.
bool Decode(const std::vector<std::uint8_t>& block, std::int32_t channel, VarekTimingConfig& out);

// The frequency a period word stands for: 1e9 / (word x 4), 0 for word 0.
double FrequencyFromPeriodWord(std::uint32_t word);

}  // namespace varek::status_block

#endif
