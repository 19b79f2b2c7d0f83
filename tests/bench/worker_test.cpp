// Tests of the benchmark worker over tiny generated images: with the
// in-process encoder and the real jpegtran (cancel and resume, pause,
// skipped images, work files, the end of a run), and with every engine, the
// core tests' encoder standing in for cjpegli and MozJPEG cjpeg.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "bench/benchmark_grid.h"
#include "bench/raw_results.h"
#include "bench/summary.h"
#include "bench/worker.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tests/bench/bench_test_support.h"
#include "tests/core/core_test_support.h"
#include "tests/hardening/sample_files.h"

namespace {

using Counts = std::map<std::string, int>;

class WorkerTest : public ::testing::Test {
 protected:
  BenchTestFolders folders;
  BenchmarkSession session;
  BenchmarkWorker worker;
  std::atomic<int> finishedCount{0};
  std::atomic<bool> lastComplete{false};

  void SetUp() override { Watch(nullptr); }
  void TearDown() override {
    StopBenchmarkWorker(session, worker);
    SetBenchmarkNotifications(worker, BenchmarkNotifications{});
    EXPECT_TRUE(WorkFoldersIn(folders.tmp).empty()) << "work folder left behind";
  }

  static bool Jpeg(const std::string& path, std::uint32_t seed) {
    return WriteTestJpeg(path, MakeTestPicture(160, 128, seed), 92);
  }
  std::vector<std::string> MakeJpegs(int count) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
      paths.push_back(JoinPath(folders.images, "img" + std::to_string(i) + ".jpg"));
      EXPECT_TRUE(Jpeg(paths.back(), i));
    }
    return paths;
  }
  void CreateRun(const std::vector<std::string>& images, std::int32_t depth = 0) {
    session.root = folders.images;
    session.images = images;
    session.depth = depth;
    ASSERT_TRUE(CreateBenchmarkRun(session));
  }
  // Installs hooks: `progress` runs on the worker thread at every report.
  void Watch(std::function<void()> progress) {
    SetBenchmarkNotifications(worker, BenchmarkNotifications{std::move(progress), [this](bool complete) {
                                                               lastComplete = complete;
                                                               ++finishedCount;
                                                             }});
  }
  void RunToEnd() {
    ASSERT_TRUE(StartBenchmarkWorker(session, worker));
    JoinBenchmarkWorker(worker);
    EXPECT_FALSE(session.running.load());
  }
  // Loads the session file as a resume does; its next image.
  std::uint64_t SavedNextIndex() {
    BenchmarkSession saved;
    EXPECT_TRUE(LoadSession(saved));
    return saved.nextIndex.load();
  }
  std::string RunFile(const char* name) const { return ReadTextFile(JoinPath(session.sessionDir, name)); }
  // When the worker reports image `index` at candidate `candidate`.
  bool At(std::uint64_t index, std::int32_t candidate) const {
    return session.nextIndex.load() == index && session.currentCandidate.load() == candidate;
  }
};

// Out of memory while img1 is measured skips it; out of memory outside any
// image (at the start of img3) and a cancel during img6 interrupt the run.
// Each resume starts at the image it stopped in, from its first candidate.
TEST_F(WorkerTest, InterruptedRunsResumeWhereTheyStoppedAndAnExceptionSkipsOnlyItsImage) {
  TestEngineStore engines(TestTools{false, false, true});
  const int rowsPerImage = JpegtranProgram().empty() ? 6 : 8;  // 6 WIC (+ 2 jpegtran)
  const std::vector<std::string> images = MakeJpegs(10);
  CreateRun(images);
  std::mutex mutex;
  std::vector<std::pair<std::uint64_t, std::int32_t>> seen;
  std::atomic<bool> thrown{false}, cancelled{false};
  Watch([&] {
    if (At(1, 2) || (At(3, 0) && !thrown.exchange(true))) throw std::bad_alloc();
    if (At(6, 2) && !cancelled.exchange(true)) CancelBenchmarkWorker(session, worker);
    std::lock_guard<std::mutex> lock(mutex);
    seen.emplace_back(session.nextIndex.load(), session.currentCandidate.load());
  });
  RunToEnd();
  EXPECT_EQ(finishedCount.load(), 1);
  EXPECT_FALSE(lastComplete.load());
  EXPECT_EQ(RunFile(kSkippedImagesFileName), images[1] + "\r\n");
  EXPECT_EQ(RowsPerImage(session.csvPath), (Counts{{"img0.jpg", rowsPerImage}, {"img2.jpg", rowsPerImage}}));
  EXPECT_EQ(SavedNextIndex(), 3u);
  ASSERT_TRUE(LoadSession(session));  // through the session file, as the window does
  seen.clear();
  RunToEnd();
  EXPECT_FALSE(lastComplete.load());
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen[0], (std::pair<std::uint64_t, std::int32_t>{3, 0}));
  EXPECT_EQ(seen[1], (std::pair<std::uint64_t, std::int32_t>{3, 1}));
  EXPECT_EQ(SavedNextIndex(), 6u);
  EXPECT_EQ(session.completed.load(), 6u);
  EXPECT_EQ(RowsPerImage(session.csvPath).count("img6.jpg"), 0u);
  EXPECT_FALSE(PathExists(JoinPath(session.sessionDir, kSummaryFileName)));
  ASSERT_TRUE(LoadSession(session));
  seen.clear();
  RunToEnd();
  EXPECT_TRUE(lastComplete.load());
  EXPECT_EQ(finishedCount.load(), 3);
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen[0], (std::pair<std::uint64_t, std::int32_t>{6, 0}));
  EXPECT_EQ(seen[1], (std::pair<std::uint64_t, std::int32_t>{6, 1}));
  EXPECT_EQ(RunFile(kSkippedImagesFileName), images[1] + "\r\n");  // a cancelled image is no skipped one
  const Counts rows = RowsPerImage(session.csvPath);
  EXPECT_EQ(rows.size(), 9u);
  for (const auto& [image, count] : rows) EXPECT_EQ(count, rowsPerImage) << image;
  EXPECT_EQ(session.completed.load(), 10u);
  EXPECT_FALSE(SessionFileExists());
  EXPECT_EQ(SplitLines(RunFile(kSummaryFileName)).size(), 1u + rowsPerImage);
  EXPECT_NE(RunFile(kManifestFileName).find("SelectedImages=10\nProcessedImages=9\nSkippedOrUnreadable=1\n"),
            std::string::npos);
}

