// Tests of the profile-development window's rules without a display: the
// layout, what a refresh shows in every state of a run, the limits a start
// reads from the fields, and the final message.
#include "ui/bench/bench_window_logic.h"

#include <gtest/gtest.h>

namespace {

void ExpectRect(const PixelRect& rect, int x, int y, int width, int height) {
  EXPECT_EQ(rect.x, x);
  EXPECT_EQ(rect.y, y);
  EXPECT_EQ(rect.width, width);
  EXPECT_EQ(rect.height, height);
}

TEST(BenchWindowLayoutTest, FullWidthWindow) {
  const BenchWindowLayout layout = LayoutBenchWindow(1080);
  ExpectRect(layout.rootField, 22, 86, 886, 32);
  ExpectRect(layout.folderButton, 920, 86, 138, 32);
  ExpectRect(layout.perFolderField, 232, 142, 72, 28);
  ExpectRect(layout.totalField, 562, 142, 92, 28);
  ExpectRect(layout.depthBox, 770, 140, 288, 180);
  ExpectRect(layout.startButton, 22, 196, 210, 44);
  ExpectRect(layout.pauseButton, 246, 196, 130, 44);
  ExpectRect(layout.continueButton, 390, 196, 130, 44);
  ExpectRect(layout.cancelButton, 534, 196, 130, 44);
  ExpectRect(layout.progressBar, 22, 270, 1036, 28);
  ExpectRect(layout.statusLine, 22, 315, 1036, 32);
  ExpectRect(layout.progressLine, 22, 352, 1036, 30);
  ExpectRect(layout.countsLine, 22, 386, 1036, 46);
  ExpectRect(BenchHeadingRect(1080), 22, 8, 1036, 34);
}

TEST(BenchWindowLayoutTest, NarrowWindowKeepsWidthsAtZero) {
  const BenchWindowLayout layout = LayoutBenchWindow(120);
  ExpectRect(layout.rootField, 22, 86, 0, 32);
  ExpectRect(layout.folderButton, -40, 86, 138, 32);
  ExpectRect(layout.progressBar, 22, 270, 76, 28);
  ExpectRect(LayoutBenchWindow(30).countsLine, 22, 386, 0, 46);
  ExpectRect(BenchHeadingRect(30), 22, 8, 0, 34);
}

TEST(BenchWindowTextsTest, FixedTextsCarryTheirDashesAndEllipses) {
  EXPECT_STREQ(kBenchWindowTitle, "Profilentwicklung \xE2\x80\x93 Orvel JPEG Optimizer");
  EXPECT_STREQ(kBenchDepthItems[0], "Kompakt (~20\xE2\x80\x93" "30 Kandidaten)");
  EXPECT_STREQ(kBenchDepthItems[1], "Standard (~40\xE2\x80\x93" "60 Kandidaten)");
  EXPECT_STREQ(kBenchDepthItems[2], "Tiefenanalyse (~80+ Kandidaten)");
  EXPECT_EQ(kBenchDefaultDepth, 1);
  EXPECT_STREQ(kBenchFolderButtonText, "Verzeichnis\xE2\x80\xA6");
  EXPECT_STREQ(kBenchStatusScanning,
               "Durchsuche Verzeichnisstruktur und bilde ausgewogene Stichprobe\xE2\x80\xA6");
}

TEST(BenchWindowTextsTest, FinalMessageNamesTheRawCsv) {
  EXPECT_EQ(RunFinishedMessage("/daten/Run_20260101-120000/quality_profile_raw.csv"),
            "Profiltest abgeschlossen.\r\n\r\nRohdaten:\r\n"
            "/daten/Run_20260101-120000/quality_profile_raw.csv\r\n\r\n"
            "Zusammenfassung: candidate_summary.csv\r\nManifest: benchmark_manifest.txt\r\n\r\n"
            "Diese Daten sind f\u00fcr die sp\u00e4tere statistische Kalibrierung der festen "
            "Qualit\u00e4tsprofile vorgesehen.");
}

BenchSnapshot Snapshot(bool running, bool paused, std::uint64_t done, std::uint64_t total,
                       bool sessionFile) {
  BenchSnapshot snapshot;
  snapshot.running = running;
  snapshot.paused = paused;
  snapshot.done = done;
  snapshot.total = total;
  snapshot.sessionFileExists = sessionFile;
  return snapshot;
}

struct ViewCase {
  BenchSnapshot snapshot;
  const char* status;
  bool pause, resume, cancel, start;
};

TEST(BenchWindowViewTest, StatusTextAndButtonsInEveryState) {
  const ViewCase cases[] = {
      {Snapshot(false, false, 0, 0, false), kBenchStatusReady, false, false, false, true},
      {Snapshot(false, false, 0, 10, true), kBenchStatusReady, false, true, false, true},
      {Snapshot(false, false, 4, 10, true), kBenchStatusInterrupted, false, true, false, true},
      // Without the session file there is nothing to continue.
      {Snapshot(false, false, 4, 10, false), kBenchStatusInterrupted, false, false, false, true},
      // The list was replaced by an empty sample after an interrupted run.
      {Snapshot(false, false, 3, 0, true), kBenchStatusInterrupted, false, false, false, true},
      {Snapshot(false, false, 10, 10, false), kBenchStatusFinished, false, false, false, true},
      {Snapshot(false, false, 12, 10, true), kBenchStatusFinished, false, false, false, true},
      {Snapshot(true, false, 4, 10, true), kBenchStatusRunning, true, false, true, false},
      {Snapshot(true, true, 4, 10, true), kBenchStatusPaused, false, true, true, false},
      {Snapshot(true, true, 4, 10, false), kBenchStatusPaused, false, true, true, false},
  };
  for (const ViewCase& c : cases) {
    const BenchWindowView view = ComposeBenchWindowView(c.snapshot);
    const std::string label = std::to_string(c.snapshot.running) + "/" +
                              std::to_string(c.snapshot.paused) + " " +
                              std::to_string(c.snapshot.done) + " of " +
                              std::to_string(c.snapshot.total);
    EXPECT_EQ(view.statusText, c.status) << label;
    EXPECT_EQ(view.pauseEnabled, c.pause) << label;
    EXPECT_EQ(view.continueEnabled, c.resume) << label;
    EXPECT_EQ(view.cancelEnabled, c.cancel) << label;
    EXPECT_EQ(view.startEnabled, c.start) << label;
    EXPECT_EQ(view.folderEnabled, c.start) << label;
  }
}

TEST(BenchWindowViewTest, ProgressBarRange) {
  BenchWindowView view = ComposeBenchWindowView(Snapshot(false, false, 0, 0, false));
  EXPECT_EQ(view.progressMaximum, 1);
  EXPECT_EQ(view.progressValue, 0);
  view = ComposeBenchWindowView(Snapshot(true, false, 4, 10, true));
  EXPECT_EQ(view.progressMaximum, 10);
  EXPECT_EQ(view.progressValue, 4);
  view = ComposeBenchWindowView(Snapshot(false, false, 3, 0, true));
  EXPECT_EQ(view.progressValue, 1);
}

TEST(BenchWindowViewTest, ProgressLineNamesTheCurrentImageOnlyWhileRunning) {
  BenchSnapshot snapshot = Snapshot(false, false, 4, 10, true);
  snapshot.nextIndex = 4;
  snapshot.currentFileName = "Bild 05.jpg";
  EXPECT_EQ(BenchProgressText(snapshot), "Bilder: 4 / 10");
  snapshot.running = true;
  EXPECT_EQ(BenchProgressText(snapshot), "Bilder: 4 / 10   |   aktuell: Bild 05.jpg");
  snapshot.nextIndex = 10;
  EXPECT_EQ(BenchProgressText(snapshot), "Bilder: 4 / 10");
}

TEST(BenchWindowViewTest, CountsLineWithCandidateAndRunTime) {
  BenchSnapshot snapshot = Snapshot(false, false, 0, 10, true);
  snapshot.imagesFound = 12;
  snapshot.foldersFound = 4;
  EXPECT_EQ(BenchCountsText(snapshot),
            "Gefunden: 12 Bilder in 4 Verzeichnissen   |   ausgew\u00e4hlt: 10");
  snapshot.currentCandidate = 3;
  snapshot.candidateCount = 8;
  EXPECT_EQ(BenchCountsText(snapshot),
            "Gefunden: 12 Bilder in 4 Verzeichnissen   |   ausgew\u00e4hlt: 10   |   Kandidat 3 / 8");
  snapshot.running = true;
  snapshot.elapsedMs = 125999;
  EXPECT_EQ(BenchCountsText(snapshot),
            "Gefunden: 12 Bilder in 4 Verzeichnissen   |   ausgew\u00e4hlt: 10   |   Kandidat 3 / 8"
            "   |   Laufzeit: 2 min 5 s");
  snapshot.candidateCount = 0;
  snapshot.elapsedMs = 999;
  EXPECT_EQ(BenchCountsText(snapshot),
            "Gefunden: 12 Bilder in 4 Verzeichnissen   |   ausgew\u00e4hlt: 10   |   Laufzeit: 0 min 0 s");
  EXPECT_EQ(FormatBenchRunTime(3600000), "60 min 0 s");
}

TEST(BenchWindowViewTest, SnapshotReadsTheSession) {
  BenchmarkSession session;
  session.images = {"/fotos/a/eins.jpg", "/fotos/b/zwei.png"};
  session.imagesFound = 7;
  session.foldersFound = 3;
  session.completed = 1;
  session.nextIndex = 1;
  session.currentCandidate = 2;
  session.candidateCount = 6;
  session.startTick = 10000;
  BenchSnapshot snapshot = TakeBenchSnapshot(session, 15500, true);
  EXPECT_FALSE(snapshot.running);
  EXPECT_EQ(snapshot.total, 2u);
  EXPECT_EQ(snapshot.done, 1u);
  EXPECT_EQ(snapshot.currentFileName, "zwei.png");
  EXPECT_EQ(snapshot.imagesFound, 7u);
  EXPECT_EQ(snapshot.foldersFound, 3u);
  EXPECT_EQ(snapshot.currentCandidate, 2);
  EXPECT_EQ(snapshot.candidateCount, 6);
  EXPECT_EQ(snapshot.elapsedMs, 0u) << "no run time while not running";
  EXPECT_TRUE(snapshot.sessionFileExists);

  session.running = true;
  EXPECT_EQ(TakeBenchSnapshot(session, 15500, true).elapsedMs, 5500u);
  EXPECT_EQ(TakeBenchSnapshot(session, 9000, true).elapsedMs, 0u) << "start tick in the future";
  session.nextIndex = 2;
  EXPECT_EQ(TakeBenchSnapshot(session, 15500, true).currentFileName, "");
}

TEST(BenchWindowStartTest, LimitsFromTheFields) {
  ProfileTestLimits limits = ReadProfileTestLimits("", "3", -1);
  EXPECT_EQ(limits.maxPerFolder, 5);
  EXPECT_EQ(limits.maxTotal, 10);
  EXPECT_EQ(limits.depth, 1);
  limits = ReadProfileTestLimits("0", "", 0);
  EXPECT_EQ(limits.maxPerFolder, 1);
  EXPECT_EQ(limits.maxTotal, 5000);
  EXPECT_EQ(limits.depth, 0);
  limits = ReadProfileTestLimits("999", "9999999", 2);
  EXPECT_EQ(limits.maxPerFolder, 50);
  EXPECT_EQ(limits.maxTotal, 50000);
  EXPECT_EQ(limits.depth, 2);
  EXPECT_EQ(ReadProfileTestLimits("12", "40", 3).depth, 1);
  EXPECT_EQ(ReadProfileTestLimits("12", "40", 3).maxPerFolder, 12);
  EXPECT_EQ(ReadProfileTestLimits("12", "40", 3).maxTotal, 40);
}

TEST(BenchWindowStartTest, DepthBoxIndexOfASession) {
  EXPECT_EQ(DepthBoxIndex(0), 0);
  EXPECT_EQ(DepthBoxIndex(2), 2);
  EXPECT_EQ(DepthBoxIndex(7), -1);
  EXPECT_EQ(DepthBoxIndex(-1), -1);
}

}  // namespace
