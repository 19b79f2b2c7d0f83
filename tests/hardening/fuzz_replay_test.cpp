// Replays the committed fuzz seed corpora and every input that once broke a
// fuzz target (regressions/<target>/) through the targets' checking
// functions, so each finding stays fixed in the ordinary and sanitizer
// builds. Findings with a property of their own are checked explicitly below.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "fuzz/fuzz_targets.h"
#include "imaging/decode.h"
#include "platform/files.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAddressSanitizer = true;
#else
constexpr bool kUnderAddressSanitizer = false;
#endif

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> paths;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return paths;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string path = JoinPath(folder, entry->d_name);
    if (entry->d_name[0] != '.' && IsRegularFile(path)) paths.push_back(path);
  }
  ::closedir(dir);
  return paths;
}

std::string Regression(const std::string& target, const std::string& name) {
  std::string bytes;
  EXPECT_TRUE(ReadFileBytes(JoinPath(JoinPath(ORVEL_FUZZ_REGRESSIONS, target), name), bytes))
      << target << "/" << name;
  return bytes;
}

const std::uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

}  // namespace

TEST(FuzzReplayTest, EverySeedAndEveryRegressionKeepsItsProperties) {
  size_t replayed = 0;
  for (size_t t = 0; t < kFuzzTargetCount; ++t) {
    const std::string name = kFuzzTargetNames[t];
    const FuzzTarget target = FindFuzzTarget(name);
    ASSERT_NE(target, nullptr) << name;
    const std::vector<std::string> seeds = FilesIn(JoinPath(ORVEL_FUZZ_CORPUS, name));
    EXPECT_FALSE(seeds.empty()) << "no seed corpus for " << name;
    std::vector<std::string> inputs = seeds;
    for (const std::string& path : FilesIn(JoinPath(ORVEL_FUZZ_REGRESSIONS, name))) inputs.push_back(path);
    for (const std::string& path : inputs) {
      std::string bytes;
      ASSERT_TRUE(ReadFileBytes(path, bytes)) << path;
      EXPECT_TRUE(target(Bytes(bytes), bytes.size())) << path;
      ++replayed;
    }
  }
  EXPECT_GT(replayed, kFuzzTargetCount);
}

TEST(FuzzReplayTest, ImageSeedsAreValidImages) {
  // The decoder seeds are meant to decode; a seed that fails teaches the
  // fuzzer nothing about the paths behind a successful header.
  for (const char* target : {"decode_image", "decode_jpeg", "decode_png", "decode_tiff", "decode_bmp_gif"}) {
    for (const std::string& path : FilesIn(JoinPath(ORVEL_FUZZ_CORPUS, target))) {
      std::string bytes;
      ASSERT_TRUE(ReadFileBytes(path, bytes));
      PixelImage image;
      EXPECT_TRUE(DecodeImageMemory(Bytes(bytes), bytes.size(), image)) << path;
    }
  }
}

TEST(FuzzRegressionTest, GifWhoseScreenOutgrowsItsDataIsRefusedAtOnce) {
  // 63 bytes announcing a 32776 x 8256 screen with one 8 x 6 image: the
  // decoder used to let stb_image allocate and clear 2.4 GB for it.
  const std::string gif = Regression("decode_image", "gif_screen_32776x8256.gif");
  PixelImage image;
  EXPECT_FALSE(DecodeImageMemory(Bytes(gif), gif.size(), image));
  EXPECT_FALSE(DecodeBmpGifMemory(Bytes(gif), gif.size(), image));
  EXPECT_TRUE(image.pixels.empty());
}

TEST(FuzzRegressionTest, BmpWithACompressionValueAboveTwoToThe31IsRefused) {
  // 137 bytes announcing 65544 x 4102 pixels with compression 0xC64D4206,
  // which stb_image takes for uncompressed rows and fills with zeros: the
  // decoder used to produce a 1 GiB image of nothing from it.
  const std::string bmp = Regression("decode_image", "bmp_compression_above_2pow31.bmp");
  PixelImage image;
  EXPECT_FALSE(DecodeImageMemory(Bytes(bmp), bmp.size(), image));
  // The same file with its compression field set to BI_RGB is refused too:
  // it lacks the rows it promises.
  std::string plain = bmp;
  plain.replace(30, 4, std::string(4, '\0'));
  EXPECT_FALSE(DecodeImageMemory(Bytes(plain), plain.size(), image));
  EXPECT_TRUE(image.pixels.empty());
}

TEST(FuzzRegressionTest, InterlacedPngWithoutTheDataForItsSizeIsRefusedUntouched) {
  // 41 bytes: an interlaced 24640 x 32687 RGB header and an empty IDAT. The
  // passes need the whole buffer, which used to be cleared (3 GB) before the
  // missing data was noticed. AddressSanitizer writes shadow memory for large
  // allocations, so page faults are only counted without it.
  const std::string png = Regression("decode_png", "interlaced_24640x32687_no_data.png");
  rusage before{};
  ::getrusage(RUSAGE_SELF, &before);
  PixelImage image;
  EXPECT_FALSE(DecodePngMemory(Bytes(png), png.size(), image));
  EXPECT_FALSE(DecodeImageMemory(Bytes(png), png.size(), image));
  rusage after{};
  ::getrusage(RUSAGE_SELF, &after);
  if (!kUnderAddressSanitizer) {
    EXPECT_LT(after.ru_minflt - before.ru_minflt, 20000);
  }
  EXPECT_TRUE(image.pixels.empty());
}
