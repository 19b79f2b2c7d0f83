// Faults injected while one image is optimised, through the platform's
// file-system seam (a full disk, a failing rename or fsync, an output folder
// that turns read-only, a work folder that cannot be made), through the test
// encoder standing in for a tool that crashes, fails, writes nothing or writes
// garbage, and through a front end that runs out of memory, loses its display
// or passes on an interrupt. Each must end in its proper verdict or in an error that
// says why, with no partial file under a final name, the source untouched
// and no earlier result lost except where a keeping verdict deletes it on
// purpose.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "bench/session.h"
#include "bench/summary.h"
#include "core/live_status.h"
#include "core/parallel_encoding.h"
#include "core/pipeline.h"
#include "core/profiles.h"
#include "imaging/decode.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tests/core/core_test_support.h"
#include "tests/hardening/hardening_support.h"
#include "tests/hardening/sample_files.h"
#include "tests/support/fault_calls.h"

namespace {

// An output folder that turns read-only.
FaultPlan ReadOnly(int code) {
  return FaultPlan{.pathPart = "ausgabe/", .openErrno = code, .renameErrno = code, .unlinkErrno = code};
}

const char* const kEarlierOutput = "Ergebnis eines früheren Laufs";

class FaultInjectionTest : public CoreTest {
 protected:
  std::string sources, output;
  std::string source, plain;  // a high-quality JPEG every candidate undercuts, and its bytes
  std::string outputPath;     // its output under the profile in use
  std::string encoderLog;     // one line per test-encoder call
  int failedCalls = 0;        // by the faults of the last Run

  void SetUp() override {
    CoreTest::SetUp();
    sources = Path("quellen"), output = Path("ausgabe"), encoderLog = Path("encoder.log");
    ASSERT_TRUE(EnsureFolder(sources) && EnsureFolder(output));
    source = JoinPath(sources, "turm.jpg");
    ASSERT_TRUE(WriteTestJpeg(source, MakeTestPicture(256, 192, 4), 98));
    plain = ReadTextFile(source);
  }

  // Runs the image, an earlier output in place when `earlier`, and checks the
  // common promises: the source untouched, nothing in the output folder but
  // the output itself changed, no hidden temporary file left there.
  bool Run(const QualityProfile& profile, ImageResult& result, const FaultPlan& plan, bool earlier = true) {
    outputPath = OutputPathFor(source, output, profile);
    EXPECT_TRUE(earlier ? WriteTextFile(outputPath, kEarlierOutput) : DeleteFileAt(outputPath) || !PathExists(outputPath));
    DeleteFileAt(encoderLog);
    const std::string sourceBytes = ReadTextFile(source);
    const FolderSnapshot before = SnapshotFolder(output);
    ScopedEnv log("ORVEL_TEST_ENCODER_LOG", encoderLog.c_str());
    ScopedFaults fault(plan);
    const bool reached = OptimizeImage(source, output, profile, result, {source});
    EXPECT_TRUE(plan.pathPart.empty() || !earlier || fault.FailedCalls() > 0) << "the fault never struck";
    failedCalls = fault.FailedCalls();
    EXPECT_EQ(ReadTextFile(source), sourceBytes);
    std::vector<std::string> changed = ChangedNames(before, SnapshotFolder(output));
    std::erase(changed, FileNamePart(outputPath));
    EXPECT_EQ(changed, std::vector<std::string>{}) << "only the output may change";
    return reached;
  }

  size_t ToolStarts() const {
    size_t starts = 0;
    for (const std::string& line : SplitLines(ReadTextFile(encoderLog))) starts += line.find(" start ") != std::string::npos;
    return starts;
  }
};

// One image under a fault the pipeline survives: it reaches its verdict.
struct SurvivedFault {
  const char* name;
  TestTools tools;
  int mode = 1, profile = 2;
  FaultPlan faults = {};
  const char *cjpegli = nullptr, *cjpeg = nullptr;  // test-encoder behaviours
  bool exif = false;                                // the source carries an Exif orientation
  bool earlier = true;                              // an earlier output is in place
  const char* verdict = kVerdictNoSmallerCandidate;
  const char* winner = "";  // start of the winner's label when optimised
  int planned = 0;          // candidates planned; 0: not checked
  int encoded = -1;         // candidates that ran to completion; -1: not checked
  int toolStarts = -1;      // test-encoder starts; -1: not checked
};

}  // namespace

