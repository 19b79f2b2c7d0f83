// The live-status setters, the byte formatter and the result line.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "core/live_status.h"
#include "core/result_line.h"

TEST(FormatBytesTest, UnitsAndRounding) {
  const std::pair<std::uint64_t, std::string> cases[] = {
      {0, "0 B"}, {1023, "1023 B"}, {1024, "1.00 KB"}, {1536, "1.50 KB"}, {1048576, "1.00 MB"},
      {1048575, "1024.00 KB"}, {5ull << 40, "5120.00 GB"}, {UINT64_MAX, "17179869184.00 GB"}};
  for (const auto& [bytes, text] : cases) EXPECT_EQ(FormatBytes(bytes), text);
}

TEST(LiveStatusTest, StepKeepsTheLastCandidateSizeWhenNoneIsGiven) {
  SetLiveStatusStep("Jpegli Q88 420 Progressive", 0, 2, 12345);
  SetLiveStatusStep("jpegtran verlustfrei / Huffman-optimiert", 1, 2, 0);
  SetLiveStatusPhase("Größenvergleich");
  const LiveStatusSnapshot s = TakeLiveStatusSnapshot();
  EXPECT_EQ(s.stepText, "jpegtran verlustfrei / Huffman-optimiert");
  EXPECT_EQ(s.candidatesDone, 1);
  EXPECT_EQ(s.candidatesTotal, 2);
  EXPECT_EQ(s.lastCandidateBytes, 12345u);
  EXPECT_EQ(s.phase, "Größenvergleich");
}

TEST(LiveStatusTest, ConcurrentWritersAndReadersSeeWholeTexts) {
  const std::string a(200, 'a'), b(300, 'b');
  SetLiveStatusStep(a, 0, 1, 0);
  std::vector<std::thread> writers;
  for (int t = 0; t < 3; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) SetLiveStatusStep((i + t) % 2 ? a : b, i, 2000, i + 1);
    });
  }
  for (int i = 0; i < 2000; ++i) {
    const std::string text = TakeLiveStatusSnapshot().stepText;
    ASSERT_TRUE(text == a || text == b) << text.size();
  }
  for (std::thread& w : writers) w.join();
}

TEST(LiveStatusTest, HooksAreCalledWhenInstalledAndAreOptional) {
  SetFrontEndHooks(FrontEndHooks{});
  RefreshLiveStatus(true);  // nothing installed: no effect
  PumpFrontEndEvents();
  int refreshed = 0, pumped = 0;
  SetFrontEndHooks(FrontEndHooks{[&](bool force) { refreshed += force ? 10 : 1; }, [&] { ++pumped; }});
  RefreshLiveStatus(true);
  RefreshLiveStatus(false);
  PumpFrontEndEvents();
  SetFrontEndHooks(FrontEndHooks{});
  EXPECT_EQ(refreshed, 11);
  EXPECT_EQ(pumped, 1);
}

TEST(ResultLineTest, OptimisedAndKeptLines) {
  ImageResult r;
  r.sourcePath = "/bilder/a.jpg";
  r.profileLabel = "Hohe Qualität (empfohlen)";
  r.optimized = true;
  r.winnerLabel = "Jpegli Q88 420 Progressive";
  r.originalBytes = 4u << 20;
  r.resultBytes = 1572864;
  r.score = 0.973;
  r.worst5 = 0.941;
  r.candidatesEncoded = r.candidatesPlanned = 2;
  EXPECT_EQ(FormatResultLine(r),
            "a.jpg   |   Hohe Qualität (empfohlen)   |   Jpegli Q88 420 Progressive   |   4.00 MB "
            "\xE2\x86\x92 1.50 MB   |   62.5 % kleiner   |   Robust 97.3   |   Worst-5% 94.1   |   "
            "Kandidaten 2/2");
  r.optimized = false;
  r.message = "Kein fester Encoder-Kandidat ist kleiner als das Original \xE2\x80\x93 Original behalten";
  r.candidatesEncoded = r.candidatesPlanned = 1;
  EXPECT_EQ(FormatResultLine(r),
            "a.jpg   |   Hohe Qualität (empfohlen)   |   Original behalten   |   Kein fester "
            "Encoder-Kandidat ist kleiner als das Original \xE2\x80\x93 Original behalten   |   "
            "Kandidaten 1/1");
  EXPECT_EQ(SavingPercent(0, 10), 0.0);
}
