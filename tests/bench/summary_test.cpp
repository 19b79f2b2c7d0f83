// Tests of the CSV splitter, the percentile rule and the candidate summary
// with its manifest.
#include <gtest/gtest.h>

#include "bench/raw_results.h"
#include "bench/summary.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/bench/bench_test_support.h"

namespace {

const char* const kSummaryHeaderLine =
    "candidate_engine;tests;encoded_ok;smaller_percent;avg_size_ratio;median_size_ratio;"
    "p95_size_ratio;avg_saving_percent;avg_global;p05_global;avg_worst5;p05_worst5;avg_worst;"
    "p05_worst;avg_composite;p05_composite;avg_encode_ms;p95_encode_ms\r\n";

TEST(SplitCsvLineTest, HandlesQuotesSeparatorsAndCarriageReturns) {
  EXPECT_EQ(SplitCsvLine("\"a;b\";\"say \"\"hi\"\"\";3\r"),
            (std::vector<std::string>{"a;b", "say \"hi\"", "3"}));
  EXPECT_EQ(SplitCsvLine(""), std::vector<std::string>{""});
  EXPECT_EQ(SplitCsvLine("1;;2;"), (std::vector<std::string>{"1", "", "2", ""}));
  EXPECT_EQ(SplitCsvLine("x\"y\"z"), std::vector<std::string>{"xyz"});
}

TEST(PercentileTest, InterpolatesBetweenRanks) {
  const std::vector<double> v{0.8, 0.2, 0.6, 0.4};
  EXPECT_DOUBLE_EQ(Percentile(v, 0.5), 0.5);
  EXPECT_NEAR(Percentile(v, 0.95), 0.77, 1e-12);
  EXPECT_EQ(FormatFixed(Percentile(v, 0.95), 6), "0.770000");
  EXPECT_NEAR(Percentile(v, 0.05), 0.23, 1e-12);
  for (const double p : {0.0, 0.05, 0.5, 0.95, 1.0}) EXPECT_EQ(Percentile({7}, p), 7);
  EXPECT_EQ(Percentile({}, 0.5), 0);
}

class SummaryTest : public ::testing::Test {
 protected:
  BenchTestFolders folders;
  BenchmarkSession session;

  void SetUp() override {
    session.root = "/r";
    session.sessionDir = folders.temp.Join("run");
    ASSERT_TRUE(MakeFolder(session.sessionDir));
    session.csvPath = JoinPath(session.sessionDir, kRawFileName);
    session.images = {"/r/a.jpg", "/r/b.jpg", "/r/c.jpg"};
    session.imagesFound = 12;
    session.foldersFound = 4;
    session.maxPerFolder = 5;
    session.depth = 0;
  }

  static std::string Row(const std::string& image, const std::string& label, std::int32_t engine,
                         std::uint64_t original, std::uint64_t encoded, double global,
                         double encodeMs) {
    EncoderCandidate c;
    c.engine = engine;
    c.label = label;
    QualityReport r;
    if (encoded != 0) {
      r.global = global;
      r.worst5 = global - 0.1;
      r.worst = global - 0.2;
      r.composite = global - 0.05;
    }
    return FormatRawRowWithSize("/r", image, 4, 4, original, c, encoded, r, encodeMs);
  }

