// The parallel batch of both front-ends, driven with stand-in calls: images
// overlap and yet report in list order, images of one output path run in
// turn and see the outputs written before them, a stop or an exception lets
// the rest finish; images are admitted by the memory they declare.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/parallel_batch.h"
#include "tests/support/scoped_temp.h"

namespace {

using Strings = std::vector<std::string>;

TEST(ParallelBatchTest, AutomaticJobCountIsOnePerThreadAndNeverZero) {
  const struct { unsigned threads, jobs; } cases[] = {{8, 8}, {2, 2}, {1, 1}, {0, 1}};
  for (const auto& c : cases) EXPECT_EQ(AutomaticJobCount(c.threads), c.jobs) << c.threads;
}

// What a run of RunParallelBatch did, image by image.
struct BatchTrace {
  std::mutex mutex;
  std::condition_variable changed;
  int sequence = 0, inFlight = 0, mostInFlight = 0;  // sequence counts starts and ends
  std::vector<int> started, ended;  // sequence numbers per image; -1 never
  std::vector<Strings> written;     // handed to each image
  std::vector<std::size_t> reported;  // in report order, with `reached` of each
  std::vector<bool> reached;
};

// Runs a batch whose image i is optimised exactly when i is even and whose
// outputs are `outputs`. An image listed in `waits` stays in flight until the
// image it names has started (a schedule that cannot overlap them would time
// out there). `stopAfterStarts`: poll asks to stop once that many images have
// started (0 never). Image `throwing` throws instead of returning. `needs`:
// the memory each image needs against a budget of 100.
std::unique_ptr<BatchTrace> TraceBatch(const Strings& outputs, unsigned jobs, const std::map<std::size_t, std::size_t>& waits,
                                       int stopAfterStarts = 0, std::size_t throwing = 99,
                                       const std::vector<std::uint64_t>& needs = {}) {
  auto trace = std::make_unique<BatchTrace>();
  BatchTrace& t = *trace;
  t.started = t.ended = std::vector<int>(outputs.size(), -1);
  t.written.resize(outputs.size());
  ParallelBatchCalls calls;
  calls.process = [&](std::size_t i, const Strings& written) {
    std::unique_lock<std::mutex> lock(t.mutex);
    t.started[i] = t.sequence++;
    t.written[i] = written;
    t.mostInFlight = std::max(t.mostInFlight, ++t.inFlight);
    t.changed.notify_all();
    if (const auto wait = waits.find(i); wait != waits.end()) {
      t.changed.wait_for(lock, std::chrono::seconds(20), [&] { return t.started[wait->second] >= 0; });
    }
    t.ended[i] = (--t.inFlight, t.sequence++);
    if (i == throwing) throw std::runtime_error("kaputt");
    BatchOutcome outcome;
    outcome.reached = true, outcome.result.optimized = i % 2 == 0;
    if (outcome.result.optimized) outcome.result.outputPath = outputs[i];
    return outcome;
  };
  calls.report = [&](std::size_t i, BatchOutcome& outcome) {
    t.reported.push_back(i);
    t.reached.push_back(outcome.reached);
  };
  calls.poll = [&] {
    const std::lock_guard<std::mutex> lock(t.mutex);
    return stopAfterStarts > 0 && std::count_if(t.started.begin(), t.started.end(), [](int s) { return s >= 0; }) >= stopAfterStarts;
  };
  if (!needs.empty()) {
    calls.memoryNeed = [&needs](std::size_t i) { return needs[i]; };
    calls.memoryBudget = 100;
  }
  const std::size_t reported = RunParallelBatch(outputs, jobs, calls);
  EXPECT_EQ(reported, t.reported.size());
  return trace;
}

TEST(ParallelBatchTest, ImagesOverlapYetReportInOrderSharedOutputsRunInTurnAndAStopOrAThrowLetsTheRestFinish) {
  for (const unsigned jobs : {1u, 3u}) {
    // With three at once: 0 and 1 overlap; 2 stays until 5 has started, so
    // 4 (same output as 2) must be passed over meanwhile.
    const auto t = TraceBatch({"/o/a", "/o/b", "/o/p", "/o/c", "/o/p", "/o/d", "/o/p", "/o/e"}, jobs,
                              jobs > 1 ? std::map<std::size_t, std::size_t>{{0, 1}, {1, 0}, {2, 5}}
                                       : std::map<std::size_t, std::size_t>{});
    EXPECT_EQ(t->reported, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_LE(t->mostInFlight, static_cast<int>(jobs));
    EXPECT_EQ(t->started[1] < t->ended[0], jobs > 1);
    EXPECT_EQ(t->started[5] < t->ended[2], jobs > 1);
    // The three images writing /o/p: each starts after the one before ended,
    // and sees the output the optimised image 2 wrote (image 4 is kept).
    EXPECT_LT(t->ended[2], t->started[4]);
    EXPECT_LT(t->ended[4], t->started[6]);
    for (const std::size_t later : {4u, 6u}) EXPECT_NE(std::ranges::count(t->written[later], "/o/p"), 0) << later;
    EXPECT_TRUE(t->written[0].empty());
  }
  // A stop lets the images in flight finish.
  auto t = TraceBatch({"/o/a", "/o/b", "/o/c", "/o/d", "/o/e", "/o/f"}, 2, {{0, 1}, {1, 0}}, 2);
  ASSERT_EQ(t->reported, (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(std::vector<int>(t->started.begin() + 2, t->started.end()), std::vector<int>(4, -1));
  EXPECT_GE(std::min(t->ended[0], t->ended[1]), 0);
  // An image that throws ends as a failure and the batch goes on.
  t = TraceBatch({"/o/a", "/o/b", "/o/c"}, 2, {}, 0, 1);
  EXPECT_EQ(t->reported, (std::vector<std::size_t>{0, 1, 2}));
  EXPECT_EQ(t->reached, (std::vector<bool>{true, false, true}));
}

// Four jobs, but the images in flight never need more than the budget; an
// image larger than the whole budget runs alone, and none is left out.
TEST(ParallelBatchTest, ImagesAreAdmittedByTheMemoryTheyNeedAndALargeOneRunsAlone) {
  const auto t = TraceBatch({"/o/a", "/o/b", "/o/c", "/o/d", "/o/e", "/o/f"}, 4, {{0, 1}, {1, 0}}, 0, 99,
                            {40, 40, 40, 150, 10, 10});
  EXPECT_EQ(t->reported, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_LE(t->mostInFlight, 2);
  EXPECT_GT(t->started[2], std::min(t->ended[0], t->ended[1]));
  EXPECT_GT(t->started[3], std::max({t->ended[0], t->ended[1], t->ended[2]}));
  EXPECT_GT(t->started[4], t->ended[3]);
  // Output names that differ only in case may be one file: they run in turn.
  const auto cased = TraceBatch({"/o/IMG_hoch.jpg", "/o/img_hoch.jpg"}, 2, {});
  EXPECT_LT(cased->ended[0], cased->started[1]);
}

// Which output names a file system that ignores case may take for one file:
// accented, Greek and Cyrillic letters as well as ASCII ones.
TEST(ParallelBatchTest, CaseFoldingCoversLettersBeyondAscii) {
  const struct { const char* left; const char* right; bool same; } cases[] = {
      {"/o/IMG_hoch.jpg", "/o/img_hoch.jpg", true}, {"/o/Ä_hoch.jpg", "/o/ä_hoch.jpg", true},
      {"/o/ÄRGER.jpg", "/o/ärger.jpg", true},       {"/o/ΩMEGA.jpg", "/o/ωmega.jpg", true},
      {"/o/Дом.jpg", "/o/дом.jpg", true},            {"/o/Ä.jpg", "/o/a.jpg", false},
      {"/O/a.jpg", "/o/a.jpg", true},                {"/o/a.jpg", "/o/b.jpg", false}};
  for (const auto& c : cases) {
    EXPECT_EQ(CaseFoldedOutputPath(c.left) == CaseFoldedOutputPath(c.right), c.same) << c.left << " " << c.right;
  }
}

// A small file that declares a huge picture needs the memory of the picture.
TEST(ParallelBatchTest, DeclaredMemoryNeedFollowsTheFrameHeaderBehindMetadata) {
  const ScopedTempFolder temp;
  const std::string exif = "\xFF\xE1\xFF\xF0" + std::string(0xFFF0 - 2, 'x');
  const std::string bomb = temp.Join("bomb.jpg"), garbage = temp.Join("garbage.jpg");
  ASSERT_TRUE(WriteTextFile(bomb, "\xFF\xD8" + exif + exif + std::string("\xFF\xC2\x00\x11\x08\x3E\x80\x3E\x80\x03", 10) +
                                      std::string(1000, '\0')));
  ASSERT_TRUE(WriteTextFile(garbage, std::string(1000, 'g')));
  EXPECT_GE(DeclaredMemoryNeed(bomb), 16000ull * 16000 * 4);
  EXPECT_LT(DeclaredMemoryNeed(garbage), 16000ull * 16000);
  EXPECT_GT(DeclaredMemoryNeed(garbage), 1000u);
}

}  // namespace
