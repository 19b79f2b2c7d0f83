// The PPM intermediate file and the in-process JPEG encoder: exact PPM bytes,
// the quality mapping, the encoder settings visible in the JPEG's markers, the
// encoder's pixels against a baseline encode of the test photos, and failures
// of the file system reported as false.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <string>
#include <vector>

#include "imaging/decode.h"
#include "imaging/ppm.h"
#include "imaging/quality.h"
#include "imaging/wic_encoder.h"
#include "tests/imaging/fixtures.h"
#include "tests/support/file_system.h"
#include "tests/support/scoped_temp.h"

namespace {

ssize_t FailWrite(int, const void*, size_t) {
  errno = ENOSPC;
  return -1;
}

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
  PixelImage noBuffer;
  noBuffer.width = noBuffer.height = 4;
  const PixelImage black = MakeSolidImage(8, 8, 0, 0, 0);
  EXPECT_FALSE(WritePpm(PixelImage{}, folder.Join("empty.ppm")));
  EXPECT_FALSE(WritePpm(noBuffer, folder.Join("nobuffer.ppm")));
  EXPECT_FALSE(WritePpm(black, folder.Join("no/such/folder.ppm")));
  EXPECT_FALSE(EncodeJpegWic(PixelImage{}, folder.Join("empty.jpg"), 0.8f));
  EXPECT_FALSE(EncodeJpegWic(black, folder.Join("no/such/x.jpg"), 0.8f));
  EXPECT_TRUE(FolderEntries(folder.path).empty());
  ScopedFileSystemCalls full;
  full.calls.write = FailWrite;
  full.Install();
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
  EXPECT_EQ(frames[0][7], 0x22);  // luma 2 x 2, chroma 1 x 1: 4:2:0
  EXPECT_EQ(frames[0][10], 0x11);
  EXPECT_EQ(frames[0][13], 0x11);
  EXPECT_EQ(Segments(jpeg, 0xDA).size(), 10u);  // libjpeg's standard script for YCbCr
  // The quantisation is exactly that of a plain baseline encode.
  EXPECT_EQ(Segments(jpeg, 0xDB), Segments(EncodeJpegOf(image, JpegRecipe{JpegLayout::Rgb, 85}), 0xDB));
  EXPECT_EQ(Segments(jpeg, 0xDB)[0][1], 5);  // quality 85 scales the luma DC step 16 to 5
  // Only the JFIF header: no Exif, no ICC profile, no comment, no baseline frame.
  EXPECT_EQ(Segments(jpeg, 0xE0).size(), 1u);
  for (std::uint8_t code : {0xC0, 0xE1, 0xE2, 0xFE}) EXPECT_TRUE(Segments(jpeg, code).empty()) << +code;
}

// Progression and optimised Huffman tables change only the entropy coding: on
// real photographs the pixels decode exactly as from a baseline file with the
// standard tables at the same quality, and the file is smaller. The round trip
// also passes the quality analysis.
TEST(WicEncoder, PhotosDecodeLikeBaselineAndShrink) {
  ScopedTempFolder folder;
  for (const char* name : {"skimage_chelsea_q95.jpg", "mate_FreshFlower.jpg", "mate_GreenMeadow.jpg"}) {
    PixelImage photo;
    ASSERT_TRUE(DecodeImageFile(std::string(ORVEL_TEST_IMAGES) + "/" + name, photo)) << name;
    for (const int quality : {56, 84, 92}) {
      SCOPED_TRACE(std::string(name) + " at " + std::to_string(quality));
      ASSERT_TRUE(EncodeJpegWic(photo, folder.Join("wic.jpg"), static_cast<float>(quality) / 100.0f));
      const std::string wic = ReadTextFile(folder.Join("wic.jpg"));
      const std::string baseline = EncodeJpegOf(photo, JpegRecipe{JpegLayout::Rgb, quality});
      ASSERT_EQ(Segments(wic, 0xC2).size() + Segments(baseline, 0xC0).size(), 2u);
      EXPECT_LT(wic.size(), baseline.size());
      PixelImage fromWic, fromBaseline;
      ASSERT_TRUE(DecodeBytes(wic, fromWic));
      ASSERT_TRUE(DecodeBytes(baseline, fromBaseline));
      EXPECT_TRUE(fromWic.pixels == fromBaseline.pixels);
      if (quality != 84) continue;
      const QualityReport report = AnalyzeQuality(photo, fromWic);
      ASSERT_FALSE(report.windowScores.empty());
      EXPECT_GT(report.global, 0.9);
      EXPECT_LT(report.global, 1.0);
      EXPECT_LE(report.worst, report.worst5);
      EXPECT_LE(report.worst5, report.global);
      EXPECT_GT(report.composite, 0.85);
    }
  }
}
