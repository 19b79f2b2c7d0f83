// Tests of the benchmark worker over tiny generated images with the real
// in-process encoder and the real jpegtran: cancel and resume, pause, skipped
// images, work files and the end of a run. (worker_tools_test.cpp adds the
// command-line encoders.)
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <new>
#include <thread>

#include <gtest/gtest.h>

#include "bench/raw_results.h"
#include "bench/summary.h"
#include "bench/worker.h"
#include "platform/files.h"
#include "tests/bench/bench_test_support.h"

namespace {

// Found by the build; empty when not installed.
constexpr const char* kJpegtran = ORVEL_BENCH_TEST_JPEGTRAN;

// Image file name -> number of raw rows, read from the CSV file.
std::map<std::string, int> RowsPerImage(const std::string& csvPath) {
  std::map<std::string, int> rows;
  const std::vector<std::string> lines = SplitLines(ReadTextFile(csvPath));
  for (size_t i = 1; i < lines.size(); ++i) ++rows[SplitCsvLine(lines[i])[0]];
  return rows;
}

std::vector<std::vector<std::string>> RowFields(const std::string& csvPath) {
  std::vector<std::vector<std::string>> rows;
  const std::vector<std::string> lines = SplitLines(ReadTextFile(csvPath));
  for (size_t i = 1; i < lines.size(); ++i) rows.push_back(SplitCsvLine(lines[i]));
  return rows;
}

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
    EXPECT_TRUE(FolderEntries(folders.tmp, "TALV_").empty()) << "work folder left behind";
  }

  std::vector<std::string> MakeJpegs(int count) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
      const std::string path = JoinPath(folders.images, "img" + std::to_string(i) + ".jpg");
      EXPECT_TRUE(WriteTestJpeg(path, 160, 128, i));
      paths.push_back(path);
    }
    return paths;
  }

  void CreateRun(const std::vector<std::string>& images, std::int32_t depth) {
    session.root = folders.images;
    session.images = images;
    session.depth = depth;
    session.maxPerFolder = 5;
    session.maxTotal = 5000;
    session.nextIndex = 0;
    session.completed = 0;
    ASSERT_TRUE(CreateBenchmarkRun(session));
  }

  // Installs hooks: `progress` runs on the worker thread at every report.
  void Watch(std::function<void()> progress) {
    const auto finished = [this](bool complete) {
      lastComplete = complete;
      ++finishedCount;
    };
    SetBenchmarkNotifications(worker, BenchmarkNotifications{std::move(progress), finished});
  }

  // Starts the worker and waits for its thread to end.
  void RunToEnd() {
    ASSERT_TRUE(StartBenchmarkWorker(session, worker));
    JoinBenchmarkWorker(worker);
    EXPECT_FALSE(session.running.load());
  }

  std::string SkippedPath() const { return JoinPath(session.sessionDir, kSkippedImagesFileName); }
};

TEST_F(WorkerTest, CancelDuringImageSevenResumesThereFromItsFirstCandidate) {
  if (std::string(kJpegtran).empty()) GTEST_SKIP() << "jpegtran not installed";
  ScopedEngines engines(kJpegtran, "");
  CreateRun(MakeJpegs(10), 0);
  Watch([this] {
    if (session.nextIndex.load() == 6 && session.currentCandidate.load() == 2) {
      CancelBenchmarkWorker(session, worker);
    }
  });
  RunToEnd();
  EXPECT_EQ(finishedCount.load(), 1);
  EXPECT_FALSE(lastComplete.load());

  BenchmarkSession saved;
  ASSERT_TRUE(LoadSession(saved));
  EXPECT_EQ(saved.nextIndex.load(), 6u);
  EXPECT_EQ(saved.completed.load(), 6u);
  std::map<std::string, int> rows = RowsPerImage(session.csvPath);
  EXPECT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows.count("img6.jpg"), 0u);
  for (const auto& [image, count] : rows) EXPECT_EQ(count, 8) << image;  // 6 WIC + 2 jpegtran
  EXPECT_FALSE(PathExists(SkippedPath()));
  EXPECT_FALSE(PathExists(JoinPath(session.sessionDir, kSummaryFileName)));

  // Resume through the session file, as the window does.
  std::mutex mutex;
  std::vector<std::pair<std::uint64_t, std::int32_t>> seen;
  Watch([&] {
    std::lock_guard<std::mutex> lock(mutex);
    seen.emplace_back(session.nextIndex.load(), session.currentCandidate.load());
  });
  ASSERT_TRUE(LoadSession(session));
  RunToEnd();
  EXPECT_TRUE(lastComplete.load());
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen[0], (std::pair<std::uint64_t, std::int32_t>{6, 0}));
  EXPECT_EQ(seen[1], (std::pair<std::uint64_t, std::int32_t>{6, 1}));
  rows = RowsPerImage(session.csvPath);
  EXPECT_EQ(rows.size(), 10u);
  for (const auto& [image, count] : rows) EXPECT_EQ(count, 8) << image;
  EXPECT_EQ(session.completed.load(), 10u);
  EXPECT_FALSE(SessionFileExists());
  EXPECT_EQ(SplitLines(ReadTextFile(JoinPath(session.sessionDir, kSummaryFileName))).size(), 9u);
  const std::string manifest = ReadTextFile(JoinPath(session.sessionDir, kManifestFileName));
  EXPECT_NE(manifest.find("SelectedImages=10\nProcessedImages=10\nSkippedOrUnreadable=0\n"),
            std::string::npos);
}

