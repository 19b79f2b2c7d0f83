// Faults injected while one image is optimised, through the platform's
// file-system seam (a full disk, a failing rename or fsync, an output folder
// that turns read-only, a work folder that cannot be made) and through the
// test encoder standing in for a tool that crashes, fails, writes nothing or
// writes garbage. Each must end in its proper verdict or in an error, with
// no partial file under a final name and no earlier result lost except where
// a keeping verdict deletes it on purpose. The cases the pipeline tests
// already cover (full disk and failing rename on the output itself, a refused
// worker thread, a lone failing cjpegli) are not repeated here.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "bench/session.h"
#include "bench/summary.h"
#include "core/live_status.h"
#include "core/parallel_encoding.h"
#include "core/pipeline.h"
#include "core/profiles.h"
#include "imaging/decode.h"
#include "platform/files.h"
#include "tests/core/core_test_support.h"
#include "tests/hardening/hardening_support.h"
#include "tests/hardening/sample_files.h"

namespace {

// --- the fault table -----------------------------------------------------------

// Which calls fail, for paths that contain `pathPart`. Set before the table
// is installed; the tracked descriptors are shared with encoder threads.
struct FaultPlan {
  std::string pathPart;     // affected paths contain this text
  int openErrno = 0;        // creating such a file fails
  int writeErrno = 0;       // writing to such a file fails once `writeBudget` is spent
  size_t writeBudget = 0;   // bytes that are still written (a disk filling up)
  int renameErrno = 0;      // a rename from or to such a path fails
  int unlinkErrno = 0;      // deleting such an existing file fails
  int mkdirErrno = 0;       // creating such a folder fails
  int fsyncErrno = 0;       // syncing such a file fails
};

struct FaultState {
  std::mutex mutex;
  FaultPlan plan;
  std::map<int, size_t> written;  // descriptor of an affected file -> bytes written
  int failedCalls = 0;
};
FaultState faults;

bool Affected(const char* path) {
  return !faults.plan.pathPart.empty() && std::string(path).find(faults.plan.pathPart) != std::string::npos;
}

int Fail(int code) {
  ++faults.failedCalls;
  errno = code;
  return -1;
}

int FaultyOpen(const char* path, int flags, mode_t mode) {
  std::lock_guard<std::mutex> lock(faults.mutex);
  if (Affected(path) && faults.plan.openErrno != 0) return Fail(faults.plan.openErrno);
  const int fd = ::open(path, flags, mode);
  if (fd >= 0 && Affected(path)) faults.written[fd] = 0;
  return fd;
}

ssize_t FaultyWrite(int fd, const void* data, size_t size) {
  {
    std::lock_guard<std::mutex> lock(faults.mutex);
    const auto found = faults.written.find(fd);
    if (found != faults.written.end() && faults.plan.writeErrno != 0) {
      const size_t left = faults.plan.writeBudget > found->second ? faults.plan.writeBudget - found->second : 0;
      if (left == 0) return Fail(faults.plan.writeErrno);
      size = std::min(size, left);
      found->second += size;
    }
  }
  return ::write(fd, data, size);
}

int FaultyClose(int fd) {
  {
    std::lock_guard<std::mutex> lock(faults.mutex);
    faults.written.erase(fd);
  }
  return ::close(fd);
}

int FaultyRename(const char* from, const char* to) {
  std::lock_guard<std::mutex> lock(faults.mutex);
  if ((Affected(from) || Affected(to)) && faults.plan.renameErrno != 0) return Fail(faults.plan.renameErrno);
  return ::rename(from, to);
}

int FaultyUnlink(const char* path) {
  std::lock_guard<std::mutex> lock(faults.mutex);
  struct stat info{};
  // As on a real read-only folder, a name that does not exist is ENOENT.
  if (Affected(path) && faults.plan.unlinkErrno != 0 && ::lstat(path, &info) == 0) {
    return Fail(faults.plan.unlinkErrno);
  }
  return ::unlink(path);
}

int FaultyMkdir(const char* path, mode_t mode) {
  std::lock_guard<std::mutex> lock(faults.mutex);
  if (Affected(path) && faults.plan.mkdirErrno != 0) return Fail(faults.plan.mkdirErrno);
  return ::mkdir(path, mode);
}

int FaultyFsync(int fd) {
  std::lock_guard<std::mutex> lock(faults.mutex);
  if (faults.written.count(fd) != 0 && faults.plan.fsyncErrno != 0) return Fail(faults.plan.fsyncErrno);
  return ::fsync(fd);
}

const FileSystemCalls kFaultyCalls = {FaultyOpen,  FaultyWrite, FaultyClose, FaultyRename,
                                      FaultyMkdir, FaultyUnlink, FaultyFsync};

// Installs the plan for its lifetime; `FailedCalls` tells whether it struck.
struct ScopedFaults {
  explicit ScopedFaults(const FaultPlan& plan) {
    {
      std::lock_guard<std::mutex> lock(faults.mutex);
      faults.plan = plan;
      faults.written.clear();
      faults.failedCalls = 0;
    }
    SetFileSystemCalls(&kFaultyCalls);
  }
  ~ScopedFaults() {
    SetFileSystemCalls(nullptr);
    std::lock_guard<std::mutex> lock(faults.mutex);
    faults.plan = FaultPlan{};
  }
  ScopedFaults(const ScopedFaults&) = delete;
  ScopedFaults& operator=(const ScopedFaults&) = delete;
  int FailedCalls() {
    std::lock_guard<std::mutex> lock(faults.mutex);
    return faults.failedCalls;
  }
};

// --- the fixture ------------------------------------------------------------------

const char* const kEarlierOutput = "Ergebnis eines früheren Laufs";

class FaultInjectionTest : public CoreTest {
 protected:
  std::string sources;
  std::string output;
  std::string source;      // a high-quality JPEG every candidate undercuts
  std::string outputPath;  // its output under the profile in use
  std::string encoderLog;  // one line per test-encoder call

