// Tests of the data of a profile-development run: the benchmark grid, the
// image sampling (field parser, extension rule, order key, scan, balanced
// round-robin), the session file with its data folder and whole-file
// helpers, the raw rows and run folder, and the candidate summary.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>

#include <gtest/gtest.h>

#include "bench/benchmark_grid.h"
#include "bench/raw_results.h"
#include "bench/sampling.h"
#include "bench/session.h"
#include "bench/summary.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/bench/bench_test_support.h"
#include "tests/support/fault_calls.h"

namespace {

const ToolAvailability kAllTools{true, true, true};
const std::string kMark = "\xEF\xBB\xBF", kHeader = kRawHeader;
using Strings = std::vector<std::string>;

std::set<std::string> Labels(std::int32_t depth, bool jpeg) {
  std::set<std::string> labels;
  for (const EncoderCandidate& c : BuildBenchmarkGrid(depth, jpeg, kAllTools)) labels.insert(c.label);
  return labels;
}

TEST(BenchmarkGridTest, SizeFollowsDepthSourceAndToolsWithConsecutiveIds) {
  const struct { std::int32_t depth; bool jpeg; ToolAvailability tools; size_t size; } cases[] = {
      {0, false, kAllTools, 22}, {0, true, kAllTools, 24}, {1, false, kAllTools, 53}, {1, true, kAllTools, 55},
      {2, false, kAllTools, 189}, {2, true, kAllTools, 191},
      {-1, true, kAllTools, 24}, {7, true, kAllTools, 191},  // out of range: the nearest depth
      {1, true, {}, 11}, {0, true, {false, true, true}, 14},
      // jpegtran rows need both a JPEG source and the tool.
      {0, true, {true, true, false}, 22}, {0, false, {false, false, true}, 6}, {0, true, {false, false, true}, 8}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.depth) + (c.jpeg ? " jpeg " : " other ") + std::to_string(c.size));
    const auto grid = BuildBenchmarkGrid(c.depth, c.jpeg, c.tools);
    EXPECT_EQ(grid.size(), c.size);
    for (size_t i = 0; i < grid.size(); ++i) {
      EXPECT_EQ(grid[i].id, i + 1);
      EXPECT_TRUE((c.tools.jpegli || grid[i].engine != kEngineJpegli) &&
                  (c.tools.mozjpeg || grid[i].engine != kEngineMozjpeg) &&
                  (c.tools.jpegtran || grid[i].engine != kEngineJpegtran)) << grid[i].label;
    }
  }
}

TEST(BenchmarkGridTest, CompactJpegGridStartsAndEndsAsDocumented) {
  const auto grid = BuildBenchmarkGrid(0, true, kAllTools);
  Strings labels;
  for (const EncoderCandidate& c : grid) labels.push_back(c.label);
  EXPECT_EQ(Strings(labels.begin(), labels.begin() + 6),
            (Strings{"WIC Q96", "Jpegli Q96 420 Progressive", "MozJPEG Q96 420 Progressive+Trellis", "WIC Q90",
                     "Jpegli Q90 420 Progressive", "MozJPEG Q90 420 Progressive+Trellis"}));
  EXPECT_EQ(Strings(labels.begin() + 18, labels.end()),
            (Strings{"Jpegli Distanz 0.75", "Jpegli Distanz 1.00", "Jpegli Distanz 1.50", "Jpegli Distanz 2.00",
                     "jpegtran lossless optimize", "jpegtran lossless progressive"}));
  // {engine, quality, progressive, trellis, chroma444, useDistance, distance}
  using Fields = std::tuple<std::int32_t, int, bool, bool, bool, bool, double>;
  for (const auto& [i, fields] : {std::pair{0, Fields{kEngineWic, 96, false, false, false, false, 1.0}},
                                  std::pair{2, Fields{kEngineMozjpeg, 96, true, true, false, false, 1.0}},
                                  std::pair{19, Fields{kEngineJpegli, 90, true, false, false, true, 1.0}},
                                  std::pair{23, Fields{kEngineJpegtran, 90, true, false, false, false, 1.0}}}) {
    const EncoderCandidate& c = grid[i];
    EXPECT_EQ(Fields(c.engine, c.quality, c.progressive, c.trellis, c.chroma444, c.useDistance, c.distance), fields) << i;
  }
}