TEST_F(WorkerTest, WicOnlyMeasuresEveryImageAndSkipsWhatIsNoImage) {
  ScopedEngines engines("", "");
  const std::string jpeg = JoinPath(folders.images, "a.jpg");
  const std::string fake = JoinPath(folders.images, "b.jpg");
  const std::string bmp = JoinPath(folders.images, "c.bmp");
  ASSERT_TRUE(WriteTestJpeg(jpeg, 160, 128, 1));
  ASSERT_TRUE(WriteTextFile(fake, "this is not an image"));
  ASSERT_TRUE(WriteTestBmp(bmp, 150, 130, 2));
  CreateRun({jpeg, fake, bmp}, 0);
  std::atomic<int> workFoldersSeen{0};
  std::atomic<int> ppmSeen{0};
  Watch([&] {
    if (session.currentCandidate.load() == 0) return;
    for (const std::string& name : FolderEntries(folders.tmp, "TALV_")) {
      ++workFoldersSeen;
      if (PathExists(JoinPath(JoinPath(folders.tmp, name), "bench.ppm"))) ++ppmSeen;
    }
  });
  RunToEnd();
  EXPECT_TRUE(lastComplete.load());
  EXPECT_GT(workFoldersSeen.load(), 0);
  EXPECT_EQ(ppmSeen.load(), 0);
  EXPECT_EQ(ReadTextFile(SkippedPath()), fake + "\r\n");
  EXPECT_EQ(session.completed.load(), 3u);
  const auto rows = RowFields(session.csvPath);
  ASSERT_EQ(rows.size(), 12u);
  for (const auto& fields : rows) {
    ASSERT_EQ(fields.size(), 23u);
    EXPECT_EQ(fields[6], "WIC");
    EXPECT_NE(fields[0], "b.jpg");
    EXPECT_NE(fields[12], "0") << fields[5];                // encoded
    EXPECT_GT(std::stod(fields[21]), 0.5) << fields[5];      // composite measured
  }
  EXPECT_EQ(rows[0][2], "160");
  EXPECT_EQ(rows[6][0], "c.bmp");
  EXPECT_EQ(rows[6][3], "130");
  const std::string manifest = ReadTextFile(JoinPath(session.sessionDir, kManifestFileName));
  EXPECT_NE(manifest.find("ProcessedImages=2\nSkippedOrUnreadable=1\n"), std::string::npos);
}

TEST_F(WorkerTest, AnExceptionSkipsItsImageOrInterruptsTheRunButNeverEndsTheProgram) {
  ScopedEngines engines("", "");
  const std::vector<std::string> images = MakeJpegs(4);
  CreateRun(images, 0);
  // Out of memory while img1 is measured, then outside any image (at the
  // start of img3).
  Watch([this] {
    if (session.nextIndex.load() == 1 && session.currentCandidate.load() == 2) throw std::bad_alloc();
    if (session.nextIndex.load() == 3 && session.currentCandidate.load() == 0) throw std::bad_alloc();
  });
  RunToEnd();
  EXPECT_EQ(finishedCount.load(), 1);
  EXPECT_FALSE(lastComplete.load());
  EXPECT_EQ(ReadTextFile(SkippedPath()), images[1] + "\r\n");
  EXPECT_EQ(RowsPerImage(session.csvPath), (std::map<std::string, int>{{"img0.jpg", 6}, {"img2.jpg", 6}}));
  BenchmarkSession saved;
  ASSERT_TRUE(LoadSession(saved));
  EXPECT_EQ(saved.nextIndex.load(), 3u);

  // The resume finishes the run.
  Watch(nullptr);
  ASSERT_TRUE(LoadSession(session));
  RunToEnd();
  EXPECT_TRUE(lastComplete.load());
  EXPECT_EQ(RowsPerImage(session.csvPath).size(), 3u);
}

