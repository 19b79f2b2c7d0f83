// The profile-development window's rules without a display: the layout, what
// a refresh shows in every state of a run, the limits a start reads from the
// fields, and the final message.
#include "ui/bench/bench_window_logic.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

using Quads = std::vector<std::array<int, 4>>;  // x, y, width, height of each rectangle
Quads Rects(std::initializer_list<PixelRect> rects) {
  Quads quads;
  for (const PixelRect& r : rects) quads.push_back({r.x, r.y, r.width, r.height});
  return quads;
}

TEST(BenchWindowLayoutTest, FullWidthAndNarrowWindows) {
  const BenchWindowLayout l = LayoutBenchWindow(1080);
  EXPECT_EQ(Rects({l.rootField, l.folderButton, l.perFolderField, l.totalField, l.depthBox, l.startButton,
                   l.pauseButton, l.continueButton, l.cancelButton, l.progressBar, l.statusLine,
                   l.progressLine, l.countsLine, BenchHeadingRect(1080)}),
            (Quads{{22, 86, 886, 32}, {920, 86, 138, 32}, {232, 142, 72, 28}, {562, 142, 92, 28},
                   {770, 140, 288, 180}, {22, 196, 210, 44}, {246, 196, 130, 44}, {390, 196, 130, 44},
                   {534, 196, 130, 44}, {22, 270, 1036, 28}, {22, 315, 1036, 32}, {22, 352, 1036, 30},
                   {22, 386, 1036, 46}, {22, 8, 1036, 34}}));
  // Narrow windows keep the widths at zero.
  const BenchWindowLayout narrow = LayoutBenchWindow(120);
  EXPECT_EQ(Rects({narrow.rootField, narrow.folderButton, narrow.progressBar, LayoutBenchWindow(30).countsLine,
                   BenchHeadingRect(30)}),
            (Quads{{22, 86, 0, 32}, {-40, 86, 138, 32}, {22, 270, 76, 28}, {22, 386, 0, 46}, {22, 8, 0, 34}}));
}

TEST(BenchWindowTextsTest, FinalMessageNamesTheRawCsv) {
  EXPECT_EQ(RunFinishedMessage("/daten/Run_20260101-120000/quality_profile_raw.csv"),
            "Profiltest abgeschlossen.\r\n\r\nRohdaten:\r\n"
            "/daten/Run_20260101-120000/quality_profile_raw.csv\r\n\r\n"
            "Zusammenfassung: candidate_summary.csv\r\nManifest: benchmark_manifest.txt\r\n\r\n"
            "Diese Daten sind f\u00fcr die sp\u00e4tere statistische Kalibrierung der festen "
            "Qualit\u00e4tsprofile vorgesehen.");
}

BenchSnapshot Snapshot(bool running, bool paused, std::uint64_t done, std::uint64_t total, bool sessionFile) {
  return {.running = running, .paused = paused, .total = total, .done = done, .sessionFileExists = sessionFile};
}

TEST(BenchWindowViewTest, StatusButtonsAndProgressBarInEveryState) {
  struct Case {
    BenchSnapshot snapshot;
    const char *status, *buttons;  // buttons: pause, continue, cancel, start (= folder) enabled
    int maximum, value;            // of the progress bar
  };
  const Case cases[] = {
      {Snapshot(false, false, 0, 0, false), kBenchStatusReady, "0001", 1, 0},
      {Snapshot(false, false, 0, 10, true), kBenchStatusReady, "0101", 10, 0},
      {Snapshot(false, false, 4, 10, true), kBenchStatusInterrupted, "0101", 10, 4},
      // Without the session file there is nothing to continue.
      {Snapshot(false, false, 4, 10, false), kBenchStatusInterrupted, "0001", 10, 4},
      // The list was replaced by an empty sample after an interrupted run.
      {Snapshot(false, false, 3, 0, true), kBenchStatusInterrupted, "0001", 1, 1},
      {Snapshot(false, false, 10, 10, false), kBenchStatusFinished, "0001", 10, 10},
      {Snapshot(false, false, 12, 10, true), kBenchStatusFinished, "0001", 10, 10},
      {Snapshot(true, false, 4, 10, true), kBenchStatusRunning, "1010", 10, 4},
      {Snapshot(true, true, 4, 10, true), kBenchStatusPaused, "0110", 10, 4},
      {Snapshot(true, true, 4, 10, false), kBenchStatusPaused, "0110", 10, 4},
  };
  for (const Case& c : cases) {
    const BenchWindowView v = ComposeBenchWindowView(c.snapshot);
    std::string buttons;
    for (bool on : {v.pauseEnabled, v.continueEnabled, v.cancelEnabled, v.startEnabled}) buttons += on ? '1' : '0';
    EXPECT_EQ(std::tuple(v.statusText, buttons, v.folderEnabled, v.progressMaximum, v.progressValue),
              std::tuple(std::string(c.status), std::string(c.buttons), v.startEnabled, c.maximum, c.value))
        << c.snapshot.running << c.snapshot.paused << " " << c.snapshot.done << " of " << c.snapshot.total;
  }
}

