// JPEG decoding: colour spaces, the as-stored rule, and the refusals that keep
// a damaged or hostile file from turning into a wrong image, a huge allocation
// or minutes of work.
#include <gtest/gtest.h>

#include <cstdio>

#include <jpeglib.h>  // after <cstdio>: it uses FILE without including it

#include "imaging/decode.h"
#include "tests/imaging/fixtures.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAddressSanitizer = true;
#else
constexpr bool kUnderAddressSanitizer = false;
#endif

// libjpeg alone, as BGRA rows. Its default error handler would end the test
// program, which only a broken fixture could make it do.
std::vector<std::uint8_t> ReferenceDecode(const std::string& jpeg) {
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size());
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  std::vector<std::uint8_t> bgra, row(info.output_width * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW rows[] = {row.data()};
    jpeg_read_scanlines(&info, rows, 1);
    for (size_t i = 0; i < row.size(); i += 3) bgra.insert(bgra.end(), {row[i + 2], row[i + 1], row[i], 255});
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return bgra;
}

size_t OffsetOf(const std::string& jpeg, std::uint8_t code, bool last = false) {
  size_t found = std::string::npos;
  for (const JpegMarker& m : ListJpegMarkers(jpeg)) {
    if (m.code == code && (last || found == std::string::npos)) found = m.offset;
  }
  return found;
}

// A copy whose frame header claims another size.
std::string WithFrameSize(std::string jpeg, std::uint16_t width, std::uint16_t height) {
  const size_t sof = std::min(OffsetOf(jpeg, 0xC0), OffsetOf(jpeg, 0xC2));
  jpeg.replace(sof + 5, 4, {static_cast<char>(height >> 8), static_cast<char>(height & 0xFF),
                            static_cast<char>(width >> 8), static_cast<char>(width & 0xFF)});
  return jpeg;
}

}  // namespace

TEST(JpegDecode, MatchesLibjpegPixelForPixelInBgraOrder) {
  const std::string jpeg = EncodeJpegOf(MakeNoiseImage(37, 23, 1));
  PixelImage image;
  ASSERT_TRUE(DecodeBytes(jpeg, image));
  ASSERT_EQ(image.width, 37u);
  ASSERT_EQ(image.height, 23u);
  EXPECT_TRUE(image.pixels == ReferenceDecode(jpeg));
}

TEST(JpegDecode, ColourSpacesBecomeBgraAndProgressiveDecodesLikeBaseline) {
  const struct {
    JpegLayout layout;
    std::vector<std::uint8_t> sample;
  } red[] = {{JpegLayout::Rgb, {255, 0, 0}},
             // Adobe CMYK stores 255 for "no ink": this is red (no cyan, full
             // magenta and yellow, no black), both as plain CMYK and as YCCK.
             {JpegLayout::CmykAdobe, {255, 0, 0, 255}},
             {JpegLayout::YcckAdobe, {255, 0, 0, 255}},
             // Without the Adobe marker the samples are ink amounts.
             {JpegLayout::CmykPlain, {0, 255, 255, 0}}};
  PixelImage image;
  for (const auto& c : red) {
    std::vector<std::uint8_t> samples;
    for (int i = 0; i < 256; ++i) samples.insert(samples.end(), c.sample.begin(), c.sample.end());
    ASSERT_TRUE(DecodeBytes(EncodeJpegBytes(16, 16, samples, {c.layout}), image));
    EXPECT_TRUE(NearlyEqual(image, MakeSolidImage(16, 16, 0, 0, 255), 3)) << static_cast<int>(c.layout);
  }
  // Grey is replicated into all three channels.
  ASSERT_TRUE(DecodeBytes(EncodeJpegBytes(16, 16, std::vector<std::uint8_t>(256, 200), {JpegLayout::Gray}), image));
  EXPECT_TRUE(NearlyEqual(image, MakeSolidImage(16, 16, 200, 200, 200), 3));
  const PixelImage source = MakeGradientImage(40, 24);
  PixelImage baseline, progressive;
  ASSERT_TRUE(DecodeBytes(EncodeJpegOf(source, {JpegLayout::Rgb, 95}), baseline));
  ASSERT_TRUE(DecodeBytes(EncodeJpegOf(source, {JpegLayout::Rgb, 95, true}), progressive));
  EXPECT_TRUE(NearlyEqual(baseline, progressive, 2));
}

TEST(JpegDecode, OrientationTagAndExtraneousBytesChangeNothing) {
  const PixelImage source = MakeGradientImage(24, 8);
  PixelImage plain, other;
  const std::string jpeg = EncodeJpegOf(source);
  ASSERT_TRUE(DecodeBytes(jpeg, plain));
  JpegRecipe recipe;
  recipe.app1 = ExifWithOrientation(6);  // "rotate 90 degrees clockwise"
  const std::string tagged = EncodeJpegOf(source, recipe);
  ASSERT_NE(OffsetOf(tagged, 0xE1), std::string::npos);
  ASSERT_TRUE(DecodeBytes(tagged, other));
  EXPECT_EQ(other.width, 24u);
  EXPECT_EQ(other.pixels, plain.pixels);
  std::string padded = jpeg;
  padded.insert(OffsetOf(jpeg, 0xDB), std::string("\x00\x12\x34", 3));
  ASSERT_TRUE(DecodeBytes(padded, other));
  EXPECT_EQ(other.pixels, plain.pixels);
}