// What is no image is skipped; so is a path with a line break, which would
// break the line-based files, whether listed at the start or handed over later.
TEST_F(WorkerTest, WicOnlyMeasuresEveryImageAndSkipsWhatIsNoImageOrHasALineBreak) {
  TestEngineStore engines(TestTools{});
  const std::string jpeg = JoinPath(folders.images, "a.jpg"), fake = JoinPath(folders.images, "b.jpg"),
                    bmp = JoinPath(folders.images, "c.bmp"), carriage = JoinPath(folders.images, "carriage\rreturn.jpg");
  ASSERT_TRUE(Jpeg(jpeg, 1) && WriteTextFile(bmp, SampleBmp(150, 130, 24, false)));
  ASSERT_TRUE(WriteTextFile(fake, "this is not an image"));
  ASSERT_TRUE(Jpeg(carriage, 9));
  CreateRun({jpeg, carriage, fake, folders.images + "/new\nline.jpg", bmp});
  EXPECT_EQ(session.images, (std::vector<std::string>{jpeg, fake, bmp}));
  EXPECT_EQ(ReadTextFile(session.imageListPath), "\xEF\xBB\xBF" + jpeg + "\n" + fake + "\n" + bmp + "\n");
  const std::string reason = "\tZeilenumbruch im Dateinamen \u2013 nicht gemessen\r\n";
  const std::string carriageLine = folders.images + "/carriage\\rreturn.jpg" + reason;
  const std::string listed = carriageLine + folders.images + "/new\\nline.jpg" + reason;
  EXPECT_EQ(RunFile(kSkippedImagesFileName), listed);
  session.images.push_back(carriage);
  std::atomic<int> workFoldersSeen{0}, ppmSeen{0};
  Watch([&] {
    if (session.currentCandidate.load() == 0) return;
    for (const std::string& name : WorkFoldersIn(folders.tmp)) {
      ++workFoldersSeen;
      if (PathExists(JoinPath(JoinPath(folders.tmp, name), "bench.ppm"))) ++ppmSeen;
    }
  });
  RunToEnd();
  EXPECT_TRUE(lastComplete.load());
  EXPECT_GT(workFoldersSeen.load(), 0);
  EXPECT_EQ(ppmSeen.load(), 0);  // no tool, no PPM
  EXPECT_EQ(RunFile(kSkippedImagesFileName), listed + fake + "\r\n" + carriageLine);
  EXPECT_EQ(session.completed.load(), 4u);
  const auto rows = RawRows(session.csvPath);
  ASSERT_EQ(rows.size(), 12u);
  for (const auto& fields : rows) {
    ASSERT_EQ(fields.size(), 23u);
    EXPECT_EQ(fields[6], "WIC");
    EXPECT_NE(fields[12], "0") << fields[5];             // encoded
    EXPECT_GT(std::stod(fields[21]), 0.5) << fields[5];  // composite measured
  }
  EXPECT_EQ(rows[0][0] + rows[0][2] + rows[6][0] + rows[6][3], "a.jpg160c.bmp130");
  for (const std::string& line : SplitLines(RunFile(kSummaryFileName))) {
    EXPECT_TRUE(line.rfind("\"WIC", 0) != 0 || SplitCsvLine(line)[1] == "2") << line;
  }
  EXPECT_NE(RunFile(kManifestFileName).find("SelectedImages=4\nProcessedImages=2\nSkippedOrUnreadable=2\n"),
            std::string::npos);
  // A root with a line break cannot be saved; nothing listable, no run.
  BenchmarkSession other;
  other.root = folders.images + "\n";
  other.images = {jpeg};
  EXPECT_FALSE(CreateBenchmarkRun(other));
  other.root = folders.images;
  other.images = {carriage};
  EXPECT_FALSE(CreateBenchmarkRun(other));
}