TEST(BenchmarkGridTest, OptionalRowsFollowDepthAndQuality) {
  for (const EncoderCandidate& c : BuildBenchmarkGrid(0, false, kAllTools)) {
    EXPECT_TRUE(!c.chroma444 && (c.engine == kEngineWic || c.progressive) &&
                (c.engine != kEngineMozjpeg || c.trellis)) << c.label;
  }
  std::set<int> plainMozjpeg, fullChroma;
  for (const EncoderCandidate& c : BuildBenchmarkGrid(1, false, kAllTools)) {
    if (c.engine == kEngineMozjpeg && !c.trellis) plainMozjpeg.insert(c.quality);
    if (c.chroma444) fullChroma.insert(c.quality);
  }
  EXPECT_EQ(plainMozjpeg, (std::set<int>{96, 88, 80, 72, 64, 56}));
  EXPECT_EQ(fullChroma, (std::set<int>{96, 92, 88}));
  const std::set<std::string> standard = Labels(1, false), deep = Labels(2, false);
  for (const char* label : {"MozJPEG Q80 420 Progressive", "Jpegli Q92 444 Progressive", "Jpegli Distanz 2.50"}) {
    EXPECT_EQ(standard.count(label), 1u) << label;
  }
  for (const char* label : {"Jpegli Distanz 0.35", "WIC Q40", "Jpegli Q98 420 Baseline", "MozJPEG Q42 420 Progressive",
                            "MozJPEG Q40 420 Baseline+Trellis", "MozJPEG Q88 444 Progressive+Trellis"}) {
    EXPECT_EQ(deep.count(label), 1u) << label;
  }
  EXPECT_EQ(deep.count("MozJPEG Q40 420 Progressive") + deep.count("MozJPEG Q86 444 Progressive+Trellis"), 0u);
}

TEST(ReadClampedIntegerTest, ParsesLikeTheFieldRulesSay) {
  const std::string spaces(62, ' ');
  const struct { std::string text; std::int32_t fallback, minimum, maximum, value; } cases[] = {
      {"abc", 5, 1, 50, 5}, {"", 5000, 10, 50000, 5000}, {"0", 5, 1, 50, 1}, {"1000000", 5000, 10, 50000, 50000},
      {"12abc", 5, 1, 50, 12}, {"  \t+7", 5, 1, 50, 7}, {"-3", 5, 1, 50, 1}, {"3", 5000, 10, 50000, 10},
      {"99999999999", 5, 1, 50, 5},  // beyond 32 bits the default wins, not the maximum
      {"- 4", 5, 1, 50, 5},
      // Only the first 63 characters are read.
      {spaces + "7", 5, 1, 50, 7}, {spaces + " 7", 5, 1, 50, 5}, {spaces + "42", 5, 1, 50, 4}};
  for (const auto& c : cases) {
    EXPECT_EQ(ReadClampedInteger(c.text, c.fallback, c.minimum, c.maximum), c.value) << "'" << c.text << "'";
  }
}

TEST(ImageFileRulesTest, AcceptsTheSevenExtensionsInAnyCase) {
  for (const char* name : {"PHOTO.JPG", "x.JPEG", "y.Tif", "z.TIFF", "a.jpe", "b.png", "c.bmp", "/d/e.f/g.jpg", ".jpg"}) {
    EXPECT_TRUE(IsBenchmarkImageFile(name)) << name;
  }
  for (const char* name : {"a.gif", "a.jpg.txt", "noext", "a. jpg", "a.jp g", "dir.jpg/file", "a.jpg "}) {
    EXPECT_FALSE(IsBenchmarkImageFile(name)) << name;
  }
  EXPECT_TRUE(IsJpegSourceFile("a.JPE"));
  EXPECT_FALSE(IsJpegSourceFile("a.png"));
  EXPECT_EQ(FindPathExtension("/a.b/c"), "");
  EXPECT_EQ(FindPathExtension("/a/b.tar.GZ"), ".GZ");
}

TEST(SampleOrderKeyTest, MatchesTheHashComputedByHand) {
  constexpr std::uint64_t start = 0x14650FB0739D0383ull, prime = 0x100000001B3ull;
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

  // Creates `count` empty image files in root/name; their paths in order-key order.
  Strings MakeGroup(const std::string& name, int count) {
    EXPECT_TRUE(EnsureFolder(JoinPath(folders.images, name)));
    Strings paths;
    for (int i = 0; i < count; ++i) {
      paths.push_back(JoinPath(folders.images, name + "/img" + std::to_string(i) + ".jpg"));
      EXPECT_TRUE(WriteTextFile(paths.back(), "x"));
    }
    std::sort(paths.begin(), paths.end(), SampleOrderLess);
    return paths;
  }
  ImageSample Sample(std::int32_t perFolder = 5, std::int32_t total = 5000, const std::string& tail = "") {
    return SelectBalancedSample(folders.images + tail, perFolder, total);
  }
};

