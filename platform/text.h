// Text helpers of the Linux layer: UTF-8 <-> UTF-16 conversion, the ordinal
// UTF-16 comparison that list sorting and the benchmark folder map rely on, and
// locale-independent number formatting for labels, command lines and CSV files.
//
// All program text is UTF-8 in std::string. Rules that the design defines on
// UTF-16 code units convert through these functions so non-ASCII names sort and
// hash the same way everywhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Invalid UTF-8 sequences become U+FFFD, one per offending byte.
std::u16string Utf8ToUtf16(std::string_view text);

// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// Compares two UTF-8 texts by their UTF-16 code units, without locale or case
// folding. Negative, zero or positive like strcmp.
int CompareOrdinalUtf16(std::string_view left, std::string_view right);

// Fixed notation with the given number of decimals and a full stop as decimal
// separator, whatever the process locale says.
std::string FormatFixed(double value, int decimals);

// Decimal digits of an unsigned or signed integer, no grouping.
std::string FormatInteger(std::int64_t value);