TEST_F(FaultInjectionTest, SurvivedFaultsEndInTheirVerdict) {
  const TestTools jpegli{true, false, false}, cjpeg{false, true, false}, both{true, true, false},
      withJpegtran{true, false, true};
  const char *const optimized = kVerdictOptimized, *const undecodable = kVerdictWinnerUndecodable;
  std::vector<SurvivedFault> cases = {
      {.name = "no fault", .tools = jpegli, .verdict = optimized},
      // Profile 5 in mode 2: MozJPEG (full_0001) and Jpegli (full_0002).
      {.name = "cjpeg output cannot be created", .tools = both, .mode = 2, .profile = 5,
       .faults = {.pathPart = "full_0001.jpg", .openErrno = ENOSPC}, .verdict = optimized, .winner = "Jpegli",
       .planned = 2, .toolStarts = 1},
      // A failing copy of the source drops only the jpegtran candidate.
      {.name = "source copy", .tools = withJpegtran, .verdict = optimized, .planned = 2},
      {.name = "source copy not renamed", .tools = withJpegtran,
       .faults = {.pathPart = "original.jpg", .renameErrno = EIO}, .verdict = optimized, .planned = 1},
      {.name = "source copy on a full disk", .tools = withJpegtran,
       .faults = {.pathPart = "original.jpg", .writeErrno = ENOSPC, .writeBudget = 1000}, .verdict = optimized,
       .planned = 1},
  };
  for (const int code : {EROFS, EACCES}) {  // a keeping verdict in a read-only folder with nothing to delete
    cases.push_back({.name = "read-only", .tools = jpegli, .faults = ReadOnly(code), .cjpegli = "large", .earlier = false});
  }
  // A tool that misbehaves alone (profile 5, mode 1: cjpeg alone), or beside
  // the other, which then wins; a few bytes of garbage are the smallest file,
  // win and cannot be decoded: the original is kept.
  // A tool that could not run alone is a failure (see the failure cases); one
  // that could not run beside the other decides nothing and is not counted.
  cases.push_back({.name = "cjpeg alone", .tools = cjpeg, .profile = 5, .cjpeg = "garbage", .verdict = undecodable});
  for (const char* behaviour : {"crash", "fail", "empty", "garbage"}) {
    const bool garbage = std::string(behaviour) == "garbage";
    const char* verdict = garbage ? undecodable : optimized;
    cases.push_back({.name = "cjpeg, Jpegli", .tools = both, .mode = 2, .profile = 5, .cjpeg = behaviour,
                     .verdict = verdict, .winner = "Jpegli", .planned = 2, .encoded = garbage ? 2 : 1});
    cases.push_back({.name = "cjpegli, MozJPEG", .tools = both, .mode = 2, .profile = 5, .cjpegli = behaviour,
                     .verdict = verdict, .winner = "MozJPEG", .planned = 2, .encoded = garbage ? 2 : 1});
  }
  for (const SurvivedFault& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + (c.cjpeg ? c.cjpeg : "") + (c.cjpegli ? c.cjpegli : "") +
                 std::to_string(c.faults.openErrno));
    if (c.tools.jpegtran && JpegtranProgram().empty()) continue;
    ASSERT_TRUE(WriteTextFile(source, plain));
    ASSERT_TRUE(!c.exif || InsertSegmentsIntoJpeg(source, MakeExifOrientationSegment(6)));
    TestEngineStore engines(c.tools);
    currentMode = c.mode;
    ScopedEnv jpegliBehaviour("ORVEL_TEST_CJPEGLI", c.cjpegli), cjpegBehaviour("ORVEL_TEST_CJPEG_STATIC", c.cjpeg);
    ImageResult result;
    ASSERT_TRUE(Run(ProfileAt(c.profile), result, c.faults, c.earlier)) << result.message;
    EXPECT_EQ(result.message, c.verdict);
    EXPECT_EQ(result.candidatesPlanned, c.planned > 0 ? c.planned : result.candidatesPlanned);
    EXPECT_EQ(result.candidatesEncoded, c.encoded >= 0 ? c.encoded : result.candidatesEncoded);
    EXPECT_TRUE(c.toolStarts < 0 || ToolStarts() == static_cast<size_t>(c.toolStarts)) << ToolStarts();
    PixelImage decoded;
    if (result.optimized) {
      EXPECT_EQ(result.winnerLabel.rfind(c.winner, 0), 0u) << result.winnerLabel;
      EXPECT_TRUE(DecodeImageFile(outputPath, decoded));
    } else {
      EXPECT_TRUE(result.winnerLabel.empty()) << result.winnerLabel;
      EXPECT_FALSE(PathExists(outputPath)) << "a keeping verdict deletes the earlier output";
    }
  }
}

