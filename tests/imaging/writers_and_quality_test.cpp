// The PPM intermediate file and the in-process JPEG encoder (exact PPM bytes,
// the quality mapping, the settings visible in the JPEG's markers, file-system
// failures reported as false), and the windowed quality analysis: window
// layout and order, the aggregation, the invalid report, and the window
// figures on inputs small enough to follow by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <string>
#include <vector>

#include "imaging/ppm.h"
#include "imaging/quality.h"
#include "imaging/wic_encoder.h"
#include "tests/imaging/fixtures.h"
#include "tests/support/fault_calls.h"
#include "tests/support/file_system.h"
#include "tests/support/scoped_temp.h"

namespace {

// The payloads of every segment with this marker code, in file order.
std::vector<std::string> Segments(const std::string& jpeg, std::uint8_t code) {
  std::vector<std::string> payloads;
  for (const JpegMarker& m : ListJpegMarkers(jpeg)) {
    const size_t length = (static_cast<std::uint8_t>(jpeg[m.offset + 2]) << 8) |
                          static_cast<std::uint8_t>(jpeg[m.offset + 3]);
    if (m.code == code) payloads.push_back(jpeg.substr(m.offset + 4, length - 2));
  }
  return payloads;
}

const double kBelowOne = std::nextafter(1.0, 0.0);

double GreyLuma(double v) { return (0.0722 * v + 0.7152 * v) + 0.2126 * v; }

}  // namespace

TEST(Ppm, RowsTopToBottomAsRgbWithoutAlpha) {
  ScopedTempFolder folder;
  ASSERT_TRUE(WritePpm(MakeSolidImage(1, 1, 10, 20, 30), folder.Join("one.ppm")));
  EXPECT_EQ(ReadTextFile(folder.Join("one.ppm")), std::string("P6\n1 1\n255\n\x1E\x14\x0A", 14));
  const PixelImage image = MakeNoiseImage(640, 480, 11);
  PixelImage translucent = image;
  for (size_t i = 3; i < translucent.pixels.size(); i += 4) translucent.pixels[i] = static_cast<std::uint8_t>(i);
  ASSERT_TRUE(WritePpm(image, folder.Join("a.ppm")));
  ASSERT_TRUE(WritePpm(translucent, folder.Join("b.ppm")));
  const std::string written = ReadTextFile(folder.Join("a.ppm"));
  ASSERT_EQ(written.size(), 15u + 921600u);
  EXPECT_EQ(written.substr(0, 15), "P6\n640 480\n255\n");
  EXPECT_EQ(ReadTextFile(folder.Join("b.ppm")), written);
  const size_t last = 479 * 640 + 639;
  EXPECT_EQ(static_cast<std::uint8_t>(written[15 + last * 3]), image.pixels[last * 4 + 2]);
  EXPECT_EQ(static_cast<std::uint8_t>(written[15 + last * 3 + 2]), image.pixels[last * 4]);
}

TEST(Writers, FailuresReportFalseAndEmptyImagesCreateNoFile) {
  ScopedTempFolder folder;
  const PixelImage noBuffer{4, 4, {}};
  const PixelImage black = MakeSolidImage(8, 8, 0, 0, 0);
  EXPECT_FALSE(WritePpm(PixelImage{}, folder.Join("empty.ppm")));
  EXPECT_FALSE(WritePpm(noBuffer, folder.Join("nobuffer.ppm")));
  EXPECT_FALSE(WritePpm(black, folder.Join("no/such/folder.ppm")));
  EXPECT_FALSE(EncodeJpegWic(PixelImage{}, folder.Join("empty.jpg"), 0.8f));
  EXPECT_FALSE(EncodeJpegWic(black, folder.Join("no/such/x.jpg"), 0.8f));
  EXPECT_TRUE(FolderEntries(folder.path).empty());
  ScopedFaults full(FaultPlan{.pathPart = folder.path, .writeErrno = ENOSPC});
  EXPECT_FALSE(WritePpm(black, folder.Join("full.ppm")));
  EXPECT_FALSE(EncodeJpegWic(black, folder.Join("full.jpg"), 0.8f));
}