  void SetUp() override {
    CoreTest::SetUp();
    sources = Path("quellen");
    output = Path("ausgabe");
    ASSERT_TRUE(EnsureFolder(sources));
    ASSERT_TRUE(EnsureFolder(output));
    source = JoinPath(sources, "turm.jpg");
    ASSERT_TRUE(WriteTestJpeg(source, MakeTestPicture(256, 192, 4), 98));
    encoderLog = Path("encoder.log");
  }

  void PlaceEarlierOutput(const QualityProfile& profile) {
    outputPath = OutputPathFor(source, output, profile);
    ASSERT_TRUE(WriteTextFile(outputPath, kEarlierOutput));
  }

  // Runs the image with an earlier output in place (unless the test placed it
  // before installing its faults) and checks the common promises: the source
  // untouched, nothing in the output folder but the output itself changed,
  // no hidden temporary file left there.
  bool Run(const QualityProfile& profile, ImageResult& result, bool placeEarlier = true) {
    if (placeEarlier) PlaceEarlierOutput(profile);
    const std::string sourceBytes = ReadTextFile(source);
    const FolderSnapshot before = SnapshotFolder(output);
    ScopedEnv log("ORVEL_TEST_ENCODER_LOG", encoderLog.c_str());
    const bool reached = OptimizeImage(source, output, profile, result, {source});
    EXPECT_EQ(ReadTextFile(source), sourceBytes);
    std::vector<std::string> changed = ChangedNames(before, SnapshotFolder(output));
    std::erase(changed, FileNamePart(outputPath));
    EXPECT_EQ(changed, std::vector<std::string>{}) << "only the output may change";
    return reached;
  }

  std::string Earlier() const { return ReadTextFile(outputPath); }
  bool EarlierOutputIntact() const { return Earlier() == kEarlierOutput; }
  size_t ToolStarts() const {
    size_t starts = 0;
    for (const std::string& line : SplitLines(ReadTextFile(encoderLog))) {
      if (line.find(" start ") != std::string::npos) ++starts;
    }
    return starts;
  }
};

}  // namespace