TEST_F(WorkerTest, PauseHoldsBeforeTheNextCandidateAndShutdownKeepsTheSession) {
  TestEngineStore engines(TestTools{});
  CreateRun(MakeJpegs(3));
  Watch([this] {
    if (At(0, 2) || At(1, 1)) PauseBenchmarkWorker(session);
  });
  ASSERT_TRUE(StartBenchmarkWorker(session, worker));
  while (!session.paused.load() && session.running.load()) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(450));
  EXPECT_TRUE(session.running.load());
  EXPECT_EQ(session.currentCandidate.load(), 2);
  EXPECT_EQ(RowsPerImage(session.csvPath).size(), 0u);
  EXPECT_FALSE(StartBenchmarkWorker(session, worker));  // one run at a time
  ContinueBenchmarkWorker(session, worker);
  while (!session.paused.load() && session.running.load()) std::this_thread::yield();
  StopBenchmarkWorker(session, worker);  // a shutdown while paused in img1
  EXPECT_FALSE(session.running.load());
  EXPECT_FALSE(worker.thread.joinable());
  EXPECT_EQ(finishedCount.load(), 1);
  EXPECT_FALSE(lastComplete.load());
  EXPECT_EQ(SavedNextIndex(), 1u);
  EXPECT_EQ(RowsPerImage(session.csvPath), (Counts{{"img0.jpg", 6}}));
}

TEST_F(WorkerTest, StartingAtTheEndCompletesAtOnceAndASecondStartJoinsTheFirst) {
  TestEngineStore engines(TestTools{});
  CreateRun(MakeJpegs(2));
  session.nextIndex = 2;
  session.completed = 1;
  ASSERT_TRUE(StartBenchmarkWorker(session, worker));
  while (finishedCount.load() == 0 || session.running.load()) std::this_thread::yield();
  EXPECT_TRUE(worker.thread.joinable());
  ASSERT_TRUE(StartBenchmarkWorker(session, worker));  // joins the ended thread of the first
  JoinBenchmarkWorker(worker);
  EXPECT_EQ(finishedCount.load(), 2);
  EXPECT_TRUE(lastComplete.load());
  EXPECT_FALSE(SessionFileExists());
  EXPECT_EQ(RunFile(kSummaryFileName).size(), 3u + 238u);  // the header alone
}

// A write seam that reacts to the rows of one image: it either requests a
// cancel while they are being written or fails the write halfway.
std::string seamTrigger;
BenchmarkSession* seamCancels = nullptr;
ssize_t TriggeredWrite(int fd, const void* data, size_t size) {
  if (std::string_view(static_cast<const char*>(data), size).find(seamTrigger) != std::string_view::npos) {
    if (seamCancels == nullptr) {
      [[maybe_unused]] const ssize_t partial = ::write(fd, data, size / 2);
      errno = ENOSPC;
      return -1;
    }
    seamCancels->cancelRequested.store(true);
  }
  return ::write(fd, data, size);
}

TEST_F(WorkerTest, RowsWrittenBeforeACancelCountAndAFailedWriteSkipsTheImageWithoutPartialRows) {
  TestEngineStore engines(TestTools{});
  const std::vector<std::string> images = MakeJpegs(4);
  CreateRun(images);
  FileSystemCalls calls = ActiveFileSystemCalls();
  calls.write = TriggeredWrite;
  for (const bool cancels : {true, false}) {
    seamTrigger = cancels ? "\"img1.jpg\";\"img1.jpg\"" : "\"img2.jpg\";\"img2.jpg\"";
    seamCancels = cancels ? &session : nullptr;
    SetFileSystemCalls(&calls);
    RunToEnd();
    SetFileSystemCalls(nullptr);
    EXPECT_EQ(lastComplete.load(), !cancels);
    if (!cancels) continue;
    EXPECT_EQ(SavedNextIndex(), 2u);
    ASSERT_TRUE(LoadSession(session));
  }
  EXPECT_EQ(RunFile(kSkippedImagesFileName), images[2] + "\r\n");
  EXPECT_EQ(RowsPerImage(session.csvPath), (Counts{{"img0.jpg", 6}, {"img1.jpg", 6}, {"img3.jpg", 6}}));
  const std::string raw = ReadTextFile(session.csvPath);
  EXPECT_EQ(raw.substr(raw.size() - 2), "\r\n");
}

