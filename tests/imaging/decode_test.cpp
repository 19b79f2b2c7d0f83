// Decoding JPEG, PNG, TIFF, BMP and GIF, and the refusals that keep a damaged
// or hostile file from becoming a wrong image, a crash or a huge allocation.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdlib>

#include <png.h>
#include <zlib.h>

#include "imaging/decode.h"
#include "tests/imaging/fixtures.h"
#include "tests/support/scoped_temp.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAddressSanitizer = true;
#else
constexpr bool kUnderAddressSanitizer = false;
#endif

bool DecodeBytes(const std::string& bytes, PixelImage& image) {
  return DecodeImageMemory(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), image);
}

// True when each channel of every pixel differs by at most `tolerance`.
bool NearlyEqual(const PixelImage& a, const PixelImage& b, int tolerance) {
  if (a.width != b.width || a.height != b.height || a.pixels.size() != b.pixels.size()) return false;
  for (size_t i = 0; i < a.pixels.size(); ++i) {
    if (std::abs(a.pixels[i] - b.pixels[i]) > tolerance) return false;
  }
  return true;
}

// Recomputes the CRC of the PNG chunk starting at `offset` (its length field).
void FixPngChunkCrc(std::string& png, size_t offset) {
  const auto* d = reinterpret_cast<const Bytef*>(png.data());
  const uInt length = (d[offset] << 24) | (d[offset + 1] << 16) | (d[offset + 2] << 8) | d[offset + 3];
  const uLong crc = ::crc32(0, d + offset + 4, length + 4);
  for (int i = 0; i < 4; ++i) png[offset + 8 + length + i] = static_cast<char>(crc >> (24 - 8 * i));
}

// Minor page faults of this process so far: memory first touched.
long MinorPageFaults() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

const std::uint8_t* Data(const std::string& bytes) { return reinterpret_cast<const std::uint8_t*>(bytes.data()); }

size_t OffsetOf(const std::string& jpeg, std::uint8_t code, bool last = false) {
  size_t found = std::string::npos;
  for (const JpegMarker& m : ListJpegMarkers(jpeg)) {
    if (m.code == code && (last || found == std::string::npos)) found = m.offset;
  }
  return found;
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) { return {values.begin(), values.end()}; }

// Decodes `bytes` and expects the pixels 0xBBGGRRAA row by row.
void ExpectPixels(const std::string& bytes, std::uint32_t width, const std::vector<std::uint32_t>& expected) {
  PixelImage image;
  ASSERT_TRUE(DecodeBytes(bytes, image));
  ASSERT_EQ(std::tuple(image.width, size_t{image.height} * width, image.pixels.size()),
            std::tuple(width, expected.size(), expected.size() * 4));
  for (size_t i = 0; i < expected.size(); ++i) {
    const std::uint8_t* p = &image.pixels[i * 4];
    EXPECT_EQ((std::uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3], expected[i]) << i;
  }
}

void ExpectRefused(const std::string& bytes) {
  PixelImage image = MakeSolidImage(4, 4, 1, 2, 3);
  EXPECT_FALSE(DecodeBytes(bytes, image));
  EXPECT_TRUE(image.pixels.empty());
}

}  // namespace