TEST_F(WorkerTest, PathsWithLineBreaksAreListedAsSkippedAndNeverWrittenIntoLines) {
  ScopedEngines engines("", "");
  std::vector<std::string> images = MakeJpegs(2);
  for (const char* name : {"new\nline.jpg", "carriage\rreturn.jpg"}) {
    images.insert(images.begin() + 1, JoinPath(folders.images, name));
    ASSERT_TRUE(WriteTestJpeg(images[1], 160, 128, 9));
  }
  CreateRun(images, 0);
  EXPECT_EQ(session.images, (std::vector<std::string>{images[0], images[3]}));
  EXPECT_EQ(ReadTextFile(session.imageListPath),
            "\xEF\xBB\xBF" + images[0] + "\n" + images[3] + "\n");
  const std::string reason = "\tZeilenumbruch im Dateinamen \u2013 nicht gemessen\r\n";
  const std::string skipped = folders.images + "/carriage\\rreturn.jpg" + reason +
                              folders.images + "/new\\nline.jpg" + reason;
  EXPECT_EQ(ReadTextFile(SkippedPath()), skipped);
  // A list handed to the worker directly is guarded too.
  session.images.push_back(images[1]);
  RunToEnd();
  EXPECT_TRUE(lastComplete.load());
  EXPECT_EQ(ReadTextFile(SkippedPath()), skipped + folders.images + "/carriage\\rreturn.jpg" + reason);
  EXPECT_EQ(RowsPerImage(session.csvPath), (std::map<std::string, int>{{"img0.jpg", 6}, {"img1.jpg", 6}}));
  for (const std::string& line : SplitLines(ReadTextFile(JoinPath(session.sessionDir, kSummaryFileName)))) {
    if (line.rfind("\"WIC", 0) == 0) {
      EXPECT_EQ(SplitCsvLine(line)[1], "2") << line;
    }
  }

  // A root with a line break cannot be saved; nothing listable, no run.
  BenchmarkSession other;
  other.root = folders.images + "\n";
  other.images = {images[0]};
  EXPECT_FALSE(CreateBenchmarkRun(other));
  other.root = folders.images;
  other.images = {images[1]};
  EXPECT_FALSE(CreateBenchmarkRun(other));
}

TEST_F(WorkerTest, PauseHoldsBeforeTheNextCandidateUntilContinued) {
  ScopedEngines engines("", "");
  CreateRun(MakeJpegs(2), 0);
  Watch([this] {
    if (session.nextIndex.load() == 0 && session.currentCandidate.load() == 2) {
      PauseBenchmarkWorker(session);
    }
  });
  ASSERT_TRUE(StartBenchmarkWorker(session, worker));
  while (!session.paused.load() && session.running.load()) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(450));
  EXPECT_TRUE(session.running.load());
  EXPECT_EQ(session.currentCandidate.load(), 2);
  EXPECT_EQ(RowsPerImage(session.csvPath).size(), 0u);
  EXPECT_FALSE(StartBenchmarkWorker(session, worker));  // one run at a time
  ContinueBenchmarkWorker(session, worker);
  JoinBenchmarkWorker(worker);
  EXPECT_TRUE(lastComplete.load());
  EXPECT_EQ(RowsPerImage(session.csvPath), (std::map<std::string, int>{{"img0.jpg", 6}, {"img1.jpg", 6}}));
}

TEST_F(WorkerTest, ShutdownStopsAPausedWorkerAndKeepsTheSession) {
  ScopedEngines engines("", "");
  CreateRun(MakeJpegs(3), 0);
  Watch([this] {
    if (session.nextIndex.load() == 1 && session.currentCandidate.load() == 1) {
      PauseBenchmarkWorker(session);
    }
  });
  ASSERT_TRUE(StartBenchmarkWorker(session, worker));
  while (!session.paused.load() && session.running.load()) std::this_thread::yield();
  StopBenchmarkWorker(session, worker);
  EXPECT_FALSE(session.running.load());
  EXPECT_FALSE(worker.thread.joinable());
  EXPECT_FALSE(lastComplete.load());
  BenchmarkSession saved;
  ASSERT_TRUE(LoadSession(saved));
  EXPECT_EQ(saved.nextIndex.load(), 1u);
  EXPECT_EQ(RowsPerImage(session.csvPath).size(), 1u);
}

