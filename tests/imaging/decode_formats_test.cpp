// PNG, TIFF, BMP and GIF decoding, and the inputs every decoder must refuse
// with false and an empty image instead of a crash, a hang or a wrong picture.
#include <gtest/gtest.h>

#include <png.h>

#include "imaging/decode.h"
#include "tests/imaging/fixtures.h"
#include "tests/support/scoped_temp.h"

namespace {

std::string Le16(unsigned v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string Le32(std::uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }

// A 24-bit BMP of `rows` given top to bottom as BGR bytes; bottom-up storage
// unless `topDown`.
std::string MakeBmp(std::uint32_t width, const std::vector<std::string>& rows, bool topDown) {
  const std::uint32_t rowBytes = (width * 3 + 3) / 4 * 4;
  const std::uint32_t height = static_cast<std::uint32_t>(rows.size());
  std::string bmp = "BM" + Le32(54 + rowBytes * height) + Le32(0) + Le32(54);
  bmp += Le32(40) + Le32(width) + Le32(topDown ? static_cast<std::uint32_t>(-static_cast<int>(height)) : height);
  bmp += Le16(1) + Le16(24) + Le32(0) + Le32(rowBytes * height) + Le32(2835) + Le32(2835) +
         Le32(0) + Le32(0);
  for (std::uint32_t i = 0; i < height; ++i) {
    std::string row = rows[topDown ? i : height - 1 - i];
    row.resize(rowBytes, '\0');
    bmp += row;
  }
  return bmp;
}

// A 2 x 1 GIF: red, blue (LZW codes clear, 0, 1, end at 3 bits).
std::string MakeGif() {
  std::string gif = "GIF89a" + Le16(2) + Le16(1) + std::string("\x80\x00\x00", 3);
  gif += std::string("\xFF\x00\x00\x00\x00\xFF", 6);                      // colour table
  gif += "\x2C" + Le16(0) + Le16(0) + Le16(2) + Le16(1) + std::string(1, '\0');
  gif += std::string("\x02\x02\x44\x0A\x00", 5);                         // code size, data
  gif += "\x3B";
  return gif;
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

TEST(PngDecode, ThreeByTwoRgbHasExactLayout) {
  const std::vector<std::vector<std::uint8_t>> rows = {
      Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9}), Bytes({10, 11, 12, 13, 14, 15, 16, 17, 18})};
  PixelImage image;
  ASSERT_TRUE(DecodeBytes(EncodePngBytes(3, 2, rows, {}), image));
  ASSERT_EQ(image.width, 3u);
  ASSERT_EQ(image.height, 2u);
  ASSERT_EQ(image.pixels.size(), 24u);
  // Column 2, row 1 starts at byte 20: red 16, green 17, blue 18.
  EXPECT_EQ(image.pixels[20], 18);
  EXPECT_EQ(image.pixels[21], 17);
  EXPECT_EQ(image.pixels[22], 16);
  EXPECT_EQ(image.pixels[23], 255);
  EXPECT_EQ(PixelAt(image, 0, 0), 0x030201FFu);
}

TEST(PngDecode, VariantsExpandToEightBitBgra) {
  PixelImage image;
  // 16-bit samples are scaled to 8 bits (n * 257 becomes n).
  PngRecipe deep;
  deep.bitDepth = 16;
  ASSERT_TRUE(DecodeBytes(EncodePngBytes(1, 1, {Bytes({200, 200, 0x80, 0x80, 0, 0})}, deep), image));
  EXPECT_EQ(PixelAt(image, 0, 0), 0x0080C8FFu);
  // Palette with transparency.
  PngRecipe palette;
  palette.colorType = PNG_COLOR_TYPE_PALETTE;
  palette.palette = {10, 20, 30, 40, 50, 60};
  palette.alphas = {128};
  ASSERT_TRUE(DecodeBytes(EncodePngBytes(2, 1, {Bytes({0, 1})}, palette), image));
  EXPECT_EQ(PixelAt(image, 0, 0), 0x1E140A80u);
  EXPECT_EQ(PixelAt(image, 1, 0), 0x3C3228FFu);
  // Grey, one bit per pixel: 1 is white.
  PngRecipe bits;
  bits.colorType = PNG_COLOR_TYPE_GRAY;
  bits.bitDepth = 1;
  ASSERT_TRUE(DecodeBytes(EncodePngBytes(3, 1, {Bytes({0b01000000})}, bits), image));
  EXPECT_EQ(PixelAt(image, 0, 0), 0x000000FFu);
  EXPECT_EQ(PixelAt(image, 1, 0), 0xFFFFFFFFu);
  // Grey with alpha.
  PngRecipe greyAlpha;
  greyAlpha.colorType = PNG_COLOR_TYPE_GRAY_ALPHA;
  ASSERT_TRUE(DecodeBytes(EncodePngBytes(1, 1, {Bytes({77, 9})}, greyAlpha), image));
  EXPECT_EQ(PixelAt(image, 0, 0), 0x4D4D4D09u);
  // RGBA keeps its alpha.
  PngRecipe rgba;
  rgba.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
  ASSERT_TRUE(DecodeBytes(EncodePngBytes(1, 1, {Bytes({1, 2, 3, 4})}, rgba), image));
  EXPECT_EQ(PixelAt(image, 0, 0), 0x03020104u);
}

TEST(PngDecode, GammaChunkAndInterlacingLeaveSamplesAsStored) {
  const PixelImage source = MakeNoiseImage(13, 11, 7);
  std::vector<std::vector<std::uint8_t>> rows;
  for (std::uint32_t y = 0; y < 11; ++y) {
    std::vector<std::uint8_t> row;
    for (std::uint32_t x = 0; x < 13; ++x) {
      const std::uint32_t p = PixelAt(source, x, y);
      row.insert(row.end(), {static_cast<std::uint8_t>(p >> 8), static_cast<std::uint8_t>(p >> 16),
                             static_cast<std::uint8_t>(p >> 24)});
    }
    rows.push_back(row);
  }
  PngRecipe recipe;
  recipe.gamma = 1.0 / 2.2;
  recipe.interlaced = true;
  PixelImage image;
  ASSERT_TRUE(DecodeBytes(EncodePngBytes(13, 11, rows, recipe), image));
  EXPECT_EQ(image.pixels, source.pixels);
}

TEST(PngDecode, DamagedFilesFail) {
  std::vector<std::vector<std::uint8_t>> rows(32, std::vector<std::uint8_t>(96, 0));
  for (size_t y = 0; y < rows.size(); ++y) rows[y][y] = static_cast<std::uint8_t>(y * 7);
  const std::string png = EncodePngBytes(32, 32, rows, {});
  PixelImage image;
  ASSERT_TRUE(DecodeBytes(png, image));
  const size_t idat = png.find("IDAT") - 4;
  // A flipped byte inside the compressed data breaks the chunk's CRC.
  std::string broken = png;
  broken[idat + 10] = static_cast<char>(broken[idat + 10] ^ 0x55);
  EXPECT_FALSE(DecodeBytes(broken, image));
  EXPECT_TRUE(image.pixels.empty());
  // Truncated inside IDAT, and just before IEND.
  EXPECT_FALSE(DecodeBytes(png.substr(0, idat + 12), image));
  EXPECT_FALSE(DecodeBytes(png.substr(0, png.size() - 12), image));
  // A header claiming 60000 x 60000 pixels, with a valid CRC.
  std::string huge = png;
  const char size[] = {0, 0, '\xEA', 0x60, 0, 0, '\xEA', 0x60};
  huge.replace(16, 8, size, 8);
  FixPngChunkCrc(huge, 8);
  EXPECT_FALSE(DecodeBytes(huge, image));
  EXPECT_TRUE(image.pixels.empty());
}

TEST(TiffDecode, FirstPageOfMultiPageFile) {
  ScopedTempFolder folder;
  TiffPage first{3, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}, 1};
  TiffPage second{5, 5, std::vector<std::uint8_t>(75, 200)};
  const std::string path = folder.Join("pages.tif");
  ASSERT_TRUE(WriteTiffFile(path, {first, second}));
  PixelImage image;
  ASSERT_TRUE(DecodeImageFile(path, image));
  ASSERT_EQ(image.width, 3u);
  ASSERT_EQ(image.height, 2u);
  EXPECT_EQ(PixelAt(image, 0, 0), 0x030201FFu);
  EXPECT_EQ(PixelAt(image, 2, 1), 0x121110FFu);
}