TEST(JpegDecode, ColourSpacesBecomeBgraAndProgressiveDecodesLikeBaseline) {
  const struct { JpegLayout layout; std::vector<std::uint8_t> sample; } red[] = {{JpegLayout::Rgb, {255, 0, 0}},
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
  ASSERT_TRUE(
      DecodeBytes(EncodeJpegBytes(16, 16, std::vector<std::uint8_t>(256, 200), {JpegLayout::Gray}), image));
  EXPECT_TRUE(NearlyEqual(image, MakeSolidImage(16, 16, 200, 200, 200), 3));
  const PixelImage source = MakeGradientImage(40, 24);
  PixelImage baseline, progressive;
  ASSERT_TRUE(DecodeBytes(EncodeJpegOf(source, {JpegLayout::Rgb, 95}), baseline));
  ASSERT_TRUE(DecodeBytes(EncodeJpegOf(source, {JpegLayout::Rgb, 95, true}), progressive));
  EXPECT_TRUE(NearlyEqual(baseline, progressive, 2));
}

TEST(JpegDecode, ExtraneousBytesBeforeAMarkerChangeNothing) {
  const std::string jpeg = EncodeJpegOf(MakeGradientImage(24, 8));
  PixelImage plain, padded;
  const std::string bytes = std::string(jpeg).insert(OffsetOf(jpeg, 0xDB), std::string("\x00\x12\x34", 3));
  ASSERT_TRUE(DecodeBytes(jpeg, plain));
  ASSERT_TRUE(DecodeBytes(bytes, padded));
  EXPECT_EQ(padded.pixels, plain.pixels);
}

TEST(JpegDecode, ScanLimitIsFiveHundred) {
  const PixelImage noise = MakeNoiseImage(16, 16, 3);
  std::vector<std::uint8_t> samples;
  for (size_t i = 0; i < noise.pixels.size(); i += 4) samples.push_back(noise.pixels[i]);
  JpegRecipe recipe{.layout = JpegLayout::Gray, .scanCount = 500};
  PixelImage image;
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
  // 60000 x 60000 x 4 bytes is beyond the 32-bit limit: too large, not corrupt.
  const std::string huge = WithJpegFrameSize(small, 60000, 60000);
  const std::uint8_t* bytes = Data(huge);
  DecodeFailure failure = DecodeFailure::None;
  EXPECT_FALSE(DecodeImageMemory(bytes, huge.size(), image, &failure));
  EXPECT_EQ(failure, DecodeFailure::TooLarge);
  EXPECT_TRUE(image.pixels.empty());
  std::uint32_t width = 0, height = 0;
  ASSERT_TRUE(ReadJpegFrameSize(bytes, huge.size(), width, height));
  EXPECT_EQ(std::pair(width, height), std::pair(60000u, 60000u));
  EXPECT_FALSE(ReadJpegFrameSize(bytes, OffsetOf(huge, 0xC0) + 6, width, height));
  // Fill bytes and markers without a length are skipped; a scan ends the search.
  const std::string skipped = small.substr(0, 2) + "\xFF\xFF\xD0\xFF\xD7\xFF\x01\xFF\xD8" + small.substr(2);
  ASSERT_TRUE(ReadJpegFrameSize(Data(skipped), skipped.size(), width, height));
  EXPECT_EQ(width + height, 32u);
  const std::string scanFirst = small.substr(0, 2) + std::string("\xFF\xDA\x00\x02", 4) + small.substr(2);
  EXPECT_FALSE(ReadJpegFrameSize(Data(scanFirst), scanFirst.size(), width, height));
  // 30000 x 30000 is allowed, but its data is missing: fail without filling 3.6 GB
  // first. Under AddressSanitizer page faults say nothing (shadow memory).
  const std::uint16_t side = kUnderAddressSanitizer ? 4000 : 30000;
  for (bool progressive : {false, true}) {
    const std::string jpeg = WithJpegFrameSize(
        EncodeJpegOf(MakeGradientImage(16, 16), {JpegLayout::Rgb, 90, progressive}), side, side);
    const long faultsBefore = MinorPageFaults();
    failure = DecodeFailure::None;
    EXPECT_FALSE(DecodeImageMemory(Data(jpeg), jpeg.size(), image, &failure));
    EXPECT_EQ(failure, DecodeFailure::Corrupt) << progressive;
    if (!kUnderAddressSanitizer) {
      EXPECT_LT(MinorPageFaults() - faultsBefore, 20000) << progressive;
    }
    EXPECT_TRUE(image.pixels.empty());
  }
  // Sound files of kinds the decoder lacks are not called corrupt: a 12-bit
  // frame, and a lossless one (the frame marker C3).
  const std::string sound = EncodeJpegOf(MakeGradientImage(16, 16), {JpegLayout::Rgb, 90, false});
  std::string twelveBit = sound, lossless = sound;
  twelveBit[OffsetOf(sound, 0xC0) + 4] = 12;
  lossless[OffsetOf(sound, 0xC0) + 1] = '\xC3';
  const std::pair<std::string, DecodeFailure> kinds[] = {
      {twelveBit, DecodeFailure::HighPrecision}, {lossless, DecodeFailure::UnsupportedKind}};
  for (const auto& [jpeg, reason] : kinds) {
    failure = DecodeFailure::None;
    EXPECT_FALSE(DecodeImageMemory(Data(jpeg), jpeg.size(), image, &failure));
    EXPECT_EQ(failure, reason) << DecodeFailureText(reason);
  }
  const std::string notJpeg = "\x89PNG\r\n\x1A\n0000000000000";
  EXPECT_FALSE(DecodeJpegMemory(Data(notJpeg), notJpeg.size(), image));
  EXPECT_FALSE(DecodeJpegMemory(nullptr, 0, image));
}

TEST(PngDecode, VariantsExpandToEightBitBgra) {
  ExpectPixels(
      EncodePngBytes(3, 2, {Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9}), Bytes({10, 11, 12, 13, 14, 15, 16, 17, 18})},
                     {}),
      3, {0x030201FF, 0x060504FF, 0x090807FF, 0x0C0B0AFF, 0x0F0E0DFF, 0x121110FF});
  // 16-bit samples are scaled to 8 bits (n * 257 becomes n).
  ExpectPixels(EncodePngBytes(1, 1, {Bytes({200, 200, 0x80, 0x80, 0, 0})}, {.bitDepth = 16}), 1, {0x0080C8FF});
  const PngRecipe palette{.colorType = PNG_COLOR_TYPE_PALETTE, .palette = {10, 20, 30, 40, 50, 60}, .alphas = {128}};
  ExpectPixels(EncodePngBytes(2, 1, {Bytes({0, 1})}, palette), 2, {0x1E140A80, 0x3C3228FF});
  // Grey, one bit per pixel: 1 is white.
  ExpectPixels(EncodePngBytes(3, 1, {Bytes({0b01000000})}, {.colorType = PNG_COLOR_TYPE_GRAY, .bitDepth = 1}), 3,
               {0x000000FF, 0xFFFFFFFF, 0x000000FF});
}

