// Encoding a whole plan: plan order of the results, the worker count, the
// front-end hooks while waiting, a worker thread the system refuses, and the
// source's metadata carried into each candidate.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <system_error>
#include <thread>

#include "core/candidate_plan.h"
#include "core/live_status.h"
#include "core/parallel_encoding.h"
#include "imaging/ppm.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/work_folder.h"
#include "tests/core/core_test_support.h"

namespace {

class ParallelEncodingTest : public CoreTest {
 protected:
  PixelImage image = MakeTestPicture(160, 120, 5);
  WorkFolder folder;
  std::optional<WorkFolderGuard> guard;
  std::vector<CandidateResult> results;

  void SetUp() override {
    CoreTest::SetUp();
    ASSERT_TRUE(CreateWorkFolder(folder));
    guard.emplace(folder);
    ASSERT_TRUE(WritePpm(image, JoinPath(folder.shortPath, "full.ppm")));
  }
  void TearDown() override {
    guard.reset();
    CoreTest::TearDown();
  }
  bool EncodeAll(int profile, int mode, const std::string& metadata = "") {
    const auto plan = BuildCandidatePlan(ProfileAt(profile), mode, false);
    return EncodeAllCandidates(plan, image, "", JoinPath(folder.shortPath, "full.ppm"), folder, "full",
                               metadata, results);
  }
};

void RefuseSecondWorker(unsigned index) {
  if (index == 1) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}
void RefuseEveryWorker(unsigned) {
  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

}  // namespace

TEST(CandidateFileNameTest, FourDigitsZeroPadded) {
  EXPECT_EQ(CandidateFileName("full", 1), "full_0001.jpg");
  EXPECT_EQ(CandidateFileName("full", 42), "full_0042.jpg");
  EXPECT_EQ(CandidateFileName("bench", 12345), "bench_12345.jpg");
}

TEST(EncoderWorkerCountTest, LeastOfCapHardwareAndToolCandidates) {
  EXPECT_EQ(EncoderWorkerCount(1, 1, 2), 1u);  // one processor: one after the other
  EXPECT_EQ(EncoderWorkerCount(1, 8, 2), 2u);
  EXPECT_EQ(EncoderWorkerCount(0, 8, 3), 2u);  // mode "Schnell" caps at 2
  EXPECT_EQ(EncoderWorkerCount(2, 16, 3), 3u);
  EXPECT_EQ(EncoderWorkerCount(1, 0, 3), 1u);  // a platform reporting 0 counts as 1
  EXPECT_EQ(EncoderWorkerCount(2, 16, 9), 6u);
}

TEST_F(ParallelEncodingTest, ResultsKeepPlanOrderWhenTheSecondToolFinishesFirst) {
  if (HardwareThreadCount() < 2) GTEST_SKIP() << "needs two hardware threads";
  TestEngineStore engines(TestTools{true, true, false});
  const std::string log = Path("encoder.log");
  ScopedEnv logEnv("ORVEL_TEST_ENCODER_LOG", log.c_str());
  ScopedEnv slow("ORVEL_TEST_CJPEG_STATIC", "sleep:400");
  ScopedEnv fast("ORVEL_TEST_CJPEGLI", "halfsize");
  currentMode = 2;
  ASSERT_TRUE(EncodeAll(5, 2));
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].candidate.engine, kEngineMozjpeg);
  EXPECT_EQ(results[1].candidate.engine, kEngineJpegli);
  EXPECT_EQ(results[0].outputPath, JoinPath(folder.longPath, "full_0001.jpg"));
  EXPECT_EQ(results[1].outputPath, JoinPath(folder.longPath, "full_0002.jpg"));
  for (const CandidateResult& r : results) {
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, FileSize(r.outputPath));
  }
  // Each entry holds its own tool's file: the half-size Jpegli file is smaller.
  EXPECT_LT(results[1].bytes, results[0].bytes);
  EXPECT_NE(ReadTextFile(results[0].outputPath).find("MOZJPG"), std::string::npos);
  EXPECT_NE(ReadTextFile(results[1].outputPath).find("JPEGLI"), std::string::npos);
  // And the second tool really did finish first.
  const std::string lines = ReadTextFile(log);
  EXPECT_LT(lines.find("cjpegli done"), lines.find("cjpeg-static done"));
  EXPECT_EQ(CurrentLiveStatus().candidatesDone.load(), 2);
  EXPECT_EQ(CurrentLiveStatus().candidatesTotal.load(), 2);
}