TEST_F(WorkerTest, StartingAtTheEndCompletesAtOnceAndASecondStartJoinsTheFirst) {
  ScopedEngines engines("", "");
  CreateRun(MakeJpegs(2), 0);
  session.nextIndex = 2;
  session.completed = 1;
  Watch(nullptr);
  ASSERT_TRUE(StartBenchmarkWorker(session, worker));
  while (finishedCount.load() == 0 || session.running.load()) std::this_thread::yield();
  EXPECT_TRUE(worker.thread.joinable());
  // The second start joins the ended thread of the first.
  ASSERT_TRUE(StartBenchmarkWorker(session, worker));
  JoinBenchmarkWorker(worker);
  EXPECT_EQ(finishedCount.load(), 2);
  EXPECT_TRUE(lastComplete.load());
  EXPECT_FALSE(SessionFileExists());
  EXPECT_EQ(ReadTextFile(JoinPath(session.sessionDir, kSummaryFileName)).size(), 3u + 238u);
}

// A write seam that reacts to the rows of one image: it either requests a
// cancel while they are being written or fails the write.
BenchmarkSession* seamSession = nullptr;
std::string seamTrigger;
bool seamFails = false;
ssize_t TriggeredWrite(int fd, const void* data, size_t size) {
  const std::string_view bytes(static_cast<const char*>(data), size);
  if (seamSession != nullptr && bytes.find(seamTrigger) != std::string_view::npos) {
    if (seamFails) {
      const ssize_t partial = ::write(fd, data, size / 2);
      (void)partial;
      errno = ENOSPC;
      return -1;
    }
    seamSession->cancelRequested.store(true);
  }
  return ::write(fd, data, size);
}

struct ScopedWriteSeam {
  FileSystemCalls calls;
  ScopedWriteSeam(BenchmarkSession& session, std::string trigger, bool fails) {
    seamSession = &session;
    seamTrigger = std::move(trigger);
    seamFails = fails;
    calls = ActiveFileSystemCalls();
    calls.write = TriggeredWrite;
    SetFileSystemCalls(&calls);
  }
  ~ScopedWriteSeam() {
    SetFileSystemCalls(nullptr);
    seamSession = nullptr;
  }
};

TEST_F(WorkerTest, RowsWrittenBeforeACancelCountAndAreNeverRepeated) {
  ScopedEngines engines("", "");
  CreateRun(MakeJpegs(4), 0);
  {
    ScopedWriteSeam seam(session, "\"img1.jpg\";\"img1.jpg\"", false);
    RunToEnd();
  }
  EXPECT_FALSE(lastComplete.load());
  BenchmarkSession saved;
  ASSERT_TRUE(LoadSession(saved));
  EXPECT_EQ(saved.nextIndex.load(), 2u);
  ASSERT_TRUE(LoadSession(session));
  RunToEnd();
  EXPECT_TRUE(lastComplete.load());
  EXPECT_EQ(RowsPerImage(session.csvPath),
            (std::map<std::string, int>{{"img0.jpg", 6}, {"img1.jpg", 6}, {"img2.jpg", 6}, {"img3.jpg", 6}}));
}

TEST_F(WorkerTest, AFailedCsvWriteListsTheImageAsSkippedWithoutPartialRows) {
  ScopedEngines engines("", "");
  const std::vector<std::string> images = MakeJpegs(3);
  CreateRun(images, 0);
  {
    ScopedWriteSeam seam(session, "\"img1.jpg\";\"img1.jpg\"", true);
    RunToEnd();
  }
  EXPECT_TRUE(lastComplete.load());
  EXPECT_EQ(ReadTextFile(SkippedPath()), images[1] + "\r\n");
  EXPECT_EQ(RowsPerImage(session.csvPath),
            (std::map<std::string, int>{{"img0.jpg", 6}, {"img2.jpg", 6}}));
  const std::string raw = ReadTextFile(session.csvPath);
  EXPECT_EQ(raw.substr(raw.size() - 2), "\r\n");
}

}  // namespace