TEST_F(SamplingTreeTest, BalancesThreeFoldersOfOneThreeAndTen) {
  const auto a = MakeGroup("A", 1), b = MakeGroup("B", 3), c = MakeGroup("C", 10);
  const ImageSample nine = Sample(5, 10);
  EXPECT_EQ(nine.images, (Strings{a[0], b[0], c[0], b[1], c[1], b[2], c[2], c[3], c[4]}));
  EXPECT_EQ(nine.imagesFound, 14u);
  EXPECT_EQ(nine.foldersFound, 4u);
  EXPECT_EQ(Sample(50, 10).images, (Strings{a[0], b[0], c[0], b[1], c[1], b[2], c[2], c[3], c[4], c[5]}));
}

TEST_F(SamplingTreeTest, CapsAFolderAtItsSmallestKeysAndOrdersFoldersByUtf16) {
  const auto twelve = MakeGroup("many", 12);
  EXPECT_EQ(Sample().images, Strings(twelve.begin(), twelve.begin() + 5));
  EXPECT_EQ(Sample(0, 0).images.size(), 1u);  // out-of-range caps are clamped: 0 per folder acts as 1
  ASSERT_TRUE(RemoveFolderTree(JoinPath(folders.images, "many")));
  // U+1F600 is a surrogate pair (0xD83D ...) and so sorts before U+FF01 in
  // UTF-16, although its UTF-8 bytes sort after it.
  const auto later = MakeGroup("\xEF\xBC\x81", 1), earlier = MakeGroup("\xF0\x9F\x98\x80", 1), first = MakeGroup("Z", 1);
  EXPECT_EQ(Sample().images, (Strings{first[0], earlier[0], later[0]}));
}

TEST_F(SamplingTreeTest, CountsEmptyAndUnreadableFoldersButNeverFollowsLinks) {
  ASSERT_TRUE(EnsureFolder(JoinPath(folders.images, "empty1")) && EnsureFolder(JoinPath(folders.images, "empty2")));
  const std::string alone = JoinPath(folders.images, "a.jpg");
  ASSERT_TRUE(WriteTextFile(alone, "x") && WriteTextFile(JoinPath(folders.images, "b.gif"), "x"));
  ImageSample sample = Sample(5, 5000, "/");  // a root with a trailing slash: single separators all the same
  EXPECT_EQ(std::tuple(sample.foldersFound, sample.imagesFound, sample.images), std::tuple(3u, 1u, Strings{alone}));
  ASSERT_TRUE(DeleteFileAt(alone));
  // A linked folder holding images is neither entered nor counted; a linked
  // file counts like the file; a pipe is left alone.
  const std::string outside = folders.temp.Join("outside");
  ASSERT_TRUE(EnsureFolder(outside) && WriteTextFile(JoinPath(outside, "o.jpg"), "x"));
  ASSERT_EQ(::symlink(outside.c_str(), JoinPath(folders.images, "link").c_str()), 0);
  ASSERT_EQ(::symlink(JoinPath(outside, "o.jpg").c_str(), JoinPath(folders.images, "linked.jpg").c_str()), 0);
  ASSERT_EQ(::mkfifo(JoinPath(folders.images, "pipe.jpg").c_str(), 0600), 0);
  sample = Sample();
  EXPECT_EQ(sample.foldersFound, 3u);
  EXPECT_EQ(sample.images, Strings{JoinPath(folders.images, "linked.jpg")});
  if (::geteuid() == 0) return;  // root lists any folder
  const std::string locked = JoinPath(folders.images, "locked");
  ASSERT_TRUE(EnsureFolder(locked) && WriteTextFile(JoinPath(locked, "hidden.jpg"), "x"));
  ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
  sample = Sample();
  ::chmod(locked.c_str(), 0700);
  EXPECT_EQ(sample.foldersFound, 4u);
  EXPECT_EQ(sample.imagesFound, 1u);
}

class SessionTest : public ::testing::Test {
 protected:
  BenchTestFolders folders;
  BenchmarkSession session;

  std::string WriteImageList(const std::string& text, const std::string& name = "list with space.txt") {
    EXPECT_TRUE(WriteTextFile(folders.temp.Join(name), text));
    return folders.temp.Join(name);
  }
  std::string TenImageList() {
    std::string list;
    for (int i = 0; i < 10; ++i) list += "/img/" + std::to_string(i) + ".jpg\n";
    return WriteImageList(list);
  }
  std::string SessionText(const std::string& listPath, const std::string& nextIndex, const std::string& depth) {
    return "Version=1.3.3\nRoot=/r\nSessionDir=" + folders.images + "\nCsvPath=/s/c.csv\nImageListPath=" + listPath +
           "\nMaxPerFolder=5\nMaxTotal=5000\nDepth=" + depth + "\nFoldersFound=3\nImagesFound=10\nNextIndex=" +
           nextIndex + "\nCompleted=4\n";
  }
  // Writes the session file and loads it.
  bool Load(const std::string& text) {
    EXPECT_TRUE(WriteTextFile(SessionFilePath(), text));
    return LoadSession(session);
  }
};

