// Tests of the live-status text, its progress value, the run-time format,
// the refresh throttle and the CPU sampling.
#include "ui/main/live_status_text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace {

TEST(LiveStatusTextTest, ExampleTextLineByLine) {
  // The second of four images during encoding; the figures print as 3.21 MB,
  // 1.02 MB, 6.52 GB, 15.86 GB and 412.30 MB.
  const LiveStatusSnapshot encoding{.fileName = "urlaub.jpg", .phase = "Encodierung",
                                    .stepText = "Jpegli Q88 420 Progressive", .imageIndex = 2,
                                    .imageCount = 4, .candidatesDone = 1, .candidatesTotal = 2,
                                    .inputBytes = 3365929, .lastCandidateBytes = 1069548};
  const LiveStatusFigures figures{.cpuPercent = 87, .memoryLoadPercent = 41,
                                  .memoryUsedBytes = 7000796447ull, .memoryTotalBytes = 17029422940ull,
                                  .ownBytes = 432330547, .elapsedMs = 67000};
  const std::string text = BuildLiveStatusText(encoding, "Hohe Qualit\u00e4t (empfohlen)",
                                               "Optimal (empfohlen)", figures, "\r\n");
  EXPECT_EQ(text,
            "Bild 2 / 4: urlaub.jpg\r\n"
            "Phase: Encodierung   |   Kandidaten 1 / 2\r\n"
            "Profil: Hohe Qualit\u00e4t (empfohlen)   |   Rechenmodus: Optimal (empfohlen)\r\n"
            "Aktuell: Jpegli Q88 420 Progressive\r\n"
            "Eingabe: 3.21 MB   |   letzter Kandidat: 1.02 MB\r\n"
            "CPU gesamt: 87 %   |   RAM gesamt: 41 % (6.52 GB / 15.86 GB)   |   TALV: 412.30 MB\r\n"
            "Laufzeit: 01:07");
  EXPECT_EQ(LiveStatusProgress(encoding), 375);
}

TEST(LiveStatusTextTest, OptionalPartsAreLeftOutAndTheFirstCpuSampleIsMeasuring) {
  const LiveStatusSnapshot s{.fileName = "a.jpg", .imageIndex = 1, .imageCount = 1};
  LiveStatusFigures f;  // CPU not measured yet
  const std::string text = BuildLiveStatusText(s, "Ausgewogen", "Schnell", f, "\n");
  EXPECT_EQ(text,
            "Bild 1 / 1: a.jpg\n"
            "Phase: \u2013\n"
            "Profil: Ausgewogen   |   Rechenmodus: Schnell\n"
            "Eingabe: 0 B\n"
            "CPU gesamt: wird gemessen\u2026   |   RAM gesamt: 0 % (0 B / 0 B)   |   TALV: 0 B\n"
            "Laufzeit: 00:00");
  f.cpuPercent = 0;
  EXPECT_NE(BuildLiveStatusText(s, "x", "y", f, "\n").find("CPU gesamt: 0 %"), std::string::npos);
}

TEST(LiveStatusTextTest, WrapsOnlyAtSeparators) {
  // One pixel per byte stands in for a font.
  const auto bytes = [](const std::string& text) { return static_cast<int>(text.size()); };
  const std::string text = "Eingabe: 3.21 MB   |   letzter Kandidat: 1.02 MB\nLaufzeit: 01:07";
  EXPECT_EQ(WrapLiveStatusLines(text, "\n", 100, bytes),
            (std::vector<std::string>{"Eingabe: 3.21 MB   |   letzter Kandidat: 1.02 MB",
                                      "Laufzeit: 01:07"}));
  EXPECT_EQ(WrapLiveStatusLines(text, "\n", 30, bytes),
            (std::vector<std::string>{"Eingabe: 3.21 MB", "letzter Kandidat: 1.02 MB",
                                      "Laufzeit: 01:07"}));
  // A part wider than the box stays whole; the box wraps it.
  EXPECT_EQ(WrapLiveStatusLines("a   |   bbbbbbbbbb   |   c", "\n", 5, bytes),
            (std::vector<std::string>{"a", "bbbbbbbbbb", "c"}));
  EXPECT_EQ(WrapLiveStatusLines("", "\r\n", 5, bytes), (std::vector<std::string>{""}));
  EXPECT_EQ(KeepFiguresTogether("RAM gesamt: 41 % (6.52 GB / 15.86 GB)   |   TALV: 0 B, 3 Bilder"),
            "RAM gesamt: 41\u00a0% (6.52\u00a0GB / 15.86\u00a0GB)   |   TALV: 0\u00a0B, 3 Bilder");
}

