// /proc parsers for the live status, fed with fixed samples, and the live
// readers on this machine.
#include <gtest/gtest.h>

#include "platform/system_figures.h"

namespace {

TEST(SystemFigures, CpuTimesCountIdleInsideKernelTime) {
  SystemTimes times;
  ASSERT_TRUE(ParseSystemTimes(
      "cpu  100 5 40 800 20 3 2 1 0 0\ncpu0 50 2 20 400 10 1 1 0 0 0\n", times));
  EXPECT_EQ(times.idle, 820u);
  EXPECT_EQ(times.kernel, 40u + 3 + 2 + 800 + 20);
  EXPECT_EQ(times.user, 100u + 5 + 1);
  EXPECT_FALSE(ParseSystemTimes("cpu0 1 2 3 4\n", times));
  EXPECT_FALSE(ParseSystemTimes("garbage", times));
}

TEST(SystemFigures, CpuLoadBetweenTwoSamples) {
  const SystemTimes before{1000, 1500, 500};
  // 100 ticks passed, 25 of them idle.
  const SystemTimes after{1025, 1550, 550};
  EXPECT_DOUBLE_EQ(CpuLoadPercent(before, after), 75.0);
  EXPECT_DOUBLE_EQ(CpuLoadPercent(before, before), 0.0);
  EXPECT_DOUBLE_EQ(CpuLoadPercent(after, before), 0.0);  // counters reset
}

TEST(SystemFigures, MemoryLoadAndProcessFigures) {
  MemoryFigures memory;
  ASSERT_TRUE(ParseMemoryFigures(
      "MemTotal:       16000000 kB\nMemFree:         1000000 kB\nMemAvailable:    9440000 kB\n", memory));
  EXPECT_EQ(memory.totalBytes, 16000000ull * 1024);
  EXPECT_EQ(memory.availableBytes, 9440000ull * 1024);
  EXPECT_EQ(memory.loadPercent, 41u);
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
}

}  // namespace