TEST(JpegDecode, ScanLimitIsFiveHundred) {
  const PixelImage noise = MakeNoiseImage(16, 16, 3);
  std::vector<std::uint8_t> samples;
  for (size_t i = 0; i < noise.pixels.size(); i += 4) samples.push_back(noise.pixels[i]);
  JpegRecipe recipe{JpegLayout::Gray};
  PixelImage image;
  recipe.scanCount = 500;
  EXPECT_TRUE(DecodeBytes(EncodeJpegBytes(16, 16, samples, recipe), image));
  recipe.scanCount = 501;
  const std::string beyond = EncodeJpegBytes(16, 16, samples, recipe);
  ASSERT_FALSE(beyond.empty());
  EXPECT_FALSE(DecodeBytes(beyond, image));
  EXPECT_TRUE(image.pixels.empty());
}

TEST(JpegDecode, TruncatedDataFailsButAMissingEndMarkerAloneDecodes) {
  const std::string jpeg = EncodeJpegOf(MakeNoiseImage(64, 64, 4));
  const std::string progressive = EncodeJpegOf(MakeNoiseImage(64, 64, 5), {JpegLayout::Rgb, 90, true});
  PixelImage image, complete;
  for (const std::string& cut : {jpeg.substr(0, jpeg.size() / 2), jpeg.substr(0, jpeg.size() - 40),
                                 jpeg.substr(0, 200), jpeg.substr(0, 20), jpeg.substr(0, 3),
                                 progressive.substr(0, OffsetOf(progressive, 0xDA, true))}) {
    EXPECT_FALSE(DecodeBytes(cut, image)) << "kept " << cut.size();
    EXPECT_TRUE(image.pixels.empty());
    EXPECT_EQ(image.width, 0u);
  }
  for (const std::string& whole : {jpeg, progressive}) {
    ASSERT_TRUE(DecodeBytes(whole, complete));
    ASSERT_TRUE(DecodeBytes(whole.substr(0, whole.size() - 2), image));
    EXPECT_EQ(image.pixels, complete.pixels);
  }
}

TEST(JpegDecode, OversizedHeaderIsRefusedWithoutTouchingMemory) {
  const std::string small = EncodeJpegOf(MakeGradientImage(16, 16));
  PixelImage image;
  // 60000 x 60000 x 4 bytes is beyond the 32-bit buffer limit: too large,
  // not corrupt, and the size can be read from the header alone.
  const std::string huge = WithFrameSize(small, 60000, 60000);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(huge.data());
  DecodeFailure failure = DecodeFailure::None;
  EXPECT_FALSE(DecodeImageMemory(bytes, huge.size(), image, &failure));
  EXPECT_EQ(failure, DecodeFailure::TooLarge);
  EXPECT_TRUE(image.pixels.empty());
  std::uint32_t width = 0, height = 0;
  ASSERT_TRUE(ReadJpegFrameSize(bytes, huge.size(), width, height));
  EXPECT_EQ(width, 60000u);
  EXPECT_EQ(height, 60000u);
  EXPECT_FALSE(ReadJpegFrameSize(bytes, OffsetOf(huge, 0xC0) + 6, width, height));
  // 30000 x 30000 is allowed in size, but the data for it is missing: the
  // decode must fail without first filling a 3.6 GB buffer. AddressSanitizer
  // writes shadow memory for every large allocation, so there page faults say
  // nothing and a smaller claim keeps the test quick.
  const std::uint16_t side = kUnderAddressSanitizer ? 4000 : 30000;
  for (bool progressive : {false, true}) {
    const std::string jpeg =
        WithFrameSize(EncodeJpegOf(MakeGradientImage(16, 16), {JpegLayout::Rgb, 90, progressive}), side, side);
    const long faultsBefore = MinorPageFaults();
    failure = DecodeFailure::None;
    EXPECT_FALSE(DecodeImageMemory(reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size(), image, &failure));
    EXPECT_EQ(failure, DecodeFailure::Corrupt) << progressive;
    if (!kUnderAddressSanitizer) {
      EXPECT_LT(MinorPageFaults() - faultsBefore, 20000) << progressive;
    }
    EXPECT_TRUE(image.pixels.empty());
  }
  // The JPEG entry refuses other formats.
  const std::string notJpeg = "\x89PNG\r\n\x1A\n0000000000000";
  EXPECT_FALSE(DecodeJpegMemory(reinterpret_cast<const std::uint8_t*>(notJpeg.data()), notJpeg.size(), image));
  EXPECT_FALSE(DecodeJpegMemory(nullptr, 0, image));
}
