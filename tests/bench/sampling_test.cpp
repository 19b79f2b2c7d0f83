// Tests of the image sampling: the field parser, the extension rule, the
// order key, the scan and the balanced round-robin selection.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "bench/sampling.h"
#include "platform/files.h"
#include "tests/bench/bench_test_support.h"

namespace {

TEST(ReadClampedIntegerTest, ParsesLikeTheFieldRulesSay) {
  EXPECT_EQ(ReadClampedInteger("abc", 5, 1, 50), 5);
  EXPECT_EQ(ReadClampedInteger("", 5000, 10, 50000), 5000);
  EXPECT_EQ(ReadClampedInteger("0", 5, 1, 50), 1);
  EXPECT_EQ(ReadClampedInteger("1000000", 5000, 10, 50000), 50000);
  EXPECT_EQ(ReadClampedInteger("12abc", 5, 1, 50), 12);
  EXPECT_EQ(ReadClampedInteger("  \t+7", 5, 1, 50), 7);
  EXPECT_EQ(ReadClampedInteger("-3", 5, 1, 50), 1);
  EXPECT_EQ(ReadClampedInteger("3", 5000, 10, 50000), 10);
  // Beyond 32 bits the default wins, not the maximum.
  EXPECT_EQ(ReadClampedInteger("99999999999", 5, 1, 50), 5);
  EXPECT_EQ(ReadClampedInteger("- 4", 5, 1, 50), 5);
}

TEST(ReadClampedIntegerTest, ReadsOnlyTheFirst63Characters) {
  const std::string spaces(62, ' ');
  EXPECT_EQ(ReadClampedInteger(spaces + "7", 5, 1, 50), 7);
  EXPECT_EQ(ReadClampedInteger(spaces + " 7", 5, 1, 50), 5);
  EXPECT_EQ(ReadClampedInteger(spaces + "42", 5, 1, 50), 4);
}

TEST(ImageFileRulesTest, AcceptsTheSevenExtensionsInAnyCase) {
  for (const char* name : {"PHOTO.JPG", "x.JPEG", "y.Tif", "z.TIFF", "a.jpe", "b.png", "c.bmp",
                           "/d/e.f/g.jpg", ".jpg"}) {
    EXPECT_TRUE(IsBenchmarkImageFile(name)) << name;
  }
  for (const char* name : {"a.gif", "a.jpg.txt", "noext", "a. jpg", "a.jp g", "dir.jpg/file",
                           "a.jpg "}) {
    EXPECT_FALSE(IsBenchmarkImageFile(name)) << name;
  }
  EXPECT_TRUE(IsJpegSourceFile("a.JPE"));
  EXPECT_FALSE(IsJpegSourceFile("a.png"));
  EXPECT_EQ(FindPathExtension("/a.b/c"), "");
  EXPECT_EQ(FindPathExtension("/a/b.tar.GZ"), ".GZ");
}

TEST(SampleOrderKeyTest, MatchesTheHashComputedByHand) {
  constexpr std::uint64_t start = 0x14650FB0739D0383ull;
  constexpr std::uint64_t prime = 0x100000001B3ull;
  EXPECT_EQ(SampleOrderKey(""), start);
  // "a" is the code unit 0x0061: its low byte, then its high byte 0.
  const std::uint64_t byHand = ((start ^ 0x61) * prime ^ 0x00) * prime;
  EXPECT_EQ(SampleOrderKey("a"), byHand);
  EXPECT_EQ(SampleOrderKey("A"), byHand);
  // Non-ASCII letters keep their case; the hash runs over UTF-16 bytes.
  EXPECT_EQ(SampleOrderKey("/Fotos/\xC3\x84.JPG"), 0xd7aecdf1069bb825ull);
  EXPECT_NE(SampleOrderKey("/fotos/\xC3\xA4.jpg"), SampleOrderKey("/fotos/\xC3\x84.jpg"));
  EXPECT_EQ(SampleOrderKey("/x/\xF0\x9F\x98\x80.png"), 0x4d0a743ec774c23bull);
}

class SamplingTreeTest : public ::testing::Test {
 protected:
  BenchTestFolders folders;

  // Creates `count` empty image files in root/name; returns their paths in
  // order-key order.
  std::vector<std::string> MakeGroup(const std::string& name, int count) {
    const std::string folder = JoinPath(folders.images, name);
    EXPECT_TRUE(MakeFolder(folder));
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
      const std::string path = JoinPath(folder, "img" + std::to_string(i) + ".jpg");
      EXPECT_TRUE(WriteTextFile(path, "x"));
      paths.push_back(path);
    }
    std::sort(paths.begin(), paths.end(), SampleOrderLess);
    return paths;
  }
};

