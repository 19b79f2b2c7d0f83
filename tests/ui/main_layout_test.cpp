// The main window's geometry (control layout, decoration, preview placement)
// against the figures the window is drawn from, and the profile-development
// window's rules without a display: layout, what a refresh shows in every
// state of a run, the limits a start reads from the fields, the final message.
#include "ui/bench/bench_window_logic.h"
#include "ui/main/main_layout.h"

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

TEST(MainLayoutTest, ClientAreaOf1364By741) {
  const MainWindowLayout l = LayoutMainWindow(1364, 741);
  EXPECT_EQ((std::array{l.columns.left, l.columns.middle, l.columns.right, l.columns.height, l.columns.rightX}),
            (std::array{374, 465, 453, 585, 907}));
  EXPECT_EQ(Rects({l.startButton, l.imageList, l.previewPane, l.outputFolderEdit, l.chooseButton,
                   l.liveStatusText, l.progressBar, l.resultsList, l.statusBar}),
            (Quads{{907, 248, 421, 54}, {34, 170, 346, 465}, {424, 170, 437, 425}, {907, 198, 303, 32},
                   {1220, 198, 108, 32}, {907, 336, 421, 132}, {907, 476, 421, 18}, {907, 526, 421, 153},
                   {0, 715, 1364, 26}}));
  // A taller live-status box takes from the results list, which keeps 100.
  EXPECT_EQ((std::array{LiveStatusGrowth(741, 100), LiveStatusGrowth(741, 150), LiveStatusGrowth(741, 400),
                        LiveStatusGrowth(300, 400)}),
            (std::array{0, 18, 53, 0}));
  const MainWindowLayout grown = LayoutMainWindow(1364, 741, 53);
  EXPECT_EQ(Rects({grown.liveStatusText, grown.progressBar, grown.resultsList}),
            (Quads{{907, 336, 421, 185}, {907, 529, 421, 18}, {907, 579, 421, 100}}));
  EXPECT_EQ(ComputeMainWindowDecoration(1364, 741, 53).resultsCaption.y, 555);
}

TEST(MainLayoutTest, WindowsOpenAtTheirDesignedSizeOrTheLargestThatFits) {
  const PixelSize frame{8, 38};
  const struct { PixelSize designed, available; int width, height; } cases[] = {
      {{1380, 820}, {1920, 1050}, 1380, 820},  // the main window on a large screen
      {{1380, 820}, {1366, 740}, 1358, 702},   // 1366 x 768 less a panel
      {{1380, 820}, {1280, 720}, 1272, 682},
      {{1320, 840}, {1366, 740}, 1320, 702},   // the compare window keeps its width
      {{1060, 800}, {1280, 720}, 1060, 682},   // the guide window keeps its width
      {{1080, 520}, {1280, 720}, 1080, 520},   // the profile-development window fits whole
      {{1380, 820}, {0, 0}, 1, 1}};
  for (const auto& c : cases) {
    const PixelSize fitted = FitWindowSize(c.designed, c.available, frame);
    EXPECT_EQ((std::array{fitted.width, fitted.height}), (std::array{c.width, c.height}))
        << c.available.width << " x " << c.available.height;
  }
}

// Nothing overlaps at the content's minimum, and one pixel less would: the
// right card leaves its margin, the results list its card.
TEST(MainLayoutTest, TheContentMinimumIsWhereThePlacesStopOverlapping) {
  const auto overlaps = [](int width, int height) {
    const MainWindowLayout l = LayoutMainWindow(width, height);
    const MainWindowDecoration d = ComputeMainWindowDecoration(width, height);
    return std::array{d.cards[2].x + d.cards[2].width > width - 20,
                      l.resultsList.y + l.resultsList.height + 16 > d.cardBottom};
  };
  const PixelSize m = kMainContentMinimum;
  EXPECT_EQ(overlaps(m.width, m.height), (std::array{false, false}));
  EXPECT_EQ(overlaps(m.width - 1, m.height - 1), (std::array{true, true}));
}