TEST_F(SessionTest, RoundTripKeepsEveryFieldWithUmlautsAndSpaces) {
  BenchmarkSession saved;
  saved.root = "/home/j\xC3\xBCrgen/Meine Bilder";
  saved.sessionDir = folders.temp.Join("Run \xC3\xA4");
  ASSERT_TRUE(EnsureFolder(saved.sessionDir));
  saved.csvPath = JoinPath(saved.sessionDir, "quality_profile_raw.csv");
  saved.imageListPath = WriteImageList(saved.root + "/\xC3\x96l 1.jpg\n/b.png\n");
  saved.maxPerFolder = 7;
  saved.maxTotal = -12;
  saved.depth = 2;
  saved.foldersFound = 18446744073709551615ull;
  saved.imagesFound = 42;
  saved.nextIndex = 1;
  saved.completed = 1;
  ASSERT_TRUE(SaveSession(saved));
  EXPECT_EQ(saved.sessionFilePath, folders.data + "/OrvelJpegOptimizer/benchmark_current.ini");
  const std::string text = "Version=1.3.3\nRoot=" + saved.root + "\nSessionDir=" + saved.sessionDir + "\nCsvPath=" +
                           saved.csvPath + "\nImageListPath=" + saved.imageListPath +
                           "\nMaxPerFolder=7\nMaxTotal=-12\nDepth=2\nFoldersFound=18446744073709551615\n"
                           "ImagesFound=42\nNextIndex=1\nCompleted=1\n";
  EXPECT_EQ(ReadTextFile(saved.sessionFilePath), text);
  EXPECT_TRUE(SessionFileExists());
  ASSERT_TRUE(LoadSession(session));
  EXPECT_EQ(ComposeSessionFile(session), text);
  EXPECT_EQ(session.sessionFilePath, saved.sessionFilePath);
  EXPECT_EQ(session.images, (Strings{saved.root + "/\xC3\x96l 1.jpg", "/b.png"}));
}

TEST_F(SessionTest, CrlfAndByteOrderMarkFilesLoadWithCleanValues) {
  const std::string listPath = WriteImageList(kMark + "/a b.jpg\r\n\r\n/c.jpg\r\n");
  std::string crlf = kMark;
  for (const char c : SessionText(listPath, "1", "0")) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  ASSERT_TRUE(Load(crlf));
  EXPECT_EQ(session.root + "|" + session.sessionDir + "|" + session.csvPath + "|" + session.imageListPath,
            "/r|" + folders.images + "|/s/c.csv|" + listPath);
  EXPECT_EQ(session.images, (Strings{"/a b.jpg", "/c.jpg"}));
  EXPECT_EQ(session.nextIndex.load(), 1u);
  EXPECT_EQ(session.depth, 0);
}

