// JPEG decoding: colour spaces, the as-stored rule, and the refusals that keep
// a damaged or hostile file from turning into a wrong image, a huge allocation
// or minutes of work.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include "imaging/decode.h"
#include "tests/imaging/fixtures.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAddressSanitizer = true;
#else
constexpr bool kUnderAddressSanitizer = false;
#endif

std::vector<std::uint8_t> Repeat(std::vector<std::uint8_t> sample, size_t count) {
  std::vector<std::uint8_t> out;
  for (size_t i = 0; i < count; ++i) out.insert(out.end(), sample.begin(), sample.end());
  return out;
}

// Expects every pixel within 3 of the given colour and opaque.
void ExpectUniform(const PixelImage& image, int blue, int green, int red) {
  ASSERT_TRUE(IsUsableImage(image));
  for (size_t i = 0; i < image.pixels.size(); i += 4) {
    ASSERT_NEAR(image.pixels[i], blue, 3) << "pixel " << i / 4;
    ASSERT_NEAR(image.pixels[i + 1], green, 3) << "pixel " << i / 4;
    ASSERT_NEAR(image.pixels[i + 2], red, 3) << "pixel " << i / 4;
    ASSERT_EQ(image.pixels[i + 3], 255);
  }
}

// Reference decode with libjpeg alone: RGB rows.
struct ReferenceDecode {
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  std::jmp_buf jump{};
  std::vector<std::uint8_t> rgb;
};

void JumpBack(j_common_ptr info) {
  std::longjmp(static_cast<ReferenceDecode*>(info->client_data)->jump, 1);
}

bool RunReferenceDecode(ReferenceDecode* r, const std::string* jpeg) {
  if (setjmp(r->jump) != 0) {
    jpeg_destroy_decompress(&r->info);
    return false;
  }
  r->info.err = jpeg_std_error(&r->errors);
  r->errors.error_exit = JumpBack;
  r->info.client_data = r;
  jpeg_create_decompress(&r->info);
  jpeg_mem_src(&r->info, reinterpret_cast<const unsigned char*>(jpeg->data()), jpeg->size());
  jpeg_read_header(&r->info, TRUE);
  r->info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&r->info);
  r->rgb.resize(static_cast<size_t>(r->info.output_width) * r->info.output_height * 3);
  while (r->info.output_scanline < r->info.output_height) {
    JSAMPROW row = r->rgb.data() + static_cast<size_t>(r->info.output_scanline) *
                                       r->info.output_width * 3;
    jpeg_read_scanlines(&r->info, &row, 1);
  }
  jpeg_finish_decompress(&r->info);
  jpeg_destroy_decompress(&r->info);
  return true;
}

size_t OffsetOfFirst(const std::string& jpeg, std::uint8_t code) {
  for (const JpegMarker& m : ListJpegMarkers(jpeg)) {
    if (m.code == code) return m.offset;
  }
  return std::string::npos;
}

size_t OffsetOfLast(const std::string& jpeg, std::uint8_t code) {
  size_t found = std::string::npos;
  for (const JpegMarker& m : ListJpegMarkers(jpeg)) {
    if (m.code == code) found = m.offset;
  }
  return found;
}

// A copy whose SOF0 frame header claims another size.
std::string WithFrameSize(std::string jpeg, std::uint16_t width, std::uint16_t height) {
  size_t sof = OffsetOfFirst(jpeg, 0xC0);
  if (sof == std::string::npos) sof = OffsetOfFirst(jpeg, 0xC2);
  jpeg[sof + 5] = static_cast<char>(height >> 8);
  jpeg[sof + 6] = static_cast<char>(height & 0xFF);
  jpeg[sof + 7] = static_cast<char>(width >> 8);
  jpeg[sof + 8] = static_cast<char>(width & 0xFF);
  return jpeg;
}

