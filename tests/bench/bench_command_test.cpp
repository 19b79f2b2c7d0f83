// Tests of the bench command of orvel-cli: its arguments, a complete run with
// the files of a run folder, a run split in parts and merged, and a Ctrl+C
// that keeps the session for --resume.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "bench/raw_results.h"
#include "bench/run_parts.h"
#include "bench/session.h"
#include "bench/summary.h"
#include "cli/bench_command.h"
#include "platform/files.h"
#include "tests/bench/bench_test_support.h"

namespace {

TEST(BenchArgumentsTest, ParsesANewRunAResumeAPartAndAMerge) {
  BenchCommandOptions o;
  std::string error;
  ASSERT_TRUE(ParseBenchArguments({"/photos", "--per-folder", "0", "--total", "abc", "--depth", "2"}, o, error));
  EXPECT_FALSE(o.resume);
  EXPECT_EQ(o.root, "/photos");
  EXPECT_EQ(o.perFolder, 1);
  EXPECT_EQ(o.total, 5000);
  EXPECT_EQ(o.depth, 2);
  ASSERT_TRUE(ParseBenchArguments({"--total", "1000000", "rel"}, o, error));
  EXPECT_EQ(o.total, 50000);
  EXPECT_EQ(o.depth, 1);
  EXPECT_EQ(o.root.front(), '/');
  EXPECT_EQ(FileNamePart(o.root), "rel");
  ASSERT_TRUE(ParseBenchArguments({"--resume"}, o, error));
  EXPECT_TRUE(o.resume);
  ASSERT_TRUE(ParseBenchArguments({"/p", "--shard", "2/3"}, o, error));
  EXPECT_EQ(o.partIndex, 2);
  EXPECT_EQ(o.partCount, 3);
  ASSERT_TRUE(ParseBenchArguments({"--merge", "/a", "b"}, o, error));
  EXPECT_TRUE(o.merge);
  ASSERT_EQ(o.mergeFolders.size(), 2u);
  EXPECT_EQ(o.mergeFolders[0], "/a");
  EXPECT_EQ(o.mergeFolders[1].front(), '/');
}

TEST(BenchArgumentsTest, RefusesWhatItCannotRun) {
  BenchCommandOptions options;
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {}, {"/a", "/b"}, {"--resume", "/a"}, {"--resume", "--depth", "1"}, {"/a", "--depth", "3"},
           {"/a", "--depth", "abc"}, {"/a", "--total"}, {"/a", "--fast"}, {"/a", "--shard", "0/3"},
           {"/a", "--shard", "4/3"}, {"/a", "--shard", "1/0"}, {"/a", "--shard", "+1/3"},
           {"/a", "--shard", "3"}, {"--resume", "--shard", "1/2"}, {"--merge"}, {"--merge", "--resume"},
           {"--merge", "/a", "--depth", "1"}}) {
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
  // The run folder printed by a successful run.
  std::string RunFolder(const std::vector<std::string>& arguments) {
    std::string out;
    EXPECT_EQ(Run(arguments, out), 0);
    EXPECT_EQ(out.empty() ? '\n' : out.back(), '\n');
    return out.empty() ? out : out.substr(0, out.size() - 1);
  }
  // The summary's rows without the two time columns.
  static std::vector<std::string> SummaryWithoutTimes(const std::string& runFolder) {
    std::vector<std::string> rows;
    for (const std::string& line : SplitLines(ReadTextFile(JoinPath(runFolder, kSummaryFileName)))) {
      const std::vector<std::string> fields = SplitCsvLine(line);
      rows.emplace_back();
      for (size_t i = 0; i + 2 < fields.size(); ++i) rows.back() += fields[i] + ";";
    }
    return rows;
  }
};

