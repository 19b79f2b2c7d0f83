// Tests of the bench command of orvel-cli: its arguments, a complete run with
// the five files of a run folder, and a Ctrl+C that keeps the session for
// --resume.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "bench/raw_results.h"
#include "bench/session.h"
#include "bench/summary.h"
#include "cli/bench_command.h"
#include "platform/files.h"
#include "tests/bench/bench_test_support.h"

namespace {

TEST(BenchArgumentsTest, ParsesANewRunAndAResume) {
  BenchCommandOptions options;
  std::string error;
  ASSERT_TRUE(ParseBenchArguments({"/photos", "--per-folder", "0", "--total", "abc", "--depth", "2"},
                                  options, error));
  EXPECT_FALSE(options.resume);
  EXPECT_EQ(options.root, "/photos");
  EXPECT_EQ(options.perFolder, 1);
  EXPECT_EQ(options.total, 5000);
  EXPECT_EQ(options.depth, 2);
  ASSERT_TRUE(ParseBenchArguments({"--total", "1000000", "rel"}, options, error));
  EXPECT_EQ(options.total, 50000);
  EXPECT_EQ(options.depth, 1);
  EXPECT_EQ(options.root.front(), '/');
  EXPECT_EQ(FileNamePart(options.root), "rel");
  ASSERT_TRUE(ParseBenchArguments({"--resume"}, options, error));
  EXPECT_TRUE(options.resume);
}

TEST(BenchArgumentsTest, RefusesWhatItCannotRun) {
  BenchCommandOptions options;
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{},
                                             {"/a", "/b"},
                                             {"--resume", "/a"},
                                             {"--resume", "--depth", "1"},
                                             {"/a", "--depth", "3"},
                                             {"/a", "--depth", "abc"},
                                             {"/a", "--total"},
                                             {"/a", "--fast"}}) {
    std::string error;
    EXPECT_FALSE(ParseBenchArguments(arguments, options, error)) << arguments.size();
    EXPECT_FALSE(error.empty());
  }
}