namespace {

void RefuseEveryWorker(unsigned) {
  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

// One image under a fault it cannot survive: an error that says why.
struct FailureCase {
  const char* name;
  std::optional<std::string> bytes;   // the source's bytes; none: the good photo
  bool missing = false;               // the source does not exist
  FaultPlan faults = {};
  const char* cjpegli = nullptr;      // test-encoder behaviour
  const char* tmpdir = nullptr;       // TMPDIR, when not the test's own
  bool refuseWorkers = false;         // the system refuses every worker thread
  void (*refresh)(bool force) = nullptr;  // the front end's refresh while the tools run
  void (*pump)() = nullptr;               // its event pump then
  const char* reason = nullptr;
  int failedCalls = -1;               // exactly; -1: not checked
  bool toolStarts = true;             // false: no tool may start
  bool jpegtran = true;               // jpegtran among the tools, where installed
  bool jpegli = true;                 // the Jpegli tool (the test encoder) among them
  bool exif = false;                  // the source carries an Exif orientation
};

}  // namespace

TEST_F(FaultInjectionTest, EveryFailureSaysWhyAndKeepsTheEarlierOutput) {
  ASSERT_TRUE(WriteTextFile(Path("datei statt ordner"), "x"));
  std::vector<FailureCase> cases = {
      {.name = "missing", .missing = true, .reason = "Datei kann nicht gelesen werden"},
      {.name = "empty", .bytes = "", .reason = "Datei ist leer"},
      {.name = "text", .bytes = "kein Bild", .reason = "kein Bild oder unbekanntes Format"},
      {.name = "truncated", .bytes = plain.substr(0, plain.size() / 2),
       .reason = "Bilddaten sind abgeschnitten oder beschädigt"},
      {.name = "huge header", .bytes = WithJpegFrameSize(plain, 65000, 65000), .reason = "Bild ist zu groß"},
      // Fifty attempts at a work folder, then no tool starts.
      {.name = "work folder", .faults = {.pathPart = "TALV_", .mkdirErrno = EACCES}, .reason = kFailureWorkFolder,
       .failedCalls = 50, .toolStarts = false},
      {.name = "no temporary folder", .tmpdir = "gibt es nicht", .reason = kFailureWorkFolder, .toolStarts = false},
      {.name = "temporary folder is a file", .tmpdir = "datei statt ordner", .reason = kFailureWorkFolder,
       .toolStarts = false},
      // No tool may read a partial PPM.
      {.name = "ppm", .faults = {.pathPart = "full.ppm", .writeErrno = ENOSPC, .writeBudget = 5000},
       .reason = kFailurePpmNotWritten, .toolStarts = false},
      {.name = "output", .faults = {.pathPart = "ausgabe/", .renameErrno = EROFS}, .reason = kFailureOutputNotWritten},
      // Garbage is the smallest file and cannot be decoded: the original is
      // kept, but the folder would still hold a stale result beside it.
      {.name = "stale output", .faults = {.pathPart = "ausgabe/", .unlinkErrno = EROFS}, .cjpegli = "garbage",
       .reason = kFailureStaleOutput},
      {.name = "output on a full disk", .faults = {.pathPart = "ausgabe/", .writeErrno = ENOSPC},
       .reason = kFailureOutputNotWritten},
      {.name = "thread", .refuseWorkers = true, .reason = kFailureThreadRefused},
      // What the front end may do while a tool runs: run out of memory, lose
      // its display, or pass on the user's interrupt to a hanging tool.
      {.name = "memory", .cjpegli = "sleep:200", .refresh = [](bool force) { if (!force) throw std::bad_alloc(); },
       .reason = kFailureOutOfMemory},
      {.name = "display", .cjpegli = "sleep:100",
       .refresh = [](bool force) { if (!force) throw std::runtime_error("display gone"); }, .reason = kFailureUnexpected},
      {.name = "interrupt", .cjpegli = "hang", .pump = [] { CancelToolRuns(); }, .reason = kFailureCancelled},
  };
  // No candidate ran to completion: nothing says the source is the smaller.
  for (const char* behaviour : {"crash", "fail", "empty"}) {
    cases.push_back({.name = "the only tool", .cjpegli = behaviour, .reason = kFailureNoEncoderRan, .jpegtran = false});
  }
  // A candidate without the source's metadata never becomes the output; as
  // the only one, it leaves nothing to judge.
  for (const FaultPlan& fault : {FaultPlan{.pathPart = ".meta", .writeErrno = ENOSPC, .writeBudget = 100},
                                 FaultPlan{.pathPart = ".meta", .renameErrno = EIO},
                                 FaultPlan{.pathPart = ".meta", .openErrno = EDQUOT}}) {
    cases.push_back({.name = "metadata", .faults = fault, .reason = kFailureNoEncoderRan, .jpegtran = false, .exif = true});
  }
  // Garbage cannot carry metadata and never wins (profile 2: cjpegli alone).
  cases.push_back({.name = "garbage, Exif", .cjpegli = "garbage", .reason = kFailureNoEncoderRan, .jpegtran = false,
                   .exif = true});
  cases.push_back({.name = "WIC candidate on a full disk",
                   .faults = {.pathPart = "full_0001.jpg", .writeErrno = ENOSPC, .writeBudget = 300},
                   .reason = kFailureNoEncoderRan, .jpegtran = false, .jpegli = false});
  for (const int code : {EROFS, EACCES}) {  // a read-only output folder
    cases.push_back({.name = "read-only output", .faults = ReadOnly(code), .reason = kFailureOutputNotWritten});
    cases.push_back({.name = "read-only, stale output", .faults = ReadOnly(code), .cjpegli = "large",
                     .reason = kFailureStaleOutput, .jpegtran = false});
  }
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + (c.cjpegli ? c.cjpegli : "") + std::to_string(c.faults.openErrno));
    ASSERT_TRUE(WriteTextFile(source, c.bytes.value_or(plain)));
    ASSERT_TRUE(!c.missing || DeleteFileAt(source));
    ASSERT_TRUE(!c.exif || InsertSegmentsIntoJpeg(source, MakeExifOrientationSegment(6)));
    // jpegtran runs while the source is decoded, so a source that fails to
    // decode must also end the tool that already started.
    TestEngineStore engines(TestTools{c.jpegli, false, c.jpegtran && !JpegtranProgram().empty()});
    ScopedEnv behaviour("ORVEL_TEST_CJPEGLI", c.cjpegli);
    std::optional<ScopedEnv> tmp;
    if (c.tmpdir != nullptr) tmp.emplace("TMPDIR", Path(c.tmpdir).c_str());
    SetWorkerStartProbe(c.refuseWorkers ? RefuseEveryWorker : nullptr);
    SetFrontEndHooks(FrontEndHooks{c.refresh, c.pump});
    ImageResult result;
    EXPECT_FALSE(Run(ProfileAt(2), result, c.faults));
    SetWorkerStartProbe(nullptr);
    SetFrontEndHooks(FrontEndHooks{});
    ResetToolRunCancellation();
    EXPECT_EQ(result.failureReason, c.reason) << result.message;
    EXPECT_EQ(ProcessingErrorResult(result, source, "Hohe Qualität (empfohlen)").message,
              std::string("Fehler beim Verarbeiten \u2013 ") + c.reason);
    EXPECT_EQ(ReadTextFile(outputPath), kEarlierOutput);
    EXPECT_EQ(failedCalls, c.failedCalls >= 0 ? c.failedCalls : failedCalls);
    EXPECT_TRUE(c.toolStarts || ToolStarts() == 0) << "no tool may start";
    EXPECT_TRUE(WorkFoldersIn(tmpdir).empty());
  }
}