  std::string Summary() { return ReadTextFile(JoinPath(session.sessionDir, kSummaryFileName)); }
  std::string Manifest() { return ReadTextFile(JoinPath(session.sessionDir, kManifestFileName)); }
};

TEST_F(SummaryTest, ComputesEveryColumnOfAGroup) {
  std::string raw = std::string("\xEF\xBB\xBF") + kRawHeader;
  raw += Row("/r/a.jpg", "WIC Q90", kEngineWic, 1000, 500, 0.9, 10);
  raw += Row("/r/b.jpg", "WIC Q90", kEngineWic, 1000, 1500, 0.8, 20);
  raw += Row("/r/c.jpg", "WIC Q90", kEngineWic, 1000, 0, 0, 30);
  ASSERT_TRUE(WriteTextFile(session.csvPath, raw));
  ASSERT_TRUE(WriteCandidateSummary(session));
  // ratios 0.5, 1.5, 0 (failed): avg 2/3; percentiles over 0.5 and 1.5 only.
  EXPECT_EQ(Summary(), std::string("\xEF\xBB\xBF") + kSummaryHeaderLine +
                           "\"WIC Q90|WIC\";3;2;50.000;0.666667;1.000000;1.450000;33.333;"
                           "0.566667;0.805000;0.500000;0.705000;0.433333;0.605000;0.533333;"
                           "0.755000;20.00;19.50\r\n");
  EXPECT_EQ(Manifest(),
            "\xEF\xBB\xBFOrvel JPEG Optimizer Benchmark\nVersion=1.3.3\nRoot=/r\n"
            "SelectedImages=3\nProcessedImages=3\nSkippedOrUnreadable=0\nFoundImages=12\n"
            "FoundFolders=4\nMaxPerFolder=5\nDepth=0\n"
            "Purpose=Offline raw data for future fixed profile calibration; not runtime adaptive "
            "control.\n");
}

TEST_F(SummaryTest, GroupsByLabelAndEngineInByteOrder) {
  std::string raw = kRawHeader;
  raw += Row("/r/a.jpg", "Same", kEngineMozjpeg, 100, 50, 0.9, 1);
  raw += Row("/r/a.jpg", "Same", kEngineJpegli, 100, 50, 0.9, 1);
  raw += Row("/r/a.jpg", "Q \"x\"", kEngineWic, 100, 0, 0, 1);
  raw += Row("/r/b.jpg", "Q \"x\"", kEngineWic, 100, 0, 0, 3);
  ASSERT_TRUE(WriteTextFile(session.csvPath, raw));
  ASSERT_TRUE(WriteCandidateSummary(session));
  const std::vector<std::string> lines = SplitLines(Summary());
  ASSERT_EQ(lines.size(), 4u);
  // A failed group: encoded_ok 0, smaller 0.000, percentiles 0.
  EXPECT_EQ(lines[1],
            "\"Q \"\"x\"\"|WIC\";2;0;0.000;0.000000;0.000000;0.000000;100.000;0.000000;0.000000;"
            "0.000000;0.000000;0.000000;0.000000;0.000000;0.000000;2.00;0.00\r");
  EXPECT_EQ(lines[2].substr(0, 22), "\"Same|Jpegli\";1;1;100.");
  EXPECT_EQ(lines[3].substr(0, 23), "\"Same|MozJPEG\";1;1;100.");
  EXPECT_EQ(SplitCsvLine(lines[1])[0], "Q \"x\"|WIC");
  EXPECT_NE(Manifest().find("ProcessedImages=2\nSkippedOrUnreadable=1\n"), std::string::npos);
}

TEST_F(SummaryTest, SkipsMalformedLinesAndUnreadableNumbers) {
  std::string raw = kRawHeader;
  raw += "\r\n";
  raw += "\"short\";\"line\"\r\n";
  std::string bad = Row("/r/a.jpg", "WIC Q90", kEngineWic, 100, 50, 0.9, 4);
  bad.replace(bad.find(";0.900000;"), 10, ";abc;");
  raw += bad;
  raw += Row("/r/b.jpg", "WIC Q90", kEngineWic, 100, 25, 0.8, 8);
  // Empty numeric fields read as 0.
  raw += "\"c.jpg\";\"c.jpg\";1;1;1;\"WIC Q90\";\"WIC\";90;;0;0;0;;;;;;;;;;;";
  ASSERT_TRUE(WriteTextFile(session.csvPath, raw));
  ASSERT_TRUE(WriteCandidateSummary(session));
  const std::vector<std::string> fields = SplitCsvLine(SplitLines(Summary())[1]);
  ASSERT_EQ(fields.size(), 18u);
  EXPECT_EQ(fields[1], "3");       // the bad row counts in tests
  EXPECT_EQ(fields[2], "1");       // only b.jpg encoded
  EXPECT_EQ(fields[4], "0.083333");  // (0.25 + 0) / 3
  EXPECT_EQ(fields[5], "0.250000");
  EXPECT_EQ(fields[16], "2.67");   // (8 + 0) / 3
}

TEST_F(SummaryTest, HeaderOnlyGivesEmptySummaryAndEmptyFileGivesNothing) {
  ASSERT_TRUE(WriteTextFile(session.csvPath, std::string("\xEF\xBB\xBF") + kRawHeader));
  ASSERT_TRUE(WriteCandidateSummary(session));
  EXPECT_EQ(Summary(), std::string("\xEF\xBB\xBF") + kSummaryHeaderLine);
  EXPECT_NE(Manifest().find("ProcessedImages=0\nSkippedOrUnreadable=3\n"), std::string::npos);

  ASSERT_TRUE(DeleteFileAt(JoinPath(session.sessionDir, kSummaryFileName)));
  ASSERT_TRUE(DeleteFileAt(JoinPath(session.sessionDir, kManifestFileName)));
  for (const std::string& content : {std::string(), std::string("\xEF\xBB\xBF")}) {
    ASSERT_TRUE(WriteTextFile(session.csvPath, content));
    EXPECT_FALSE(WriteCandidateSummary(session));
    EXPECT_FALSE(PathExists(JoinPath(session.sessionDir, kSummaryFileName)));
    EXPECT_FALSE(PathExists(JoinPath(session.sessionDir, kManifestFileName)));
  }
  session.csvPath = folders.temp.Join("missing.csv");
  EXPECT_FALSE(WriteCandidateSummary(session));
}

// A raw file beyond the 128 MiB whole-file limit is still summarised. The
// padding is 65 lines of 2 MiB, which no row of the program comes near: they
// are skipped without being held in memory.
TEST_F(SummaryTest, SummarisesRawFilesBeyondTheWholeFileLimit) {
  {
    UniqueFd file = CreateForWriting(session.csvPath);
    ASSERT_TRUE(WriteAll(file, kRawHeader, std::string(kRawHeader).size()));
    std::string padding(2 << 20, ';');
    padding.back() = '\n';
    for (int i = 0; i < 65; ++i) ASSERT_TRUE(WriteAll(file, padding.data(), padding.size()));
    const std::string row = Row("/r/a.jpg", "WIC Q90", kEngineWic, 100, 50, 0.9, 4);
    ASSERT_TRUE(WriteAll(file, row.data(), row.size()));
    ASSERT_TRUE(CloseChecked(file));
  }
  ASSERT_GT(FileSize(session.csvPath), kWholeFileLimit);
  ASSERT_TRUE(WriteCandidateSummary(session));
  EXPECT_EQ(SplitLines(Summary()).size(), 2u);
  EXPECT_EQ(Summary().find("\"WIC Q90|WIC\";1;1;100.000;0.500000"), std::string(kSummaryHeaderLine).size() + 3);
}

}  // namespace