TEST(PngDecode, GammaChunkAndInterlacingLeaveSamplesAsStored) {
  const PixelImage source = MakeNoiseImage(13, 11, 7);
  std::vector<std::vector<std::uint8_t>> rows(11);
  for (size_t i = 0; i < source.pixels.size(); i += 4) {
    rows[i / 4 / 13].insert(rows[i / 4 / 13].end(),
                            {source.pixels[i + 2], source.pixels[i + 1], source.pixels[i]});
  }
  PixelImage image;
  ASSERT_TRUE(DecodeBytes(EncodePngBytes(13, 11, rows, {.interlaced = true, .gamma = 1.0 / 2.2}), image));
  EXPECT_EQ(image.pixels, source.pixels);
}

TEST(PngDecode, DamagedFilesFail) {
  std::vector<std::vector<std::uint8_t>> rows(32, std::vector<std::uint8_t>(96, 0));
  for (size_t y = 0; y < rows.size(); ++y) rows[y][y] = static_cast<std::uint8_t>(y * 7);
  const std::string png = EncodePngBytes(32, 32, rows, {});
  PixelImage image;
  ASSERT_TRUE(DecodeBytes(png, image));
  const size_t idat = png.find("IDAT") - 4;
  std::string broken = png;  // a flipped byte inside the compressed data breaks the CRC
  broken[idat + 10] = static_cast<char>(broken[idat + 10] ^ 0x55);
  ExpectRefused(broken);
  ExpectRefused(png.substr(0, idat + 12));        // truncated inside IDAT
  ExpectRefused(png.substr(0, png.size() - 12));  // just before IEND
  std::string huge = png;  // a header claiming 60000 x 60000 pixels, with a valid CRC
  huge.replace(16, 8, std::string("\0\0\xEA\x60\0\0\xEA\x60", 8));
  FixPngChunkCrc(huge, 8);
  ExpectRefused(huge);
}