// --- the benchmark's files ------------------------------------------------------------

TEST_F(FaultInjectionTest, SessionFileKeepsItsLastGoodStateWhenAWriteSyncOrRenameFails) {
  ScopedEnv data("LOCALAPPDATA", Path("daten").c_str());
  BenchmarkSession session;
  session.root = "/bilder/gut";
  ASSERT_TRUE(SaveSession(session));
  const std::string path = SessionFilePath(), good = ReadTextFile(path);
  session.root = "/bilder/neu";
  for (const FaultPlan& plan : {FaultPlan{.pathPart = "benchmark_current.ini", .writeErrno = ENOSPC, .writeBudget = 10},
                                FaultPlan{.pathPart = "benchmark_current.ini", .fsyncErrno = EIO},
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
  ASSERT_TRUE(EnsureFolder(session.sessionDir) && WriteTextFile(session.csvPath, "header\r\n"));
  ScopedFaults fault(FaultPlan{.pathPart = kSummaryFileName, .writeErrno = ENOSPC, .writeBudget = 20});
  EXPECT_FALSE(WriteCandidateSummary(session));
  EXPECT_GT(fault.FailedCalls(), 0);
  EXPECT_FALSE(PathExists(JoinPath(session.sessionDir, kSummaryFileName)));
  EXPECT_NE(ReadTextFile(JoinPath(session.sessionDir, kManifestFileName)).find("ProcessedImages=0\n"), std::string::npos);
  EXPECT_EQ(SnapshotFolder(session.sessionDir).size(), 2u) << "raw file and manifest only";
}

// Neither the engine folder nor any work folder can be made: every image ends
// in "Fehler beim Verarbeiten", the run still finishes with its summary.
TEST_F(FaultInjectionTest, CliWithATemporaryFolderThatIsAFileFailsEveryImageCleanly) {
  const std::string notAFolder = Path("tmp-datei"), second = JoinPath(sources, "zweites Bild.jpg");
  ASSERT_TRUE(WriteTextFile(notAFolder, "kein Ordner"));
  ASSERT_TRUE(WriteTestJpeg(second, MakeTestPicture(128, 96, 5), 95));
  const FolderSnapshot sourcesBefore = SnapshotFolder(sources), outputBefore = SnapshotFolder(output);
  const CliRun run = WaitForCli(StartCli({"optimize", "--output", output, source, second}, notAFolder, temp.path));
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.status, 1) << run.err;
  const std::vector<std::string> lines = SplitLines(run.out);
  ASSERT_EQ(lines.size(), 3u) << run.out;
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_NE(lines[i].find("   |   Fehler beim Verarbeiten \u2013 Arbeitsordner kann nicht angelegt werden   |   "),
              std::string::npos) << lines[i];
  }
  EXPECT_EQ(lines[2].rfind("Zusammenfassung: 2 Bilder", 0), 0u) << lines[2];
  EXPECT_EQ(ChangedNames(sourcesBefore, SnapshotFolder(sources)), std::vector<std::string>{});
  EXPECT_EQ(ChangedNames(outputBefore, SnapshotFolder(output)), std::vector<std::string>{});
  EXPECT_EQ(ReadTextFile(notAFolder), "kein Ordner");
}