// --- a full disk ------------------------------------------------------------------------

TEST_F(FaultInjectionTest, FullDiskWhileWritingThePpmFailsTheImageAndKeepsTheEarlierOutput) {
  TestEngineStore engines(TestTools{true, false, false});
  ImageResult result;
  {
    ScopedFaults full(FaultPlan{.pathPart = "full.ppm", .writeErrno = ENOSPC, .writeBudget = 5000});
    EXPECT_FALSE(Run(ProfileAt(2), result));
    EXPECT_GT(full.FailedCalls(), 0);
  }
  EXPECT_TRUE(EarlierOutputIntact());
  EXPECT_EQ(ToolStarts(), 0u) << "no tool may read a partial PPM";
  // Nothing of the failed image stands in the way of the next attempt.
  ASSERT_TRUE(Run(ProfileAt(2), result));
  EXPECT_TRUE(result.optimized);
}

TEST_F(FaultInjectionTest, FullDiskWhileTheWicCandidateIsWrittenLeavesNoWinner) {
  TestEngineStore engines(TestTools{});
  ScopedFaults full(FaultPlan{.pathPart = "full_0001.jpg", .writeErrno = ENOSPC, .writeBudget = 300});
  ImageResult result;
  ASSERT_TRUE(Run(ProfileAt(2), result));
  EXPECT_GT(full.FailedCalls(), 0);
  EXPECT_EQ(result.message, kVerdictNoSmallerCandidate);
  EXPECT_FALSE(PathExists(outputPath)) << "a keeping verdict deletes the earlier output";
}

TEST_F(FaultInjectionTest, ToolOutputThatCannotBeCreatedFailsOnlyThatCandidate) {
  TestEngineStore engines(TestTools{true, true, false});
  currentMode = 2;  // profile 5 in mode 2: MozJPEG (full_0001) and Jpegli (full_0002)
  ScopedFaults full(FaultPlan{.pathPart = "full_0001.jpg", .openErrno = ENOSPC});
  ImageResult result;
  ASSERT_TRUE(Run(ProfileAt(5), result));
  EXPECT_GT(full.FailedCalls(), 0);
  EXPECT_EQ(result.candidatesPlanned, 2);
  EXPECT_TRUE(result.optimized) << result.message;
  EXPECT_EQ(result.winnerLabel.rfind("Jpegli", 0), 0u) << result.winnerLabel;
  EXPECT_EQ(ToolStarts(), 1u) << "cjpeg is not started without its output file";
}

TEST_F(FaultInjectionTest, FullDiskWhileCarryingMetadataFailsTheCandidate) {
  TestEngineStore engines(TestTools{true, false, false});
  ASSERT_TRUE(InsertSegmentsIntoJpeg(source, MakeExifOrientationSegment(6)));
  for (const FaultPlan& plan : {FaultPlan{.pathPart = ".meta", .writeErrno = ENOSPC, .writeBudget = 100},
                                FaultPlan{.pathPart = ".meta", .renameErrno = EIO},
                                FaultPlan{.pathPart = ".meta", .openErrno = EDQUOT}}) {
    ScopedFaults fault(plan);
    ImageResult result;
    ASSERT_TRUE(Run(ProfileAt(2), result));
    EXPECT_GT(fault.FailedCalls(), 0);
    // A candidate without the source's metadata never becomes the output.
    EXPECT_EQ(result.message, kVerdictNoSmallerCandidate);
    EXPECT_FALSE(PathExists(outputPath));
  }
}

// --- a failing rename or copy ----------------------------------------------------------------

