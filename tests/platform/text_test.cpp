// UTF conversion, ordinal UTF-16 order and locale-free number formatting.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <vector>

#include "platform/text.h"

namespace {

TEST(Text, Utf8AndUtf16RoundTrip) {
  const std::string text = "Größe – “Bild” 😀 ß";
  const std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide, u"Größe – “Bild” 😀 ß");
  EXPECT_EQ(Utf16ToUtf8(wide), text);
}

TEST(Text, InvalidSequencesBecomeReplacementCharacters) {
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");                 // cut short at the end
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");       // overlong form
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(Utf16ToUtf8(u"x\xD800y"), "x\xEF\xBF\xBDy");
}

TEST(Text, OrdinalOrderFollowsUtf16CodeUnits) {
  EXPECT_LT(CompareOrdinalUtf16("B.jpg", "a.jpg"), 0);
  EXPECT_GT(CompareOrdinalUtf16("ä.jpg", "z.jpg"), 0);
  EXPECT_EQ(CompareOrdinalUtf16("same", "same"), 0);
  // A supplementary character (surrogates D83D..) sorts before U+FF5E in
  // UTF-16, although its UTF-8 bytes (F0..) sort after (EF..).
  EXPECT_LT(CompareOrdinalUtf16("😀", "～"), 0);
  EXPECT_GT(std::string("😀").compare("～"), 0);
  std::vector<std::string> names = {"b", "A", "ä", "a", "😀", "～"};
  std::sort(names.begin(), names.end(),
            [](const std::string& l, const std::string& r) { return CompareOrdinalUtf16(l, r) < 0; });
  EXPECT_EQ(names, (std::vector<std::string>{"A", "a", "b", "ä", "😀", "～"}));
}

TEST(Text, NumbersIgnoreTheLocale) {
  // Whatever locale the process has, the decimal separator stays a full stop.
  std::setlocale(LC_ALL, "de_DE.UTF-8");
  EXPECT_EQ(FormatFixed(2.5, 2), "2.50");
  EXPECT_EQ(FormatFixed(0.75, 2), "0.75");
  EXPECT_EQ(FormatFixed(62.5, 1), "62.5");
  EXPECT_EQ(FormatFixed(1048575.0 / 1024.0, 2), "1024.00");
  EXPECT_EQ(FormatFixed(87.4, 0), "87");
  EXPECT_EQ(FormatInteger(-42), "-42");
  EXPECT_EQ(FormatInteger(4294967295LL), "4294967295");
  std::setlocale(LC_ALL, "C");
}

}  // namespace
