// Encoding candidates: the tools' command lines, EncodeCandidate against the
// test encoder and the real jpegtran; the JPEG header parser and metadata
// rewrite on crafted bytes (under the sanitizers, no overread); and a whole
// plan: result order, worker count, hooks, refused threads, carried metadata.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <tuple>
#include <vector>

#include "engines/engine_store.h"
#include "core/candidate_plan.h"
#include "core/encoder_invocation.h"
#include "core/jpeg_metadata.h"
#include "core/live_status.h"
#include "core/parallel_encoding.h"
#include "imaging/ppm.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/work_folder.h"
#include "tests/core/core_test_support.h"
#include "tests/support/file_system.h"

namespace {

EncoderCandidate Candidate(int engine, int quality, bool progressive, bool trellis = false,
                           bool chroma444 = false) {
  return {.engine = engine, .quality = quality, .progressive = progressive, .trellis = trellis,
          .chroma444 = chroma444};
}

EncoderCandidate Distance(double distance) {
  return {.engine = kEngineJpegli, .quality = 76, .progressive = true, .useDistance = true, .distance = distance};
}

class EncoderInvocationTest : public CoreTest {
 protected:
  TestEngineStore engines{TestTools{true, true, true}};
  std::string folder, ppm;
  PixelImage image = MakeTestPicture(160, 120, 3);

  void SetUp() override {
    CoreTest::SetUp();
    folder = Path("work dir");  // a space in every path
    ppm = JoinPath(folder, "full.ppm");
    ASSERT_TRUE(EnsureFolder(folder));
    ASSERT_TRUE(WritePpm(image, ppm));
  }
  bool Encode(const EncoderCandidate& c, const std::string& out, const std::string& copy = "") {
    return EncodeCandidate(c, image, copy, ppm, out, out, folder);
  }
};

std::string ArgumentsOf(const EncoderCandidate& c) {
  ToolInvocation invocation;
  EXPECT_TRUE(BuildToolInvocation(c, "/w/original.jpg", "/w/full.ppm", "/w/full_0001.jpg",
                                  "/w/full_0001.jpg", invocation));
  return RenderArgumentList(invocation.arguments);
}

const std::string kSoi("\xFF\xD8", 2);
const std::string kApp0 = MakeSegment(0xE0, std::string("JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 14));
const std::string kApp14 = MakeSegment(0xEE, std::string("Adobe\0\x64\0\0\0\0\x01", 12));
const std::string kExif = MakeExifOrientationSegment(6);
const std::string kIcc = MakeSegment(0xE2, std::string("ICC_PROFILE\0\x01\x01", 14) + std::string(40, 'p'));
const std::string kComment = MakeSegment(0xFE, "Turm im Nebel");
const std::string kXmp = MakeSegment(0xE1, "http://ns.adobe.com/xap/1.0/\0<x/>");
const std::string kApp15 = MakeSegment(0xEF, "fifteen");
const std::string kDqt = MakeSegment(0xDB, std::string(65, '\x01'));

// A start-of-frame segment with `components` components (8-bit, 16x16).
std::string Frame(int components) {
  std::string payload("\x08\x00\x10\x00\x10", 5);
  payload += static_cast<char>(components);
  for (int c = 0; c < components; ++c) payload += std::string{static_cast<char>(c + 1), '\x11', '\x00'};
  return MakeSegment(0xC0, payload);
}

// The start of a scan and some entropy-coded bytes (with a stuffed 0xFF00 and
// an APP1-looking pair that must not be taken for a marker), then EOI.
const std::string kScanAndTail = MakeSegment(0xDA, std::string("\x01\x01\x00\x00\x3F\x00", 6)) +
                                 std::string("\x12\x34\xFF\x00\x56\xFF\xE1\x00\x04\xFF\xD9", 11);

const std::uint8_t* Data(const std::string& bytes) { return reinterpret_cast<const std::uint8_t*>(bytes.data()); }

std::string Extract(const std::string& bytes, JpegScanStatus expected = JpegScanStatus::kComplete) {
  std::string segments;
  EXPECT_EQ(ExtractJpegMetadata(Data(bytes), bytes.size(), segments), expected) << bytes.size();
  return segments;
}

std::string Rewrite(const std::string& candidate, const std::string& segments) {
  std::string out;
  EXPECT_TRUE(ReplaceJpegMetadata(Data(candidate), candidate.size(), segments, out));
  return out;
}

// An exactly sized copy, so any overread is caught by the sanitizers.
std::unique_ptr<std::uint8_t[]> ExactCopy(const std::string& bytes) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes.size()]);
  std::memcpy(copy.get(), bytes.data(), bytes.size());
  return copy;
}

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

