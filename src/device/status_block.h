// The instrument's status block: the payload of its reply to
// CMD_READ_TIMING_CONFIG, and the one home of its layout for the library, the
// simulated instrument and the tests. Little-endian; per-channel tables hold
// eight 64-bit values, channel c at table + (c - 1) x 8. Each field's record
// member is named after it; where the library gives a field no meaning, the
// simulated instrument's use of it is said in brackets.
#ifndef VAREK_DEVICE_STATUS_BLOCK_H
#define VAREK_DEVICE_STATUS_BLOCK_H

#include <cstdint>
#include <vector>

#include "varek/varek_ddg.h"

namespace varek::status_block {

constexpr std::size_t kTableEntrySize = 8;
constexpr std::size_t kDelayTable = 0;        // delay x100 (`delay`)
constexpr std::size_t kPulseWidthTable = 64;  // pulse width x100 (`pulse_width`)
constexpr std::size_t kReg128 = 128;          // 16-bit (the channel count, 8)
constexpr std::size_t kReg130 = 130;          // byte (the trigger code 1..3)
constexpr std::size_t kReg131 = 131;          // byte: the global output enable, 0 or 1
constexpr std::size_t kPeriodWord = 132;      // 32-bit: the frequency word (`internal_trigger_freq`)
constexpr std::size_t kReg136 = 136;          // byte (software triggers fired, modulo 256)
constexpr std::size_t kReg137 = 137;          // byte (channel output enables, bit c-1 for channel c)
constexpr std::size_t kReg138 = 138;          // 16-bit (the firmware version)
constexpr std::size_t kTableA = 140;          // table, x100 (`chan_value_a`: the pulse's end, delay + width)
constexpr std::size_t kTableB = 204;          // table, x100 (`chan_value_b`: reserved, 0)
constexpr std::size_t kReg276 = 276;          // 32-bit float (`reg276`: the temperature)
constexpr std::size_t kMinimumSize = 348;     // the whole block; bytes 268..275 and 280..347 unused
// The factor between the tables and the values of the interface.
constexpr std::uint64_t kTimingScale = 100;

// Decodes channel `channel`'s view of `block` into `out`; false, with `out`
// untouched, when the block is shorter than kMinimumSize. The channel must be
// in range.
bool Decode(const std::vector<std::uint8_t>& block, std::int32_t channel, VarekTimingConfig& out);

// The frequency a period word stands for: FREQUENCY_CLOCK_HZ / word, 0 for word 0.
double FrequencyFromPeriodWord(std::uint32_t word);

}  // namespace varek::status_block

#endif