std::uint32_t ReadLe(const std::string& bytes, size_t at, int count) {
  std::uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

TEST(TiffDecode, StripBeyondTheFileFails) {
  ScopedTempFolder folder;
  TiffPage page{40, 30, std::vector<std::uint8_t>(40 * 30 * 3, 99), 10};
  const std::string path = folder.Join("three_strips.tif");
  ASSERT_TRUE(WriteTiffFile(path, {page}));
  std::string bytes = ReadTextFile(path);
  PixelImage image;
  ASSERT_TRUE(DecodeBytes(bytes, image));
  // Point the last of the three StripOffsets (tag 273, stored out of line)
  // past the end of the file.
  const std::uint32_t ifd = ReadLe(bytes, 4, 4);
  bool patched = false;
  for (std::uint32_t i = 0, n = ReadLe(bytes, ifd, 2); i < n; ++i) {
    const size_t entry = ifd + 2 + i * 12;
    if (ReadLe(bytes, entry, 2) != 273) continue;
    bytes.replace(ReadLe(bytes, entry + 8, 4) + 8, 4, Le32(static_cast<std::uint32_t>(bytes.size() + 1000)));
    patched = true;
  }
  ASSERT_TRUE(patched);
  EXPECT_FALSE(DecodeBytes(bytes, image));
  EXPECT_TRUE(image.pixels.empty());
}

TEST(BmpDecode, BottomUpAndTopDownRowsComeOutTopDown) {
  // Top row: blue, green; bottom row: red, white (BGR bytes).
  const std::vector<std::string> rows = {std::string("\xFF\x00\x00\x00\xFF\x00", 6),
                                         std::string("\x00\x00\xFF\xFF\xFF\xFF", 6)};
  for (bool topDown : {false, true}) {
    PixelImage image;
    ASSERT_TRUE(DecodeBytes(MakeBmp(2, rows, topDown), image)) << topDown;
    ASSERT_EQ(image.width, 2u);
    ASSERT_EQ(image.height, 2u);
    EXPECT_EQ(PixelAt(image, 0, 0), 0xFF0000FFu);
    EXPECT_EQ(PixelAt(image, 1, 0), 0x00FF00FFu);
    EXPECT_EQ(PixelAt(image, 0, 1), 0x0000FFFFu);
    EXPECT_EQ(PixelAt(image, 1, 1), 0xFFFFFFFFu);
  }
}

TEST(BmpDecode, TruncatedRowsFail) {
  const std::string bmp = MakeBmp(2, {std::string(6, '\x10'), std::string(6, '\x20')}, false);
  PixelImage image;
  EXPECT_FALSE(DecodeBytes(bmp.substr(0, bmp.size() - 3), image));
  EXPECT_TRUE(image.pixels.empty());
}

TEST(GifDecode, FirstFrameAndTruncation) {
  const std::string gif = MakeGif();
  PixelImage image;
  ASSERT_TRUE(DecodeBytes(gif, image));
  ASSERT_EQ(image.width, 2u);
  ASSERT_EQ(image.height, 1u);
  EXPECT_EQ(PixelAt(image, 0, 0), 0x0000FFFFu);
  EXPECT_EQ(PixelAt(image, 1, 0), 0xFF0000FFu);
  // Cut inside the first image's data block: stb_image alone would fill in zeros.
  EXPECT_FALSE(DecodeBytes(gif.substr(0, gif.size() - 3), image));
  EXPECT_TRUE(image.pixels.empty());
}

TEST(DecodeFile, BadInputsGiveFalseAndEmptyImage) {
  ScopedTempFolder folder;
  ASSERT_TRUE(WriteTextFile(folder.Join("empty.jpg"), ""));
  ASSERT_TRUE(WriteTextFile(folder.Join("text.jpg"), "Dies ist kein Bild.\n"));
  const std::string jpeg = EncodeJpegOf(MakeNoiseImage(32, 32, 9));
  ASSERT_TRUE(WriteTextFile(folder.Join("cut.jpg"), jpeg.substr(0, jpeg.size() / 2)));
  ASSERT_TRUE(WriteTextFile(folder.Join("good.jpg"), jpeg));
  for (const std::string name : {"missing.jpg", "empty.jpg", "text.jpg", "cut.jpg", ""}) {
    PixelImage image = MakeSolidImage(4, 4, 1, 2, 3);
    EXPECT_FALSE(DecodeImageFile(folder.Join(name), image)) << name;  // "" is the folder
    EXPECT_TRUE(image.pixels.empty()) << name;
    EXPECT_FALSE(IsUsableImage(image)) << name;
  }
  PixelImage image;
  EXPECT_TRUE(DecodeImageFile(folder.Join("good.jpg"), image));
  EXPECT_EQ(image.width, 32u);
}

TEST(DecodeFile, ContentDecidesNotTheExtension) {
  ScopedTempFolder folder;
  const std::vector<std::vector<std::uint8_t>> rows = {Bytes({9, 8, 7})};
  ASSERT_TRUE(WriteTextFile(folder.Join("really_a_png.jpg"), EncodePngBytes(1, 1, rows, {})));
  PixelImage image;
  ASSERT_TRUE(DecodeImageFile(folder.Join("really_a_png.jpg"), image));
  EXPECT_EQ(PixelAt(image, 0, 0), 0x070809FFu);
}

}  // namespace
