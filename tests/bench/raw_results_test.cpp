// Tests of the raw row format, the quoting and relative-path rules and the
// creation of a run folder.
#include <gtest/gtest.h>

#include "bench/raw_results.h"
#include "platform/files.h"
#include "tests/bench/bench_test_support.h"

namespace {

EncoderCandidate Candidate(std::int32_t engine, int quality, std::string label) {
  EncoderCandidate c;
  c.engine = engine;
  c.quality = quality;
  c.label = std::move(label);
  return c;
}

QualityReport Figures() {
  QualityReport r;
  r.global = 0.98;
  r.worst5 = 0.9;
  r.worst = 0.85;
  r.color = 0.99;
  r.edge = 0.97;
  r.ringing = 0.96;
  r.banding = 1.0;
  r.composite = 0.94;
  return r;
}

TEST(RawRowTest, FormatsADistanceRowExactly) {
  EncoderCandidate c = Candidate(kEngineJpegli, 90, "Jpegli Distanz 0.35");
  c.useDistance = true;
  c.distance = 0.35;
  c.progressive = true;
  EXPECT_EQ(FormatRawRowWithSize("/Bilder", "/Bilder/2024/a.jpg", 640, 480, 2000, c, 1000,
                                 Figures(), 125),
            "\"a.jpg\";\"2024/a.jpg\";640;480;2000;\"Jpegli Distanz 0.35\";\"Jpegli\";90;0.350;"
            "1;0;0;1000;0.500000;0.980000;0.900000;0.850000;0.990000;0.970000;0.960000;"
            "1.000000;0.940000;125.00\r\n");
}

TEST(RawRowTest, WicRowHasAnEmptyDistanceAndFailedRowsAreZero) {
  const std::string row = FormatRawRowWithSize("/r", "/r/b.png", 8, 8, 0,
                                               Candidate(kEngineWic, 96, "WIC Q96"), 0,
                                               QualityReport{}, 0.004);
  EXPECT_EQ(row,
            "\"b.png\";\"b.png\";8;8;0;\"WIC Q96\";\"WIC\";96;;0;0;0;0;0.000000;0.000000;"
            "0.000000;0.000000;0.000000;0.000000;0.000000;0.000000;0.000000;0.00\r\n");
  const std::string unknown = FormatRawRowWithSize("/r", "/r/b.png", 8, 8, 10,
                                                   Candidate(9, 1, "x"), 5, QualityReport{}, 1);
  EXPECT_NE(unknown.find(";\"Unbekannt\";1;;"), std::string::npos);
}

TEST(RawRowTest, ReadsTheSourceSizeFromDisk) {
  BenchTestFolders folders;
  const std::string path = JoinPath(folders.images, "s.jpg");
  ASSERT_TRUE(WriteTextFile(path, std::string(400, 'x')));
  const std::string row = FormatRawRow(folders.images, path, 2, 2,
                                       Candidate(kEngineWic, 90, "WIC Q90"), 100, QualityReport{}, 3);
  EXPECT_EQ(row.substr(0, 24), "\"s.jpg\";\"s.jpg\";2;2;400;");
  EXPECT_NE(row.find(";100;0.250000;"), std::string::npos);
}

TEST(CsvTextTest, DoublesQuotesAndKeepsSeparators) {
  EXPECT_EQ(QuoteCsvText("Jpegli Q96 420 Progressive"), "\"Jpegli Q96 420 Progressive\"");
  EXPECT_EQ(QuoteCsvText("a\"b;c"), "\"a\"\"b;c\"");
  EXPECT_EQ(QuoteCsvText(""), "\"\"");
}

TEST(RelativeImagePathTest, StripsTheRootIgnoringLetterCase) {
  EXPECT_EQ(RelativeImagePath("/data/Bilder", "/data/Bilder/2024/a.jpg"), "2024/a.jpg");
  EXPECT_EQ(RelativeImagePath("/data/Bilder/", "/data/Bilder/2024/a.jpg"), "2024/a.jpg");
  EXPECT_EQ(RelativeImagePath("/DATA/bilder", "/data/Bilder//x.jpg"), "x.jpg");
  // Only A-Z fold: a different umlaut case does not match.
  EXPECT_EQ(RelativeImagePath("/\xC3\x84", "/\xC3\xA4/sub/x.jpg"), "x.jpg");
  EXPECT_EQ(RelativeImagePath("/moved", "/data/Bilder/2024/a.jpg"), "a.jpg");
  EXPECT_EQ(RelativeImagePath("", "/data/a.jpg"), "a.jpg");
  EXPECT_EQ(RelativeImagePath("/data/a.jpg", "/data/a.jpg"), "a.jpg");
  EXPECT_EQ(ImageFileName("C:\\x\\y.jpg"), "y.jpg");
  EXPECT_EQ(ImageFileName("c:y.jpg"), "y.jpg");
}

class RunFolderTest : public ::testing::Test {
 protected:
  BenchTestFolders folders;
};

TEST_F(RunFolderTest, RunsOfTheSameSecondGetSuffixes) {
  const std::string runs = BenchmarkRunsFolder();
  std::string first, second, third;
  ASSERT_TRUE(ReserveRunFolder(runs, "20260805-142309", first));
  ASSERT_TRUE(ReserveRunFolder(runs, "20260805-142309", second));
  ASSERT_TRUE(ReserveRunFolder(runs, "20260805-142309", third));
  EXPECT_EQ(first, runs + "/Run_20260805-142309");
  EXPECT_EQ(second, runs + "/Run_20260805-142309_2");
  EXPECT_EQ(third, runs + "/Run_20260805-142309_3");
  EXPECT_TRUE(IsDirectory(third));
  std::string none;
  EXPECT_FALSE(ReserveRunFolder(folders.temp.Join("missing/deeper"), "x", none));
  EXPECT_TRUE(none.empty());
}

TEST_F(RunFolderTest, CreatesListHeaderAndSession) {
  BenchmarkSession session;
  session.root = folders.images;
  session.images = {"/p/\xC3\xA4 1.jpg", "/p/b.png"};
  ASSERT_TRUE(CreateBenchmarkRun(session));
  const std::string name = FileNamePart(session.sessionDir);
  EXPECT_EQ(ParentFolder(session.sessionDir), BenchmarkRunsFolder());
  ASSERT_GE(name.size(), 19u);
  EXPECT_EQ(name.substr(0, 4), "Run_");
  EXPECT_EQ(name[12], '-');
  EXPECT_EQ(session.csvPath, session.sessionDir + "/quality_profile_raw.csv");
  EXPECT_EQ(session.imageListPath, session.sessionDir + "/selected_images.txt");
  EXPECT_EQ(ReadTextFile(session.imageListPath), "\xEF\xBB\xBF/p/\xC3\xA4 1.jpg\n/p/b.png\n");
  EXPECT_EQ(ReadTextFile(session.csvPath), std::string("\xEF\xBB\xBF") + kRawHeader);
  EXPECT_EQ(std::string(kRawHeader).substr(0, 30), "image;relative_path;width;heig");
  EXPECT_TRUE(SessionFileExists());
  BenchmarkSession loaded;
  ASSERT_TRUE(LoadSession(loaded));
  EXPECT_EQ(loaded.images, session.images);
  EXPECT_EQ(loaded.sessionDir, session.sessionDir);

  // A second run right away never shares the first one's folder.
  BenchmarkSession next;
  next.images = {"/q.jpg"};
  ASSERT_TRUE(CreateBenchmarkRun(next));
  EXPECT_NE(next.sessionDir, session.sessionDir);
  EXPECT_EQ(ReadTextFile(session.imageListPath), "\xEF\xBB\xBF/p/\xC3\xA4 1.jpg\n/p/b.png\n");
}

}  // namespace