TEST(WicEncoder, QualityFactorIsClampedAndRounded) {
  const std::pair<float, int> cases[] = {{0.0f, 1},   {-3.0f, 1},  {0.004f, 1},  {1.5f, 100},
                                         {0.85f, 85}, {0.29f, 29}, {0.845f, 85}, {std::nanf(""), 1}};
  for (const auto& [factor, quality] : cases) EXPECT_EQ(WicQualityFromFactor(factor), quality) << factor;
  ScopedTempFolder folder;
  const PixelImage image = MakeGradientImage(32, 32);
  ASSERT_TRUE(EncodeJpegWic(image, folder.Join("q0.jpg"), 0.0f));
  ASSERT_TRUE(EncodeJpegWic(image, folder.Join("q1.jpg"), 0.01f));
  EXPECT_EQ(ReadTextFile(folder.Join("q0.jpg")), ReadTextFile(folder.Join("q1.jpg")));
  ASSERT_TRUE(EncodeJpegWic(image, folder.Join("q150.jpg"), 1.5f));
  EXPECT_EQ(Segments(ReadTextFile(folder.Join("q150.jpg")), 0xDB)[0][1], 1);
}

TEST(WicEncoder, ProgressiveFourTwoZeroStandardQuantisationNoMetadata) {
  ScopedTempFolder folder;
  const PixelImage image = MakeGradientImage(64, 48);
  ASSERT_TRUE(EncodeJpegWic(image, folder.Join("wic.jpg"), 0.85f));
  const std::string jpeg = ReadTextFile(folder.Join("wic.jpg"));
  ASSERT_GT(jpeg.size(), 4u);
  EXPECT_EQ(jpeg.substr(0, 2) + jpeg.substr(jpeg.size() - 2), "\xFF\xD8\xFF\xD9");
  const std::vector<std::string> frames = Segments(jpeg, 0xC2);  // SOF2: progressive
  ASSERT_EQ(frames.size(), 1u);
  ASSERT_EQ(frames[0].size(), 15u);
  EXPECT_EQ(frames[0][5], 3);
  // Luma 2 x 2, chroma 1 x 1: 4:2:0.
  EXPECT_EQ(std::tuple(frames[0][7], frames[0][10], frames[0][13]), std::tuple('\x22', '\x11', '\x11'));
  EXPECT_EQ(Segments(jpeg, 0xDA).size(), 10u);  // libjpeg's standard script for YCbCr
  // The quantisation is exactly that of a plain baseline encode.
  EXPECT_EQ(Segments(jpeg, 0xDB), Segments(EncodeJpegOf(image, JpegRecipe{JpegLayout::Rgb, 85}), 0xDB));
  EXPECT_EQ(Segments(jpeg, 0xDB)[0][1], 5);  // quality 85 scales the luma DC step 16 to 5
  // Only the JFIF header: no Exif, no ICC profile, no comment, no baseline frame.
  EXPECT_EQ(Segments(jpeg, 0xE0).size(), 1u);
  for (std::uint8_t code : {0xC0, 0xE1, 0xE2, 0xFE}) EXPECT_TRUE(Segments(jpeg, code).empty()) << +code;
}

TEST(WindowOrigins, ReachTheFarEdge) {
  using Origins = std::vector<std::uint32_t>;
  EXPECT_EQ(WindowOrigins(127, 127), Origins({0}));
  EXPECT_EQ(WindowOrigins(50, 50), Origins({0}));
  EXPECT_EQ(WindowOrigins(128, 127), Origins({0, 1}));
  EXPECT_EQ(WindowOrigins(188, 127), Origins({0, 61}));
  EXPECT_EQ(WindowOrigins(189, 127), Origins({0, 61, 62}));
  EXPECT_EQ(WindowOrigins(300, 127), Origins({0, 61, 122, 173}));
  EXPECT_EQ(WindowOrigins(440, 127), Origins({0, 61, 122, 183, 244, 305, 313}));
}