TEST_F(BenchCommandTest, ACompleteRunWritesItsFilesAndPrintsTheRunFolder) {
  if (std::string(ORVEL_BENCH_TEST_JPEGTRAN).empty()) GTEST_SKIP() << "jpegtran not installed";
  MakeImages(3);
  const std::string runFolder = RunFolder({folders.images, "--depth", "0", "--per-folder", "1"});
  EXPECT_EQ(ParentFolder(runFolder), BenchmarkRunsFolder());
  for (const char* name : {kRawFileName, kSelectedImagesFileName, kSummaryFileName, kManifestFileName}) {
    EXPECT_TRUE(IsRegularFile(JoinPath(runFolder, name))) << name;
  }
  // One image per folder: the selection holds two of the three.
  const std::vector<std::string> selected = SplitLines(ReadTextFile(JoinPath(runFolder, kSelectedImagesFileName)));
  ASSERT_EQ(selected.size(), 2u);
  EXPECT_EQ(selected[0].substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_EQ(RowsPerImage(JoinPath(runFolder, kRawFileName)).size(), 2u);
  EXPECT_FALSE(SessionFileExists());
  EXPECT_NE(ReadTextFile(JoinPath(runFolder, kManifestFileName)).find("MaxPerFolder=1\nDepth=0\n"), std::string::npos);
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
  EXPECT_EQ(RowsPerImage(saved.csvPath, 1).size(), saved.nextIndex.load());

  ASSERT_EQ(Run({"--resume"}, out), 0);
  EXPECT_EQ(out, saved.sessionDir + "\n");
  const std::map<std::string, int> rows = RowsPerImage(saved.csvPath, 1);
  EXPECT_EQ(rows.size(), 6u);
  for (const auto& [image, count] : rows) EXPECT_EQ(count, 8) << image;
  EXPECT_FALSE(SessionFileExists());
  EXPECT_TRUE(IsRegularFile(JoinPath(saved.sessionDir, kSummaryFileName)));
  EXPECT_EQ(Run({"--resume"}, out), 1);  // nothing left to resume
}

TEST_F(BenchCommandTest, ARunSplitInThreePartsMergesToTheSummaryOfTheWholeRun) {
  if (std::string(ORVEL_BENCH_TEST_JPEGTRAN).empty()) GTEST_SKIP() << "jpegtran not installed";
  MakeImages(7);
  ASSERT_TRUE(WriteTextFile(JoinPath(folders.images, "odd/broken.jpg"), "no image"));
  const std::vector<std::string> common = {folders.images, "--depth", "0", "--per-folder", "4"};
  const std::string whole = RunFolder(common);
  std::vector<std::string> parts;
  size_t partImages = 0;
  for (const char* shard : {"1/3", "2/3", "3/3"}) {
    std::vector<std::string> arguments = common;
    arguments.insert(arguments.end(), {"--shard", shard});
    parts.push_back(RunFolder(arguments));
    partImages += RowsPerImage(JoinPath(parts.back(), kRawFileName), 1).size();
  }
  EXPECT_EQ(partImages, 7u) << "the parts are disjoint and cover the sample";
  const std::string firstPartSummary = ReadTextFile(JoinPath(parts[0], kSummaryFileName));

  const std::string merged = RunFolder({"--merge", parts[2], parts[0], parts[1]});
  ASSERT_EQ(ParentFolder(merged), BenchmarkRunsFolder());
  EXPECT_EQ(SummaryWithoutTimes(merged).size(), 9u);  // header, 6 WIC, 2 jpegtran
  EXPECT_EQ(SummaryWithoutTimes(merged), SummaryWithoutTimes(whole));
  for (const char* name : {kManifestFileName, kSkippedImagesFileName}) {
    EXPECT_EQ(ReadTextFile(JoinPath(merged, name)), ReadTextFile(JoinPath(whole, name))) << name;
  }
  EXPECT_NE(ReadTextFile(JoinPath(merged, kManifestFileName))
                .find("SelectedImages=8\nProcessedImages=7\nSkippedOrUnreadable=1\n"),
            std::string::npos);
  EXPECT_EQ(ReadTextFile(JoinPath(parts[0], kSummaryFileName)), firstPartSummary);

  // Refusals name the reason and create no folder. `changed` is parts[2]
  // copied with one line of its part file replaced (unfinished: without its
  // manifest).
  int copies = 0;
  const auto changed = [&](const std::string& from, const std::string& to, bool finished = true) {
    const std::string copy = folders.temp.Join("copy" + std::to_string(++copies));
    EXPECT_TRUE(MakeFolder(copy));
    for (const std::string name : {kRawFileName, kManifestFileName, kPartFileName}) {
      std::string text = ReadTextFile(JoinPath(parts[2], name));
      if (name == kPartFileName) text.replace(text.find(from), from.size(), to);
      EXPECT_TRUE((name == kManifestFileName && !finished) || WriteTextFile(JoinPath(copy, name), text));
    }
    return copy;
  };
  const size_t runsBefore = FolderEntries(BenchmarkRunsFolder(), "Run_").size();
  for (const auto& [given, reason] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{parts[0], whole, parts[2]}, "benchmark_part.txt fehlt"},
           {{parts[0], parts[1]}, "Es fehlen Teile: 3/3."},
           {{parts[0], parts[1], parts[2], parts[0]}, "Teil 1/3 ist doppelt"},
           {{parts[0], parts[1], changed("Depth=0", "Depth=1")}, "unterschiedliche Testtiefen"},
           {{parts[0], parts[1], changed("Engines=WIC,jpegtran", "Engines=WIC,Jpegli,jpegtran")},
            "unterschiedliche Kandidatenraster"},
           {{parts[0], parts[1], changed("SampleHash=", "SampleHash=0")}, "verschiedene Stichproben"},
           {{parts[0], parts[1], changed("Part=3/3", "Part=3/3", false)}, "nicht abgeschlossen"}}) {
    std::string folder, error;
    EXPECT_FALSE(MergeBenchmarkParts(given, folder, error)) << reason;
    EXPECT_NE(error.find(reason), std::string::npos) << error;
  }
  EXPECT_EQ(FolderEntries(BenchmarkRunsFolder(), "Run_").size(), runsBefore);
}

TEST_F(BenchCommandTest, RefusesAMissingRootAnEmptyTreeAndAnUnconfirmedReplacement) {
  std::string out;
  EXPECT_EQ(Run({folders.temp.Join("missing")}, out), 2);
  EXPECT_EQ(Run({folders.images}, out), 1);  // no images
  EXPECT_TRUE(out.empty());
  // A session without its run folder and raw file is no session.
  const std::string list = folders.temp.Join("list.txt");
  ASSERT_TRUE(WriteTextFile(list, "/img/a.jpg\n"));
  ASSERT_TRUE(WriteTextFile(SessionFilePath(), "Root=/img\nImageListPath=" + list +
                                                   "\nMaxPerFolder=5\nMaxTotal=10\nDepth=0\nFoldersFound=1\n"
                                                   "ImagesFound=1\nNextIndex=0\nCompleted=0\n"));
  EXPECT_EQ(Run({"--resume"}, out), 1);
  EXPECT_TRUE(out.empty());
  ASSERT_TRUE(DeleteFileAt(SessionFilePath()));
  if (::isatty(STDIN_FILENO) == 1) return;  // it would ask on the terminal
  MakeImages(1);
  BenchmarkSession old;
  old.root = "/old";
  ASSERT_TRUE(SaveSession(old));
  EXPECT_EQ(Run({folders.images}, out), 1);
  EXPECT_NE(ReadTextFile(SessionFilePath()).find("Root=/old\n"), std::string::npos);
}

}  // namespace
