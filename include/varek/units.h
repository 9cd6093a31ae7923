/// @file
/// Times in the instrument's units, and in seconds when the user has said
/// what one unit is. The library never guesses the unit: it is the
/// instrument's, and only its manual says it.
#ifndef VAREK_UNITS_H
#define VAREK_UNITS_H

#include <cstdint>
#include <string>

#include "varek/export.h"

/// "" when `unit` says what one unit of the instrument is ("1ns", "10ps",
/// "2.5 ns"), else why not.
VAREK_API std::string VarekUnitRejection(const std::string& unit);

/// Reads `text` as a whole number of units into *UNITS: a plain whole number
/// is units already ("12345"); a time with a prefix of seconds ("12.5us",
/// "3 ms", "40ns") is converted by `unit`, which must then be declared.
/// Returns "" on success, else why not, naming the text: a time that is not
/// a whole number of units, a time without a declared unit, not a time.
VAREK_API std::string VarekParseTime(const std::string& text, const std::string& unit, std::int64_t* units);

/// `units` for people: "12.345 us" with the SI prefix that keeps the number
/// between 1 and 1000, exact to the last digit; the plain number when `unit`
/// is "" (none declared).
VAREK_API std::string VarekFormatTime(std::int64_t units, const std::string& unit);

#endif
