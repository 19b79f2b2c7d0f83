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

TEST(BenchArgumentsTest, ParsesANewRunAResumeAPartAndAMergeAndRefusesWhatItCannotRun) {
  BenchCommandOptions o;
  std::string error;
  ASSERT_TRUE(ParseBenchArguments({"/photos", "--per-folder", "0", "--total", "abc", "--depth", "2"}, o, error));
  EXPECT_EQ(std::tuple(o.resume, o.root, o.perFolder, o.total, o.depth), std::tuple(false, "/photos", 1, 5000, 2));
  ASSERT_TRUE(ParseBenchArguments({"--total", "1000000", "rel"}, o, error));
  EXPECT_EQ(std::tuple(o.total, o.depth, o.root.front(), FileNamePart(o.root)), std::tuple(50000, 1, '/', "rel"));
  ASSERT_TRUE(ParseBenchArguments({"--resume"}, o, error));
  EXPECT_TRUE(o.resume);
  ASSERT_TRUE(ParseBenchArguments({"/p", "--shard", "2/3"}, o, error));
  EXPECT_EQ(std::tuple(o.partIndex, o.partCount), std::tuple(2, 3));
  ASSERT_TRUE(ParseBenchArguments({"--merge", "/a", "b"}, o, error));
  ASSERT_TRUE(o.merge && o.mergeFolders.size() == 2u);
  EXPECT_EQ(std::tuple(o.mergeFolders[0], o.mergeFolders[1].front()), std::tuple("/a", '/'));
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {}, {"/a", "/b"}, {"--resume", "/a"}, {"--resume", "--depth", "1"}, {"/a", "--depth", "3"},
           {"/a", "--depth", "abc"}, {"/a", "--total"}, {"/a", "--fast"}, {"/a", "--shard", "0/3"},
           {"/a", "--shard", "4/3"}, {"/a", "--shard", "1/0"}, {"/a", "--shard", "+1/3"},
           {"/a", "--shard", "3"}, {"--resume", "--shard", "1/2"}, {"--merge"}, {"--merge", "--resume"},
           {"--merge", "/a", "--depth", "1"}}) {
    error.clear();
    EXPECT_FALSE(ParseBenchArguments(arguments, o, error)) << arguments.size();
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
  TestEngineStore engines{TestTools{false, false, true}};

  void MakeImages(int count) {
    for (int i = 0; i < count; ++i) {
      const std::string folder = JoinPath(folders.images, i % 2 == 0 ? "even" : "odd");
      ASSERT_TRUE(EnsureFolder(folder) && WriteTestJpeg(JoinPath(folder, "p" + std::to_string(i) + ".jpg"),
                                                        MakeTestPicture(160, 128, static_cast<std::uint32_t>(i)), 92));
    }
  }
  int Run(const std::vector<std::string>& arguments, std::string& out) {
    BenchCommandOptions options;
    std::string error;
    EXPECT_TRUE(ParseBenchArguments(arguments, options, error)) << error;
    testing::internal::CaptureStdout();
    const int status = RunBenchWithPreparedEngines(options);
    return out = testing::internal::GetCapturedStdout(), status;
  }
  // The run folder printed by a successful run.
  std::string RunFolder(const std::vector<std::string>& arguments) {
    std::string out;
    EXPECT_EQ(Run(arguments, out), 0);
    EXPECT_TRUE(!out.empty() && out.back() == '\n') << out;
    return out.substr(0, std::max<size_t>(out.size(), 1) - 1);
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

TEST_F(BenchCommandTest, InterruptKeepsTheSessionAndResumeFinishesWithoutRepeats) {
  if (JpegtranProgram().empty()) GTEST_SKIP() << "jpegtran not installed";
  MakeImages(6);
  FileSystemCalls calls = ActiveFileSystemCalls();
  calls.write = InterruptingWrite;
  interruptTrigger = ";\"even/";
  SetFileSystemCalls(&calls);
  std::string out;
  const int status = Run({folders.images, "--depth", "0"}, out);
  SetFileSystemCalls(nullptr);
  BenchmarkSession saved;
  ASSERT_TRUE(status == 130 && SessionFileExists() && LoadSession(saved) && saved.images.size() == 6u) << status;
  EXPECT_TRUE(saved.nextIndex.load() > 0u && saved.nextIndex.load() < 6u) << saved.nextIndex.load();
  EXPECT_EQ(out, saved.sessionDir + "\n");
  EXPECT_FALSE(PathExists(JoinPath(saved.sessionDir, kSummaryFileName)));
  EXPECT_EQ(RowsPerImage(saved.csvPath, 1).size(), saved.nextIndex.load());

  ASSERT_EQ(Run({"--resume"}, out), 0);
  EXPECT_EQ(out, saved.sessionDir + "\n");
  const std::map<std::string, int> rows = RowsPerImage(saved.csvPath, 1);
  EXPECT_EQ(rows.size(), 6u);
  for (const auto& [image, count] : rows) EXPECT_EQ(count, 8) << image;
  EXPECT_TRUE(!SessionFileExists() && IsRegularFile(JoinPath(saved.sessionDir, kSummaryFileName)));
  EXPECT_EQ(Run({"--resume"}, out), 1);  // nothing left to resume
}

TEST_F(BenchCommandTest, ACompleteRunWritesItsFilesAndARunSplitInThreePartsMergesToTheSameSummary) {
  if (JpegtranProgram().empty()) GTEST_SKIP() << "jpegtran not installed";
  MakeImages(7);
  ASSERT_TRUE(WriteTextFile(JoinPath(folders.images, "odd/broken.jpg"), "no image"));
  const std::vector<std::string> common = {folders.images, "--depth", "0", "--per-folder", "4"};
  const std::string whole = RunFolder(common);
  EXPECT_EQ(ParentFolder(whole), BenchmarkRunsFolder());
  for (const char* name : {kRawFileName, kSelectedImagesFileName, kSummaryFileName, kManifestFileName}) {
    EXPECT_TRUE(IsRegularFile(JoinPath(whole, name))) << name;
  }
  const std::string selected = ReadTextFile(JoinPath(whole, kSelectedImagesFileName));
  EXPECT_EQ(std::tuple(SplitLines(selected).size(), selected.substr(0, 3)), std::tuple(8u, "\xEF\xBB\xBF"));
  EXPECT_TRUE(RowsPerImage(JoinPath(whole, kRawFileName)).size() == 7u && !SessionFileExists());
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
  const std::vector<std::string> mergedSummary = SummaryWithoutTimes(merged);
  EXPECT_TRUE(mergedSummary.size() == 9u && mergedSummary == SummaryWithoutTimes(whole));  // header, 6 WIC, 2 jpegtran
  for (const char* name : {kManifestFileName, kSkippedImagesFileName}) {
    EXPECT_EQ(ReadTextFile(JoinPath(merged, name)), ReadTextFile(JoinPath(whole, name))) << name;
  }
  for (const char* lines : {"MaxPerFolder=4\nDepth=0\n", "SelectedImages=8\nProcessedImages=7\nSkippedOrUnreadable=1\n"}) {
    EXPECT_NE(ReadTextFile(JoinPath(merged, kManifestFileName)).find(lines), std::string::npos) << lines;
  }
  EXPECT_EQ(ReadTextFile(JoinPath(parts[0], kSummaryFileName)), firstPartSummary);

  // Refusals name the reason and create no folder. `changed` is parts[2]
  // copied with one line of its part file replaced (unfinished: without its
  // manifest).
  int copies = 0;
  const auto changed = [&](const std::string& from, const std::string& to, bool finished = true) {
    const std::string copy = folders.temp.Join("copy" + std::to_string(++copies));
    EXPECT_TRUE(EnsureFolder(copy));
    for (const std::string name : {kRawFileName, kManifestFileName, kPartFileName}) {
      std::string text = ReadTextFile(JoinPath(parts[2], name));
      if (name == kPartFileName) text.replace(text.find(from), from.size(), to);
      EXPECT_TRUE((name == kManifestFileName && !finished) || WriteTextFile(JoinPath(copy, name), text));
    }
    return copy;
  };
  const size_t runsBefore = FolderEntries(BenchmarkRunsFolder()).size();
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
    EXPECT_TRUE(!MergeBenchmarkParts(given, folder, error) && error.find(reason) != std::string::npos) << reason << ": " << error;
  }
  EXPECT_EQ(FolderEntries(BenchmarkRunsFolder()).size(), runsBefore);
}

TEST_F(BenchCommandTest, RefusesAMissingRootAnEmptyTreeAndAnUnconfirmedReplacement) {
  std::string out;
  EXPECT_EQ(Run({folders.temp.Join("missing")}, out), 2);
  EXPECT_TRUE(Run({folders.images}, out) == 1 && out.empty()) << out;  // no images
  if (::isatty(STDIN_FILENO) == 1) return;  // it would ask on the terminal
  MakeImages(1);
  BenchmarkSession old;
  old.root = "/old";
  ASSERT_TRUE(SaveSession(old));
  EXPECT_EQ(Run({folders.images}, out), 1);
  EXPECT_NE(ReadTextFile(SessionFilePath()).find("Root=/old\n"), std::string::npos);
}

}  // namespace