TEST_F(ParallelEncodingTest, PumpsAndRefreshesWhileToolsRunAndFailedCandidatesDoNotStopTheOthers) {
  TestEngineStore engines(TestTools{true, true, false});
  ScopedEnv slow("ORVEL_TEST_CJPEGLI", "sleep:200");
  ScopedEnv failing("ORVEL_TEST_CJPEG_STATIC", "fail");
  std::atomic<int> pumps{0}, refreshes{0}, forced{0};
  SetFrontEndHooks(FrontEndHooks{[&](bool force) { ++(force ? forced : refreshes); }, [&] { ++pumps; }});
  ASSERT_TRUE(EncodeAll(2, 1));
  EXPECT_TRUE(results[0].ok);
  EXPECT_GE(pumps.load(), 5);  // 200 ms at one call per 15 ms
  EXPECT_GE(refreshes.load(), 5);
  EXPECT_EQ(forced.load(), 0);
  ASSERT_TRUE(EncodeAll(5, 2));
  ASSERT_EQ(results.size(), 2u);
  EXPECT_FALSE(results[0].ok);
  EXPECT_EQ(results[0].bytes, 0u);
  EXPECT_TRUE(results[1].ok);
}

TEST_F(ParallelEncodingTest, WicCandidateRunsOnTheCallingThreadWithoutWorkers) {
  TestEngineStore engines(TestTools{});
  std::thread::id refreshThread;
  int forcedRefreshes = 0;
  SetFrontEndHooks(FrontEndHooks{[&](bool force) {
                                   refreshThread = std::this_thread::get_id();
                                   forcedRefreshes += force ? 1 : 0;
                                 },
                                 {}});
  SetWorkerStartProbe(RefuseEveryWorker);  // a refused start would fail the call: none may be tried
  ASSERT_TRUE(EncodeAll(2, 0));
  EXPECT_TRUE(results[0].ok);
  EXPECT_GT(results[0].bytes, 0u);
  EXPECT_EQ(refreshThread, std::this_thread::get_id());
  EXPECT_EQ(forcedRefreshes, 2);
}

TEST_F(ParallelEncodingTest, RefusedWorkerThreadEndsTheEncodingAfterJoiningTheOthers) {
  if (HardwareThreadCount() < 2) GTEST_SKIP() << "needs two hardware threads";
  TestEngineStore engines(TestTools{true, true, false});
  ScopedEnv slow("ORVEL_TEST_CJPEG_STATIC", "sleep:100");
  currentMode = 2;
  SetWorkerStartProbe(RefuseSecondWorker);
  EXPECT_FALSE(EncodeAll(5, 2));
  EXPECT_EQ(results.size(), 2u);
  SetWorkerStartProbe(RefuseEveryWorker);
  EXPECT_FALSE(EncodeAll(5, 2));
  for (const CandidateResult& r : results) EXPECT_FALSE(r.ok);
}

TEST_F(ParallelEncodingTest, MetadataIsCarriedIntoLossyCandidatesBeforeTheirSizeIsTaken) {
  TestEngineStore engines(TestTools{true, false, false});
  const std::string exif = MakeExifOrientationSegment(6);
  ASSERT_TRUE(EncodeAll(2, 1, exif));
  ASSERT_TRUE(results[0].ok);
  const std::string bytes = ReadTextFile(results[0].outputPath);
  EXPECT_EQ(results[0].bytes, bytes.size());
  EXPECT_NE(bytes.find(exif), std::string::npos);
  EXPECT_EQ(bytes.find("JPEGLI"), std::string::npos);  // the stand-in's own comment was replaced
  EXPECT_FALSE(PathExists(results[0].outputPath + ".meta"));
  // A candidate whose rewrite fails counts as failed.
  ScopedEnv garbage("ORVEL_TEST_CJPEGLI", "garbage");
  ASSERT_TRUE(EncodeAll(2, 1, exif));
  EXPECT_FALSE(results[0].ok);
  EXPECT_EQ(results[0].bytes, 0u);
}