// Signals SIGINT to this process while the rows of one image are written,
// then gives the command's thread time to turn it into a cancel.
std::string interruptTrigger;
ssize_t InterruptingWrite(int fd, const void* data, size_t size) {
  const std::string_view bytes(static_cast<const char*>(data), size);
  if (!interruptTrigger.empty() && bytes.find(interruptTrigger) != std::string_view::npos) {
    interruptTrigger.clear();
    ::kill(::getpid(), SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
  }
  return ::write(fd, data, size);
}

class BenchCommandTest : public ::testing::Test {
 protected:
  BenchTestFolders folders;
  ScopedEngines engines{ORVEL_BENCH_TEST_JPEGTRAN, ""};

  void MakeImages(int count) {
    for (int i = 0; i < count; ++i) {
      const std::string folder = JoinPath(folders.images, i % 2 == 0 ? "even" : "odd");
      ASSERT_TRUE(MakeFolder(folder));
      ASSERT_TRUE(WriteTestJpeg(JoinPath(folder, "p" + std::to_string(i) + ".jpg"), 160, 128, i));
    }
  }

  int Run(const std::vector<std::string>& arguments, std::string& out) {
    BenchCommandOptions options;
    std::string error;
    EXPECT_TRUE(ParseBenchArguments(arguments, options, error)) << error;
    testing::internal::CaptureStdout();
    const int status = RunBenchWithPreparedEngines(options);
    out = testing::internal::GetCapturedStdout();
    return status;
  }

  static std::map<std::string, int> RowsPerImage(const std::string& csvPath) {
    std::map<std::string, int> rows;
    const std::vector<std::string> lines = SplitTextLines(ReadTextFile(csvPath));
    for (size_t i = 1; i < lines.size(); ++i) ++rows[SplitCsvLine(lines[i])[1]];
    return rows;
  }
};

TEST_F(BenchCommandTest, ACompleteRunWritesAllFiveFilesAndPrintsTheRunFolder) {
  if (std::string(ORVEL_BENCH_TEST_JPEGTRAN).empty()) GTEST_SKIP() << "jpegtran not installed";
  MakeImages(3);
  std::string out;
  ASSERT_EQ(Run({folders.images, "--depth", "0", "--per-folder", "1"}, out), 0);
  ASSERT_FALSE(out.empty());
  const std::string runFolder = out.substr(0, out.size() - 1);
  EXPECT_EQ(out.back(), '\n');
  EXPECT_EQ(ParentFolder(runFolder), BenchmarkRunsFolder());
  for (const char* name : {kRawFileName, kSelectedImagesFileName, kSummaryFileName, kManifestFileName}) {
    EXPECT_TRUE(IsRegularFile(JoinPath(runFolder, name))) << name;
  }
  // One image per folder: the selection holds two of the three.
  const std::vector<std::string> selected =
      SplitTextLines(ReadTextFile(JoinPath(runFolder, kSelectedImagesFileName)));
  ASSERT_EQ(selected.size(), 2u);
  EXPECT_EQ(selected[0].substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_EQ(RowsPerImage(JoinPath(runFolder, kRawFileName)).size(), 2u);
  EXPECT_FALSE(SessionFileExists());
  EXPECT_NE(ReadTextFile(JoinPath(runFolder, kManifestFileName)).find("MaxPerFolder=1\nDepth=0\n"),
            std::string::npos);
}

TEST_F(BenchCommandTest, InterruptKeepsTheSessionAndResumeFinishesWithoutRepeats) {
  if (std::string(ORVEL_BENCH_TEST_JPEGTRAN).empty()) GTEST_SKIP() << "jpegtran not installed";
  MakeImages(6);
  FileSystemCalls calls = ActiveFileSystemCalls();
  calls.write = InterruptingWrite;
  interruptTrigger = ";\"even/";
  SetFileSystemCalls(&calls);
  std::string out;
  const int status = Run({folders.images, "--depth", "0"}, out);
  SetFileSystemCalls(nullptr);
  ASSERT_EQ(status, 130);
  EXPECT_TRUE(SessionFileExists());
  BenchmarkSession saved;
  ASSERT_TRUE(LoadSession(saved));
  ASSERT_EQ(saved.images.size(), 6u);
  EXPECT_GT(saved.nextIndex.load(), 0u);
  EXPECT_LT(saved.nextIndex.load(), 6u);
  EXPECT_EQ(out, saved.sessionDir + "\n");
  EXPECT_FALSE(PathExists(JoinPath(saved.sessionDir, kSummaryFileName)));
  const size_t doneBefore = RowsPerImage(saved.csvPath).size();
  EXPECT_EQ(doneBefore, saved.nextIndex.load());

  ASSERT_EQ(Run({"--resume"}, out), 0);
  EXPECT_EQ(out, saved.sessionDir + "\n");
  const std::map<std::string, int> rows = RowsPerImage(saved.csvPath);
  EXPECT_EQ(rows.size(), 6u);
  for (const auto& [image, count] : rows) EXPECT_EQ(count, 8) << image;
  EXPECT_FALSE(SessionFileExists());
  EXPECT_TRUE(IsRegularFile(JoinPath(saved.sessionDir, kSummaryFileName)));

  // Nothing left to resume.
  EXPECT_EQ(Run({"--resume"}, out), 1);
}

TEST_F(BenchCommandTest, RefusesAMissingRootAnEmptyTreeAndAnUnconfirmedReplacement) {
  std::string out;
  EXPECT_EQ(Run({folders.temp.Join("missing")}, out), 2);
  EXPECT_EQ(Run({folders.images}, out), 1);  // no images
  EXPECT_TRUE(out.empty());
  if (::isatty(STDIN_FILENO) == 1) return;  // it would ask on the terminal
  MakeImages(1);
  BenchmarkSession old;
  old.root = "/old";
  ASSERT_TRUE(SaveSession(old));
  EXPECT_EQ(Run({folders.images}, out), 1);
  EXPECT_NE(ReadTextFile(SessionFilePath()).find("Root=/old\n"), std::string::npos);
}

}  // namespace