TEST(JpegDecode, MatchesLibjpegPixelForPixelInBgraOrder) {
  const std::string jpeg = EncodeJpegOf(MakeNoiseImage(37, 23, 1));
  ReferenceDecode reference;
  ASSERT_TRUE(RunReferenceDecode(&reference, &jpeg));
  PixelImage image;
  ASSERT_TRUE(DecodeBytes(jpeg, image));
  ASSERT_EQ(image.width, 37u);
  ASSERT_EQ(image.height, 23u);
  ASSERT_EQ(image.pixels.size(), 37u * 23u * 4u);
  for (size_t i = 0, n = 37 * 23; i < n; ++i) {
    ASSERT_EQ(image.pixels[i * 4], reference.rgb[i * 3 + 2]) << i;
    ASSERT_EQ(image.pixels[i * 4 + 1], reference.rgb[i * 3 + 1]) << i;
    ASSERT_EQ(image.pixels[i * 4 + 2], reference.rgb[i * 3]) << i;
    ASSERT_EQ(image.pixels[i * 4 + 3], 255) << i;
  }
}

TEST(JpegDecode, ColourSpacesBecomeBgra) {
  PixelImage image;
  // Grey is replicated into all three channels.
  ASSERT_TRUE(DecodeBytes(EncodeJpegBytes(16, 16, Repeat({200}, 256), {JpegLayout::Gray}), image));
  ExpectUniform(image, 200, 200, 200);
  // RGB red.
  ASSERT_TRUE(DecodeBytes(EncodeJpegBytes(16, 16, Repeat({255, 0, 0}, 256), {}), image));
  ExpectUniform(image, 0, 0, 255);
  // Adobe CMYK stores 255 for "no ink": this is red (no cyan, full magenta
  // and yellow, no black), both as plain CMYK and as YCCK.
  ASSERT_TRUE(
      DecodeBytes(EncodeJpegBytes(16, 16, Repeat({255, 0, 0, 255}, 256), {JpegLayout::CmykAdobe}),
                  image));
  ExpectUniform(image, 0, 0, 255);
  ASSERT_TRUE(
      DecodeBytes(EncodeJpegBytes(16, 16, Repeat({255, 0, 0, 255}, 256), {JpegLayout::YcckAdobe}),
                  image));
  ExpectUniform(image, 0, 0, 255);
  // Without the Adobe marker the samples are ink amounts.
  ASSERT_TRUE(
      DecodeBytes(EncodeJpegBytes(16, 16, Repeat({0, 255, 255, 0}, 256), {JpegLayout::CmykPlain}),
                  image));
  ExpectUniform(image, 0, 0, 255);
}

TEST(JpegDecode, ProgressiveDecodesLikeBaseline) {
  const PixelImage source = MakeGradientImage(40, 24);
  PixelImage baseline, progressive;
  ASSERT_TRUE(DecodeBytes(EncodeJpegOf(source, {JpegLayout::Rgb, 95}), baseline));
  ASSERT_TRUE(DecodeBytes(EncodeJpegOf(source, {JpegLayout::Rgb, 95, true}), progressive));
  EXPECT_TRUE(NearlyEqual(baseline, progressive, 2));
}

TEST(JpegDecode, OrientationTagIsNotApplied) {
  const PixelImage source = MakeGradientImage(24, 8);
  PixelImage plain, tagged;
  ASSERT_TRUE(DecodeBytes(EncodeJpegOf(source), plain));
  JpegRecipe recipe;
  recipe.app1 = ExifWithOrientation(6);  // "rotate 90 degrees clockwise"
  const std::string jpeg = EncodeJpegOf(source, recipe);
  ASSERT_NE(OffsetOfFirst(jpeg, 0xE1), std::string::npos);
  ASSERT_TRUE(DecodeBytes(jpeg, tagged));
  EXPECT_EQ(tagged.width, 24u);
  EXPECT_EQ(tagged.height, 8u);
  EXPECT_EQ(tagged.pixels, plain.pixels);
}

TEST(JpegDecode, ScanLimitIsFiveHundred) {
  const std::vector<std::uint8_t> grey = MakeNoiseImage(16, 16, 3).pixels;
  std::vector<std::uint8_t> samples;
  for (size_t i = 0; i < grey.size(); i += 4) samples.push_back(grey[i]);
  JpegRecipe recipe{JpegLayout::Gray};
  PixelImage image;
  recipe.scanCount = 500;
  const std::string atLimit = EncodeJpegBytes(16, 16, samples, recipe);
  ASSERT_FALSE(atLimit.empty());
  EXPECT_TRUE(DecodeBytes(atLimit, image));
  recipe.scanCount = 501;
  const std::string beyond = EncodeJpegBytes(16, 16, samples, recipe);
  ASSERT_FALSE(beyond.empty());
  EXPECT_FALSE(DecodeBytes(beyond, image));
  EXPECT_TRUE(image.pixels.empty());
}