TEST_F(FaultInjectionTest, FailingSourceCopyDropsOnlyTheJpegtranCandidate) {
  if (JpegtranProgram().empty()) GTEST_SKIP() << "no jpegtran";
  TestEngineStore engines(TestTools{true, false, true});
  ImageResult result;
  ASSERT_TRUE(Run(ProfileAt(2), result));
  EXPECT_EQ(result.candidatesPlanned, 2);
  for (const FaultPlan& plan : {FaultPlan{.pathPart = "original.jpg", .renameErrno = EIO},
                                FaultPlan{.pathPart = "original.jpg", .writeErrno = ENOSPC, .writeBudget = 1000}}) {
    ScopedFaults fault(plan);
    ASSERT_TRUE(Run(ProfileAt(2), result));
    EXPECT_GT(fault.FailedCalls(), 0);
    EXPECT_EQ(result.candidatesPlanned, 1);
    EXPECT_TRUE(result.optimized) << result.message;
  }
}

// --- an output folder that turns read-only ------------------------------------------------

class ReadOnlyOutputTest : public FaultInjectionTest, public ::testing::WithParamInterface<int> {
 protected:
  FaultPlan ReadOnly() const {
    const int code = GetParam();
    return FaultPlan{.pathPart = output + "/", .openErrno = code, .renameErrno = code, .unlinkErrno = code};
  }
};

TEST_P(ReadOnlyOutputTest, PassingWinnerFailsAndTheEarlierOutputSurvives) {
  TestEngineStore engines(TestTools{true, false, false});
  PlaceEarlierOutput(ProfileAt(2));
  ScopedFaults readOnly(ReadOnly());
  ImageResult result;
  EXPECT_FALSE(Run(ProfileAt(2), result, false));
  EXPECT_GT(readOnly.FailedCalls(), 0);
  EXPECT_FALSE(result.optimized);
  EXPECT_TRUE(EarlierOutputIntact());
}

TEST_P(ReadOnlyOutputTest, KeepingVerdictThatCannotDeleteTheEarlierOutputIsAnError) {
  TestEngineStore engines(TestTools{true, false, false});
  ScopedEnv large("ORVEL_TEST_CJPEGLI", "large");
  PlaceEarlierOutput(ProfileAt(2));
  ScopedFaults readOnly(ReadOnly());
  ImageResult result;
  // The verdict would keep the original, but the folder would still hold a
  // stale result beside it.
  EXPECT_FALSE(Run(ProfileAt(2), result, false));
  EXPECT_TRUE(EarlierOutputIntact());
}

TEST_P(ReadOnlyOutputTest, KeepingVerdictWithNothingToDeleteIsReached) {
  TestEngineStore engines(TestTools{true, false, false});
  ScopedEnv large("ORVEL_TEST_CJPEGLI", "large");
  ScopedFaults readOnly(ReadOnly());
  ImageResult result;
  outputPath = OutputPathFor(source, output, ProfileAt(2));
  EXPECT_TRUE(OptimizeImage(source, output, ProfileAt(2), result, {source}));
  EXPECT_EQ(result.message, kVerdictNoSmallerCandidate);
  EXPECT_TRUE(SnapshotFolder(output).empty());
}

INSTANTIATE_TEST_SUITE_P(ErrnoValues, ReadOnlyOutputTest, ::testing::Values(EROFS, EACCES));

// --- a work folder that cannot be made ---------------------------------------------------

TEST_F(FaultInjectionTest, WorkFolderThatCannotBeCreatedFailsAfterFiftyAttempts) {
  TestEngineStore engines(TestTools{true, false, false});
  {
    ScopedFaults refused(FaultPlan{.pathPart = "TALV_", .mkdirErrno = EACCES});
    ImageResult result;
    EXPECT_FALSE(Run(ProfileAt(2), result));
    EXPECT_EQ(refused.FailedCalls(), 50);
  }
  EXPECT_TRUE(EarlierOutputIntact());
  EXPECT_EQ(ToolStarts(), 0u);
  for (const std::string& missing : {Path("gibt es nicht"), Path("datei statt ordner")}) {
    ASSERT_TRUE(WriteTextFile(Path("datei statt ordner"), "x"));
    ScopedEnv tmp("TMPDIR", missing.c_str());
    ImageResult result;
    EXPECT_FALSE(Run(ProfileAt(2), result)) << missing;
    EXPECT_TRUE(EarlierOutputIntact());
  }
}