TEST_F(EncoderInvocationTest, ArgumentListsOfTheThreeTools) {
  const std::pair<EncoderCandidate, std::string> cases[] = {
      {Candidate(kEngineMozjpeg, 80, false),
       "-quality 80 -optimize -notrellis -sample 2x2,1x1,1x1 \"/w/full.ppm\""},
      {Candidate(kEngineMozjpeg, 56, true, true),
       "-quality 56 -optimize -progressive -sample 2x2,1x1,1x1 \"/w/full.ppm\""},
      {Candidate(kEngineMozjpeg, 90, true, false, true),
       "-quality 90 -optimize -progressive -notrellis -sample 1x1,1x1,1x1 \"/w/full.ppm\""},
      {Candidate(kEngineJpegli, 88, true),
       "-q 88 --chroma_subsampling 420 -p 2 --quiet \"/w/full.ppm\" \"/w/full_0001.jpg\""},
      {Candidate(kEngineJpegli, 70, false, false, true),
       "-q 70 --chroma_subsampling 444 -p 0 --quiet \"/w/full.ppm\" \"/w/full_0001.jpg\""},
      {Distance(2.5), "-d 2.50 --chroma_subsampling 420 -p 2 --quiet \"/w/full.ppm\" \"/w/full_0001.jpg\""},
      {Distance(0.75), "-d 0.75 --chroma_subsampling 420 -p 2 --quiet \"/w/full.ppm\" \"/w/full_0001.jpg\""},
      {Candidate(kEngineJpegtran, 90, false), "-copy all -optimize \"/w/original.jpg\""},
      {Candidate(kEngineJpegtran, 90, true), "-copy all -optimize -progressive \"/w/original.jpg\""},
  };
  for (const auto& [candidate, arguments] : cases) EXPECT_EQ(ArgumentsOf(candidate), arguments);
}

TEST_F(EncoderInvocationTest, FullCommandLineAndArgvKeepPathsWhole) {
  ToolInvocation invocation;
  ASSERT_TRUE(BuildToolInvocation(Candidate(kEngineJpegli, 88, true), "", "/w/full.ppm", "/w/o.jpg",
                                  "/w/o.jpg", invocation));
  EXPECT_EQ(RenderCommandLine(invocation),
            "\"" + Engines().jpegliPath +
                "\" -q 88 --chroma_subsampling 420 -p 2 --quiet \"/w/full.ppm\" \"/w/o.jpg\"");
  EXPECT_TRUE(invocation.stdoutPath.empty());
  ASSERT_TRUE(BuildToolInvocation(Candidate(kEngineMozjpeg, 56, true, true), "", "/my photos/\"x\" full.ppm",
                                  "/w/out.jpg", "/w/out.jpg", invocation));
  EXPECT_EQ(ToolArgv(invocation),
            (std::vector<std::string>{"-quality", "56", "-optimize", "-progressive", "-sample", "2x2,1x1,1x1",
                                      "/my photos/\"x\" full.ppm"}));
  EXPECT_EQ(invocation.stdoutPath, "/w/out.jpg");
}

TEST_F(EncoderInvocationTest, RefusesUnavailableEnginesWicAndJpegtranWithoutCopy) {
  ToolInvocation invocation;
  EXPECT_FALSE(BuildToolInvocation(Candidate(kEngineJpegtran, 90, false), "", "p", "o", "o", invocation));
  EXPECT_FALSE(BuildToolInvocation(Candidate(kEngineWic, 90, false), "c", "p", "o", "o", invocation));
  EXPECT_FALSE(BuildToolInvocation(Candidate(9, 90, false), "c", "p", "o", "o", invocation));
  Engines().jpegliAvailable = false;
  EXPECT_FALSE(BuildToolInvocation(Candidate(kEngineJpegli, 90, false), "c", "p", "o", "o", invocation));
}