TEST(TiffDecode, FirstPageOfMultiPageFileAndStripsBeyondTheFile) {
  ScopedTempFolder folder;
  const TiffPage first{3, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}, 1};
  ASSERT_TRUE(
      WriteTiffFile(folder.Join("pages.tif"), {first, TiffPage{5, 5, std::vector<std::uint8_t>(75, 200)}}));
  ExpectPixels(ReadTextFile(folder.Join("pages.tif")), 3,
               {0x030201FF, 0x060504FF, 0x090807FF, 0x0C0B0AFF, 0x0F0E0DFF, 0x121110FF});
  ASSERT_TRUE(
      WriteTiffFile(folder.Join("strips.tif"), {TiffPage{40, 30, std::vector<std::uint8_t>(3600, 99), 10}}));
  std::string bytes = ReadTextFile(folder.Join("strips.tif"));
  PixelImage image;
  ASSERT_TRUE(DecodeBytes(bytes, image));
  // The last of the three StripOffsets (tag 273, out of line) past the end.
  const std::uint32_t ifd = ReadLe(bytes, 4, 4);
  bool patched = false;
  for (std::uint32_t i = 0, n = ReadLe(bytes, ifd, 2); i < n; ++i) {
    const size_t entry = ifd + 2 + i * 12;
    if (ReadLe(bytes, entry, 2) != 273) continue;
    bytes.replace(ReadLe(bytes, entry + 8, 4) + 8, 4, Le32(static_cast<std::uint32_t>(bytes.size() + 1000)));
    patched = true;
  }
  ASSERT_TRUE(patched);
  ExpectRefused(bytes);
  const std::string garbage = std::string("II*\0", 4) + std::string(60, '\x7F');
  EXPECT_FALSE(DecodeTiffMemory(Data(garbage), garbage.size(), image));
}

TEST(BmpAndGifDecode, RowsComeOutTopDownAndTruncationFails) {
  // Top row: blue, green; bottom row: red, white.
  PixelImage picture = MakeSolidImage(2, 2, 255, 255, 255);
  SetPixel(picture, 0, 0, 255, 0, 0), SetPixel(picture, 1, 0, 0, 255, 0), SetPixel(picture, 0, 1, 0, 0, 255);
  for (bool topDown : {false, true}) {
    SCOPED_TRACE(topDown);
    ExpectPixels(EncodeBmp(picture, 24, topDown), 2, {0xFF0000FF, 0x00FF00FF, 0x0000FFFF, 0xFFFFFFFF});
  }
  const std::string bmp = EncodeBmp(picture, 24, false);
  ExpectRefused(bmp.substr(0, bmp.size() - 3));
  // A 2 x 1 GIF: red, blue (LZW codes clear, 0, 1, end at 3 bits).
  const std::string gif = "GIF89a" + Le16(2) + Le16(1) + std::string("\x80\x00\x00", 3) +
                          std::string("\xFF\x00\x00\x00\x00\xFF", 6) + "\x2C" + Le16(0) + Le16(0) + Le16(2) +
                          Le16(1) + std::string(1, '\0') + std::string("\x02\x02\x44\x0A\x00", 5) + "\x3B";
  ExpectPixels(gif, 2, {0x0000FFFF, 0xFF0000FF});
  // Cut inside the first image's data block: stb_image alone would fill in zeros.
  ExpectRefused(gif.substr(0, gif.size() - 3));
}

TEST(DecodeFile, BadInputsGiveFalseAndEmptyImageAndContentDecidesNotTheExtension) {
  ScopedTempFolder folder;
  ASSERT_TRUE(WriteTextFile(folder.Join("empty.jpg"), ""));
  ASSERT_TRUE(WriteTextFile(folder.Join("text.jpg"), "Dies ist kein Bild.\n"));
  const std::string jpeg = EncodeJpegOf(MakeNoiseImage(32, 32, 9));
  ASSERT_TRUE(WriteTextFile(folder.Join("cut.jpg"), jpeg.substr(0, jpeg.size() / 2)));
  ASSERT_TRUE(WriteTextFile(folder.Join("png.jpg"), EncodePngBytes(1, 1, {Bytes({9, 8, 7})}, {})));
  for (const std::string name : {"missing.jpg", "empty.jpg", "text.jpg", "cut.jpg", ""}) {
    PixelImage image = MakeSolidImage(4, 4, 1, 2, 3);
    EXPECT_FALSE(DecodeImageFile(folder.Join(name), image)) << name;  // "" is the folder
    EXPECT_TRUE(image.pixels.empty()) << name;
    EXPECT_FALSE(IsUsableImage(image)) << name;
  }
  PixelImage image;
  ASSERT_TRUE(DecodeImageFile(folder.Join("png.jpg"), image));
  EXPECT_EQ(std::vector<std::uint8_t>(image.pixels.begin(), image.pixels.begin() + 4),
            (std::vector<std::uint8_t>{7, 8, 9, 255}));
}
