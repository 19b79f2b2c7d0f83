// The single-image pipeline against the test encoder and the real jpegtran:
// verdicts, stale outputs, ties, the gate at its limits, protected sources,
// the atomic output write, failures, metadata, and no work folder left.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "core/jpeg_metadata.h"
#include "core/live_status.h"
#include "core/parallel_encoding.h"
#include "core/pipeline.h"
#include "imaging/decode.h"
#include "imaging/quality.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tests/core/core_test_support.h"

namespace {

class PipelineTest : public CoreTest {
 protected:
  std::string sources;  // folder of the source images
  std::string output;   // output folder

  void SetUp() override {
    CoreTest::SetUp();
    sources = Path("quellen");
    output = Path("ausgabe");
    ASSERT_TRUE(EnsureFolder(sources));
    ASSERT_TRUE(EnsureFolder(output));
  }

  // A high-quality source JPEG that every lossy candidate undercuts.
  std::string MakeSource(const std::string& name, std::uint32_t seed = 1) {
    const std::string path = JoinPath(sources, name);
    EXPECT_TRUE(WriteTestJpeg(path, MakeTestPicture(256, 192, seed), 98));
    return path;
  }

  bool Optimize(const std::string& source, ImageResult& result,
                const QualityProfile& profile = ProfileAt(2),
                const std::vector<std::string>& list = {}) {
    return OptimizeImage(source, output, profile, result, list.empty() ? std::vector<std::string>{source} : list);
  }
};

std::string Metadata(const std::string& path) {
  std::string segments;
  EXPECT_TRUE(ReadJpegMetadataFile(path, segments)) << path;
  return segments;
}

std::vector<std::string> HiddenFilesIn(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  while (dir && true) {
    const dirent* entry = ::readdir(dir);
    if (!entry) break;
    const std::string name = entry->d_name;
    if (name != "." && name != ".." && name[0] == '.') names.push_back(name);
  }
  if (dir) ::closedir(dir);
  return names;
}

void ExpectNoFigures(const ImageResult& r) {
  EXPECT_EQ(r.score, 0);
  EXPECT_EQ(r.global, 0);
  EXPECT_EQ(r.worst5, 0);
  EXPECT_EQ(r.worst, 0);
}

}  // namespace