// A tool that fails, writes nothing or crashes is a failed candidate: see the
// fault tables of the hardening suite, which judge it through the pipeline.
TEST_F(EncoderInvocationTest, ToolsWriteTheirFilesAndAnUnknownArgumentFails) {
  const std::string out = JoinPath(folder, "full_0001.jpg");
  for (const EncoderCandidate& c :
       {Candidate(kEngineJpegli, 88, true), Candidate(kEngineMozjpeg, 56, true, true),
        Candidate(kEngineWic, 84, false)}) {
    EXPECT_TRUE(Encode(c, out)) << c.engine;
    EXPECT_GT(FileSize(out), 0u) << c.engine;
  }
  // The stand-in checks the argument list: a chroma flag it does not know fails.
  ToolInvocation invocation;
  ASSERT_TRUE(BuildToolInvocation(Candidate(kEngineJpegli, 88, true), "", ppm, "o", "o", invocation));
  std::vector<std::string> argv = ToolArgv(invocation);
  argv[3] = "422";
  EXPECT_FALSE(RunTool(invocation.toolPath, argv, "", folder));
}

TEST_F(EncoderInvocationTest, JpegtranTranscodesTheCopyAndWithoutOneStillDeletesTheOldOutput) {
  const std::string out = JoinPath(folder, "full_0003.jpg");
  ASSERT_TRUE(WriteTextFile(out, "left over"));
  EXPECT_FALSE(Encode(Candidate(kEngineJpegtran, 90, false), out, ""));
  EXPECT_FALSE(PathExists(out));
  if (JpegtranProgram().empty()) GTEST_SKIP() << "no jpegtran";
  const std::string copy = JoinPath(folder, "original.jpg");
  ASSERT_TRUE(WriteTestJpeg(copy, image, 90));
  EXPECT_TRUE(Encode(Candidate(kEngineJpegtran, 90, false), out, copy));
  EXPECT_GT(FileSize(out), 0u);
}

TEST(JpegMetadataTest, ExtractsCarriedSegmentsInSourceOrder) {
  EXPECT_EQ(Extract(kSoi + kApp0 + kExif + kDqt + kIcc + kComment + kApp14 + kXmp + kApp15 + Frame(3) +
                    kScanAndTail),
            kExif + kIcc + kComment + kXmp + kApp15);
  EXPECT_EQ(Extract(kSoi + kApp0 + kDqt + Frame(3) + kScanAndTail), "");
  EXPECT_EQ(Extract(kSoi + "\xFF\xFF\xFF" + kComment + "\xFF\xD0" + kDqt + Frame(3) + kScanAndTail),
            kComment);
  // What libjpeg skips with a warning: stray bytes between segments, 0xFF 0x00.
  EXPECT_EQ(Extract(kSoi + kComment + "\x12\x34" + kExif + Frame(3) + kScanAndTail), kComment + kExif);
  EXPECT_EQ(Extract(kSoi + std::string("\xFF\x00", 2) + kExif + Frame(3) + kScanAndTail), kExif);
  // An ICC profile only from three-component sources; other APP2 data stays.
  const std::string mpf = MakeSegment(0xE2, std::string("MPF\0II*\0\x08\0\0\0", 12));
  EXPECT_EQ(Extract(kSoi + kIcc + mpf + kComment + Frame(1) + kScanAndTail), mpf + kComment);
  EXPECT_EQ(Extract(kSoi + kIcc + kComment + Frame(4) + kScanAndTail), kComment);
  EXPECT_EQ(Extract(kSoi + kIcc + kComment + Frame(3) + kScanAndTail), kIcc + kComment);
}

TEST(JpegMetadataTest, NotJpegMalformedAndTruncatedHeaders) {
  const std::pair<std::string, JpegScanStatus> cases[] = {
      {"GIF89a....", JpegScanStatus::kNotJpeg},
      {"", JpegScanStatus::kNotJpeg},
      {kSoi + std::string("\xFF\xE1\x00\x01", 4) + Frame(3), JpegScanStatus::kMalformed},
      {kSoi + kSoi, JpegScanStatus::kMalformed},
      {kSoi + kExif.substr(0, 10), JpegScanStatus::kTruncated},
      {kSoi + kApp0, JpegScanStatus::kTruncated}};
  for (const auto& [bytes, status] : cases) Extract(bytes, status);
  std::string segments;
  EXPECT_EQ(ExtractJpegMetadata(nullptr, 0, segments), JpegScanStatus::kNotJpeg);
}