TEST_F(SamplingTreeTest, BalancesThreeFoldersOfOneThreeAndTen) {
  const auto a = MakeGroup("A", 1);
  const auto b = MakeGroup("B", 3);
  const auto c = MakeGroup("C", 10);
  const ImageSample nine = SelectBalancedSample(folders.images, 5, 10);
  EXPECT_EQ(nine.images, (std::vector<std::string>{a[0], b[0], c[0], b[1], c[1], b[2], c[2], c[3],
                                                   c[4]}));
  EXPECT_EQ(nine.imagesFound, 14u);
  EXPECT_EQ(nine.foldersFound, 4u);
  const ImageSample ten = SelectBalancedSample(folders.images, 50, 10);
  EXPECT_EQ(ten.images, (std::vector<std::string>{a[0], b[0], c[0], b[1], c[1], b[2], c[2], c[3],
                                                  c[4], c[5]}));
}

TEST_F(SamplingTreeTest, CapsAFolderAtItsSmallestKeysOnEveryRun) {
  const auto twelve = MakeGroup("many", 12);
  const ImageSample first = SelectBalancedSample(folders.images, 5, 5000);
  EXPECT_EQ(first.images, std::vector<std::string>(twelve.begin(), twelve.begin() + 5));
  EXPECT_EQ(SelectBalancedSample(folders.images, 5, 5000).images, first.images);
  // Out-of-range caps are clamped: 0 per folder acts as 1.
  EXPECT_EQ(SelectBalancedSample(folders.images, 0, 0).images.size(), 1u);
}

TEST_F(SamplingTreeTest, OrdersFoldersByUtf16CodeUnits) {
  // U+1F600 is a surrogate pair (0xD83D ...) and so sorts before U+FF01 in
  // UTF-16, although its UTF-8 bytes sort after it.
  const auto later = MakeGroup("\xEF\xBC\x81", 1);
  const auto earlier = MakeGroup("\xF0\x9F\x98\x80", 1);
  const auto first = MakeGroup("Z", 1);
  const ImageSample sample = SelectBalancedSample(folders.images, 5, 5000);
  EXPECT_EQ(sample.images, (std::vector<std::string>{first[0], earlier[0], later[0]}));
}

TEST_F(SamplingTreeTest, CountsEmptyAndUnreadableFoldersButNeverFollowsLinks) {
  ASSERT_TRUE(MakeFolder(JoinPath(folders.images, "empty1")));
  ASSERT_TRUE(MakeFolder(JoinPath(folders.images, "empty2")));
  ImageSample sample = SelectBalancedSample(folders.images, 5, 5000);
  EXPECT_EQ(sample.foldersFound, 3u);
  EXPECT_EQ(sample.imagesFound, 0u);
  EXPECT_TRUE(sample.images.empty());

  // A linked folder holding images is neither entered nor counted; a linked
  // file counts like the file.
  const std::string outside = folders.temp.Join("outside");
  ASSERT_TRUE(MakeFolder(outside));
  ASSERT_TRUE(WriteTextFile(JoinPath(outside, "o.jpg"), "x"));
  ASSERT_EQ(::symlink(outside.c_str(), JoinPath(folders.images, "link").c_str()), 0);
  ASSERT_EQ(::symlink(JoinPath(outside, "o.jpg").c_str(),
                      JoinPath(folders.images, "linked.jpg").c_str()), 0);
  ASSERT_EQ(::mkfifo(JoinPath(folders.images, "pipe.jpg").c_str(), 0600), 0);
  sample = SelectBalancedSample(folders.images, 5, 5000);
  EXPECT_EQ(sample.foldersFound, 3u);
  EXPECT_EQ(sample.images, std::vector<std::string>{JoinPath(folders.images, "linked.jpg")});

  if (::geteuid() != 0) {  // root lists any folder
    const std::string locked = JoinPath(folders.images, "locked");
    ASSERT_TRUE(MakeFolder(locked));
    ASSERT_TRUE(WriteTextFile(JoinPath(locked, "hidden.jpg"), "x"));
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    sample = SelectBalancedSample(folders.images, 5, 5000);
    ::chmod(locked.c_str(), 0700);
    EXPECT_EQ(sample.foldersFound, 4u);
    EXPECT_EQ(sample.imagesFound, 1u);
  }
}

TEST_F(SamplingTreeTest, RootWithTrailingSlashGivesSingleSeparators) {
  ASSERT_TRUE(WriteTextFile(JoinPath(folders.images, "a.jpg"), "x"));
  ASSERT_TRUE(WriteTextFile(JoinPath(folders.images, "b.gif"), "x"));
  const ImageSample sample = SelectBalancedSample(folders.images + "/", 5, 5000);
  EXPECT_EQ(sample.images, std::vector<std::string>{folders.images + "/a.jpg"});
  EXPECT_EQ(sample.imagesFound, 1u);
}

}  // namespace
