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
#include "tests/support/scoped_temp.h"

namespace {

ssize_t FailWrite(int, const void*, size_t) {
  errno = ENOSPC;
  return -1;
}

// Installs a file-system table whose writes fail with ENOSPC.
struct FailingWrites {
  FileSystemCalls calls = ActiveFileSystemCalls();
  FailingWrites() {
    calls.write = FailWrite;
    SetFileSystemCalls(&calls);
  }
  ~FailingWrites() { SetFileSystemCalls(nullptr); }
};

// The payloads of every segment with this marker code, in file order.
std::vector<std::string> Segments(const std::string& jpeg, std::uint8_t code) {
  std::vector<std::string> payloads;
  for (const JpegMarker& m : ListJpegMarkers(jpeg)) {
    if (m.code != code) continue;
    const size_t length = (static_cast<std::uint8_t>(jpeg[m.offset + 2]) << 8) |
                          static_cast<std::uint8_t>(jpeg[m.offset + 3]);
    payloads.push_back(jpeg.substr(m.offset + 4, length - 2));
  }
  return payloads;
}

std::string Segment(const std::string& jpeg, std::uint8_t code) {
  const std::vector<std::string> payloads = Segments(jpeg, code);
  return payloads.empty() ? std::string() : payloads.front();
}

int MarkerCount(const std::string& jpeg, std::uint8_t code) {
  int count = 0;
  for (const JpegMarker& m : ListJpegMarkers(jpeg)) count += m.code == code ? 1 : 0;
  return count;
}

bool HasMarker(const std::string& jpeg, std::uint8_t code) { return MarkerCount(jpeg, code) > 0; }

TEST(Ppm, OnePixelFileIsFourteenBytes) {
  ScopedTempFolder folder;
  const std::string path = folder.Join("full.ppm");
  ASSERT_TRUE(WritePpm(MakeSolidImage(1, 1, 10, 20, 30), path));
  EXPECT_EQ(ReadTextFile(path), std::string("P6\n1 1\n255\n\x1E\x14\x0A", 14));
}

TEST(Ppm, RowsTopToBottomAsRgbWithoutAlpha) {
  ScopedTempFolder folder;
  PixelImage image = MakeNoiseImage(640, 480, 11);
  PixelImage translucent = image;
  for (size_t i = 3; i < translucent.pixels.size(); i += 4) {
    translucent.pixels[i] = static_cast<std::uint8_t>(i);
  }
  ASSERT_TRUE(WritePpm(image, folder.Join("a.ppm")));
  ASSERT_TRUE(WritePpm(translucent, folder.Join("b.ppm")));
  const std::string written = ReadTextFile(folder.Join("a.ppm"));
  ASSERT_EQ(written.size(), 15u + 921600u);
  EXPECT_EQ(written.substr(0, 15), "P6\n640 480\n255\n");
  EXPECT_EQ(ReadTextFile(folder.Join("b.ppm")), written);
  const size_t pixel = 479 * 640 + 639;  // last pixel
  EXPECT_EQ(static_cast<std::uint8_t>(written[15 + pixel * 3]), image.pixels[pixel * 4 + 2]);
  EXPECT_EQ(static_cast<std::uint8_t>(written[15 + pixel * 3 + 2]), image.pixels[pixel * 4]);
}

TEST(Ppm, FailuresCreateNoFileOrReportFalse) {
  ScopedTempFolder folder;
  EXPECT_FALSE(WritePpm(PixelImage{}, folder.Join("empty.ppm")));
  EXPECT_FALSE(PathExists(folder.Join("empty.ppm")));
  PixelImage noBuffer;
  noBuffer.width = 4;
  noBuffer.height = 4;
  EXPECT_FALSE(WritePpm(noBuffer, folder.Join("nobuffer.ppm")));
  EXPECT_FALSE(WritePpm(MakeSolidImage(2, 2, 0, 0, 0), folder.Join("no/such/folder.ppm")));
  FailingWrites full;
  EXPECT_FALSE(WritePpm(MakeSolidImage(2, 2, 0, 0, 0), folder.Join("full.ppm")));
}

TEST(WicEncoder, QualityFactorIsClampedAndRounded) {
  EXPECT_EQ(WicQualityFromFactor(0.0f), 1);
  EXPECT_EQ(WicQualityFromFactor(-3.0f), 1);
  EXPECT_EQ(WicQualityFromFactor(0.004f), 1);
  EXPECT_EQ(WicQualityFromFactor(1.5f), 100);
  EXPECT_EQ(WicQualityFromFactor(0.85f), 85);
  EXPECT_EQ(WicQualityFromFactor(0.29f), 29);
  EXPECT_EQ(WicQualityFromFactor(0.845f), 85);
  EXPECT_EQ(WicQualityFromFactor(std::nanf("")), 1);
}

TEST(WicEncoder, ProgressiveFourTwoZeroStandardQuantisationNoMetadata) {
  ScopedTempFolder folder;
  const std::string path = folder.Join("wic.jpg");
  const PixelImage image = MakeGradientImage(64, 48);
  ASSERT_TRUE(EncodeJpegWic(image, path, 0.85f));
  const std::string jpeg = ReadTextFile(path);
  ASSERT_GT(jpeg.size(), 4u);
  EXPECT_EQ(jpeg.substr(0, 2), "\xFF\xD8");
  EXPECT_EQ(jpeg.substr(jpeg.size() - 2), "\xFF\xD9");
  const std::string frame = Segment(jpeg, 0xC2);  // SOF2: progressive
  ASSERT_EQ(frame.size(), 15u);
  EXPECT_EQ(frame[5], 3);
  EXPECT_EQ(frame[7], 0x22);  // luma 2 x 2, chroma 1 x 1: 4:2:0
  EXPECT_EQ(frame[10], 0x11);
  EXPECT_EQ(frame[13], 0x11);
  EXPECT_FALSE(HasMarker(jpeg, 0xC0));
  EXPECT_EQ(MarkerCount(jpeg, 0xDA), 10);  // libjpeg's standard script for YCbCr
  // The quantisation is exactly that of a plain baseline encode.
  const std::string baseline = EncodeJpegOf(image, JpegRecipe{JpegLayout::Rgb, 85});
  EXPECT_EQ(Segments(jpeg, 0xDB), Segments(baseline, 0xDB));
  EXPECT_EQ(Segment(jpeg, 0xDB)[1], 5);  // quality 85 scales the luma DC step 16 to 5
  // Only the JFIF header: no Exif, no ICC profile, no comment.
  EXPECT_TRUE(HasMarker(jpeg, 0xE0));
  EXPECT_FALSE(HasMarker(jpeg, 0xE1));
  EXPECT_FALSE(HasMarker(jpeg, 0xE2));
  EXPECT_FALSE(HasMarker(jpeg, 0xFE));
}

// Progression and optimised Huffman tables change only the entropy coding: on
// real photographs the pixels decode exactly as from a baseline file with the
// standard tables at the same quality, and the file is smaller.
TEST(WicEncoder, PhotosDecodeLikeBaselineAndShrink) {
  ScopedTempFolder folder;
  for (const char* name : {"skimage_chelsea_q95.jpg", "mate_FreshFlower.jpg", "mate_GreenMeadow.jpg"}) {
    PixelImage photo;
    ASSERT_TRUE(DecodeImageFile(std::string(ORVEL_TEST_IMAGES) + "/" + name, photo)) << name;
    for (const int quality : {56, 84, 92}) {
      SCOPED_TRACE(std::string(name) + " at " + std::to_string(quality));
      const std::string path = folder.Join("wic.jpg");
      ASSERT_TRUE(EncodeJpegWic(photo, path, static_cast<float>(quality) / 100.0f));
      const std::string wic = ReadTextFile(path);
      const std::string baseline = EncodeJpegOf(photo, JpegRecipe{JpegLayout::Rgb, quality});
      ASSERT_TRUE(HasMarker(wic, 0xC2));
      ASSERT_TRUE(HasMarker(baseline, 0xC0));
      EXPECT_LT(wic.size(), baseline.size());
      PixelImage fromWic, fromBaseline;
      ASSERT_TRUE(DecodeBytes(wic, fromWic));
      ASSERT_TRUE(DecodeBytes(baseline, fromBaseline));
      EXPECT_TRUE(fromWic.pixels == fromBaseline.pixels);
    }
  }
}

TEST(WicEncoder, LowQualityIsClampedNotRefused) {
  ScopedTempFolder folder;
  const PixelImage image = MakeGradientImage(32, 32);
  ASSERT_TRUE(EncodeJpegWic(image, folder.Join("q0.jpg"), 0.0f));
  ASSERT_TRUE(EncodeJpegWic(image, folder.Join("q1.jpg"), 0.01f));
  EXPECT_EQ(ReadTextFile(folder.Join("q0.jpg")), ReadTextFile(folder.Join("q1.jpg")));
  ASSERT_TRUE(EncodeJpegWic(image, folder.Join("q150.jpg"), 1.5f));
  EXPECT_EQ(Segment(ReadTextFile(folder.Join("q150.jpg")), 0xDB)[1], 1);
}

TEST(WicEncoder, FailuresReportFalse) {
  ScopedTempFolder folder;
  EXPECT_FALSE(EncodeJpegWic(PixelImage{}, folder.Join("empty.jpg"), 0.8f));
  EXPECT_FALSE(PathExists(folder.Join("empty.jpg")));
  EXPECT_FALSE(EncodeJpegWic(MakeSolidImage(8, 8, 0, 0, 0), folder.Join("no/such/x.jpg"), 0.8f));
  FailingWrites full;
  EXPECT_FALSE(EncodeJpegWic(MakeSolidImage(8, 8, 0, 0, 0), folder.Join("full.jpg"), 0.8f));
}

TEST(WicEncoder, RoundTripOfAPhotoPassesTheAnalysis) {
  const std::string source = std::string(ORVEL_TEST_IMAGES) + "/skimage_chelsea_q95.jpg";
  ScopedTempFolder folder;
  PixelImage original, encoded;
  ASSERT_TRUE(DecodeImageFile(source, original));
  ASSERT_TRUE(EncodeJpegWic(original, folder.Join("wic.jpg"), 0.84f));
  ASSERT_TRUE(DecodeImageFile(folder.Join("wic.jpg"), encoded));
  ASSERT_EQ(encoded.width, original.width);
  ASSERT_EQ(encoded.height, original.height);
  const QualityReport report = AnalyzeQuality(original, encoded);
  ASSERT_FALSE(report.windowScores.empty());
  EXPECT_GT(report.global, 0.9);
  EXPECT_LT(report.global, 1.0);
  EXPECT_LE(report.worst, report.worst5);
  EXPECT_LE(report.worst5, report.global);
  EXPECT_GT(report.composite, 0.85);
}

}  // namespace
