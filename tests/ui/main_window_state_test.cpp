// The Qt-free rules of the main window: the image list (ordinal UTF-16
// sorting, de-duplication, output folder, lines), results and status texts,
// and the live-status text, its progress value, the run-time format, the
// refresh throttle and the CPU sampling.
#include "ui/main/main_window_state.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>

#include "core/display_text.h"
#include "core/parallel_batch.h"
#include "core/result_line.h"
#include "platform/clock.h"
#include "tests/support/scoped_temp.h"
#include "ui/main/live_status_text.h"
#include "ui/main/main_texts.h"
#include "ui/main/result_columns.h"

namespace {

using Paths = std::vector<std::string>;

TEST(ImageListTest, SortsByUtf16CodeUnitsAndDropsDuplicates) {
  Paths list;
  MergeImagePaths(list, {"/f/b.jpg"});
  MergeImagePaths(list, {"/f/a.jpg", "/f/b.jpg", "/f/a.jpg"});
  EXPECT_EQ(list, (Paths{"/f/a.jpg", "/f/b.jpg"}));
  MergeImagePaths(list, {"/f/Z.jpg", "/f/A.jpg"});
  // Ordinal and case-sensitive: capitals first, and A/a are two entries.
  EXPECT_EQ(list, (Paths{"/f/A.jpg", "/f/Z.jpg", "/f/a.jpg", "/f/b.jpg"}));
  // A prefix sorts first; U+1F600 (D83D DE00) before U+FF5E in UTF-16, though not in UTF-8.
  Paths other;
  MergeImagePaths(other, {"/f/a.jpg.jpg", "/f/a.jpg", "/f/\uFF5E.jpg", "/f/\U0001F600.jpg",
                          "/f/\u00e4.jpg"});
  EXPECT_EQ(other, (Paths{"/f/a.jpg", "/f/a.jpg.jpg", "/f/\u00e4.jpg", "/f/\U0001F600.jpg",
                          "/f/\uFF5E.jpg"}));
}

TEST(ImageListTest, OutputFolderComesFromTheFirstSortedEntryOnce) {
  MainWindowState state;
  EXPECT_TRUE(!AddImagePaths(state, {}) && state.outputFolder.empty());
  EXPECT_TRUE(AddImagePaths(state, {"/photos/2024/b.jpg", "/photos/2023/x.jpg"}));
  EXPECT_FALSE(AddImagePaths(state, {"/else/a.jpg"}));
  EXPECT_EQ((Paths{state.outputFolder, state.imageList.front()}), (Paths{"/photos/2023", "/else/a.jpg"}));
  // A folder chosen before the first addition stays.
  MainWindowState chosen{.outputFolder = "/out"};
  EXPECT_TRUE(!AddImagePaths(chosen, {"/photos/a.jpg"}) && chosen.outputFolder == "/out");
}

// A dropped or chosen folder that holds the output folder: its outputs stay out.
TEST(ImageListTest, AddedFolderNeverContributesTheOutputFolder) {
  ScopedTempFolder temp;
  ASSERT_TRUE(EnsureFolder(temp.Join("fotos/opt")));
  ASSERT_TRUE(WriteTextFile(temp.Join("fotos/a.jpg"), "a") && WriteTextFile(temp.Join("fotos/opt/a_hoch.jpg"), "b"));
  MainWindowState state{.outputFolder = temp.Join("fotos/opt")};
  AddImagePaths(state, {temp.Join("fotos")});
  EXPECT_EQ(state.imageList, Paths{temp.Join("fotos/a.jpg")});
}

TEST(ImageListTest, LineShowsNameAndCurrentSizeAndThePreviewFallsBack) {
  ScopedTempFolder temp;
  const std::string path = temp.Join("urlaub.jpg");
  ASSERT_TRUE(WriteTextFile(path, std::string(1536, 'x')));
  EXPECT_EQ((Paths{ImageListLine(path), ImageListLine(temp.Join("weg.jpg")), ImageListLine("ohne-ordner.jpg")}),
            (Paths{"urlaub.jpg   |   1.50 KB", "weg.jpg   |   0 B", "ohne-ordner.jpg   |   0 B"}));
  // The preview falls back to the first line.
  EXPECT_EQ((std::array{PreviewIndexFor(-1, 3), PreviewIndexFor(2, 3), PreviewIndexFor(3, 3)}),
            (std::array<std::size_t, 3>{0, 2, 0}));
}

// The columns are the line cut at its separators, for every kind of verdict.
TEST(ResultListTest, RowsAreTheLineCutAtItsSeparators) {
  const ImageResult written{.sourcePath = "/p/a.jpg", .profileLabel = "Hohe Qualit\u00e4t (empfohlen)",
                            .winnerLabel = "Jpegli Q88 420 Progressive", .score = 0.973, .worst5 = 0.941,
                            .candidatesPlanned = 2, .candidatesEncoded = 2, .originalBytes = 4194304,
                            .resultBytes = 1572864, .optimized = true};
  const ImageResult kept{.sourcePath = "/p/b.jpg", .profileLabel = "Ausgewogen", .candidatesPlanned = 1,
                         .candidatesEncoded = 1, .message = kVerdictNoSmallerCandidate};
  ScopedTempFolder temp;
  const std::string broken = temp.Join("kaputt.jpg");
  ASSERT_TRUE(WriteTextFile(broken, std::string(300, 'x')));
  const ImageResult failed =
      ProcessingErrorResult({.candidatesPlanned = 2, .message = "anything"}, broken, "Ausgewogen");
  ImageResult cancelled = failed;
  cancelled.failureReason = kFailureCancelled;
  // A name holding the separator itself stays whole.
  ImageResult oddName = kept;
  oddName.sourcePath = "/p/x   |   y.jpg";
  ImageResult forged = kept;  // a name that would start a line of its own
  forged.sourcePath = "/p/a\nb.jpg   |   Zusammenfassung: 9 Bilder\x1b[2J.jpg";
  using Cells = std::array<std::string, kResultColumnCount>;
  const struct {
    ImageResult result;
    ResultMark mark;
    bool spans;
    Cells cells;
  } cases[] = {
      {written, ResultMark::Written, false,
       {"a.jpg", "Hohe Qualit\u00e4t (empfohlen)", "Jpegli Q88 420 Progressive", "4.00 MB \u2192 1.50 MB",
        "62.5 % kleiner", "Robust 97.3   |   Worst-5% 94.1", "Kandidaten 2/2"}},
      {kept, ResultMark::Kept, true,
       {"b.jpg", "Ausgewogen", "Original behalten", kVerdictNoSmallerCandidate, "", "", "Kandidaten 1/1"}},
      {failed, ResultMark::Failed, true,
       {"kaputt.jpg", "Ausgewogen", "Original behalten", "Fehler beim Verarbeiten", "", "", "Kandidaten 0/2"}},
      {cancelled, ResultMark::NotDone, true,
       {"kaputt.jpg", "Ausgewogen", "Original behalten", "Fehler beim Verarbeiten", "", "", "Kandidaten 0/2"}},
      {NotStartedResult(broken, "Ausgewogen"), ResultMark::NotDone, true,
       {"kaputt.jpg", "Ausgewogen", "Original behalten", kVerdictNotStarted, "", "", "Kandidaten 0/0"}},
      {oddName, ResultMark::Kept, true,
       {"x   |   y.jpg", "Ausgewogen", "Original behalten", kVerdictNoSmallerCandidate, "", "", "Kandidaten 1/1"}},
      {forged, ResultMark::Kept, true,
       {"a\\nb.jpg   |   Zusammenfassung: 9 Bilder\\x1b[2J.jpg", "Ausgewogen", "Original behalten",
        kVerdictNoSmallerCandidate, "", "", "Kandidaten 1/1"}},
  };
  for (const auto& c : cases) {
    const ResultRow row = BuildResultRow(c.result);
    EXPECT_EQ(std::tuple(row.mark, row.verdictSpans, row.cells, row.line, row.path),
              std::tuple(c.mark, c.spans, c.cells, FormatResultLine(c.result), EscapeForDisplay(c.result.sourcePath)))
        << row.line;
  }
  EXPECT_EQ(std::tuple(failed.originalBytes, failed.resultBytes, failed.optimized),
            std::tuple(300ul, 300ul, false));
}

TEST(ResultListTest, WidthsFollowTheContentAndTheNameIsLimited) {
  const TextWidth tenPerChar = [](const std::string& text) { return 10 * static_cast<int>(text.size()); };
  ResultRow longName;
  longName.cells = {std::string(60, 'n'), "Profil", "E", "1 B \u2192 1 B", "1 %", "Robust 1", "K 1/1"};
  ResultRow spanning;
  spanning.verdictSpans = true;
  spanning.cells = {"a.jpg", "P", "Original behalten", std::string(80, 'v'), "", "", "K 0/0"};
  ResultRow shortVerdict = spanning;
  shortVerdict.cells[kResultColumnSizes] = "kurz";
  using Widths = std::array<int, kResultColumnCount>;
  const struct {
    std::vector<ResultRow> rows;
    int listWidth;
    Widths widths;
  } cases[] = {
      // Headers alone: "Datei", "Profil", "Encoder", "Größe" (7 bytes), ...
      {{}, 900, {52, 62, 72, 72, 92, 102, 102}},
      // The name is cut to half of the list, the others fit their cells.
      {{longName}, 900, {450, 62, 72, 112, 92, 102, 102}},
      // ... but never below 160 pixels.
      {{longName}, 300, {160, 62, 72, 112, 92, 102, 102}},
      // A verdict wider than the three columns it spans widens the last of them.
      {{longName, spanning}, 900, {450, 62, 172, 112, 92, 598, 102}},
      {{shortVerdict}, 900, {52, 62, 172, 72, 92, 102, 102}},
  };
  for (const auto& c : cases) EXPECT_EQ(ResultColumnWidths(c.rows, tenPerChar, 2, c.listWidth), c.widths);
}

TEST(ResultListTest, CopyTakesTheSelectedLinesInListOrder) {
  std::vector<ResultRow> rows(3);
  rows[0].line = "erste";
  rows[1].line = "zweite";
  rows[2].line = "dritte";
  const struct {
    std::vector<int> selected;
    std::string copied;
  } cases[] = {{{}, ""}, {{1}, "zweite\n"}, {{2, 0, 2}, "erste\ndritte\n"}, {{-1, 3, 1}, "zweite\n"}};
  for (const auto& c : cases) EXPECT_EQ(CopiedResultLines(rows, c.selected), c.copied);
}

TEST(MainTextsTest, StatusAndMessageTexts) {
  EXPECT_EQ(ImagesSelectedStatus(3), "3 Bild(er) ausgew\u00e4hlt");
  EXPECT_EQ((Paths{EngineSummaryText(true, true, true), EngineSummaryText(false, false, false),
                   EngineSummaryText(false, false, true)}),
            (Paths{"WIC + Jpegli + MozJPEG + jpegtran", "WIC", "WIC + jpegtran"}));
  EXPECT_EQ(AboutText(), "Orvel JPEG Optimizer\nVersion 1.3.3\nProfilkalibrierung: 5k-2026-08");
  EXPECT_EQ(ToDisplayLineEnds("a\r\n\r\nb\rc\n"), "a\n\nb\rc\n");
}

TEST(MainTextsTest, BatchTotalsCountKeptAndFailedImagesWithTheirOwnSize) {
  const std::vector<ImageResult> results = {
      {.originalBytes = 4 * 1048576, .resultBytes = 1048576, .optimized = true},
      {.originalBytes = 1048576, .resultBytes = 1048576},  // kept: resultBytes equal
      {.failed = true},                                    // failed before its size was known
      {.originalBytes = 1048576, .resultBytes = 1048576, .failed = true}};
  EXPECT_EQ(BatchSummaryStatus(results),
            "Stapelbearbeitung abgeschlossen   |   1 von 4 Bildern optimiert   |   "
            "6.00 MB \u2192 3.00 MB   |   50.0 % kleiner   |   2 Fehler");
  EXPECT_EQ(BatchFinishedStatus(0, 1, 0, 0),
            "Stapelbearbeitung abgeschlossen   |   0 von 1 Bild optimiert   |   0 B \u2192 0 B   |   "
            "0.0 % kleiner");
}

TEST(LiveStatusTextTest, ExampleTextLineByLine) {
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
