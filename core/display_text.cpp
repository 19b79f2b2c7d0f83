// Escaping of outside text for display; see display_text.h. Neighbours:
// platform/text (the UTF-8 decoding that replaces invalid bytes).
#include "core/display_text.h"

#include "platform/text.h"

namespace {

bool IsShownEscaped(char16_t unit) {
  return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || unit == 0x2028 || unit == 0x2029 ||
         (unit >= 0x202A && unit <= 0x202E) || (unit >= 0x2066 && unit <= 0x2069);
}

std::u16string EscapeOf(char16_t unit) {
  switch (unit) {
    case u'\n': return u"\\n";
    case u'\r': return u"\\r";
    case u'\t': return u"\\t";
    default: break;
  }
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  const bool wide = unit > 0x7F;
  std::u16string escape = wide ? u"\\u" : u"\\x";
  for (int shift = wide ? 12 : 4; shift >= 0; shift -= 4) escape += kDigits[(unit >> shift) & 0xF];
  return escape;
}

}  // namespace

std::string EscapeForDisplay(std::string_view text) {
  // Surrogates cannot be shown escaped: controls are all in the basic plane.
  const std::u16string units = Utf8ToUtf16(text);
  std::u16string shown;
  shown.reserve(units.size());
  for (const char16_t unit : units) {
    if (IsShownEscaped(unit)) shown += EscapeOf(unit);
    else shown += unit;
  }
  return Utf16ToUtf8(shown);
}
