// Reading a number from the start of a text, the way profile development reads
// its limits, its session file and its raw results: leading white space is
// skipped, a sign is accepted, and parsing stops at the first character that
// is not part of the number. Nothing here depends on the process locale.
// Neighbours: sampling (field texts), session (benchmark_current.ini), summary
// (quality_profile_raw.csv).
#pragma once

#include <cstdint>
#include <string_view>

// A base-10 integer with an optional "+" or "-". False when no digit follows
// or the value does not fit 32 bits; `value` is then unchanged.
bool ParseLeadingInt32(std::string_view text, std::int32_t& value);

// A base-10 unsigned integer with an optional "+". False when no digit
// follows, for a minus sign, or when the value does not fit 64 bits.
bool ParseLeadingUint64(std::string_view text, std::uint64_t& value);

// A decimal number in plain or exponent notation with an optional sign. False
// when the text does not begin with a number or the number is out of range.
bool ParseLeadingDouble(std::string_view text, double& value);

// True for the C locale's white-space characters (space, \t \n \v \f \r).
bool IsAsciiSpace(char c);
