// The single-image pipeline against the test encoder and the real jpegtran:
// verdicts, stale outputs, ties, the gate at its limits, protected sources,
// the atomic output write, failures, metadata, and no work folder left.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <stdexcept>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

#include "core/jpeg_metadata.h"
#include "core/live_status.h"
#include "core/parallel_encoding.h"
#include "core/picture_trailer.h"
#include "core/pipeline.h"
#include "imaging/decode.h"
#include "imaging/quality.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tests/core/core_test_support.h"
#include "tests/support/file_system.h"

namespace {

class PipelineTest : public CoreTest {
 protected:
  std::string sources, output;  // folders of the source images and of the outputs
  ImageResult result;

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
  bool Optimize(const std::string& source, const QualityProfile& profile = ProfileAt(2),
                const std::vector<std::string>& list = {}) {
    return OptimizeImage(source, output, profile, result,
                         list.empty() ? std::vector<std::string>{source} : list);
  }
  void ExpectNoHiddenFile() {
    for (const std::string& name : FolderEntries(output)) EXPECT_NE(name[0], '.') << name;
  }
};

std::string Metadata(const std::string& path) {
  std::string segments;
  EXPECT_TRUE(ReadJpegMetadataFile(path, segments)) << path;
  return segments;
}

std::string failingFolder;  // the output write into it fails
int failedFd = -1;
int OpenRecordingOutput(const char* path, int flags, mode_t mode) {
  const int fd = ::open(path, flags, mode);
  if (std::string(path).rfind(failingFolder, 0) == 0) failedFd = fd;
  return fd;
}
ssize_t WriteFailingOutput(int fd, const void* data, size_t size) {
  if (fd != failedFd) return ::write(fd, data, size);
  errno = ENOSPC;
  return -1;
}
int RenameFailingIntoOutput(const char* from, const char* to) {
  if (std::string(to).rfind(failingFolder, 0) != 0) return ::rename(from, to);
  errno = EIO;
  return -1;
}
void RefuseEveryWorker(unsigned) {
  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

}  // namespace

TEST_F(PipelineTest, OptimisedImageReplacesAnEarlierOutputUnderItsOutputName) {
  TestEngineStore engines(TestTools{true, false, false});
  const std::string source = MakeSource("IMG_0815.JPG");
  const std::string out = JoinPath(output, "IMG_0815_hoch.jpg");
  ASSERT_TRUE(WriteTextFile(out, "earlier result"));
  const mode_t oldMask = ::umask(022);
  ASSERT_TRUE(Optimize(source));
  ::umask(oldMask);
  EXPECT_TRUE(result.optimized);
  EXPECT_EQ(
      std::tie(result.message, result.outputPath, result.sourcePath, result.profileLabel, result.winnerLabel),
      std::make_tuple(std::string(kVerdictOptimized), out, source, std::string("Hohe Qualität (empfohlen)"),
                      std::string("Jpegli Q88 420 Progressive")));
  EXPECT_EQ(std::make_tuple(result.originalBytes, result.resultBytes, result.candidatesPlanned,
                            result.candidatesEncoded),
            std::make_tuple(FileSize(source), FileSize(out), 1, 1));
  EXPECT_LT(result.resultBytes, result.originalBytes);
  EXPECT_GE(result.global, ProfileAt(2).minGlobal);
  EXPECT_GE(result.score, ProfileAt(2).minComposite);
  struct stat info{};
  ASSERT_EQ(::stat(out.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
  ExpectNoHiddenFile();
}

// Every verdict that keeps the source removes an earlier output of its name.
TEST_F(PipelineTest, VerdictsThatKeepTheSourceDeleteAnEarlierOutput) {
  TestEngineStore engines(TestTools{true, false, false});
  const std::string source = MakeSource("b.jpg");
  const std::string out = JoinPath(output, "b_hoch.jpg");
  const struct { const char *behaviour, *verdict, *winner; } cases[] = {
      {"large", kVerdictNoSmallerCandidate, ""}, {"garbage", kVerdictWinnerUndecodable, ""},
               // A winner of other dimensions fails the gate with zero figures.
               {"halfsize", kVerdictGateFailed, "Jpegli Q88 420 Progressive"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.behaviour);
    ASSERT_TRUE(WriteTextFile(out, "earlier result"));
    ScopedEnv env("ORVEL_TEST_CJPEGLI", c.behaviour);
    ASSERT_TRUE(Optimize(source));
    EXPECT_EQ(std::tie(result.optimized, result.message, result.winnerLabel),
              std::make_tuple(false, std::string(c.verdict), std::string(c.winner)));
    EXPECT_EQ(result.resultBytes, result.originalBytes);
    EXPECT_EQ(result.score + result.global + result.worst5 + result.worst, 0);
    EXPECT_TRUE(result.windowScores.empty() && result.analysedWidth == 0);
    EXPECT_FALSE(PathExists(out));
  }
}

TEST_F(PipelineTest, OtherImageFormatsNamedJpgAreKeptAndNotConverted) {
  TestEngineStore engines(TestTools{true, false, true});
  const std::string out = JoinPath(output, "bild_hoch.jpg");
  // Each content starts as its format announces itself; a JPEG file holding it
  // would otherwise be decoded and written as a lossy JPEG.
  const struct { const char* format; std::string bytes; } cases[] = {
      {"PNG", std::string("\x89PNG\r\n\x1A\n", 8) + std::string(64, '\x01')},
      {"TIFF little-endian", std::string("II*\0", 4) + std::string(64, '\x01')},
      {"TIFF big-endian", std::string("MM\0*", 4) + std::string(64, '\x01')},
      {"BMP", "BM" + std::string(64, '\x01')},
      {"GIF", "GIF89a" + std::string(64, '\x01')}};
  const std::string source = JoinPath(sources, "bild.jpg");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    ASSERT_TRUE(WriteTextFile(source, c.bytes));
    ASSERT_TRUE(WriteTextFile(out, "earlier result"));
    ASSERT_TRUE(Optimize(source));
    EXPECT_EQ(std::tie(result.optimized, result.failed, result.message, result.resultBytes),
              std::make_tuple(false, false, std::string(kVerdictNotJpeg), std::uint64_t{c.bytes.size()}));
    EXPECT_FALSE(PathExists(out));  // a keeping verdict removes a stale output
    EXPECT_EQ(ReadTextFile(source), c.bytes);
  }
  EXPECT_TRUE(WorkFoldersIn(tmpdir).empty());
}

TEST_F(PipelineTest, GateFiguresExactlyAtTheLimitPassAndJustAboveFail) {
  TestEngineStore engines(TestTools{true, false, false});
  const std::string source = MakeSource("d.jpg", 7);
  QualityProfile open = ProfileAt(2);
  open.minGlobal = open.minWorst5 = open.minWorst = open.minComposite = 0;
  ASSERT_TRUE(Optimize(source, open));
  ASSERT_TRUE(result.optimized);
  const ImageResult measured = result;
  // The kept window scores are the analysis of the written file, window by window.
  PixelImage reference, written;
  ASSERT_TRUE(DecodeImageFile(source, reference) && DecodeImageFile(result.outputPath, written));
  EXPECT_EQ(measured.windowScores, AnalyzeQuality(reference, written).windowScores);
  EXPECT_EQ(std::tuple(measured.analysedWidth, measured.analysedHeight, measured.windowScores.size()),
            std::tuple(256u, 192u, AnalysisWindows(256, 192).size()));
  QualityProfile exact = open;
  std::tie(exact.minGlobal, exact.minWorst5, exact.minWorst, exact.minComposite) =
      std::tie(measured.global, measured.worst5, measured.worst, measured.score);
  ASSERT_TRUE(Optimize(source, exact));
  EXPECT_TRUE(result.optimized);
  for (double QualityProfile::*limit : {&QualityProfile::minGlobal, &QualityProfile::minWorst5,
                                        &QualityProfile::minWorst, &QualityProfile::minComposite}) {
    QualityProfile strict = exact;
    strict.*limit = std::nextafter(strict.*limit, 2.0);
    ASSERT_TRUE(Optimize(source, strict));
    EXPECT_EQ(result.message, kVerdictGateFailed);
    EXPECT_EQ(std::tie(result.global, result.worst), std::tie(measured.global, measured.worst));
    EXPECT_EQ(result.windowScores, measured.windowScores);  // kept for the refused winner too
    EXPECT_FALSE(PathExists(JoinPath(output, "d_hoch.jpg")));
  }
  QualityReport report;
  report.global = report.worst5 = report.worst = report.composite = 1.0;
  EXPECT_TRUE(PassesQualityGate(report, true, ProfileAt(0)));
  EXPECT_FALSE(PassesQualityGate(report, false, ProfileAt(0)));
  report.worst = std::nan("");
  EXPECT_FALSE(PassesQualityGate(report, true, ProfileAt(5)));
}

TEST_F(PipelineTest, OutputThatIsASourceOfTheRunIsNeverTouched) {
  TestEngineStore engines(TestTools{true, false, false});
  const std::string turm = MakeSource("turm.jpg", 2);
  const std::string turmHoch = MakeSource("turm_hoch.jpg", 3);
  const std::string before = ReadTextFile(turmHoch);
  output = sources;
  for (const char* behaviour : {"ok", "large"}) {
    ScopedEnv env("ORVEL_TEST_CJPEGLI", behaviour);
    ASSERT_TRUE(Optimize(turm, ProfileAt(2), {turm, turmHoch}));
    EXPECT_EQ(std::tie(result.optimized, result.message),
              std::make_tuple(false, std::string("Ausgabedatei wäre ein Quellbild des Stapels \xE2\x80\x93 Original behalten")));
    EXPECT_EQ(result.resultBytes, result.originalBytes);
    EXPECT_EQ(ReadTextFile(turmHoch), before);
  }
  ASSERT_TRUE(Optimize(turm, ProfileAt(2), {turm, sources + "/./turm_hoch.jpg"}));
  EXPECT_EQ(result.message, kVerdictProtectedSource);
  // turm_hoch.jpg itself is processed normally: its output is turm_hoch_hoch.jpg.
  ASSERT_TRUE(Optimize(turmHoch, ProfileAt(2), {turm, turmHoch}));
  EXPECT_TRUE(result.optimized);
  EXPECT_TRUE(IsProtectedOutputPath("/x/y/../y//a_hoch.jpg", "/x/y/a.jpg", {"/x/y/a_hoch.jpg"}));
  EXPECT_FALSE(IsProtectedOutputPath("/x/y/a_hoch.jpg", "/x/y/a.jpg", {"/x/y/A_hoch.jpg"}));
  EXPECT_TRUE(IsProtectedOutputPath("/x/a.jpg", "/x/./a.jpg", {}));
}

TEST_F(PipelineTest, OutputLinkedToASourceIsProtectedByIdentity) {
  TestEngineStore engines(TestTools{true, false, false});
  const std::string a = MakeSource("a.jpg", 4);
  const std::string other = MakeSource("anders.jpg", 5);
  const std::string before = ReadTextFile(other);
  // A hard link to another source of the run sits where a's output would go.
  ASSERT_EQ(::link(other.c_str(), JoinPath(output, "a_hoch.jpg").c_str()), 0);
  ASSERT_TRUE(Optimize(a, ProfileAt(2), {a, other}));
  EXPECT_EQ(result.message, kVerdictProtectedSource);
  EXPECT_EQ(ReadTextFile(other), before);
  EXPECT_TRUE(PathExists(JoinPath(output, "a_hoch.jpg")));
  ASSERT_EQ(::symlink(other.c_str(), JoinPath(output, "anders_hoch.jpg").c_str()), 0);
  ASSERT_TRUE(OptimizeImage(other, output, ProfileAt(2), result, {}));
  EXPECT_EQ(result.message, kVerdictProtectedSource);
}

// Under --replace the output path is the source: only a passing winner
// touches it (its original then in the trash), and no verdict that keeps the
// source, nor a failure, deletes or trashes anything, though the source is
// in the protected list.
TEST_F(PipelineTest, ReplaceWritesOnlyAPassingWinnerOverTheSourceAndTrashesOnlyItsOriginal) {
  TestEngineStore engines(TestTools{true, false, false});
  ScopedEnv dataHome("XDG_DATA_HOME", Path("daten").c_str());
  const std::string trashFiles = Path("daten/Trash/files");
  const struct { const char *behaviour, *verdict; bool reached, optimized; } cases[] = {
      {"large", kVerdictNoSmallerCandidate, true, false}, {"garbage", kVerdictWinnerUndecodable, true, false},
      {"halfsize", kVerdictGateFailed, true, false},      {"fail", kVerdictProcessingError, false, false},
      {"ok", kVerdictOptimized, true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.behaviour);
    RemoveFolderTree(Path("daten"));
    const std::string source = MakeSource("IMG_0815.JPG");
    const std::string before = ReadTextFile(source);
    ScopedEnv env("ORVEL_TEST_CJPEGLI", c.behaviour);
    EXPECT_EQ(OptimizeImage(source, output, ProfileAt(2), result, {source}, nullptr, {}, OutputOptions{true, false}),
              c.reached);
    if (c.reached) {
      EXPECT_EQ(result.message, c.verdict);
    }
    EXPECT_EQ(result.optimized, c.optimized);
    EXPECT_TRUE(FolderEntries(output).empty());
    if (!c.optimized) {
      EXPECT_EQ(ReadTextFile(source), before);
      EXPECT_TRUE(FolderEntries(trashFiles).empty());
      continue;
    }
    EXPECT_EQ(result.outputPath, source);
    EXPECT_EQ(FileSize(source), result.resultBytes);
    EXPECT_LT(result.resultBytes, result.originalBytes);
    EXPECT_EQ(ReadTextFile(JoinPath(trashFiles, "IMG_0815.JPG")), before);
    EXPECT_EQ(FolderEntries(sources), std::vector<std::string>{"IMG_0815.JPG"});
  }
  // A source behind a link is kept: replacing would put a file where the link was.
  const std::string target = MakeSource("ziel.jpg");
  ASSERT_EQ(::symlink(target.c_str(), JoinPath(sources, "verknuepft.jpg").c_str()), 0);
  ASSERT_TRUE(OptimizeImage(JoinPath(sources, "verknuepft.jpg"), output, ProfileAt(2), result, {}, nullptr, {},
                            OutputOptions{true, false}));
  EXPECT_EQ(result.message, kVerdictSourceIsLink);
  EXPECT_TRUE(IsSymbolicLink(JoinPath(sources, "verknuepft.jpg")));
}

// The copy itself is tested with the file layer; here only that it is used.
TEST_F(PipelineTest, PreserveGivesTheOutputTheSourcesTimesAndMode) {
  TestEngineStore engines(TestTools{true, false, false});
  const std::string source = MakeSource("alt.jpg");
  const timespec times[2] = {{1600000000, 5}, {1200000000, 7}};
  ASSERT_TRUE(::chmod(source.c_str(), 0604) == 0 && ::utimensat(AT_FDCWD, source.c_str(), times, 0) == 0);
  ASSERT_TRUE(OptimizeImage(source, output, ProfileAt(2), result, {source}, nullptr, {}, OutputOptions{false, true}));
  struct stat info{};
  ASSERT_EQ(::stat(result.outputPath.c_str(), &info), 0);
  EXPECT_EQ(std::make_tuple(info.st_mode & 07777, info.st_atim.tv_sec, info.st_mtim.tv_nsec),
            std::make_tuple(0604u, times[0].tv_sec, times[1].tv_nsec));
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
  ASSERT_TRUE(Optimize(first, ProfileAt(2), {first, second}));
  ASSERT_TRUE(result.optimized);
  const std::string written = result.outputPath;
  EXPECT_EQ(written, JoinPath(output, "p_hoch.jpg"));
  const std::string bytes = ReadTextFile(written);
  ASSERT_EQ(::symlink(output.c_str(), Path("verweis").c_str()), 0);
  for (const std::string& folder : {output, output + "/.", Path("verweis")}) {
    for (const char* behaviour : {"ok", "large"}) {  // a passing winner, a keeping verdict
      ScopedEnv env("ORVEL_TEST_CJPEGLI", behaviour);
      ASSERT_TRUE(OptimizeImage(second, folder, ProfileAt(2), result, {first, second}, nullptr, {written}));
      EXPECT_EQ(std::tie(result.optimized, result.message),
                std::make_tuple(false, std::string(kVerdictOutputWrittenThisRun))) << folder;
      EXPECT_EQ(ReadTextFile(written), bytes);
    }
  }
  // Where case is ignored, "P_hoch.jpg" is the file written as "p_hoch.jpg":
  // two names, one inode, as a hard link gives them here.
  const std::string capital = MakeSource("d2/P.jpg", 14);
  ASSERT_EQ(::link(written.c_str(), JoinPath(output, "P_hoch.jpg").c_str()), 0);
  ASSERT_TRUE(OptimizeImage(capital, output, ProfileAt(2), result, {first, capital}, nullptr, {written}));
  EXPECT_EQ(result.message, kVerdictOutputWrittenThisRun);
  EXPECT_EQ(ReadTextFile(written), bytes);
}

// A candidate that could not run says nothing about the size: with none
// completed the image fails and the earlier output stays; with some, the rest
// are judged and the counts say how many ran.
TEST_F(PipelineTest, CandidatesThatCouldNotRunDecideNothing) {
  TestEngineStore engines(TestTools{true, true, false});
  currentMode.store(2);  // the MozJPEG profile then has a Jpegli competitor
  const QualityProfile& profile = ProfileAt(5);
  const std::string source = MakeSource("c.jpg");
  const std::string out = JoinPath(output, std::string("c_") + profile.key + ".jpg");
  const struct { const char *jpegli, *mozjpeg; bool reached; int encoded; } cases[] = {
      {"fail", "crash", false, 0}, {"empty", "fail", false, 0}, {"crash", "ok", true, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.jpegli) + " " + c.mozjpeg);
    ASSERT_TRUE(WriteTextFile(out, "earlier result"));
    ScopedEnv jpegli("ORVEL_TEST_CJPEGLI", c.jpegli), mozjpeg("ORVEL_TEST_CJPEG_STATIC", c.mozjpeg);
    EXPECT_EQ(Optimize(source, profile), c.reached);
    EXPECT_EQ(std::make_tuple(result.candidatesEncoded, result.candidatesPlanned), std::make_tuple(c.encoded, 2));
    if (c.reached) {
      EXPECT_EQ(result.message, kVerdictOptimized);
      continue;
    }
    EXPECT_EQ(result.failureReason, kFailureNoEncoderRan);
    EXPECT_EQ(ReadTextFile(out), "earlier result");
  }
}

// A failed image leaves an earlier output alone, never a partial file, and
// no work folder; the next image goes on normally.
TEST_F(PipelineTest, FailuresLeaveTheEarlierOutputAndNoPartialFile) {
  TestEngineStore engines(TestTools{true, false, false});
  const std::string source = MakeSource("g.jpg"), broken = JoinPath(sources, "kaputt.jpg");
  const std::string out = JoinPath(output, "g_hoch.jpg"), brokenOut = JoinPath(output, "kaputt_hoch.jpg");
  ASSERT_TRUE(WriteTextFile(broken, "no image here"));
  for (const std::string& earlier : {out, brokenOut}) ASSERT_TRUE(WriteTextFile(earlier, "earlier result"));
  EXPECT_FALSE(Optimize(broken));
  failingFolder = output + "/";
  for (bool fullDisk : {true, false}) {
    ScopedFileSystemCalls fault;
    if (fullDisk) {
      fault.calls.open = OpenRecordingOutput;
      fault.calls.write = WriteFailingOutput;
    } else {
      fault.calls.rename = RenameFailingIntoOutput;
    }
    fault.Install();
    EXPECT_FALSE(Optimize(source)) << fullDisk;
    EXPECT_FALSE(result.optimized);
  }
  SetWorkerStartProbe(RefuseEveryWorker);
  EXPECT_FALSE(Optimize(source));
  SetWorkerStartProbe(nullptr);
  {
    ScopedEnv hang("ORVEL_TEST_CJPEGLI", "hang");  // the front end's interrupt arrives while it hangs
    SetFrontEndHooks(FrontEndHooks{{}, [] { CancelToolRuns(); }});
    EXPECT_FALSE(Optimize(source));
    ResetToolRunCancellation();
    EXPECT_EQ(result.failureReason, "abgebrochen");
  }
  {
    ScopedEnv slow("ORVEL_TEST_CJPEGLI", "sleep:100");
    SetFrontEndHooks(FrontEndHooks{[](bool force) {
                                     if (!force) throw std::runtime_error("display gone");
                                   },
                                   {}});
    EXPECT_FALSE(Optimize(source));
    SetFrontEndHooks(FrontEndHooks{});
  }
  for (const std::string& earlier : {out, brokenOut}) EXPECT_EQ(ReadTextFile(earlier), "earlier result");
  ExpectNoHiddenFile();
  EXPECT_TRUE(Optimize(source));
  EXPECT_TRUE(result.optimized);
}

TEST_F(PipelineTest, PhasesFollowThePipelineSteps) {
  TestEngineStore engines(TestTools{true, false, false});
  std::vector<std::string> phases;
  SetFrontEndHooks(FrontEndHooks{[&](bool force) {
    const std::string phase = TakeLiveStatusSnapshot().phase;
    if (force && (phases.empty() || phases.back() != phase)) phases.push_back(phase);
  }, {}});
  PipelineTimings timings;
  ASSERT_TRUE(OptimizeImage(MakeSource("j.jpg"), output, ProfileAt(2), result, {}, &timings));
  EXPECT_EQ(phases, (std::vector<std::string>{
                        "Feste Encoder-Kandidaten werden vorbereitet", "Bild wird dekodiert", "Encodierung",
                        "Größenvergleich", "Nachgelagerte Qualitätskontrolle", "Ergebnis wird gespeichert"}));
  EXPECT_EQ(CurrentLiveStatus().candidatesDone.load(), 1);
  ASSERT_EQ(timings.candidateEncodeMs.size(), 1u);
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
  PixelImage reference, written;
  ASSERT_TRUE(DecodeImageFile(source, reference));
  const struct { const char *mozjpeg, *winner; bool winnerAhead; } cases[] = {
      {"sleep:600", "MozJPEG Q56 420 Progressive + Trellis", false},  // tie: the earlier wins
      {"sleep:600,large", "Jpegli Q56 420 Progressive (zweiter Benchmark-Kandidat)", true}};
  for (const auto& c : cases) {
    ScopedEnv slow("ORVEL_TEST_CJPEG_STATIC", c.mozjpeg);
    PipelineTimings timings;
    ASSERT_TRUE(OptimizeImage(source, output, ProfileAt(5), result, {source}, &timings));
    ASSERT_TRUE(result.optimized) << c.mozjpeg << ": " << result.message;
    EXPECT_EQ(std::tie(result.candidatesPlanned, result.winnerLabel, timings.checksAhead, timings.winnerCheckedAhead),
              std::make_tuple(2, std::string(c.winner), 1, c.winnerAhead)) << c.mozjpeg;
    ASSERT_TRUE(DecodeImageFile(result.outputPath, written));
    const QualityReport report = AnalyzeQuality(reference, written);
    EXPECT_EQ(std::tie(result.global, result.worst5, result.worst, result.score),
              std::tie(report.global, report.worst5, report.worst, report.composite));
  }
}

// The source's Exif, ICC profile and comment reach the output of every kind
// of winner.
class PipelineMetadataTest : public PipelineTest {};

TEST_F(PipelineMetadataTest, EveryKindOfWinnerCarriesTheSourceMetadata) {
  const std::string source = MakeSource("hochformat.jpg", 9);
  const std::string carried =
      MakeExifOrientationSegment(6) +
      MakeSegment(0xE2, std::string("ICC_PROFILE\0\x01\x01", 14) + std::string(600, 'c')) +
      MakeSegment(0xFE, "Aufgenommen am Turm");
  ASSERT_TRUE(InsertSegmentsIntoJpeg(source, carried));
  ASSERT_EQ(Metadata(source), carried);
  const struct { TestTools tools; int mode, profile; const char* winner; } cases[] = {
               {{true, false, false}, 1, 2, "Jpegli Q88 420 Progressive"},
               {{}, 0, 2, "WIC Q84 (Schnellprofil)"},
               {{false, false, true}, 1, 0, "jpegtran verlustfrei / Huffman-optimiert"}};
  for (const auto& c : cases) {
    if (c.tools.jpegtran && JpegtranProgram().empty()) continue;  // no jpegtran on this machine
    TestEngineStore engines(c.tools);
    currentMode = c.mode;
    ASSERT_TRUE(Optimize(source, ProfileAt(c.profile)));
    ASSERT_TRUE(result.optimized) << result.message;
    EXPECT_EQ(result.winnerLabel, c.winner);
    EXPECT_EQ(Metadata(result.outputPath), carried);
    PixelImage decoded;
    EXPECT_TRUE(DecodeImageFile(result.outputPath, decoded));
  }
}

namespace {

std::uint32_t Le32(const std::string& bytes, size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

void PutLe32(std::string& bytes, size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// A little-endian MPF index of two pictures; the entries are filled in later.
const std::string kMpfPayload = std::string("MPF\0II*\0\x08\0\0\0\x02\0", 14) +
                                std::string("\x00\xB0\x07\0\x04\0\0\0" "0100", 12) +
                                std::string("\x02\xB0\x07\0\x20\0\0\0\x26\0\0\0", 12) +
                                std::string(4 + 32, '\0');
constexpr size_t kEntries = 38;  // the entry list, from the TIFF header

// The MPF TIFF header's position in a file, 0 when it has none.
size_t MpfTiff(const std::string& bytes) {
  const size_t at = bytes.find(std::string("MPF\0II*", 7));
  return at == std::string::npos ? 0 : at + 4;
}

}  // namespace

// A primary picture, a second picture listed by the MPF index, and a motion
// photo's video after it: every kind of winner holds them all, and the index
// points at each picture of the output.
TEST_F(PipelineMetadataTest, FurtherPicturesAndAppendedBytesAreCarriedWithTheIndexRewritten) {
  const std::string source = MakeSource("mehrbild.jpg", 4);
  const std::string second = JoinPath(sources, "zweites.bild");
  ASSERT_TRUE(WriteTestJpeg(second, MakeTestPicture(64, 48, 7), 90));
  const std::string exif = MakeExifOrientationSegment(6);
  ASSERT_TRUE(InsertSegmentsIntoJpeg(source, MakeSegment(0xE2, kMpfPayload) + exif));
  std::string bytes, picture;
  ASSERT_TRUE(ReadFileBytes(source, bytes) && ReadFileBytes(second, picture));
  const size_t tiff = MpfTiff(bytes);
  PutLe32(bytes, tiff + kEntries + 4, static_cast<std::uint32_t>(bytes.size()));
  PutLe32(bytes, tiff + kEntries + 20, static_cast<std::uint32_t>(picture.size()));
  PutLe32(bytes, tiff + kEntries + 24, static_cast<std::uint32_t>(bytes.size() - tiff));
  const std::string trailer = picture + std::string(5000, 'v');
  ASSERT_TRUE(WriteTextFile(source, bytes + trailer));

  const struct { TestTools tools; int mode, profile; } cases[] = {
      {{true, false, false}, 1, 2}, {{}, 0, 2}, {{false, false, true}, 1, 0}};
  for (const auto& c : cases) {
    if (c.tools.jpegtran && JpegtranProgram().empty()) continue;
    TestEngineStore engines(c.tools);
    currentMode = c.mode;
    ASSERT_TRUE(Optimize(source, ProfileAt(c.profile)));
    ASSERT_TRUE(result.optimized) << result.message;
    std::string out;
    ASSERT_TRUE(ReadFileBytes(result.outputPath, out));
    EXPECT_EQ(result.resultBytes, out.size());
    ASSERT_GT(out.size(), trailer.size());
    EXPECT_EQ(out.substr(out.size() - trailer.size()), trailer) << result.winnerLabel;
    const size_t outTiff = MpfTiff(out);
    ASSERT_NE(outTiff, 0u);
    EXPECT_EQ(Le32(out, outTiff + kEntries + 4), out.size() - trailer.size());
    EXPECT_EQ(out.substr(outTiff + Le32(out, outTiff + kEntries + 24),
                         Le32(out, outTiff + kEntries + 20)), picture);
    EXPECT_NE(Metadata(result.outputPath).find(exif), std::string::npos);
  }

  // An index whose second entry points past the end keeps the source.
  PutLe32(bytes, tiff + kEntries + 24, static_cast<std::uint32_t>(bytes.size() + trailer.size()));
  ASSERT_TRUE(WriteTextFile(source, bytes + trailer));
  TestEngineStore engines({true, false, true});
  ASSERT_TRUE(Optimize(source));
  EXPECT_FALSE(result.optimized);
  EXPECT_EQ(result.message, kVerdictPicturesNotCarried);

  // The zero pair and stray bytes that libjpeg skips do not hide the EXIF.
  const std::string odd = MakeSource("kopf.jpg", 5);
  ASSERT_TRUE(InsertSegmentsIntoJpeg(odd, std::string("\xFF\0ab", 4) + exif));
  TestEngineStore wic({});
  currentMode = 0;
  ASSERT_TRUE(Optimize(odd));
  ASSERT_TRUE(result.optimized) << result.message;
  EXPECT_EQ(Metadata(result.outputPath), exif);

  // jpegtran warns about the stray bytes and exits 2, with its whole output
  // written: the lossless profile still gets its candidate.
  if (JpegtranProgram().empty()) return;
  TestEngineStore lossless({false, false, true});
  currentMode = 1;
  ASSERT_TRUE(Optimize(odd, ProfileAt(0)));
  EXPECT_EQ(result.candidatesEncoded, 1) << result.message;
  EXPECT_TRUE(result.failureReason.empty()) << result.failureReason;
  if (result.optimized) {
    EXPECT_EQ(Metadata(result.outputPath), exif);
  }
}
