// UTF conversion and order, locale-free numbers, the /proc parsers on fixed
// samples and live, and the huge-page advice for large buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>
#include "platform/clock.h"
#include "platform/memory.h"
#include "platform/system_figures.h"
#include "platform/text.h"

TEST(Text, Utf8AndUtf16ConvertBothWaysAndReplaceInvalidSequences) {
  const std::string text = "Größe – “Bild” 😀 ß";
  EXPECT_EQ(Utf8ToUtf16(text), u"Größe – “Bild” 😀 ß");
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");                      // cut short at the end
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");            // overlong form
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(Utf16ToUtf8(u"x\xD800y"), "x\xEF\xBF\xBDy");
  EXPECT_EQ(Utf16ToUtf8(u"\U0010FFFF"), "\xF4\x8F\xBF\xBF");  // the last pair, low half 0xDFFF
}

TEST(Text, OrdinalOrderFollowsUtf16CodeUnits) {
  EXPECT_LT(CompareOrdinalUtf16("B.jpg", "a.jpg"), 0);
  EXPECT_GT(CompareOrdinalUtf16("ä.jpg", "z.jpg"), 0);
  EXPECT_EQ(CompareOrdinalUtf16("same", "same"), 0);
  // A supplementary character (surrogates D83D..) sorts before U+FF5E in
  // UTF-16, although its UTF-8 bytes (F0..) sort after (EF..).
  EXPECT_LT(CompareOrdinalUtf16("😀", "～"), 0);
  std::vector<std::string> names = {"b", "A", "ä", "a", "😀", "～"};
  std::sort(names.begin(), names.end(),
            [](const std::string& l, const std::string& r) { return CompareOrdinalUtf16(l, r) < 0; });
  EXPECT_EQ(names, (std::vector<std::string>{"A", "a", "b", "ä", "😀", "～"}));
}

TEST(Text, NumbersIgnoreTheLocale) {
  std::setlocale(LC_ALL, "de_DE.UTF-8");  // a decimal comma, if the locale exists
  EXPECT_EQ(FormatFixed(2.5, 2) + " " + FormatFixed(0.75, 2) + " " + FormatFixed(62.5, 1) + " " +
                FormatFixed(1048575.0 / 1024.0, 2) + " " + FormatFixed(87.4, 0),
            "2.50 0.75 62.5 1024.00 87");
  EXPECT_EQ(FormatInteger(-42) + " " + FormatInteger(4294967295LL), "-42 4294967295");
  std::setlocale(LC_ALL, "C");
}

TEST(SystemFigures, CpuTimesCountIdleInsideKernelTimeAndGiveTheLoad) {
  SystemTimes times;
  ASSERT_TRUE(ParseSystemTimes("cpu  100 5 40 800 20 3 2 1 0 0\ncpu0 50 2 20 400 10 1 1 0 0 0\n", times));
  EXPECT_EQ(std::tuple(times.idle, times.kernel, times.user),
            std::tuple(820ull, 40ull + 3 + 2 + 800 + 20, 100ull + 5 + 1));
  EXPECT_FALSE(ParseSystemTimes("cpu0 1 2 3 4\n", times));
  EXPECT_FALSE(ParseSystemTimes("garbage", times));
  const SystemTimes before{1000, 1500, 500};
  const SystemTimes after{1025, 1550, 550};  // 100 ticks passed, 25 of them idle
  EXPECT_DOUBLE_EQ(CpuLoadPercent(before, after), 75.0);
  EXPECT_DOUBLE_EQ(CpuLoadPercent(before, before), 0.0);
  EXPECT_DOUBLE_EQ(CpuLoadPercent(after, before), 0.0);  // counters reset
}

TEST(SystemFigures, MemoryLoadAndProcessFigures) {
  MemoryFigures memory;
  ASSERT_TRUE(ParseMemoryFigures(
      "MemTotal:       16000000 kB\nMemFree:         1000000 kB\nMemAvailable:    9440000 kB\n", memory));
  EXPECT_EQ(std::tuple(memory.totalBytes, memory.availableBytes, memory.loadPercent),
            std::tuple(16000000ull * 1024, 9440000ull * 1024, 41u));
  EXPECT_FALSE(ParseMemoryFigures("MemFree: 5 kB\n", memory));
  std::uint64_t bytes = 0;
  EXPECT_TRUE(ParseStatusBytes("Name:\tx\nVmHWM:\t  2048 kB\nVmRSS:\t  1024 kB\n", "VmRSS", bytes));
  EXPECT_EQ(bytes, 1024u * 1024);
  EXPECT_FALSE(ParseStatusBytes("VmRSSX: 5 kB\n", "VmRSS", bytes));
}

TEST(SystemFigures, LiveReadersWorkOnThisMachine) {
  SystemTimes times;
  EXPECT_TRUE(ReadSystemTimes(times));
  EXPECT_GT(times.kernel + times.user, 0u);
  MemoryFigures memory;
  EXPECT_TRUE(ReadMemoryFigures(memory));
  EXPECT_GT(memory.totalBytes, 0u);
  EXPECT_LE(memory.loadPercent, 100u);
  EXPECT_GT(ReadResidentBytes(), 0u);
  EXPECT_GE(ReadPeakResidentBytes(), ReadResidentBytes() / 2);
  EXPECT_GE(HardwareThreadCount(), 1u);
}

// The VmFlags line of the mapping in /proc/self/smaps that holds `address`.
static std::string MappingFlags(const void* address) {
  std::ifstream smaps("/proc/self/smaps");
  const auto target = reinterpret_cast<std::uintptr_t>(address);
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    unsigned long begin = 0, end = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx ", &begin, &end) == 2 && line.find(':') > 8) {
      inside = target >= begin && target < end;
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      return line;
    }
  }
  return "";
}

TEST(MemoryAdvice, LargeBuffersAreMarkedForHugePagesAndSmallOnesLeftAlone) {
  std::vector<unsigned char> large;
  large.reserve(16u << 20);
  AdviseHugePages(large.data(), large.capacity());
  const std::string flags = MappingFlags(large.data() + (8u << 20));
  ASSERT_FALSE(flags.empty());
  EXPECT_NE(flags.find(" hg"), std::string::npos) << flags;
  // Smaller than one aligned huge page: nothing to advise, nothing breaks.
  std::vector<unsigned char> small(4096);
  AdviseHugePages(small.data(), small.size());
  AdviseHugePages(nullptr, 1u << 30);
  EXPECT_EQ(MappingFlags(small.data()).find(" hg"), std::string::npos);
}
