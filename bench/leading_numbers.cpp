// Locale-free parsing of leading numbers; see leading_numbers.h.
#include "bench/leading_numbers.h"

#include <charconv>
#include <limits>
#include <system_error>

namespace {

std::string_view SkipSpace(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size() && IsAsciiSpace(text[pos])) ++pos;
  return text.substr(pos);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Accumulates the leading digits into `magnitude`; false when there is no
// digit or the value exceeds `limit`.
bool ReadDigits(std::string_view text, std::uint64_t limit, std::uint64_t& magnitude) {
  if (text.empty() || !IsDigit(text.front())) return false;
  magnitude = 0;
  for (const char c : text) {
    if (!IsDigit(c)) break;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (magnitude > (limit - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  return true;
}

}  // namespace

bool IsAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool ParseLeadingInt32(std::string_view text, std::int32_t& value) {
  text = SkipSpace(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  const std::uint64_t limit = negative ? 2147483648ull : 2147483647ull;
  std::uint64_t magnitude = 0;
  if (!ReadDigits(text, limit, magnitude)) return false;
  value = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                   : static_cast<std::int32_t>(magnitude);
  return true;
}

bool ParseLeadingUint64(std::string_view text, std::uint64_t& value) {
  text = SkipSpace(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::uint64_t magnitude = 0;
  if (!ReadDigits(text, std::numeric_limits<std::uint64_t>::max(), magnitude)) return false;
  value = magnitude;
  return true;
}

bool ParseLeadingDouble(std::string_view text, double& value) {
  text = SkipSpace(text);
  // from_chars takes a minus sign but not a plus sign.
  if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') {
    text.remove_prefix(1);
  }
  double parsed = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), parsed,
                                      std::chars_format::general);
  if (result.ec != std::errc()) return false;
  value = parsed;
  return true;
}
