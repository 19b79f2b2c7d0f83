// The worker with every engine: the core tests' encoder stands in for cjpegli
// and MozJPEG cjpeg (it refuses any argument list other than the documented
// one), next to the real jpegtran.
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <chrono>

#include <gtest/gtest.h>

#include "bench/benchmark_grid.h"
#include "bench/raw_results.h"
#include "bench/summary.h"
#include "bench/worker.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tests/bench/bench_test_support.h"
#include "tests/core/core_test_support.h"

namespace {

TEST(WorkerWithAllToolsTest, EncodesAndMeasuresTheWholeStandardGrid) {
  BenchTestFolders folders;
  if (JpegtranProgram().empty()) GTEST_SKIP() << "jpegtran not installed";
  TestEngineStore engines(TestTools{true, true, true});
  const std::string jpeg = JoinPath(folders.images, "a.jpg");
  ASSERT_TRUE(WriteTestJpeg(jpeg, 160u, 128u, 3));
  BenchmarkSession session;
  BenchmarkWorker worker;
  session.root = folders.images;
  session.images = {jpeg};
  session.depth = 1;
  ASSERT_TRUE(CreateBenchmarkRun(session));
  ASSERT_TRUE(StartBenchmarkWorker(session, worker));
  JoinBenchmarkWorker(worker);

  const std::vector<EncoderCandidate> grid = BuildBenchmarkGrid(1, true);
  ASSERT_EQ(grid.size(), 55u);
  const std::vector<std::string> lines = SplitLines(ReadTextFile(session.csvPath));
  ASSERT_EQ(lines.size(), 56u);
  for (size_t i = 0; i < grid.size(); ++i) {
    const std::vector<std::string> fields = SplitCsvLine(lines[i + 1]);
    ASSERT_EQ(fields.size(), 23u);
    EXPECT_EQ(fields[5], grid[i].label);
    EXPECT_NE(fields[12], "0") << grid[i].label;
    EXPECT_NE(fields[21], "0.000000") << grid[i].label;
    EXPECT_EQ(fields[8].empty(), !grid[i].useDistance) << grid[i].label;
  }
  EXPECT_FALSE(SessionFileExists());
  EXPECT_EQ(SplitLines(ReadTextFile(JoinPath(session.sessionDir, kSummaryFileName))).size(), 56u);
  EXPECT_TRUE(WorkFoldersIn(folders.tmp).empty());
}

// The tools get "bench.ppm", only a JPEG source gets "original.jpg" and the
// jpegtran rows, and a tool that fails leaves rows of zeros.
TEST(WorkerWithAllToolsTest, ToolsGetThePpmAndOnlyJpegSourcesGetJpegtran) {
  BenchTestFolders folders;
  if (JpegtranProgram().empty()) GTEST_SKIP() << "jpegtran not installed";
  TestEngineStore engines(TestTools{true, true, true});
  ScopedEnv failMozjpeg("ORVEL_TEST_CJPEG_STATIC", "fail");
  const std::string jpeg = JoinPath(folders.images, "a.jpg");
  const std::string bmp = JoinPath(folders.images, "c.bmp");
  ASSERT_TRUE(WriteTestJpeg(jpeg, 160u, 128u, 1));
  ASSERT_TRUE(WriteTestBmp(bmp, 150, 130, 2));
  BenchmarkSession session;
  BenchmarkWorker worker;
  session.root = folders.images;
  session.images = {jpeg, bmp};
  session.depth = 0;
  ASSERT_TRUE(CreateBenchmarkRun(session));
  std::mutex mutex;
  std::map<std::uint64_t, std::set<std::string>> workFiles;
  // At the first candidate of each image, note the files in its work folder.
  const auto listWorkFiles = [&] {
    if (session.currentCandidate.load() != 1) return;
    std::lock_guard<std::mutex> lock(mutex);
    for (const std::string& name : WorkFoldersIn(folders.tmp)) {
      for (const std::string& file : FolderEntries(JoinPath(folders.tmp, name), "")) {
        workFiles[session.nextIndex.load()].insert(file);
      }
    }
  };
  SetBenchmarkNotifications(worker, BenchmarkNotifications{listWorkFiles, nullptr});
  ASSERT_TRUE(StartBenchmarkWorker(session, worker));
  JoinBenchmarkWorker(worker);
  SetBenchmarkNotifications(worker, BenchmarkNotifications{});

  // Besides the folder's lock file.
  EXPECT_EQ(workFiles[0], (std::set<std::string>{".lock", "bench.ppm", "original.jpg"}));
  EXPECT_EQ(workFiles[1], (std::set<std::string>{".lock", "bench.ppm"}));
  const std::vector<std::string> lines = SplitLines(ReadTextFile(session.csvPath));
  ASSERT_EQ(lines.size(), 1u + 24u + 22u);
  int jpegtranRows = 0;
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> fields = SplitCsvLine(lines[i]);
    if (fields[6] == "jpegtran") {
      ++jpegtranRows;
      EXPECT_EQ(fields[0], "a.jpg");
      EXPECT_EQ(fields[21], "1.000000");  // lossless
    }
    if (fields[6] == "MozJPEG") {
      EXPECT_EQ(fields[12], "0");
      EXPECT_EQ(fields[13], "0.000000");
      EXPECT_EQ(fields[14], "0.000000");
    } else {
      EXPECT_NE(fields[12], "0") << fields[5];
    }
  }
  EXPECT_EQ(jpegtranRows, 2);
  EXPECT_TRUE(WorkFoldersIn(folders.tmp).empty());
}

// A cancel ends a hung tool at once; its image is not counted and stays next.
TEST(WorkerWithAllToolsTest, CancelKillsAHungToolAndTheImageIsNotCounted) {
  BenchTestFolders folders;
  TestEngineStore engines(TestTools{true, false, false});
  const std::string log = JoinPath(folders.temp.path, "encoder.log");
  ScopedEnv logEnv("ORVEL_TEST_ENCODER_LOG", log.c_str());
  ScopedEnv hang("ORVEL_TEST_CJPEGLI", "hang");
  const std::string jpeg = JoinPath(folders.images, "a.jpg");
  ASSERT_TRUE(WriteTestJpeg(jpeg, 160u, 128u, 4));
  BenchmarkSession session;
  BenchmarkWorker worker;
  session.root = folders.images;
  session.images = {jpeg};
  session.depth = 0;
  ASSERT_TRUE(CreateBenchmarkRun(session));
  const std::string header = ReadTextFile(session.csvPath);
  ASSERT_TRUE(StartBenchmarkWorker(session, worker));
  for (int i = 0; i < 30000 && ReadTextFile(log).find("cjpegli hang") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_NE(ReadTextFile(log).find("cjpegli hang"), std::string::npos);
  CancelBenchmarkWorker(session, worker);
  JoinBenchmarkWorker(worker);
  EXPECT_EQ(session.completed.load(), 0u);
  EXPECT_EQ(session.nextIndex.load(), 0u);
  EXPECT_EQ(ReadTextFile(session.csvPath), header);
  EXPECT_TRUE(WorkFoldersIn(folders.tmp).empty());
  ResetToolRunCancellation();
}

}  // namespace