TEST(JpegDecode, TruncatedDataFails) {
  const std::string jpeg = EncodeJpegOf(MakeNoiseImage(64, 64, 4));
  PixelImage image;
  for (size_t keep : {jpeg.size() / 2, jpeg.size() - 40, size_t{200}, size_t{20}, size_t{3}}) {
    EXPECT_FALSE(DecodeBytes(jpeg.substr(0, keep), image)) << "kept " << keep;
    EXPECT_TRUE(image.pixels.empty());
    EXPECT_EQ(image.width, 0u);
  }
}

TEST(JpegDecode, ProgressiveFileCutBetweenScansFails) {
  const std::string jpeg = EncodeJpegOf(MakeNoiseImage(64, 64, 5), {JpegLayout::Rgb, 90, true});
  const size_t lastScan = OffsetOfLast(jpeg, 0xDA);
  ASSERT_NE(lastScan, std::string::npos);
  PixelImage image;
  EXPECT_FALSE(DecodeBytes(jpeg.substr(0, lastScan), image));
  EXPECT_TRUE(image.pixels.empty());
}

TEST(JpegDecode, MissingEndMarkerAloneStillDecodes) {
  for (bool progressive : {false, true}) {
    const std::string jpeg =
        EncodeJpegOf(MakeNoiseImage(48, 40, 6), {JpegLayout::Rgb, 90, progressive});
    PixelImage complete, shortened;
    ASSERT_TRUE(DecodeBytes(jpeg, complete));
    ASSERT_TRUE(DecodeBytes(jpeg.substr(0, jpeg.size() - 2), shortened)) << progressive;
    EXPECT_EQ(shortened.pixels, complete.pixels);
  }
}

TEST(JpegDecode, ExtraneousBytesBeforeMarkerAreHarmless) {
  const std::string jpeg = EncodeJpegOf(MakeGradientImage(32, 32));
  const size_t dqt = OffsetOfFirst(jpeg, 0xDB);
  ASSERT_NE(dqt, std::string::npos);
  std::string padded = jpeg;
  padded.insert(dqt, std::string("\x00\x12\x34", 3));
  PixelImage clean, tolerated;
  ASSERT_TRUE(DecodeBytes(jpeg, clean));
  ASSERT_TRUE(DecodeBytes(padded, tolerated));
  EXPECT_EQ(tolerated.pixels, clean.pixels);
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
  EXPECT_FALSE(ReadJpegFrameSize(bytes, OffsetOfFirst(huge, 0xC0) + 6, width, height));
  // 30000 x 30000 is allowed in size, but the data for it is missing: the
  // decode must fail without first filling a 3.6 GB buffer. AddressSanitizer
  // writes shadow memory for every large allocation, so there page faults say
  // nothing and a smaller claim keeps the test quick.
  const std::uint16_t side = kUnderAddressSanitizer ? 4000 : 30000;
  for (bool progressive : {false, true}) {
    const std::string jpeg =
        WithFrameSize(EncodeJpegOf(MakeGradientImage(16, 16), {JpegLayout::Rgb, 90, progressive}),
                      side, side);
    const long faultsBefore = MinorPageFaults();
    failure = DecodeFailure::None;
    EXPECT_FALSE(DecodeImageMemory(reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size(),
                                   image, &failure))
        << progressive;
    EXPECT_EQ(failure, DecodeFailure::Corrupt);
    if (!kUnderAddressSanitizer) {
      EXPECT_LT(MinorPageFaults() - faultsBefore, 20000) << progressive;
    }
    EXPECT_TRUE(image.pixels.empty());
  }
}

TEST(JpegDecode, JpegEntryRefusesOtherFormats) {
  PixelImage image;
  const std::string notJpeg = "\x89PNG\r\n\x1A\n0000000000000";
  EXPECT_FALSE(DecodeJpegMemory(reinterpret_cast<const std::uint8_t*>(notJpeg.data()),
                                notJpeg.size(), image));
  EXPECT_FALSE(DecodeJpegMemory(nullptr, 0, image));
}

}  // namespace