class WorkerWithAllToolsTest : public WorkerTest {};

// Every row of the standard grid reaches its tool with an argument list the
// core tests' encoder accepts (it logs any other as "badargs"). The tools get
// "bench.ppm", only a JPEG source gets "original.jpg" and the jpegtran rows,
// and a tool that fails leaves rows of zeros. The name, with a colon and a
// leading "=", is kept whole and never becomes a formula.
TEST_F(WorkerWithAllToolsTest, EveryGridRowRunsAndOnlyJpegSourcesGetJpegtran) {
  if (JpegtranProgram().empty()) GTEST_SKIP() << "jpegtran not installed";
  TestEngineStore engines(TestTools{true, true, true});
  const std::string log = folders.temp.Join("encoder.log");
  ScopedEnv logEnv("ORVEL_TEST_ENCODER_LOG", log.c_str()), failMozjpeg("ORVEL_TEST_CJPEG_STATIC", "fail");
  const std::string jpeg = JoinPath(folders.images, "=12:30 a.jpg"), bmp = JoinPath(folders.images, "c.bmp");
  ASSERT_TRUE(Jpeg(jpeg, 1));
  ASSERT_TRUE(WriteTextFile(bmp, SampleBmp(150, 130, 24, false)));
  CreateRun({jpeg, bmp}, 1);
  std::mutex mutex;
  std::map<std::uint64_t, std::set<std::string>> workFiles;
  // At the first candidate of each image, note the files in its work folder.
  Watch([&] {
    if (session.currentCandidate.load() != 1) return;
    std::lock_guard<std::mutex> lock(mutex);
    for (const std::string& name : WorkFoldersIn(folders.tmp)) {
      for (const std::string& file : FolderEntries(JoinPath(folders.tmp, name))) {
        workFiles[session.nextIndex.load()].insert(file);
      }
    }
  });
  RunToEnd();
  // Besides the folder's lock file.
  EXPECT_EQ(workFiles[0], (std::set<std::string>{".lock", "bench.ppm", "original.jpg"}));
  EXPECT_EQ(workFiles[1], (std::set<std::string>{".lock", "bench.ppm"}));
  const std::vector<EncoderCandidate> grid = BuildBenchmarkGrid(1, true);
  const auto rows = RawRows(session.csvPath);
  ASSERT_EQ(rows.size(), 55u + 53u);
  int jpegtranRows = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::vector<std::string>& fields = rows[i];
    SCOPED_TRACE(fields[5]);
    ASSERT_EQ(fields.size(), 23u);
    EXPECT_TRUE(i >= grid.size() || (fields[5] == grid[i].label && fields[8].empty() == !grid[i].useDistance)) << i;
    if (fields[6] == "jpegtran") {
      ++jpegtranRows;
      EXPECT_EQ(fields[0] + "|" + fields[1], "'=12:30 a.jpg|'=12:30 a.jpg");
      EXPECT_EQ(fields[21], "1.000000");  // lossless
    }
    if (fields[6] == "MozJPEG") {
      EXPECT_EQ(std::vector<std::string>(fields.begin() + 12, fields.begin() + 15),
                (std::vector<std::string>{"0", "0.000000", "0.000000"}));
    } else {
      EXPECT_NE(fields[12], "0");
      EXPECT_NE(fields[21], "0.000000");
    }
  }
  EXPECT_EQ(jpegtranRows, 2);
  const std::string calls = ReadTextFile(log);
  EXPECT_TRUE(calls.find("cjpeg-static start") != std::string::npos && calls.find("badargs") == std::string::npos);
  EXPECT_FALSE(SessionFileExists());
  EXPECT_EQ(SplitLines(RunFile(kSummaryFileName)).size(), 56u);
}

// A cancel ends a hung tool at once; its image is not counted and stays next.
TEST_F(WorkerWithAllToolsTest, CancelKillsAHungToolAndTheImageIsNotCounted) {
  TestEngineStore engines(TestTools{true, false, false});
  const std::string log = folders.temp.Join("encoder.log");
  ScopedEnv logEnv("ORVEL_TEST_ENCODER_LOG", log.c_str()), hang("ORVEL_TEST_CJPEGLI", "hang");
  const std::string jpeg = JoinPath(folders.images, "a.jpg");
  ASSERT_TRUE(Jpeg(jpeg, 4));
  CreateRun({jpeg});
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
  ResetToolRunCancellation();
}

}  // namespace