TEST_F(PipelineTest, OptimisedImageIsWrittenUnderItsOutputName) {
  TestEngineStore engines(TestTools{true, false, false});
  const std::string source = MakeSource("IMG_0815.JPG");
  const mode_t oldMask = ::umask(022);
  ImageResult result;
  ASSERT_TRUE(Optimize(source, result));
  ::umask(oldMask);
  const std::string out = JoinPath(output, "IMG_0815_hoch.jpg");
  EXPECT_TRUE(result.optimized);
  EXPECT_EQ(result.message, kVerdictOptimized);
  EXPECT_EQ(result.outputPath, out);
  EXPECT_EQ(result.sourcePath, source);
  EXPECT_EQ(result.profileLabel, "Hohe Qualität (empfohlen)");
  EXPECT_EQ(result.winnerLabel, "Jpegli Q88 420 Progressive");
  EXPECT_EQ(result.originalBytes, FileSize(source));
  EXPECT_EQ(result.resultBytes, FileSize(out));
  EXPECT_LT(result.resultBytes, result.originalBytes);
  EXPECT_EQ(result.candidatesPlanned, 1);
  EXPECT_EQ(result.candidatesEncoded, 1);
  EXPECT_GE(result.global, ProfileAt(2).minGlobal);
  EXPECT_EQ(result.score >= ProfileAt(2).minComposite, true);
  struct stat info{};
  ASSERT_EQ(::stat(out.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
  EXPECT_TRUE(HiddenFilesIn(output).empty());
}

TEST_F(PipelineTest, EarlierOutputIsReplacedOnSuccessAndDeletedWhenTheSourceIsKept) {
  TestEngineStore engines(TestTools{true, false, false});
  const std::string source = MakeSource("haus.jpg");
  const std::string out = JoinPath(output, "haus_hoch.jpg");
  ASSERT_TRUE(WriteTextFile(out, "earlier result"));
  ImageResult result;
  ASSERT_TRUE(Optimize(source, result));
  EXPECT_TRUE(result.optimized);
  EXPECT_NE(ReadTextFile(out), "earlier result");

  ScopedEnv large("ORVEL_TEST_CJPEGLI", "large");
  ASSERT_TRUE(Optimize(source, result));
  EXPECT_FALSE(result.optimized);
  EXPECT_EQ(result.message, kVerdictNoSmallerCandidate);
  EXPECT_FALSE(PathExists(out));
  EXPECT_TRUE(result.winnerLabel.empty());
  EXPECT_EQ(result.resultBytes, result.originalBytes);
  ExpectNoFigures(result);
}

TEST_F(PipelineTest, FailingToolsLeaveNoWinner) {
  TestEngineStore engines(TestTools{true, false, false});
  const std::string source = MakeSource("a.jpg");
  for (const char* behaviour : {"fail", "empty", "crash"}) {
    ScopedEnv env("ORVEL_TEST_CJPEGLI", behaviour);
    ImageResult result;
    ASSERT_TRUE(Optimize(source, result)) << behaviour;
    EXPECT_EQ(result.message, kVerdictNoSmallerCandidate) << behaviour;
  }
}

TEST_F(PipelineTest, UndecodableWinnerKeepsTheSource) {
  TestEngineStore engines(TestTools{true, false, false});
  ScopedEnv garbage("ORVEL_TEST_CJPEGLI", "garbage");
  const std::string source = MakeSource("b.jpg");
  const std::string out = JoinPath(output, "b_hoch.jpg");
  ASSERT_TRUE(WriteTextFile(out, "earlier result"));
  ImageResult result;
  ASSERT_TRUE(Optimize(source, result));
  EXPECT_EQ(result.message, kVerdictWinnerUndecodable);
  EXPECT_TRUE(result.winnerLabel.empty());
  EXPECT_FALSE(PathExists(out));
}

TEST_F(PipelineTest, WinnerOfOtherDimensionsFailsTheGateWithZeroFigures) {
  TestEngineStore engines(TestTools{true, false, false});
  ScopedEnv half("ORVEL_TEST_CJPEGLI", "halfsize");
  const std::string source = MakeSource("c.jpg");
  ImageResult result;
  ASSERT_TRUE(Optimize(source, result));
  EXPECT_EQ(result.message, kVerdictGateFailed);
  EXPECT_EQ(result.winnerLabel, "Jpegli Q88 420 Progressive");
  ExpectNoFigures(result);
  EXPECT_FALSE(PathExists(JoinPath(output, "c_hoch.jpg")));
}

TEST_F(PipelineTest, GateFiguresExactlyAtTheLimitPassAndJustAboveFail) {
  TestEngineStore engines(TestTools{true, false, false});
  const std::string source = MakeSource("d.jpg", 7);
  QualityProfile open = ProfileAt(2);
  open.minGlobal = open.minWorst5 = open.minWorst = open.minComposite = 0;
  ImageResult measured;
  ASSERT_TRUE(Optimize(source, measured, open));
  ASSERT_TRUE(measured.optimized);

  QualityProfile exact = open;
  exact.minGlobal = measured.global;
  exact.minWorst5 = measured.worst5;
  exact.minWorst = measured.worst;
  exact.minComposite = measured.score;
  ImageResult result;
  ASSERT_TRUE(Optimize(source, result, exact));
  EXPECT_TRUE(result.optimized);

  double QualityProfile::*limits[] = {&QualityProfile::minGlobal, &QualityProfile::minWorst5,
                                      &QualityProfile::minWorst, &QualityProfile::minComposite};
  for (double QualityProfile::*limit : limits) {
    QualityProfile strict = exact;
    strict.*limit = std::nextafter(strict.*limit, 2.0);
    ASSERT_TRUE(Optimize(source, result, strict));
    EXPECT_EQ(result.message, kVerdictGateFailed);
    // The failed winner's figures are still reported.
    EXPECT_EQ(result.global, measured.global);
    EXPECT_EQ(result.worst, measured.worst);
    EXPECT_FALSE(PathExists(JoinPath(output, "d_hoch.jpg")));
  }
}

TEST_F(PipelineTest, QualityGateTreatsNotANumberAsFailure) {
  QualityReport report;
  report.global = report.worst5 = report.worst = report.composite = 1.0;
  EXPECT_TRUE(PassesQualityGate(report, true, ProfileAt(0)));
  EXPECT_FALSE(PassesQualityGate(report, false, ProfileAt(0)));
  report.worst = std::nan("");
  EXPECT_FALSE(PassesQualityGate(report, true, ProfileAt(5)));
}

TEST_F(PipelineTest, EqualSizesKeepTheEarlierCandidate) {
  if (HardwareThreadCount() < 2) GTEST_SKIP() << "needs two hardware threads";
  TestEngineStore engines(TestTools{true, true, false});
  currentMode = 2;
  const std::string source = MakeSource("e.jpg");
  ImageResult result;
  ASSERT_TRUE(Optimize(source, result, ProfileAt(5)));
  EXPECT_EQ(result.candidatesPlanned, 2);
  EXPECT_EQ(result.winnerLabel, "MozJPEG Q56 420 Progressive + Trellis");
}

TEST_F(PipelineTest, UndecodableSourceFailsAndLeavesAnEarlierOutputAlone) {
  TestEngineStore engines(TestTools{true, false, false});
  const std::string source = JoinPath(sources, "kaputt.jpg");
  ASSERT_TRUE(WriteTextFile(source, "no image here"));
  const std::string out = JoinPath(output, "kaputt_hoch.jpg");
  ASSERT_TRUE(WriteTextFile(out, "earlier result"));
  ImageResult result;
  EXPECT_FALSE(Optimize(source, result));
  EXPECT_EQ(ReadTextFile(out), "earlier result");
}

TEST_F(PipelineTest, OutputThatIsASourceOfTheRunIsNeverTouched) {
  TestEngineStore engines(TestTools{true, false, false});
  const std::string turm = MakeSource("turm.jpg", 2);
  const std::string turmHoch = MakeSource("turm_hoch.jpg", 3);
  const std::string before = ReadTextFile(turmHoch);
  output = sources;
  for (const char* behaviour : {"ok", "large"}) {
    ScopedEnv env("ORVEL_TEST_CJPEGLI", behaviour);
    ImageResult result;
    ASSERT_TRUE(Optimize(turm, result, ProfileAt(2), {turm, turmHoch}));
    EXPECT_FALSE(result.optimized);
    EXPECT_EQ(result.message, kVerdictProtectedSource);
    EXPECT_EQ(result.message,
              "Ausgabedatei wäre ein Quellbild des Stapels \xE2\x80\x93 Original behalten");
    EXPECT_EQ(result.resultBytes, result.originalBytes);
    EXPECT_EQ(ReadTextFile(turmHoch), before);
  }
  // The same path spelled differently is still the same source.
  ImageResult result;
  ASSERT_TRUE(Optimize(turm, result, ProfileAt(2), {turm, sources + "/./turm_hoch.jpg"}));
  EXPECT_EQ(result.message, kVerdictProtectedSource);
  // turm_hoch.jpg itself is processed normally: its output is turm_hoch_hoch.jpg.
  ASSERT_TRUE(Optimize(turmHoch, result, ProfileAt(2), {turm, turmHoch}));
  EXPECT_TRUE(result.optimized);
}

TEST_F(PipelineTest, OutputLinkedToASourceIsProtectedByIdentity) {
  TestEngineStore engines(TestTools{true, false, false});
  const std::string a = MakeSource("a.jpg", 4);
  const std::string other = MakeSource("anders.jpg", 5);
  const std::string before = ReadTextFile(other);
  // A hard link to another source of the run sits where a's output would go.
  ASSERT_EQ(::link(other.c_str(), JoinPath(output, "a_hoch.jpg").c_str()), 0);
  ImageResult result;
  ASSERT_TRUE(Optimize(a, result, ProfileAt(2), {a, other}));
  EXPECT_EQ(result.message, kVerdictProtectedSource);
  EXPECT_EQ(ReadTextFile(other), before);
  EXPECT_TRUE(PathExists(JoinPath(output, "a_hoch.jpg")));
  // A symbolic link to the image itself is protected without any list.
  ASSERT_EQ(::symlink(other.c_str(), JoinPath(output, "anders_hoch.jpg").c_str()), 0);
  ASSERT_TRUE(OptimizeImage(other, output, ProfileAt(2), result, {}));
  EXPECT_EQ(result.message, kVerdictProtectedSource);
}

TEST_F(PipelineTest, ProtectionComparesNormalisedPathText) {
  EXPECT_TRUE(IsProtectedOutputPath("/x/y/../y//a_hoch.jpg", "/x/y/a.jpg", {"/x/y/a_hoch.jpg"}));
  EXPECT_FALSE(IsProtectedOutputPath("/x/y/a_hoch.jpg", "/x/y/a.jpg", {"/x/y/A_hoch.jpg"}));
  EXPECT_TRUE(IsProtectedOutputPath("/x/a.jpg", "/x/./a.jpg", {}));
}

// --- the atomic output write ------------------------------------------------

namespace {

std::string failingFolder;  // paths below it fail as configured
int failedFd = -1;

int OpenRecordingOutput(const char* path, int flags, mode_t mode) {
  const int fd = ::open(path, flags, mode);
  if (std::string(path).rfind(failingFolder, 0) == 0) failedFd = fd;
  return fd;
}
ssize_t WriteFailingOutput(int fd, const void* data, size_t size) {
  if (fd == failedFd) { errno = ENOSPC; return -1; }
  return ::write(fd, data, size);
}
int RenameFailingIntoOutput(const char* from, const char* to) {
  if (std::string(to).rfind(failingFolder, 0) == 0) { errno = EIO; return -1; }
  return ::rename(from, to);
}
int RealClose(int fd) { return ::close(fd); }
int RealMkdir(const char* path, mode_t mode) { return ::mkdir(path, mode); }
int RealOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t RealWrite(int fd, const void* data, size_t size) { return ::write(fd, data, size); }

const FileSystemCalls kFullDisk = {OpenRecordingOutput, WriteFailingOutput, RealClose, ::rename,
                                   RealMkdir};
const FileSystemCalls kRenameFails = {RealOpen, RealWrite, RealClose, RenameFailingIntoOutput,
                                      RealMkdir};

}  // namespace

TEST_F(PipelineTest, FailedOutputWriteLeavesNoPartialFileAndKeepsTheEarlierOutput) {
  TestEngineStore engines(TestTools{true, false, false});
  const std::string source = MakeSource("f.jpg");
  const std::string out = JoinPath(output, "f_hoch.jpg");
  failingFolder = output + "/";
  for (const FileSystemCalls* calls : {&kFullDisk, &kRenameFails}) {
    ASSERT_TRUE(WriteTextFile(out, "earlier result"));
    failedFd = -1;
    SetFileSystemCalls(calls);
    ImageResult result;
    EXPECT_FALSE(Optimize(source, result));
    SetFileSystemCalls(nullptr);
    EXPECT_FALSE(result.optimized);
    EXPECT_EQ(ReadTextFile(out), "earlier result");
    EXPECT_TRUE(HiddenFilesIn(output).empty());
  }
}

// --- failures while encoding ---------------------------------------------------

namespace {
void RefuseEveryWorker(unsigned) {
  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}
}  // namespace

TEST_F(PipelineTest, RefusedWorkerThreadFailsTheImageAndRemovesItsWorkFolder) {
  TestEngineStore engines(TestTools{true, false, false});
  const std::string source = MakeSource("g.jpg");
  const std::string out = JoinPath(output, "g_hoch.jpg");
  ASSERT_TRUE(WriteTextFile(out, "earlier result"));
  SetWorkerStartProbe(RefuseEveryWorker);
  ImageResult result;
  EXPECT_FALSE(Optimize(source, result));
  EXPECT_EQ(ReadTextFile(out), "earlier result");
  // The next image goes on normally.
  SetWorkerStartProbe(nullptr);
  EXPECT_TRUE(Optimize(source, result));
  EXPECT_TRUE(result.optimized);
}

TEST_F(PipelineTest, CancelledToolsFailTheImageAndKeepTheEarlierOutput) {
  TestEngineStore engines(TestTools{true, false, false});
  ScopedEnv hang("ORVEL_TEST_CJPEGLI", "hang");
  const std::string source = MakeSource("h.jpg");
  const std::string out = JoinPath(output, "h_hoch.jpg");
  ASSERT_TRUE(WriteTextFile(out, "earlier result"));
  // The front-end's interrupt arrives while the tool hangs.
  SetFrontEndHooks(FrontEndHooks{{}, [] { CancelToolRuns(); }});
  ImageResult result;
  EXPECT_FALSE(Optimize(source, result));
  SetFrontEndHooks(FrontEndHooks{});
  ResetToolRunCancellation();
  EXPECT_EQ(result.failureReason, "abgebrochen");
  EXPECT_EQ(ReadTextFile(out), "earlier result");
}

TEST_F(PipelineTest, ExceptionFromTheFrontEndEndsTheImageWithoutLeaks) {
  TestEngineStore engines(TestTools{true, false, false});
  ScopedEnv slow("ORVEL_TEST_CJPEGLI", "sleep:100");
  SetFrontEndHooks(FrontEndHooks{[](bool force) {
                                   if (!force) throw std::runtime_error("display gone");
                                 },
                                 {}});
  ImageResult result;
  EXPECT_FALSE(Optimize(MakeSource("h.jpg"), result));
}

TEST_F(PipelineTest, WicOnlyWritesNeitherPpmNorSourceCopy) {
  TestEngineStore engines(TestTools{});
  const std::string source = MakeSource("i.jpg");
  std::vector<std::string> seen;
  std::string folder = tmpdir;
  SetFrontEndHooks(FrontEndHooks{[&](bool) {
                                   for (const std::string& work : WorkFoldersIn(folder)) {
                                     for (const char* name : {"full.ppm", "original.jpg"}) {
                                       if (PathExists(JoinPath(JoinPath(folder, work), name))) seen.push_back(name);
                                     }
                                   }
                                 },
                                 {}});
  ImageResult result;
  ASSERT_TRUE(Optimize(source, result));
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(result.candidatesPlanned, 1);
  EXPECT_TRUE(result.optimized) << result.message;
  EXPECT_EQ(result.winnerLabel, "WIC Q84 (Schnellprofil)");
}

TEST_F(PipelineTest, PhasesFollowThePipelineSteps) {
  TestEngineStore engines(TestTools{true, false, false});
  std::vector<std::string> phases;
  SetFrontEndHooks(FrontEndHooks{[&](bool force) {
                                   const std::string phase = TakeLiveStatusSnapshot().phase;
                                   if (force && (phases.empty() || phases.back() != phase)) phases.push_back(phase);
                                 },
                                 {}});
  ImageResult result;
  PipelineTimings timings;
  ASSERT_TRUE(OptimizeImage(MakeSource("j.jpg"), output, ProfileAt(2), result, {}, &timings));
  EXPECT_EQ(phases, (std::vector<std::string>{
                        "Feste Encoder-Kandidaten werden vorbereitet", "Bild wird dekodiert",
                        "Encodierung", "Größenvergleich", "Nachgelagerte Qualitätskontrolle",
                        "Ergebnis wird gespeichert"}));
  EXPECT_EQ(CurrentLiveStatus().candidatesDone.load(), 1);
  EXPECT_EQ(timings.candidateEncodeMs.size(), 1u);
  EXPECT_GT(timings.candidateEncodeMs[0], 0.0);
  EXPECT_GT(timings.decodeMs, 0.0);
  EXPECT_GT(timings.analysisMs, 0.0);
  EXPECT_GE(timings.totalMs, timings.encodingMs);
  EXPECT_GE(timings.candidateStartMs.at(0), timings.decodeMs);
}

// A candidate checked ahead, while a slower one still encodes, must leave the
// size rule, the tie rule and the gate's figures exactly as they would be.
TEST_F(PipelineTest, ChecksAheadChangeNeitherTheWinnerNorItsFigures) {
  if (HardwareThreadCount() < 2) GTEST_SKIP() << "needs two hardware threads";
  TestEngineStore engines(TestTools{true, true, false});
  currentMode = 2;  // profile 5: MozJPEG, then Jpegli; both give the same size
  const std::string source = MakeSource("k.jpg", 11);
  PixelImage reference;
  ASSERT_TRUE(DecodeImageFile(source, reference));
  struct Case {
    const char* mozjpeg;  // behaviour of the slow first candidate
    const char* winner;
    bool winnerAhead;
  } cases[] = {
      {"sleep:600", "MozJPEG Q56 420 Progressive + Trellis", false},  // tie: the earlier wins
      {"sleep:600,large", "Jpegli Q56 420 Progressive (zweiter Benchmark-Kandidat)", true},
  };
  for (const Case& c : cases) {
    ScopedEnv slow("ORVEL_TEST_CJPEG_STATIC", c.mozjpeg);
    ImageResult result;
    PipelineTimings timings;
    ASSERT_TRUE(OptimizeImage(source, output, ProfileAt(5), result, {source}, &timings));
    ASSERT_TRUE(result.optimized) << c.mozjpeg << ": " << result.message;
    EXPECT_EQ(result.winnerLabel, c.winner);
    EXPECT_EQ(timings.checksAhead, 1) << c.mozjpeg;
    EXPECT_EQ(timings.winnerCheckedAhead, c.winnerAhead) << c.mozjpeg;
    PixelImage written;
    ASSERT_TRUE(DecodeImageFile(result.outputPath, written));
    const QualityReport report = AnalyzeQuality(reference, written);
    EXPECT_EQ(result.global, report.global);
    EXPECT_EQ(result.worst5, report.worst5);
    EXPECT_EQ(result.worst, report.worst);
    EXPECT_EQ(result.score, report.composite);
  }
}

// Two sources of the same name from different folders into one output
// folder: the second must neither replace nor delete the first one's output,
// however the folder is spelled.
TEST_F(PipelineTest, OutputWrittenEarlierInTheRunIsNeitherReplacedNorDeleted) {
  TestEngineStore engines(TestTools{true, false, false});
  ASSERT_TRUE(EnsureFolder(JoinPath(sources, "d1")));
  ASSERT_TRUE(EnsureFolder(JoinPath(sources, "d2")));
  const std::string first = MakeSource("d1/p.jpg", 12);
  const std::string second = MakeSource("d2/p.jpg", 13);
  ImageResult result;
  ASSERT_TRUE(Optimize(first, result, ProfileAt(2), {first, second}));
  ASSERT_TRUE(result.optimized);
  const std::string written = result.outputPath;
  EXPECT_EQ(written, JoinPath(output, "p_hoch.jpg"));
  const std::string bytes = ReadTextFile(written);
  ASSERT_EQ(::symlink(output.c_str(), Path("verweis").c_str()), 0);
  for (const std::string& folder : {output, output + "/.", Path("verweis")}) {
    for (const char* behaviour : {"ok", "large"}) {  // a passing winner, a keeping verdict
      ScopedEnv env("ORVEL_TEST_CJPEGLI", behaviour);
      ASSERT_TRUE(OptimizeImage(second, folder, ProfileAt(2), result, {first, second}, nullptr,
                                {written}));
      EXPECT_EQ(result.message, kVerdictOutputWrittenThisRun) << folder;
      EXPECT_FALSE(result.optimized);
      EXPECT_EQ(ReadTextFile(written), bytes);
    }
  }
}

// --- metadata --------------------------------------------------------------------

class PipelineMetadataTest : public PipelineTest {
 protected:
  std::string source;
  std::string carried;

  void SetUp() override {
    PipelineTest::SetUp();
    source = MakeSource("hochformat.jpg", 9);
    carried = MakeExifOrientationSegment(6) +
              MakeSegment(0xE2, std::string("ICC_PROFILE\0\x01\x01", 14) + std::string(600, 'c')) +
              MakeSegment(0xFE, "Aufgenommen am Turm");
    ASSERT_TRUE(InsertSegmentsIntoJpeg(source, carried));
    ASSERT_EQ(Metadata(source), carried);
  }
};

TEST_F(PipelineMetadataTest, LossyCandidateCarriesTheSourceMetadata) {
  TestEngineStore engines(TestTools{true, false, false});
  ImageResult result;
  ASSERT_TRUE(Optimize(source, result));
  ASSERT_TRUE(result.optimized) << result.message;
  EXPECT_EQ(Metadata(result.outputPath), carried);
  PixelImage decoded;
  EXPECT_TRUE(DecodeImageFile(result.outputPath, decoded));
}

TEST_F(PipelineMetadataTest, WicCandidateCarriesTheSourceMetadata) {
  TestEngineStore engines(TestTools{});
  currentMode = 0;
  ImageResult result;
  ASSERT_TRUE(Optimize(source, result));
  ASSERT_TRUE(result.optimized) << result.message;
  EXPECT_EQ(Metadata(result.outputPath), carried);
}

TEST_F(PipelineMetadataTest, JpegtranCandidateKeepsTheSourceMetadata) {
  if (JpegtranProgram().empty()) GTEST_SKIP() << "no jpegtran";
  TestEngineStore engines(TestTools{false, false, true});
  ImageResult result;
  ASSERT_TRUE(Optimize(source, result, ProfileAt(0)));
  ASSERT_TRUE(result.optimized) << result.message;
  EXPECT_EQ(result.winnerLabel, "jpegtran verlustfrei / Huffman-optimiert");
  EXPECT_EQ(Metadata(result.outputPath), carried);
}

// --- end to end with the real jpegtran ------------------------------------------

TEST_F(PipelineTest, LosslessProfileOnARealPhotoKeepsEveryPixel) {
  if (JpegtranProgram().empty()) GTEST_SKIP() << "no jpegtran";
  const std::string photo = std::string(ORVEL_TEST_IMAGES) + "/skimage_chelsea_q95.jpg";
  TestEngineStore engines(TestTools{true, true, true});
  ImageResult result;
  ASSERT_TRUE(Optimize(photo, result, ProfileAt(0)));
  ASSERT_TRUE(result.optimized) << result.message;
  EXPECT_EQ(result.outputPath, JoinPath(output, "skimage_chelsea_q95_max_qualitaet.jpg"));
  EXPECT_EQ(result.candidatesPlanned, 1);
  EXPECT_NEAR(result.score, 1.0, 1e-12);
  PixelImage original;
  PixelImage optimised;
  ASSERT_TRUE(DecodeImageFile(photo, original));
  ASSERT_TRUE(DecodeImageFile(result.outputPath, optimised));
  EXPECT_EQ(optimised.width, original.width);
  EXPECT_EQ(optimised.height, original.height);
  EXPECT_TRUE(optimised.pixels == original.pixels);
}