TEST(JpegMetadataTest, RewriteKeepsApp0FirstAndApp14AndReplacesTheRest) {
  EXPECT_EQ(
      Rewrite(kSoi + kApp0 + kComment + kApp14 + kDqt + Frame(3) + MakeSegment(0xE5, "own") + kScanAndTail,
              kExif + kIcc),
      kSoi + kApp0 + kExif + kIcc + kApp14 + kDqt + Frame(3) + kScanAndTail);
  EXPECT_EQ(Rewrite(kSoi + kDqt + Frame(3) + kScanAndTail, kComment),
            kSoi + kComment + kDqt + Frame(3) + kScanAndTail);
  std::string out;
  for (const std::string& incomplete : {kSoi + kApp0 + kDqt.substr(0, 20), std::string("not a jpeg")}) {
    EXPECT_FALSE(ReplaceJpegMetadata(Data(incomplete), incomplete.size(), kComment, out));
  }
}

// Every prefix of a valid file, and deterministic mutations of it: any
// outcome but a crash or an overread.
TEST(JpegMetadataTest, PrefixesAndMutatedHeadersNeverReadOutOfBounds) {
  const std::string source = kSoi + kApp0 + kExif + kIcc + kComment + kApp14 + kDqt + Frame(3) + kScanAndTail;
  std::string segments, out;
  for (size_t length = 0; length <= source.size(); ++length) {
    const auto bytes = ExactCopy(source.substr(0, length));
    EXPECT_NE(ExtractJpegMetadata(bytes.get(), length, segments), JpegScanStatus::kMalformed) << length;
    ReplaceJpegMetadata(bytes.get(), length, kComment, out);
  }
  std::uint32_t state = 12345;
  auto next = [&state] { state = state * 1664525u + 1013904223u; return state >> 8; };
  int complete = 0;
  for (int round = 0; round < 4000; ++round) {
    std::string mutated = source;
    for (int e = 0, edits = 1 + static_cast<int>(next() % 4); e < edits; ++e) {
      const size_t at = next() % mutated.size();
      switch (next() % 3) {
        case 0: mutated[at] = static_cast<char>(next()); break;
        case 1: mutated[at] = '\xFF'; break;
        default: mutated.resize(at == 0 ? 1 : at); break;
      }
    }
    const auto bytes = ExactCopy(mutated);
    segments.clear();
    if (ExtractJpegMetadata(bytes.get(), mutated.size(), segments) == JpegScanStatus::kComplete) {
      ++complete;
      EXPECT_LE(segments.size(), mutated.size());
    }
    if (ReplaceJpegMetadata(bytes.get(), mutated.size(), segments, out)) {
      EXPECT_LE(out.size(), 2 * mutated.size());
    }
  }
  EXPECT_GT(complete, 0);
}

TEST(JpegMetadataTest, FilesAreRewrittenInPlaceAndReadPastTheFirstBlock) {
  ScopedTempFolder temp;
  const std::string path = temp.Join("full_0001.jpg");
  ASSERT_TRUE(WriteTextFile(path, kSoi + kApp0 + kDqt + Frame(3) + kScanAndTail));
  ASSERT_TRUE(ReplaceJpegMetadataInFile(path, kExif, path + ".meta"));
  EXPECT_EQ(ReadTextFile(path), kSoi + kApp0 + kExif + kDqt + Frame(3) + kScanAndTail);
  ASSERT_TRUE(WriteTextFile(path, "garbage"));
  EXPECT_FALSE(ReplaceJpegMetadataInFile(path, kExif, path + ".meta"));
  EXPECT_EQ(ReadTextFile(path), "garbage");
  EXPECT_EQ(FolderEntries(temp.path), std::vector<std::string>{"full_0001.jpg"});  // no temporary file
  EXPECT_FALSE(ReplaceJpegMetadataInFile(temp.Join("weg.jpg"), kExif, path + ".meta"));  // a candidate gone
  // More than the first read (64 KiB) of metadata before the frame.
  std::string many;
  for (int i = 0; i < 5; ++i) many += MakeSegment(0xED, std::string(60000, static_cast<char>('a' + i)));
  ASSERT_TRUE(WriteTextFile(path, kSoi + kApp0 + many + kDqt + Frame(3) + kScanAndTail));
  std::string segments;
  ASSERT_TRUE(ReadJpegMetadataFile(path, segments));
  EXPECT_EQ(segments, many);
  ASSERT_TRUE(WriteTextFile(path, kSoi + kApp0 + many.substr(0, 100000)));
  EXPECT_FALSE(ReadJpegMetadataFile(path, segments));
  EXPECT_TRUE(segments.empty());
  EXPECT_FALSE(ReadJpegMetadataFile(temp.Join("missing.jpg"), segments));
}