TEST(QualityAnalysis, IdenticalImagesScoreJustBelowOne) {
  const PixelImage image = MakeNoiseImage(300, 128, 21);
  const QualityReport report = AnalyzeQuality(image, image);
  EXPECT_EQ(report.windowScores, std::vector<double>(8, kBelowOne));
  EXPECT_EQ(report.color + report.edge + report.ringing + report.banding, 4.0);
  EXPECT_EQ(std::pair(report.worst, report.worst5), std::pair(kBelowOne, kBelowOne));
}

TEST(QualityAnalysis, WindowsAreVisitedRowByRow) {
  // 300 x 128: four windows across ([0, 61, 122, 173]) in two rows ([0, 1]).
  // Pixel (293, 0) is a sample of the window at (173, 0) only: the windows of
  // the second row start at row 1.
  const PixelImage reference = MakeSolidImage(300, 128, 90, 90, 90);
  PixelImage test = reference;
  SetPixel(test, 293, 0, 250, 250, 250);
  std::vector<double> scores = AnalyzeQuality(reference, test).windowScores;
  ASSERT_EQ(scores.size(), 8u);
  EXPECT_LT(scores[3], 0.999);
  scores[3] = kBelowOne;
  EXPECT_EQ(scores, std::vector<double>(8, kBelowOne));
}

TEST(QualityAnalysis, AggregatesOverTheWindows) {
  // 440 x 200: seven windows across, three down, 21 in all, so the weakest
  // five per cent are the two lowest scores.
  const PixelImage reference = MakeGradientImage(440, 200);
  PixelImage test = reference;
  for (std::uint32_t i = 0; i < 3600; ++i) SetPixel(test, i % 60, i / 60, 0, 255, 0);
  for (std::uint32_t y = 140; y < 200; y += 5) SetPixel(test, 435, y, 255, 0, 255);
  const QualityReport report = AnalyzeQuality(reference, test);
  ASSERT_EQ(report.windowScores.size(), 21u);
  std::vector<double> sorted = report.windowScores;
  std::sort(sorted.begin(), sorted.end());
  ASSERT_LT(sorted[0], sorted[1]);
  EXPECT_EQ(report.worst, sorted[0]);
  EXPECT_EQ(report.worst5, (sorted[0] + sorted[1]) / 2.0);
  double sum = 0;
  for (double score : report.windowScores) sum += score;
  EXPECT_EQ(report.global, sum / 21.0);
  EXPECT_EQ(report.composite, report.worst5 * 0.3 + report.global * 0.55 + report.worst * 0.15);
  EXPECT_LT(report.color, 1.0);
}

TEST(QualityAnalysis, SmallImageIsOneWindow) {
  const PixelImage reference = MakeGradientImage(127, 90);
  const PixelImage test = MakeNoiseImage(127, 90, 3);
  const QualityReport report = AnalyzeQuality(reference, test);
  ASSERT_EQ(report.windowScores.size(), 1u);
  EXPECT_EQ(std::pair(report.worst, report.worst5), std::pair(report.global, report.global));
  EXPECT_NEAR(report.composite, report.global, 1e-15);
  const WindowScore window = ScoreWindow(reference, test, 0, 0, 127, 90);
  EXPECT_EQ(std::pair(window.score, window.edge), std::pair(report.global, report.edge));
}

TEST(QualityAnalysis, UnusableOrMismatchedImagesGiveTheInvalidReport) {
  const PixelImage image = MakeGradientImage(20, 10);
  const PixelImage noBuffer{20, 10, {}};
  for (const QualityReport& report :
       {AnalyzeQuality(image, MakeGradientImage(10, 20)), AnalyzeQuality(image, PixelImage{}),
        AnalyzeQuality(PixelImage{}, image), AnalyzeQuality(image, noBuffer)}) {
    EXPECT_TRUE(report.windowScores.empty());
    EXPECT_EQ(report.global + report.worst5 + report.worst + report.color + report.banding +
                  report.composite, 0.0);
  }
}