// What a session file must hold to resume: every key, a list with images,
// its run folder and raw file (without them a run would measure and write
// nothing), and numbers in range; a position beyond the list starts over,
// the end itself is kept, and a later line replaces an earlier one.
TEST_F(SessionTest, OnlyACompleteSessionResumes) {
  EXPECT_FALSE(SessionFileExists() || LoadSession(session));
  const std::string list = TenImageList(), text = SessionText(list, "0", "1");
  const auto with = [&text](const std::string& from, const std::string& to) {
    std::string changed = text;
    return changed.replace(changed.find(from), from.size(), to);
  };
  const std::string dirLine = "SessionDir=" + folders.images + "\n", csvLine = "CsvPath=/s/c.csv\n";
  const struct { std::string text; bool loads; std::uint64_t nextIndex; std::int32_t depth; } cases[] = {
      {SessionText(list, "99", "1"), true, 0, 1}, {SessionText(list, "10", "1"), true, 10, 1},
      {SessionText(list, "3", "7"), true, 3, 7}, {text + "Depth=2\n", true, 0, 2},
      {SessionText(list, "3", "abc"), false}, {SessionText(list, "-1", "1"), false},
      {SessionText(list, "3", "99999999999"), false}, {"Root\n" + text.substr(text.find("SessionDir")), false},
      {SessionText(WriteImageList("\r\n\n", "blank.txt"), "0", "1"), false},
      {SessionText(folders.temp.Join("missing.txt"), "0", "1"), false}, {with(dirLine, ""), false},
      {with(dirLine, "SessionDir=\n"), false}, {with(dirLine, "SessionDir=" + folders.temp.Join("gone") + "\n"), false},
      {with(csvLine, ""), false}, {with(csvLine, "CsvPath=\n"), false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_EQ(Load(c.text), c.loads);
    EXPECT_TRUE(!c.loads || (session.nextIndex.load() == c.nextIndex && session.depth == c.depth));
  }
  // A folder in the file's place is no session.
  ASSERT_TRUE(DeleteFileAt(SessionFilePath()) && EnsureFolder(SessionFilePath()));
  EXPECT_FALSE(SessionFileExists());
}

TEST(LocalDataFolderTest, FollowsTheFallbackOrder) {
  ScopedEnv local("LOCALAPPDATA", "/l"), xdg("XDG_DATA_HOME", "/x"), home("HOME", "/h");
  EXPECT_EQ(LocalDataFolder(), "/l");
  ScopedEnv emptyLocal("LOCALAPPDATA", "");
  EXPECT_EQ(LocalDataFolder(), "/x");
  ScopedEnv noXdg("XDG_DATA_HOME", nullptr);
  EXPECT_EQ(LocalDataFolder(), "/h/.local/share");
  ScopedEnv noHome("HOME", nullptr), noLocal("LOCALAPPDATA", nullptr);
  EXPECT_EQ(LocalDataFolder(), ProgramFolder());
}

TEST_F(SessionTest, WholeFileHelpersHandleMarksAndAllOrNothingAppends) {
  const std::string path = folders.temp.Join("w.txt"), created = folders.temp.Join("new.txt");
  ASSERT_TRUE(WriteWholeFile(path, "abc", true));
  EXPECT_EQ(ReadTextFile(path), kMark + "abc");
  EXPECT_EQ(ReadWholeFile(path), "abc");
  ASSERT_TRUE(WriteWholeFile(path, "", false));
  EXPECT_EQ(ReadTextFile(path), "");
  EXPECT_EQ(ReadWholeFile(folders.temp.Join("none")), "");
  ASSERT_TRUE(AppendToFile(path, "x\r\n") && AppendToFile(path, "") && AppendToFile(path, "y\r\n"));
  EXPECT_EQ(ReadTextFile(path), "x\r\ny\r\n");
  ASSERT_TRUE(AppendToFile(created, "z"));
  EXPECT_FALSE(AppendToFile("", "z"));
  EXPECT_EQ(ReadTextFile(created), "z");
  // A failed append leaves the file as it was (the session file's faults are
  // in the fault-injection suite).
  {
    ScopedFaults full(FaultPlan{.pathPart = path, .writeErrno = ENOSPC, .writeBudget = 5});
    EXPECT_FALSE(AppendToFile(path, "row one\r\nrow two\r\n"));
  }
  EXPECT_EQ(ReadTextFile(path), "x\r\ny\r\n");
}

EncoderCandidate Candidate(std::int32_t engine, int quality, std::string label) {
  EncoderCandidate c;
  c.engine = engine;
  c.quality = quality;
  c.label = std::move(label);
  return c;
}

TEST(RawRowTest, FormatsRowsExactly) {
  EncoderCandidate c = Candidate(kEngineJpegli, 90, "Jpegli Distanz 0.35");
  c.useDistance = c.progressive = true;
  c.distance = 0.35;
  const QualityReport figures{0.98, 0.9, 0.85, 0.99, 0.97, 0.96, 1.0, 0.94, {}};
  EXPECT_EQ(FormatRawRowWithSize("/Bilder", "/Bilder/2024/a.jpg", 640, 480, 2000, c, 1000, figures, 125),
            "\"a.jpg\";\"2024/a.jpg\";640;480;2000;\"Jpegli Distanz 0.35\";\"Jpegli\";90;0.350;1;0;0;1000;0.500000;"
            "0.980000;0.900000;0.850000;0.990000;0.970000;0.960000;1.000000;0.940000;125.00\r\n");
  // WIC has no distance; a failed row is all zeros, also its ratio.
  EXPECT_EQ(FormatRawRowWithSize("/r", "/r/b.png", 8, 8, 0, Candidate(kEngineWic, 96, "WIC Q96"), 0, {}, 0.004),
            "\"b.png\";\"b.png\";8;8;0;\"WIC Q96\";\"WIC\";96;;0;0;0;0;0.000000;0.000000;0.000000;0.000000;"
            "0.000000;0.000000;0.000000;0.000000;0.000000;0.00\r\n");
  EXPECT_NE(FormatRawRowWithSize("/r", "/r/b.png", 8, 8, 10, Candidate(9, 1, "x"), 5, {}, 1).find(";\"Unbekannt\";1;;"),
            std::string::npos);
  // FormatRawRow reads the source's size from disk.
  BenchTestFolders folders;
  const std::string path = JoinPath(folders.images, "s.jpg");
  ASSERT_TRUE(WriteTextFile(path, std::string(400, 'x')));
  const std::string row = FormatRawRow(folders.images, path, 2, 2, Candidate(kEngineWic, 90, "WIC Q90"), 100, {}, 3);
  EXPECT_EQ(row.substr(0, 24), "\"s.jpg\";\"s.jpg\";2;2;400;");
  EXPECT_NE(row.find(";100;0.250000;"), std::string::npos);
}

TEST(RawRowTest, QuotesTextAndStripsTheRootIgnoringLetterCase) {
  // Text a spreadsheet would take for a formula starts with an apostrophe.
  const struct { const char* text; const char* field; } quoted[] = {
      {"Jpegli Q96 420 Progressive", "\"Jpegli Q96 420 Progressive\""}, {"a\"b;c", "\"a\"\"b;c\""}, {"", "\"\""},
      {"=HYPERLINK(\"x\").jpg", "\"'=HYPERLINK(\"\"x\"\").jpg\""}, {"+1.jpg", "\"'+1.jpg\""}, {"-2.jpg", "\"'-2.jpg\""},
      {"@SUM(A1).jpg", "\"'@SUM(A1).jpg\""}, {"\tx.jpg", "\"'\tx.jpg\""}, {"\rx.jpg", "\"'\rx.jpg\""},
      {"a=b-c.jpg", "\"a=b-c.jpg\""}, {"'x.jpg", "\"'x.jpg\""}};
  for (const auto& c : quoted) EXPECT_EQ(QuoteCsvText(c.text), c.field) << c.field;
  const struct { const char* root; const char* path; const char* relative; } cases[] = {
      {"/data/Bilder", "/data/Bilder/2024/a.jpg", "2024/a.jpg"}, {"/data/Bilder/", "/data/Bilder/2024/a.jpg", "2024/a.jpg"},
      {"/DATA/bilder", "/data/Bilder//sub/x.jpg", "sub/x.jpg"}, {"/\xC3\x84", "/\xC3\xA4/sub/x.jpg", "x.jpg"},  // only A-Z fold
      {"/moved", "/data/Bilder/2024/a.jpg", "a.jpg"}, {"", "/data/a.jpg", "a.jpg"}, {"/data/a.jpg", "/data/a.jpg", "a.jpg"}};
  for (const auto& c : cases) EXPECT_EQ(RelativeImagePath(c.root, c.path), c.relative) << c.root;
  // "\\" and ":" are part of a Linux file name.
  for (const char* name : {"12:30 Feier.jpg", "C:\\x\\y.jpg", "a\\b.jpg"}) {
    EXPECT_EQ(ImageFileName(std::string("/data/") + name), name);
    EXPECT_EQ(RelativeImagePath("/data", std::string("/data/") + name), name);
  }
}

TEST_F(SessionTest, RunsOfTheSameSecondGetSuffixes) {
  const std::string runs = BenchmarkRunsFolder();
  EXPECT_EQ(runs, folders.data + "/OrvelJpegOptimizer/BenchmarkRuns");
  std::string folder;
  for (const char* suffix : {"", "_2", "_3"}) {
    ASSERT_TRUE(ReserveRunFolder(runs, "20260805-142309", folder));
    EXPECT_EQ(folder, runs + "/Run_20260805-142309" + suffix);
    EXPECT_TRUE(IsDirectory(folder));
  }
  EXPECT_FALSE(ReserveRunFolder(folders.temp.Join("missing/deeper"), "x", folder));
  EXPECT_TRUE(folder.empty());
}

TEST_F(SessionTest, ANewRunWritesItsListHeaderAndSession) {
  session.root = folders.images;
  session.images = {"/p/\xC3\xA4 1.jpg", "/p/b.png"};
  ASSERT_TRUE(CreateBenchmarkRun(session));
  const std::string name = FileNamePart(session.sessionDir);
  EXPECT_EQ(ParentFolder(session.sessionDir), BenchmarkRunsFolder());
  ASSERT_GE(name.size(), 19u);
  EXPECT_EQ(name.substr(0, 4) + name[12], "Run_-");
  EXPECT_EQ(session.csvPath, session.sessionDir + "/quality_profile_raw.csv");
  EXPECT_EQ(session.imageListPath, session.sessionDir + "/selected_images.txt");
  const std::string list = kMark + "/p/\xC3\xA4 1.jpg\n/p/b.png\n";
  EXPECT_EQ(ReadTextFile(session.imageListPath), list);
  EXPECT_EQ(ReadTextFile(session.csvPath), kMark + kHeader);
  BenchmarkSession loaded, next;
  ASSERT_TRUE(LoadSession(loaded));
  EXPECT_EQ(loaded.images, session.images);
  EXPECT_EQ(loaded.sessionDir, session.sessionDir);
  // A second run right away never shares the first one's folder.
  next.images = {"/q.jpg"};
  ASSERT_TRUE(CreateBenchmarkRun(next));
  EXPECT_NE(next.sessionDir, session.sessionDir);
  EXPECT_EQ(ReadTextFile(session.imageListPath), list);
}

TEST(SummaryRulesTest, SplitsCsvLinesAndInterpolatesPercentiles) {
  EXPECT_EQ(SplitCsvLine("\"a;b\";\"say \"\"hi\"\"\";3\r"), (Strings{"a;b", "say \"hi\"", "3"}));
  EXPECT_EQ(SplitCsvLine(""), Strings{""});
  EXPECT_EQ(SplitCsvLine("1;;2;"), (Strings{"1", "", "2", ""}));
  EXPECT_EQ(SplitCsvLine("x\"y\"z"), Strings{"xyz"});
  const std::vector<double> v{0.8, 0.2, 0.6, 0.4};
  EXPECT_DOUBLE_EQ(Percentile(v, 0.5), 0.5);
  EXPECT_NEAR(Percentile(v, 0.95), 0.77, 1e-12);
  EXPECT_EQ(FormatFixed(Percentile(v, 0.95), 6), "0.770000");
  EXPECT_NEAR(Percentile(v, 0.05), 0.23, 1e-12);
  for (const double p : {0.0, 0.05, 0.5, 0.95, 1.0}) EXPECT_EQ(Percentile({7}, p), 7);
  EXPECT_EQ(Percentile({}, 0.5), 0);
}

const std::string kSummaryHeader =
    "candidate_engine;tests;encoded_ok;smaller_percent;avg_size_ratio;median_size_ratio;p95_size_ratio;"
    "avg_saving_percent;avg_global;p05_global;avg_worst5;p05_worst5;avg_worst;p05_worst;avg_composite;"
    "p05_composite;avg_encode_ms;p95_encode_ms\r\n";

class SummaryTest : public SessionTest {
 protected:
  void SetUp() override {
    session.root = "/r";
    session.sessionDir = folders.temp.Join("run");
    ASSERT_TRUE(EnsureFolder(session.sessionDir));
    session.csvPath = JoinPath(session.sessionDir, kRawFileName);
    session.images = {"/r/a.jpg", "/r/b.jpg", "/r/c.jpg"};
    session.imagesFound = 12;
    session.foldersFound = 4;
    session.depth = 0;
  }
  static std::string Row(const std::string& image, const std::string& label, std::int32_t engine,
                         std::uint64_t encoded, double global, double encodeMs, std::uint64_t original = 100) {
    QualityReport r;
    if (encoded != 0) r = QualityReport{global, global - 0.1, global - 0.2, 0, 0, 0, 0, global - 0.05, {}};
    return FormatRawRowWithSize("/r", image, 4, 4, original, Candidate(engine, 0, label), encoded, r, encodeMs);
  }
  // Writes the raw file and summarises it; the summary's lines.
  Strings Summarise(const std::string& raw) {
    EXPECT_TRUE(WriteTextFile(session.csvPath, raw));
    EXPECT_TRUE(WriteCandidateSummary(session));
    return SplitLines(Summary());
  }
  std::string Summary() { return ReadTextFile(JoinPath(session.sessionDir, kSummaryFileName)); }
  std::string Manifest() { return ReadTextFile(JoinPath(session.sessionDir, kManifestFileName)); }
};

TEST_F(SummaryTest, ComputesEveryColumnOfAGroup) {
  Summarise(kMark + kHeader + Row("/r/a.jpg", "WIC Q90", kEngineWic, 500, 0.9, 10, 1000) +
            Row("/r/b.jpg", "WIC Q90", kEngineWic, 1500, 0.8, 20, 1000) +
            Row("/r/c.jpg", "WIC Q90", kEngineWic, 0, 0, 30, 1000));
  // ratios 0.5, 1.5, 0 (failed): avg 2/3; percentiles over 0.5 and 1.5 only.
  EXPECT_EQ(Summary(), kMark + kSummaryHeader +
                           "\"WIC Q90|WIC\";3;2;50.000;0.666667;1.000000;1.450000;33.333;0.566667;0.805000;"
                           "0.500000;0.705000;0.433333;0.605000;0.533333;0.755000;20.00;19.50\r\n");
  EXPECT_EQ(Manifest(), kMark + "Orvel JPEG Optimizer Benchmark\nVersion=1.3.3\nRoot=/r\nSelectedImages=3\n"
                                "ProcessedImages=3\nSkippedOrUnreadable=0\nFoundImages=12\nFoundFolders=4\n"
                                "MaxPerFolder=5\nDepth=0\nPurpose=Offline raw data for future fixed profile "
                                "calibration; not runtime adaptive control.\n");
}

TEST_F(SummaryTest, GroupsByLabelAndEngineInByteOrder) {
  const auto lines = Summarise(kHeader + Row("/r/a.jpg", "Same", kEngineMozjpeg, 50, 0.9, 1) +
                               Row("/r/a.jpg", "Same", kEngineJpegli, 50, 0.9, 1) +
                               Row("/r/a.jpg", "Q \"x\"", kEngineWic, 0, 0, 1) + Row("/r/b.jpg", "Q \"x\"", kEngineWic, 0, 0, 3));
  ASSERT_EQ(lines.size(), 4u);
  // A failed group: encoded_ok 0, smaller 0.000, percentiles 0.
  EXPECT_EQ(lines[1], "\"Q \"\"x\"\"|WIC\";2;0;0.000;0.000000;0.000000;0.000000;100.000;0.000000;0.000000;0.000000;"
                      "0.000000;0.000000;0.000000;0.000000;0.000000;2.00;0.00\r");
  EXPECT_EQ(lines[2].substr(0, 22), "\"Same|Jpegli\";1;1;100.");
  EXPECT_EQ(lines[3].substr(0, 23), "\"Same|MozJPEG\";1;1;100.");
  EXPECT_NE(Manifest().find("ProcessedImages=2\nSkippedOrUnreadable=1\n"), std::string::npos);
}

TEST_F(SummaryTest, SkipsMalformedLinesAndUnreadableNumbers) {
  std::string bad = Row("/r/a.jpg", "WIC Q90", kEngineWic, 50, 0.9, 4);
  bad.replace(bad.find(";0.900000;"), 10, ";abc;");
  // The bad row counts in tests, only b.jpg is encoded, empty numeric fields read as 0.
  const Strings fields = SplitCsvLine(
      Summarise(kHeader + "\r\n\"short\";\"line\"\r\n" + bad + Row("/r/b.jpg", "WIC Q90", kEngineWic, 25, 0.8, 8) +
                "\"c.jpg\";\"c.jpg\";1;1;1;\"WIC Q90\";\"WIC\";90;;0;0;0;;;;;;;;;;;")[1]);
  ASSERT_EQ(fields.size(), 18u);
  // Averages over 3: ratio (0.25 + 0) / 3, encode time (8 + 0) / 3.
  EXPECT_EQ(fields[1] + ";" + fields[2] + ";" + fields[4] + ";" + fields[5] + ";" + fields[16],
            "3;1;0.083333;0.250000;2.67");
}

TEST_F(SummaryTest, HeaderOnlyGivesEmptySummaryAndEmptyFileGivesNothing) {
  Summarise(kMark + kHeader);
  EXPECT_EQ(Summary(), kMark + kSummaryHeader);
  EXPECT_NE(Manifest().find("ProcessedImages=0\nSkippedOrUnreadable=3\n"), std::string::npos);
  ASSERT_TRUE(DeleteFileAt(JoinPath(session.sessionDir, kSummaryFileName)) &&
              DeleteFileAt(JoinPath(session.sessionDir, kManifestFileName)));
  for (const std::string& content : {std::string(), kMark}) {
    ASSERT_TRUE(WriteTextFile(session.csvPath, content));
    EXPECT_FALSE(WriteCandidateSummary(session));
    EXPECT_FALSE(PathExists(JoinPath(session.sessionDir, kSummaryFileName)) ||
                 PathExists(JoinPath(session.sessionDir, kManifestFileName)));
  }
  session.csvPath = folders.temp.Join("missing.csv");
  EXPECT_FALSE(WriteCandidateSummary(session));
}

// A raw file beyond the 128 MiB whole-file limit is still summarised: 65
// padding lines of 2 MiB, which no row comes near, are skipped without being
// held in memory.
TEST_F(SummaryTest, SummarisesRawFilesBeyondTheWholeFileLimit) {
  {
    UniqueFd file = CreateForWriting(session.csvPath);
    ASSERT_TRUE(WriteAll(file, kHeader.data(), kHeader.size()));
    std::string padding(2 << 20, ';');
    padding.back() = '\n';
    for (int i = 0; i < 65; ++i) ASSERT_TRUE(WriteAll(file, padding.data(), padding.size()));
    const std::string row = Row("/r/a.jpg", "WIC Q90", kEngineWic, 50, 0.9, 4);
    ASSERT_TRUE(WriteAll(file, row.data(), row.size()) && CloseChecked(file));
  }
  ASSERT_GT(FileSize(session.csvPath), kWholeFileLimit);
  ASSERT_TRUE(WriteCandidateSummary(session));
  EXPECT_EQ(SplitLines(Summary()).size(), 2u);
  EXPECT_EQ(Summary().find("\"WIC Q90|WIC\";1;1;100.000;0.500000"), kSummaryHeader.size() + 3);
}

}  // namespace