// Client areas of the main window as it opens on small screens (the menu bar
// takes about 30 pixels): the content fills what holds it, and otherwise
// scrolls above a status bar that stays at the foot.
TEST(MainLayoutTest, ContentScrollsWhereTheClientAreaCannotHoldIt) {
  const struct { PixelSize client; bool scrolls; std::array<int, 2> view, content; } cases[] = {
      {{1380, 790}, false, {1380, 790}, {1380, 790}},  // designed size
      {{1358, 700}, false, {1358, 700}, {1358, 700}},  // 1366 x 768 less a panel
      {{1272, 652}, true, {1272, 626}, {1257, 686}},   // 1280 x 720: vertical bar only
      {{1100, 686}, false, {1100, 686}, {1100, 686}},  // the minimum itself
      {{1100, 685}, true, {1100, 659}, {1085, 686}},
      {{1016, 600}, true, {1016, 574}, {1008, 686}},   // the vertical bar calls for the other
      {{800, 720}, true, {800, 694}, {1008, 686}},     // the horizontal bar calls for the other
      {{0, 0}, true, {0, 0}, {1008, 686}}};
  for (const auto& c : cases) {
    const MainContentPlacement p = PlaceMainContent(c.client, 15);
    EXPECT_EQ(p.scrolls, c.scrolls) << c.client.width << " x " << c.client.height;
    EXPECT_EQ((std::array{p.scrollArea.width, p.scrollArea.height}), c.view) << c.client.width;
    EXPECT_EQ((std::array{p.content.width, p.content.height}), c.content) << c.client.width;
    EXPECT_EQ((std::array{p.statusBar.y, p.statusBar.height}), (std::array{c.client.height - 26, 26}));
  }
}

TEST(MainLayoutTest, SmallClientAreasKeepTheColumnMinimums) {
  for (const int width : {600, 71, 0}) {
    const MainWindowLayout l = LayoutMainWindow(width, 300);
    EXPECT_EQ((std::array{l.columns.left, l.columns.middle, l.columns.right, l.columns.height,
                          l.resultsList.height}),
              (std::array{300, 330, 300, 450, 100})) << width;
  }
  // The status bar follows the real client area even when the columns do not.
  EXPECT_EQ(Rects({LayoutMainWindow(600, 300).statusBar}), (Quads{{0, 274, 600, 26}}));
}

TEST(MainLayoutTest, DecorationFollowsTheColumns) {
  const MainWindowDecoration d = ComputeMainWindowDecoration(1364, 741);
  EXPECT_EQ(Rects({d.headerBand, d.accentLine, d.cards[0], d.cards[1], d.cards[2], d.captionStrips[0],
                   d.captionStrips[1], d.captionStrips[2]}),
            (Quads{{0, 0, 1364, 88}, {0, 84, 1364, 4}, {20, 112, 374, 585}, {410, 112, 465, 585},
                   {891, 112, 453, 585}, {30, 122, 354, 38}, {420, 122, 445, 38}, {901, 122, 433, 38}}));
  EXPECT_EQ((std::array{d.cardBottom, d.cardCaptions[1].x, d.cardCaptions[2].x, d.cardCaptions[2].y,
                        d.stackHint.y, d.outputCaption.x, d.liveStatusCaption.y, d.resultsCaption.y}),
            (std::array{697, 430, 911, 131, 667, 907, 314, 502}));
  // Short windows keep the cards at least down to 562.
  EXPECT_EQ(ComputeMainWindowDecoration(1364, 500).cardBottom, 562);
}

TEST(PreviewPlacementTest, SmallImagesAreEnlargedLargeOnesReducedToTheLimitingSide) {
  const PreviewPlacement small = PlacePreviewImage(420, 360, 100, 50);
  EXPECT_EQ(Rects({small.image, small.imageArea, small.caption, PlacePreviewImage(420, 360, 4000, 1000).image,
                   PlacePreviewImage(420, 360, 1000, 3080).image, PreviewHintRect(420, 360)}),
            (Quads{{10, 64, 400, 200}, {10, 10, 400, 308}, {12, 326, 396, 26}, {10, 114, 400, 100},
                   {160, 10, 100, 308}, {14, 22, 392, 100}}));
  // A sliver never vanishes.
  const PreviewPlacement sliver = PlacePreviewImage(420, 360, 1, 100000);
  EXPECT_EQ(sliver.image.width, 1);
  EXPECT_EQ(sliver.image.height, 308);
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
      // Without the session file there is nothing to continue.
      {Snapshot(false, false, 4, 10, false), kBenchStatusInterrupted, "0001", 10, 4},
      // The list was replaced by an empty sample after an interrupted run.
      {Snapshot(false, false, 3, 0, true), kBenchStatusInterrupted, "0001", 1, 1},
      {Snapshot(false, false, 10, 10, false), kBenchStatusFinished, "0001", 10, 10},
      {Snapshot(false, false, 12, 10, true), kBenchStatusFinished, "0001", 10, 10},
      {Snapshot(true, false, 4, 10, true), kBenchStatusRunning, "1010", 10, 4},
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