TEST(ChooseWinnerTest, SmallestSuccessfulCandidateBelowTheSourceEarlierOnATie) {
  const auto r = [](bool ok, std::uint64_t bytes) { return CandidateResult{.bytes = bytes, .ok = ok}; };
  const struct { std::vector<CandidateResult> results; std::vector<bool> considered; int winner; } cases[] = {
      {{r(true, 90), r(true, 80), r(true, 80)}, {}, 1}, {{r(false, 10), r(true, 95)}, {}, 1},
      {{r(true, 0), r(true, 100)}, {}, -1},              {{r(true, 50), r(true, 60)}, {false, true}, 1},
      {{r(true, 99)}, {}, 0}};
  for (const auto& c : cases) EXPECT_EQ(ChooseWinner(c.results, 100, c.considered), c.winner) << c.results.size();
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
  EXPECT_EQ(std::tie(results[0].candidate.engine, results[0].outputPath, results[1].candidate.engine,
                     results[1].outputPath),
            std::make_tuple(kEngineMozjpeg, JoinPath(folder.longPath, "full_0001.jpg"), kEngineJpegli,
                            JoinPath(folder.longPath, "full_0002.jpg")));
  for (const CandidateResult& r : results) {
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, FileSize(r.outputPath));
  }
  // Each entry holds its own tool's file: the half-size Jpegli file is smaller.
  EXPECT_LT(results[1].bytes, results[0].bytes);
  EXPECT_NE(ReadTextFile(results[0].outputPath).find("MOZJPG"), std::string::npos);
  EXPECT_NE(ReadTextFile(results[1].outputPath).find("JPEGLI"), std::string::npos);
  const std::string lines = ReadTextFile(log);
  EXPECT_LT(lines.find("cjpegli done"), lines.find("cjpeg-static done"));
  EXPECT_EQ(std::pair(CurrentLiveStatus().candidatesDone.load(), CurrentLiveStatus().candidatesTotal.load()),
            std::pair(2, 2));
}

TEST_F(ParallelEncodingTest, PumpsAndRefreshesWhileToolsRun) {
  TestEngineStore engines(TestTools{true, true, false});
  ScopedEnv slow("ORVEL_TEST_CJPEGLI", "sleep:200");
  std::atomic<int> pumps{0}, refreshes{0}, forced{0};
  SetFrontEndHooks(FrontEndHooks{[&](bool force) { ++(force ? forced : refreshes); }, [&] { ++pumps; }});
  ASSERT_TRUE(EncodeAll(2, 1));
  EXPECT_TRUE(results[0].ok);
  EXPECT_GE(pumps.load(), 5);  // 200 ms at one call per 15 ms
  EXPECT_GE(refreshes.load(), 5);
  EXPECT_EQ(forced.load(), 0);
}

TEST_F(ParallelEncodingTest, WicCandidateRunsOnTheCallingThreadWithoutWorkers) {
  TestEngineStore engines(TestTools{});
  std::thread::id refreshThread;
  int forcedRefreshes = 0;
  SetFrontEndHooks(FrontEndHooks{
      [&](bool force) { refreshThread = std::this_thread::get_id(); forcedRefreshes += force ? 1 : 0; }, {}});
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
  EXPECT_EQ(results.size(), 2u);  // every thread refused: see the fault tables
}

TEST_F(ParallelEncodingTest, MetadataIsCarriedIntoLossyCandidatesBeforeTheirSizeIsTaken) {
  TestEngineStore engines(TestTools{true, false, false});
  ASSERT_TRUE(EncodeAll(2, 1, kExif));
  ASSERT_TRUE(results[0].ok);
  const std::string bytes = ReadTextFile(results[0].outputPath);
  EXPECT_EQ(results[0].bytes, bytes.size());
  EXPECT_NE(bytes.find(kExif), std::string::npos);
  EXPECT_EQ(bytes.find("JPEGLI"), std::string::npos);  // the stand-in's own comment was replaced
  EXPECT_FALSE(PathExists(results[0].outputPath + ".meta"));
}
