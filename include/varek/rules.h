/// @file
/// The rules an operation's arguments must meet before anything is sent, with
/// the words of their rejection. The library checks them itself; a tool that
/// checks earlier (before it opens a port, or a whole script or document
/// before its first exchange) asks here instead of restating them.
#ifndef VAREK_RULES_H
#define VAREK_RULES_H

#include <cstdint>
#include <string>

#include "varek/export.h"

/// @name Rejections
/// Each returns "" when the value may be sent, else why not, naming the value
/// and its limits: "channel 9 is outside 1..8". Pure functions, for any thread.
///@{

/// A channel: 1..VarekDDG::CHANNEL_COUNT.
VAREK_API std::string VarekChannelRejection(std::int64_t channel);
/// A delay: 0..VarekDDG::MAX_TIMING_VALUE.
VAREK_API std::string VarekDelayRejection(std::int64_t delay);
/// A pulse width: 0..VarekDDG::MAX_TIMING_VALUE.
VAREK_API std::string VarekPulseWidthRejection(std::int64_t pulse_width);
/// An internal trigger frequency: a number above VarekDDG::MIN_INTERNAL_TRIGGER_FREQ
/// up to VarekDDG::MAX_INTERNAL_TRIGGER_FREQ.
VAREK_API std::string VarekFrequencyRejection(double frequency);
/// The trigger modes the instrument knows, 0..VarekDDG::TRIGGER_MODE_COUNT - 1.
/// SetTrigger itself sends any other value as mode 0, as it always has; tools
/// refuse it instead.
VAREK_API std::string VarekTriggerModeRejection(std::int64_t mode);
///@}

#endif