TEST(BenchWindowViewTest, ProgressAndCountsLines) {
  BenchSnapshot snapshot{.total = 10, .done = 4, .nextIndex = 4, .currentFileName = "Bild 05.jpg"};
  EXPECT_EQ(BenchProgressText(snapshot), "Bilder: 4 / 10");
  snapshot.running = true;
  EXPECT_EQ(BenchProgressText(snapshot), "Bilder: 4 / 10   |   aktuell: Bild 05.jpg");
  snapshot.nextIndex = 10;
  EXPECT_EQ(BenchProgressText(snapshot), "Bilder: 4 / 10");

  snapshot = {.total = 10, .imagesFound = 12, .foldersFound = 4};
  const std::string found = "Gefunden: 12 Bilder in 4 Verzeichnissen   |   ausgew\u00e4hlt: 10";
  EXPECT_EQ(BenchCountsText(snapshot), found);
  snapshot.currentCandidate = 3;
  snapshot.candidateCount = 8;
  EXPECT_EQ(BenchCountsText(snapshot), found + "   |   Kandidat 3 / 8");
  snapshot.running = true;
  snapshot.elapsedMs = 125999;
  EXPECT_EQ(BenchCountsText(snapshot), found + "   |   Kandidat 3 / 8   |   Laufzeit: 2 min 5 s");
  snapshot.candidateCount = 0;
  snapshot.elapsedMs = 999;
  EXPECT_EQ(BenchCountsText(snapshot), found + "   |   Laufzeit: 0 min 0 s");
  EXPECT_EQ(FormatBenchRunTime(3600000), "60 min 0 s");
}

TEST(BenchWindowViewTest, SnapshotReadsTheSession) {
  BenchmarkSession session{.images = {"/fotos/a/eins.jpg", "/fotos/b/zwei.png"}, .foldersFound = 3,
                           .imagesFound = 7, .nextIndex = 1, .completed = 1, .currentCandidate = 2,
                           .candidateCount = 6, .startTick = 10000};
  const BenchSnapshot s = TakeBenchSnapshot(session, 15500, true);
  EXPECT_TRUE(!s.running && s.sessionFileExists);
  EXPECT_EQ((std::array{s.total, s.done, s.imagesFound, s.foldersFound}), (std::array<std::uint64_t, 4>{2, 1, 7, 3}));
  EXPECT_EQ(std::tuple(s.currentFileName, s.currentCandidate, s.candidateCount), std::tuple("zwei.png", 2, 6));
  EXPECT_EQ(s.elapsedMs, 0u) << "no run time while not running";

  session.running = true;
  EXPECT_EQ(TakeBenchSnapshot(session, 15500, true).elapsedMs, 5500u);
  EXPECT_EQ(TakeBenchSnapshot(session, 9000, true).elapsedMs, 0u) << "start tick in the future";
  session.nextIndex = 2;
  EXPECT_EQ(TakeBenchSnapshot(session, 15500, true).currentFileName, "");
}

TEST(BenchWindowStartTest, LimitsFromTheFieldsAndTheDepthBox) {
  struct Case { const char* perFolder; const char* total; int depthIndex; std::array<int, 3> limits; };
  for (const Case& c : {Case{"", "3", -1, {5, 10, 1}}, Case{"0", "", 0, {1, 5000, 0}},
                        Case{"999", "9999999", 2, {50, 50000, 2}}, Case{"12", "40", 3, {12, 40, 1}}}) {
    const ProfileTestLimits limits = ReadProfileTestLimits(c.perFolder, c.total, c.depthIndex);
    EXPECT_EQ((std::array{limits.maxPerFolder, limits.maxTotal, limits.depth}), c.limits)
        << c.perFolder << " " << c.total << " " << c.depthIndex;
  }
  EXPECT_EQ((std::array{DepthBoxIndex(0), DepthBoxIndex(2), DepthBoxIndex(7), DepthBoxIndex(-1)}),
            (std::array{0, 2, -1, -1}));
}

}  // namespace