TEST(LiveStatusProgressTest, RunTimeAndThousandthsOfTheBatch) {
  EXPECT_EQ((std::vector<std::string>{FormatRunTime(3725000), FormatRunTime(65000), FormatRunTime(59999),
                                      FormatRunTime(6000000)}),
            (std::vector<std::string>{"62:05", "01:05", "00:59", "100:00"}));
  struct Case { std::uint64_t imageIndex, imageCount; std::int32_t done, total; int progress; };
  for (const Case c : {Case{0, 0, 0, 0, 0},  // no images
                       Case{3, 3, 2, 2, 1000},
                       Case{3, 3, 5, 2, 1000},  // a newer counter than the text: clamped
                       Case{2, 3, 5, 0, 333},   // no candidates: the image counts as not started
                       Case{2, 3, 5, -1, 333}, Case{0, 3, 5, -1, 0}}) {
    const LiveStatusSnapshot s{.imageIndex = c.imageIndex, .imageCount = c.imageCount,
                               .candidatesDone = c.done, .candidatesTotal = c.total};
    EXPECT_EQ(LiveStatusProgress(s), c.progress) << c.imageIndex << "/" << c.imageCount << " " << c.done
                                                 << "/" << c.total;
  }
}

TEST(LiveStatusSamplingTest, RefreshesAreThrottledUnlessForcedAndTheFirstCpuSampleIsTheBaseline) {
  LiveStatusSampling sampling{.lastRefreshTick = 1000};
  EXPECT_FALSE(ClaimLiveStatusRefresh(sampling, 1249, false));
  EXPECT_EQ(sampling.lastRefreshTick, 1000u);
  EXPECT_TRUE(ClaimLiveStatusRefresh(sampling, 1249, true));
  EXPECT_EQ(sampling.lastRefreshTick, 1249u);
  EXPECT_FALSE(ClaimLiveStatusRefresh(sampling, 1498, false));
  EXPECT_TRUE(ClaimLiveStatusRefresh(sampling, 1499, false));

  const SystemTimes first{100, 200, 100};
  const SystemTimes second{150, 300, 200};  // 200 ticks, 50 of them idle
  EXPECT_LT(SampleCpuPercent(sampling, &first), 0);
  EXPECT_TRUE(sampling.cpuBaselineValid);
  // A failed reading shows no figure and keeps the baseline.
  EXPECT_LT(SampleCpuPercent(sampling, nullptr), 0);
  EXPECT_EQ(sampling.previousTimes.kernel, 200u);
  EXPECT_DOUBLE_EQ(SampleCpuPercent(sampling, &second), 75.0);
  EXPECT_EQ(sampling.previousTimes.user, 200u);
}

TEST(LiveStatusSamplingTest, FiguresOfThisMachine) {
  LiveStatusSampling sampling;
  const std::uint64_t start = TickCountMs();
  const LiveStatusFigures first = GatherLiveStatusFigures(sampling, start + 1500, start);
  EXPECT_TRUE(first.cpuPercent < 0 && first.memoryTotalBytes > 0 && first.memoryUsedBytes <= first.memoryTotalBytes &&
              first.memoryLoadPercent <= 100 && first.ownBytes > 0);
  EXPECT_EQ(first.elapsedMs, 1500u);
  // Burn a little CPU so the counters move.
  volatile std::uint64_t sink = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(30);
  while (std::chrono::steady_clock::now() < until) sink = sink + 1;
  const LiveStatusFigures second = GatherLiveStatusFigures(sampling, start, 0);
  EXPECT_TRUE(second.cpuPercent >= 0 && second.cpuPercent <= 100) << second.cpuPercent;
  EXPECT_EQ(second.elapsedMs, 0u);  // no batch start recorded
}

}  // namespace
