// Replays the committed fuzz seed corpora and every input that once broke a
// fuzz target (regressions/<target>/) through the targets' checking
// functions, so each finding stays fixed in the ordinary and sanitizer
// builds. Findings with a property of their own are checked explicitly below.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include "fuzz/fuzz_targets.h"
#include "imaging/decode.h"
#include "platform/files.h"
#include "tests/support/file_system.h"

namespace {

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> paths;
  for (const std::string& name : FolderEntries(folder)) {
    if (name[0] != '.' && IsRegularFile(JoinPath(folder, name))) paths.push_back(JoinPath(folder, name));
  }
  return paths;
}

std::string Bytes(const std::string& path) {
  std::string bytes;
  EXPECT_TRUE(ReadFileBytes(path, bytes)) << path;
  return bytes;
}

// Whether the image decoders accept the bytes; `decode` is one of them.
template <typename Decode>
bool Decodes(Decode decode, const std::string& bytes) {
  PixelImage image;
  const bool decoded = decode(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), image, nullptr);
  EXPECT_TRUE(decoded || image.pixels.empty());
  return decoded;
}

TEST(FuzzReplayTest, EverySeedAndEveryRegressionKeepsItsProperties) {
  size_t replayed = 0;
  for (size_t t = 0; t < kFuzzTargetCount; ++t) {
    const std::string name = kFuzzTargetNames[t];
    const FuzzTarget target = FindFuzzTarget(name);
    ASSERT_NE(target, nullptr) << name;
    std::vector<std::string> inputs = FilesIn(JoinPath(ORVEL_FUZZ_CORPUS, name));
    EXPECT_FALSE(inputs.empty()) << "no seed corpus for " << name;
    for (const std::string& path : FilesIn(JoinPath(ORVEL_FUZZ_REGRESSIONS, name))) inputs.push_back(path);
    for (const std::string& path : inputs) {
      const std::string bytes = Bytes(path);
      EXPECT_TRUE(target(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())) << path;
      ++replayed;
    }
  }
  EXPECT_GT(replayed, kFuzzTargetCount);
  // The decoder seeds are meant to decode; a seed that fails teaches the
  // fuzzer nothing about the paths behind a successful header.
  for (const char* target : {"decode_image", "decode_jpeg", "decode_png", "decode_tiff", "decode_bmp_gif"}) {
    for (const std::string& path : FilesIn(JoinPath(ORVEL_FUZZ_CORPUS, target))) {
      EXPECT_TRUE(Decodes(DecodeImageMemory, Bytes(path))) << path;
    }
  }
}

TEST(FuzzRegressionTest, ImagesPromisingMoreThanTheyHoldAreRefusedUntouched) {
  // 63 bytes announcing a 32776 x 8256 screen with one 8 x 6 image: the
  // decoder used to let stb_image allocate and clear 2.4 GB for it.
  const std::string gif = Bytes(JoinPath(ORVEL_FUZZ_REGRESSIONS, "decode_image/gif_screen_32776x8256.gif"));
  EXPECT_FALSE(Decodes(DecodeImageMemory, gif));
  EXPECT_FALSE(Decodes(DecodeBmpGifMemory, gif));
  // 137 bytes announcing 65544 x 4102 pixels with compression 0xC64D4206,
  // which stb_image takes for uncompressed rows and fills with zeros: the
  // decoder used to produce a 1 GiB image of nothing from it. With its
  // compression field set to BI_RGB it lacks the rows it promises.
  std::string bmp = Bytes(JoinPath(ORVEL_FUZZ_REGRESSIONS, "decode_image/bmp_compression_above_2pow31.bmp"));
  EXPECT_FALSE(Decodes(DecodeImageMemory, bmp));
  EXPECT_FALSE(Decodes(DecodeImageMemory, bmp.replace(30, 4, std::string(4, '\0'))));
}

TEST(FuzzRegressionTest, InterlacedPngWithoutTheDataForItsSizeIsRefusedUntouched) {
  // 41 bytes: an interlaced 24640 x 32687 RGB header and an empty IDAT. The
  // passes need the whole buffer, which used to be cleared (3 GB) before the
  // missing data was noticed. AddressSanitizer writes shadow memory for large
  // allocations, so page faults are only counted without it.
  const std::string png = Bytes(JoinPath(ORVEL_FUZZ_REGRESSIONS, "decode_png/interlaced_24640x32687_no_data.png"));
  rusage before{}, after{};
  ::getrusage(RUSAGE_SELF, &before);
  EXPECT_FALSE(Decodes(DecodePngMemory, png));
  EXPECT_FALSE(Decodes(DecodeImageMemory, png));
  ::getrusage(RUSAGE_SELF, &after);
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(after.ru_minflt - before.ru_minflt, 20000);
#endif
}

}  // namespace