// --- encoder tools that misbehave ---------------------------------------------------------

namespace {

struct ToolFault {
  const char* behaviour;  // test-encoder behaviour word
  const char* alone;      // verdict when it is the only candidate
};

const ToolFault kToolFaults[] = {
    {"crash", kVerdictNoSmallerCandidate},
    {"fail", kVerdictNoSmallerCandidate},
    {"empty", kVerdictNoSmallerCandidate},
    {"garbage", kVerdictWinnerUndecodable},
};

}  // namespace

TEST_F(FaultInjectionTest, MisbehavingCjpegAloneEndsInItsVerdict) {
  TestEngineStore engines(TestTools{false, true, false});
  for (const ToolFault& fault : kToolFaults) {
    SCOPED_TRACE(fault.behaviour);
    ScopedEnv behaviour("ORVEL_TEST_CJPEG_STATIC", fault.behaviour);
    ImageResult result;
    ASSERT_TRUE(Run(ProfileAt(5), result));
    EXPECT_EQ(result.message, fault.alone);
    EXPECT_TRUE(result.winnerLabel.empty());
    EXPECT_FALSE(PathExists(outputPath)) << "a keeping verdict deletes the earlier output";
  }
}

TEST_F(FaultInjectionTest, GarbageFromAToolCannotCarryMetadataAndNeverWins) {
  TestEngineStore engines(TestTools{true, true, false});
  ASSERT_TRUE(InsertSegmentsIntoJpeg(source, MakeExifOrientationSegment(3)));
  // Profile 2 plans cjpegli alone, profile 5 cjpeg alone (mode 1).
  const std::pair<const char*, int> tools[] = {{"ORVEL_TEST_CJPEGLI", 2}, {"ORVEL_TEST_CJPEG_STATIC", 5}};
  for (const auto& [variable, profile] : tools) {
    ScopedEnv garbage(variable, "garbage");
    ImageResult result;
    ASSERT_TRUE(Run(ProfileAt(profile), result)) << variable;
    EXPECT_EQ(result.message, kVerdictNoSmallerCandidate) << variable;
    EXPECT_EQ(result.candidatesPlanned, 1);
  }
}

TEST_F(FaultInjectionTest, OneMisbehavingToolLeavesTheOtherToWin) {
  TestEngineStore engines(TestTools{true, true, false});
  currentMode = 2;  // profile 5: MozJPEG first, Jpegli as second competitor
  const std::pair<const char*, const char*> tools[] = {{"ORVEL_TEST_CJPEG_STATIC", "Jpegli"},
                                                       {"ORVEL_TEST_CJPEGLI", "MozJPEG"}};
  for (const auto& [variable, survivor] : tools) {
    for (const ToolFault& fault : kToolFaults) {
      SCOPED_TRACE(std::string(variable) + "=" + fault.behaviour);
      ScopedEnv behaviour(variable, fault.behaviour);
      ImageResult result;
      ASSERT_TRUE(Run(ProfileAt(5), result));
      EXPECT_EQ(result.candidatesPlanned, 2);
      if (std::string(fault.behaviour) == "garbage") {
        // A few bytes of garbage are the smallest file: it wins and cannot
        // be decoded, so the original is kept.
        EXPECT_EQ(result.message, kVerdictWinnerUndecodable);
        continue;
      }
      EXPECT_TRUE(result.optimized) << result.message;
      EXPECT_EQ(result.winnerLabel.rfind(survivor, 0), 0u) << result.winnerLabel;
      PixelImage decoded;
      EXPECT_TRUE(DecodeImageFile(outputPath, decoded));
    }
  }
}

// --- why an image failed ------------------------------------------------------------------