// Single pixel, uniform grey and a window too narrow for gradient samples.
TEST(ScoreWindow, FlatWindowsCombineColourAndStructure) {
  const double red30 = GreyLuma(0) + 0.2126 * 30.0 - 0.0;
  const double onePixelStructure = (6.5025 * 58.5225) / ((red30 * red30 + 6.5025) * 58.5225);
  const double r = GreyLuma(100), t = GreyLuma(110);
  const double greyStructure = (2.0 * r * t + 6.5025) * 58.5225 / ((r * r + t * t + 6.5025) * 58.5225);
  const double color = 1.0 - 2.2 * (30.0 / 765.0);
  const WindowScore pixel =
      ScoreWindow(MakeSolidImage(1, 1, 0, 0, 0), MakeSolidImage(1, 1, 0, 0, 30), 0, 0, 1, 1);
  const WindowScore grey =
      ScoreWindow(MakeSolidImage(20, 20, 100, 100, 100), MakeSolidImage(20, 20, 110, 110, 110), 0, 0, 20, 20);
  const WindowScore narrow = ScoreWindow(MakeNoiseImage(2, 9, 4), MakeNoiseImage(2, 9, 5), 0, 0, 2, 9);
  EXPECT_EQ(pixel.color, color);
  EXPECT_EQ(pixel.score, 0.18 * color + 0.5 * onePixelStructure + 0.14 + 0.09 + 0.09);
  EXPECT_EQ(grey.score, 0.18 * color + 0.5 * greyStructure + 0.14 + 0.09 + 0.09);
  for (const WindowScore& w : {pixel, grey, narrow}) {
    EXPECT_EQ(std::tuple(w.edge, w.ringing, w.banding), std::tuple(1.0, 1.0, 1.0));
  }
  EXPECT_LT(narrow.color, 1.0);
}

TEST(ScoreWindow, RingingCountsOnlyAGainAtStrongEdges) {
  // Samples at (0,0), (5,0), (0,5), (5,5); only (0,0) sees a reference edge:
  // its right neighbour (2,0) is grey 100, so the reference gradient is 100.
  PixelImage reference = MakeSolidImage(10, 10, 0, 0, 0);
  SetPixel(reference, 2, 0, 100, 100, 100);
  PixelImage sharper = reference, softer = reference;
  SetPixel(sharper, 2, 0, 200, 200, 200);
  SetPixel(softer, 2, 0, 0, 0, 0);
  const WindowScore loss = ScoreWindow(reference, softer, 0, 0, 10, 10);
  EXPECT_EQ(ScoreWindow(reference, sharper, 0, 0, 10, 10).ringing, 0.0);  // (100 - 8) / 64 clamps to a full penalty
  EXPECT_EQ(loss.ringing, 1.0);
  const double g = GreyLuma(100);
  EXPECT_NEAR(loss.edge, 1.0 - g / ((g + 18.0) + 18.0 * 3), 1e-12);
  EXPECT_EQ(loss.banding, 1.0);  // the three flat samples are unchanged
}

TEST(ScoreWindow, BandingPenalisesStepsInFlatAreasAndBoundsOutsideScoreZero) {
  const PixelImage reference = MakeSolidImage(10, 10, 50, 50, 50);
  PixelImage test = reference;
  SetPixel(test, 0, 2, 60, 60, 60);  // lower neighbour of sample (0, 0)
  const WindowScore w = ScoreWindow(reference, test, 0, 0, 10, 10);
  const double step = GreyLuma(60) - GreyLuma(50);
  EXPECT_NEAR(w.banding, 1.0 - ((step - 2.0) / 22.0) / 4.0, 1e-12);
  EXPECT_EQ(w.ringing, 1.0);
  const PixelImage image = MakeGradientImage(10, 10);
  const WindowScore outside = ScoreWindow(image, image, 0, 0, 11, 10);
  EXPECT_EQ(outside.score + outside.edge, 0.0);
  EXPECT_EQ(ScoreWindow(image, image, 5, 5, 5, 9).score, 0.0);
}
