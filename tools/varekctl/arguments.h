// Command arguments, checked before anything is sent: their syntax here,
// their ranges by the library's rules. Each parser throws UsageError with a
// message that names the argument and what it got.
#ifndef VAREKCTL_ARGUMENTS_H
#define VAREKCTL_ARGUMENTS_H

#include <cstdint>
#include <string>

namespace varekctl {

std::int32_t ParseChannel(const std::string& text);
bool ParseOnOff(const std::string& text);
enum class TimingKind { Delay, PulseWidth };
// A whole number of units, or with a declared `unit` ("1ns") a time such as
// 12.5us that is a whole number of them.
std::int64_t ParseTimingValue(TimingKind kind, const std::string& text, const std::string& unit);
double ParseFrequency(const std::string& text);
std::int32_t ParseTriggerMode(const std::string& text);
// An unsigned number (decimal or 0x hex) no larger than `max`.
std::uint32_t ParseUnsigned(const std::string& what, const std::string& text, std::uint32_t max);

}  // namespace varekctl

#endif