namespace {

void RefuseEveryWorker(unsigned) {
  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

enum class SourceKind { Good, Missing, Empty, Text, Truncated, HugeHeader };

struct FailureCase {
  const char* name;
  SourceKind source;
  FaultPlan faults;        // no path part: none
  const char* cjpegli;     // test-encoder behaviour
  bool refuseWorkers;      // the system refuses every worker thread
  bool exhaustMemory;      // memory runs out while the tools run
  const char* reason;
};

// Sets the height and width of the first SOF0 segment.
void DeclareSize(std::string& jpeg, std::uint16_t side) {
  const size_t sof = jpeg.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  for (size_t at : {sof + 5, sof + 7}) {
    jpeg[at] = static_cast<char>(side >> 8);
    jpeg[at + 1] = static_cast<char>(side & 0xFF);
  }
}

}  // namespace

TEST_F(FaultInjectionTest, EveryFailureSaysWhy) {
  const bool jpegtran = !JpegtranProgram().empty();
  // jpegtran runs while the source is decoded, so a source that fails to
  // decode must also end the tool that already started.
  TestEngineStore engines(TestTools{true, false, jpegtran});
  const std::string good = ReadTextFile(source);
  const FailureCase cases[] = {
      {"missing", SourceKind::Missing, {}, "", false, false, "Datei kann nicht gelesen werden"},
      {"empty", SourceKind::Empty, {}, "", false, false, "Datei ist leer"},
      {"text", SourceKind::Text, {}, "", false, false, "kein Bild oder unbekanntes Format"},
      {"truncated", SourceKind::Truncated, {}, "", false, false,
       "Bilddaten sind abgeschnitten oder beschädigt"},
      {"huge header", SourceKind::HugeHeader, {}, "", false, false, "Bild ist zu groß"},
      {"work folder", SourceKind::Good, {.pathPart = "TALV_", .mkdirErrno = EACCES}, "", false,
       false, kFailureWorkFolder},
      {"ppm", SourceKind::Good,
       {.pathPart = "full.ppm", .writeErrno = ENOSPC, .writeBudget = 5000}, "", false, false,
       kFailurePpmNotWritten},
      {"output", SourceKind::Good, {.pathPart = "ausgabe/", .renameErrno = EROFS}, "", false,
       false, kFailureOutputNotWritten},
      // Garbage is the smallest file and cannot be decoded: the original is kept.
      {"stale output", SourceKind::Good, {.pathPart = "ausgabe/", .unlinkErrno = EROFS}, "garbage",
       false, false, kFailureStaleOutput},
      {"thread", SourceKind::Good, {}, "", true, false, kFailureThreadRefused},
      {"memory", SourceKind::Good, {}, "sleep:200", false, true, kFailureOutOfMemory},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = good;
    if (c.source == SourceKind::Empty) bytes.clear();
    if (c.source == SourceKind::Text) bytes = "kein Bild";
    if (c.source == SourceKind::Truncated) bytes.resize(bytes.size() / 2);
    if (c.source == SourceKind::HugeHeader) DeclareSize(bytes, 65000);
    ASSERT_TRUE(WriteTextFile(source, bytes));
    if (c.source == SourceKind::Missing) {
      ASSERT_TRUE(DeleteFileAt(source));
    }
    ScopedEnv behaviour("ORVEL_TEST_CJPEGLI", c.cjpegli);
    SetWorkerStartProbe(c.refuseWorkers ? RefuseEveryWorker : nullptr);
    SetFrontEndHooks(FrontEndHooks{[&c](bool force) {
                                     if (c.exhaustMemory && !force) throw std::bad_alloc();
                                   },
                                   {}});
    ImageResult result;
    {
      ScopedFaults fault(c.faults);
      EXPECT_FALSE(Run(ProfileAt(2), result));
    }
    SetWorkerStartProbe(nullptr);
    SetFrontEndHooks(FrontEndHooks{});
    EXPECT_EQ(result.failureReason, c.reason) << result.message;
    EXPECT_EQ(ProcessingErrorResult(result, source, "Hohe Qualität (empfohlen)").message,
              std::string("Fehler beim Verarbeiten \u2013 ") + c.reason);
    EXPECT_TRUE(WorkFoldersIn(tmpdir).empty());
  }
}

// --- the benchmark's files ------------------------------------------------------------

TEST_F(FaultInjectionTest, SessionFileKeepsItsLastGoodStateWhenSyncOrRenameFails) {
  ScopedEnv data("LOCALAPPDATA", Path("daten").c_str());
  BenchmarkSession session;
  session.root = "/bilder/gut";
  ASSERT_TRUE(SaveSession(session));
  const std::string path = SessionFilePath();
  const std::string good = ReadTextFile(path);
  session.root = "/bilder/neu";
  for (const FaultPlan& plan : {FaultPlan{.pathPart = "benchmark_current.ini", .fsyncErrno = EIO},
                                FaultPlan{.pathPart = "benchmark_current.ini", .renameErrno = ENOSPC}}) {
    ScopedFaults fault(plan);
    EXPECT_FALSE(SaveSession(session));
    EXPECT_GT(fault.FailedCalls(), 0);
    EXPECT_EQ(ReadTextFile(path), good);
    EXPECT_EQ(SnapshotFolder(ParentFolder(path)).size(), 1u) << "no temporary file stays behind";
  }
}

TEST_F(FaultInjectionTest, FailedSummaryWriteStillWritesTheManifest) {
  BenchmarkSession session;
  session.sessionDir = Path("lauf");
  session.csvPath = JoinPath(session.sessionDir, "quality_profile_raw.csv");
  session.images = {"/a.jpg"};
  ASSERT_TRUE(EnsureFolder(session.sessionDir));
  ASSERT_TRUE(WriteTextFile(session.csvPath, "header\r\n"));
  ScopedFaults fault(FaultPlan{.pathPart = kSummaryFileName, .writeErrno = ENOSPC, .writeBudget = 20});
  EXPECT_FALSE(WriteCandidateSummary(session));
  EXPECT_GT(fault.FailedCalls(), 0);
  EXPECT_FALSE(PathExists(JoinPath(session.sessionDir, kSummaryFileName)));
  EXPECT_NE(ReadTextFile(JoinPath(session.sessionDir, kManifestFileName)).find("ProcessedImages=0\n"),
            std::string::npos);
  EXPECT_EQ(SnapshotFolder(session.sessionDir).size(), 2u) << "raw file and manifest only";
}

// --- the command line without a usable temporary folder -------------------------------

TEST_F(FaultInjectionTest, CliWithATemporaryFolderThatIsAFileFailsEveryImageCleanly) {
  // Neither the engine folder nor any work folder can be made: every image
  // ends in "Fehler beim Verarbeiten", the run still finishes with its summary.
  const std::string notAFolder = Path("tmp-datei");
  ASSERT_TRUE(WriteTextFile(notAFolder, "kein Ordner"));
  const std::string second = JoinPath(sources, "zweites Bild.jpg");
  ASSERT_TRUE(WriteTestJpeg(second, MakeTestPicture(128, 96, 5), 95));
  const FolderSnapshot sourcesBefore = SnapshotFolder(sources);
  const FolderSnapshot outputBefore = SnapshotFolder(output);
  const CliRun run = RunCliWithin({"optimize", "--output", output, source, second}, notAFolder,
                                  temp.path, 120);
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.status, 1) << run.err;
  const std::vector<std::string> lines = SplitLines(run.out);
  ASSERT_EQ(lines.size(), 3u) << run.out;
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_NE(lines[i].find("   |   Fehler beim Verarbeiten \u2013 Arbeitsordner kann nicht angelegt "
                            "werden   |   "),
              std::string::npos)
        << lines[i];
  }
  EXPECT_EQ(lines[2].rfind("Zusammenfassung: 2 Bilder", 0), 0u) << lines[2];
  EXPECT_EQ(ChangedNames(sourcesBefore, SnapshotFolder(sources)), std::vector<std::string>{});
  EXPECT_EQ(ChangedNames(outputBefore, SnapshotFolder(output)), std::vector<std::string>{});
  EXPECT_EQ(ReadTextFile(notAFolder), "kein Ordner");
}
