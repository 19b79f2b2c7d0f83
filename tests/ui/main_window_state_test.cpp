// The Qt-free rules of the main window: the image list (ordinal UTF-16
// sorting, de-duplication, output folder, lines), results and status texts.
#include "ui/main/main_window_state.h"

#include <gtest/gtest.h>

#include <array>

#include "core/result_line.h"
#include "tests/support/scoped_temp.h"
#include "ui/main/main_texts.h"

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
  // A string sorts before a longer one that begins with it. U+1F600 is D83D
  // DE00 in UTF-16 and so comes before U+FF5E, although its UTF-8 bytes
  // (F0 ...) are larger than those of U+FF5E (EF ...).
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

TEST(ResultListTest, OptimisedKeptAndFailedLines) {
  ImageResult accepted{.sourcePath = "/p/a.jpg", .profileLabel = "Hohe Qualit\u00e4t (empfohlen)",
                       .winnerLabel = "Jpegli Q88 420 Progressive", .score = 0.973, .worst5 = 0.941,
                       .candidatesPlanned = 2, .candidatesEncoded = 2, .originalBytes = 4194304,
                       .resultBytes = 1572864, .optimized = true};
  const ImageResult kept{.sourcePath = "/p/b.jpg", .profileLabel = "Ausgewogen", .candidatesPlanned = 1,
                         .candidatesEncoded = 1, .message = kVerdictNoSmallerCandidate};
  EXPECT_EQ(ResultListLines({accepted, kept}),
            (Paths{"a.jpg   |   Hohe Qualit\u00e4t (empfohlen)   |   Jpegli Q88 420 Progressive   |   "
                   "4.00 MB \u2192 1.50 MB   |   62.5 % kleiner   |   Robust 97.3   |   Worst-5% 94.1   |   "
                   "Kandidaten 2/2",
                   "b.jpg   |   Ausgewogen   |   Original behalten   |   " +
                       std::string(kVerdictNoSmallerCandidate) + "   |   Kandidaten 1/1"}));

  accepted.originalBytes = 0;
  EXPECT_NE(ResultListLines({accepted})[0].find("   |   0.0 % kleiner   |   "), std::string::npos);
}

TEST(ResultListTest, ProcessingErrorKeepsWhatThePipelineLeft) {
  ScopedTempFolder temp;
  const std::string path = temp.Join("kaputt.jpg");
  ASSERT_TRUE(WriteTextFile(path, std::string(300, 'x')));
  const ImageResult failed =
      ProcessingErrorResult({.candidatesPlanned = 2, .message = "anything"}, path, "Ausgewogen");
  EXPECT_EQ(std::tuple(failed.sourcePath, failed.originalBytes, failed.resultBytes, failed.optimized),
            std::tuple(path, 300ul, 300ul, false));
  EXPECT_EQ(ResultListLines({failed})[0],
            "kaputt.jpg   |   Ausgewogen   |   Original behalten   |   Fehler beim Verarbeiten   |   "
            "Kandidaten 0/2");
}

TEST(ResultListTest, ExtentCountsUtf16UnitsAndNeverDropsBelow800) {
  EXPECT_EQ((std::array{ResultListExtent({}), ResultListExtent({std::string(100, 'a')}),
                        ResultListExtent({std::string(101, 'a'), "b"})}),
            (std::array{800, 800, 808}));
  // "\u2192" is three bytes but one UTF-16 unit; the emoji is two units.
  std::string line(120, 'a');
  line += "\u2192\U0001F600";
  EXPECT_EQ(ResultListExtent({line}), 8 * 123);
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
      {.failed = true}};                                   // failed before its size was known
  EXPECT_EQ(BatchSummaryStatus(results),
            "Stapelbearbeitung abgeschlossen   |   1 von 3 Bildern optimiert   |   "
            "5.00 MB \u2192 2.00 MB   |   60.0 % kleiner");
  EXPECT_EQ(BatchFinishedStatus(0, 1, 0, 0),
            "Stapelbearbeitung abgeschlossen   |   0 von 1 Bild optimiert   |   0 B \u2192 0 B   |   "
            "0.0 % kleiner");
}

}  // namespace
