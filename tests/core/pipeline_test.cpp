// The single-image pipeline against the test encoder and the real jpegtran:
// verdicts, stale outputs, ties, the gate at its limits, protected sources,
// --replace and --preserve, metadata, and no work folder left. Failures and
// faults are the hardening suite's fault tables.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <string>
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
#include "tests/core/core_test_support.h"
#include "tests/imaging/fixtures.h"
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
  // With --preserve it takes the source's times and mode (the copy itself is
  // tested with the file layer).
  const timespec times[2] = {{1600000000, 5}, {1200000000, 7}};
  ASSERT_TRUE(::chmod(source.c_str(), 0604) == 0 && ::utimensat(AT_FDCWD, source.c_str(), times, 0) == 0);
  ASSERT_TRUE(OptimizeImage(source, output, ProfileAt(2), result, {source}, nullptr, {}, OutputOptions{false, true}));
  ASSERT_EQ(::stat(out.c_str(), &info), 0);
  EXPECT_EQ(std::make_tuple(info.st_mode & 07777, info.st_atim.tv_sec, info.st_mtim.tv_nsec),
            std::make_tuple(0604u, times[0].tv_sec, times[1].tv_nsec));
}

// Every verdict that keeps the source removes an earlier output of its name
// and leaves the source as it was. Other formats in a file named .jpg are
// kept by the bytes they start with, never decoded and written as a JPEG.
TEST_F(PipelineTest, VerdictsThatKeepTheSourceDeleteAnEarlierOutput) {
  TestEngineStore engines(TestTools{true, false, false});
  const std::string source = MakeSource("b.jpg"), jpeg = ReadTextFile(source), tail(64, '\x01');
  const std::string out = JoinPath(output, "b_hoch.jpg");
  const struct { const char *behaviour, *verdict, *winner; std::string bytes; } cases[] = {
      {"large", kVerdictNoSmallerCandidate, "", jpeg}, {"garbage", kVerdictWinnerUndecodable, "", jpeg},
      // A winner of other dimensions fails the gate with zero figures.
      {"halfsize", kVerdictGateFailed, "Jpegli Q88 420 Progressive", jpeg},
      {"ok", kVerdictNotJpeg, "", std::string("\x89PNG\r\n\x1A\n", 8) + tail},
      {"ok", kVerdictNotJpeg, "", std::string("II*\0", 4) + tail}, {"ok", kVerdictNotJpeg, "", std::string("MM\0*", 4) + tail},
      {"ok", kVerdictNotJpeg, "", "BM" + tail}, {"ok", kVerdictNotJpeg, "", "GIF89a" + tail}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.behaviour) + " " + c.bytes.substr(0, 3));
    ASSERT_TRUE(WriteTextFile(source, c.bytes) && WriteTextFile(out, "earlier result"));
    ScopedEnv env("ORVEL_TEST_CJPEGLI", c.behaviour);
    ASSERT_TRUE(Optimize(source));
    EXPECT_EQ(std::tie(result.optimized, result.failed, result.message, result.winnerLabel),
              std::make_tuple(false, false, std::string(c.verdict), std::string(c.winner)));
    EXPECT_EQ(std::tie(result.resultBytes, result.originalBytes), std::make_tuple(c.bytes.size(), c.bytes.size()));
    EXPECT_EQ(result.score + result.global + result.worst5 + result.worst, 0);
    EXPECT_TRUE(result.windowScores.empty() && result.analysedWidth == 0);
    EXPECT_FALSE(PathExists(out));
    EXPECT_EQ(ReadTextFile(source), c.bytes);
  }
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

// An output name that is a source of the run, however spelled or linked, is
// never touched, whatever the winner.
TEST_F(PipelineTest, OutputThatIsASourceOfTheRunIsNeverTouched) {
  TestEngineStore engines(TestTools{true, false, false});
  const std::string turm = MakeSource("turm.jpg", 2), turmHoch = MakeSource("turm_hoch.jpg", 3);
  const std::string a = MakeSource("a.jpg", 4), before = ReadTextFile(turmHoch);
  // A hard link to another source of the run sits where a's output would go,
  // a symbolic link to turm_hoch.jpg itself where its own output would go.
  ASSERT_EQ(::link(turmHoch.c_str(), JoinPath(output, "a_hoch.jpg").c_str()), 0);
  ASSERT_TRUE(Optimize(a, ProfileAt(2), {a, turmHoch}));
  EXPECT_EQ(result.message, kVerdictProtectedSource);
  ASSERT_EQ(::symlink(turmHoch.c_str(), JoinPath(output, "turm_hoch_hoch.jpg").c_str()), 0);
  ASSERT_TRUE(OptimizeImage(turmHoch, output, ProfileAt(2), result, {}));
  EXPECT_EQ(result.message, kVerdictProtectedSource);
  EXPECT_TRUE(PathExists(JoinPath(output, "a_hoch.jpg")));
  output = sources;
  for (const char* behaviour : {"ok", "large"}) {
    ScopedEnv env("ORVEL_TEST_CJPEGLI", behaviour);
    ASSERT_TRUE(Optimize(turm, ProfileAt(2), {turm, turmHoch}));
    EXPECT_EQ(std::tie(result.optimized, result.message), std::make_tuple(false, std::string(kVerdictProtectedSource)));
    EXPECT_EQ(result.resultBytes, result.originalBytes);
  }
  ASSERT_TRUE(Optimize(turm, ProfileAt(2), {turm, sources + "/./turm_hoch.jpg"}));
  EXPECT_EQ(result.message, kVerdictProtectedSource);
  EXPECT_EQ(ReadTextFile(turmHoch), before);
  // turm_hoch.jpg itself is processed normally: its output is turm_hoch_hoch.jpg.
  ASSERT_TRUE(Optimize(turmHoch, ProfileAt(2), {turm, turmHoch}));
  EXPECT_TRUE(result.optimized);
  EXPECT_TRUE(IsProtectedOutputPath("/x/y/../y//a_hoch.jpg", "/x/y/a.jpg", {"/x/y/a_hoch.jpg"}));
  EXPECT_FALSE(IsProtectedOutputPath("/x/y/a_hoch.jpg", "/x/y/a.jpg", {"/x/y/A_hoch.jpg"}));
  EXPECT_TRUE(IsProtectedOutputPath("/x/a.jpg", "/x/./a.jpg", {}));
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

class PipelineMetadataTest : public PipelineTest {};

namespace {

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

// The source's Exif, ICC profile and comment, a second picture listed by the
// MPF index, and a motion photo's video after it: every kind of winner holds
// them all, and the index points at each picture of the output.
TEST_F(PipelineMetadataTest, EveryKindOfWinnerCarriesMetadataFurtherPicturesAndAppendedBytes) {
  const std::string source = MakeSource("mehrbild.jpg", 4);
  const std::string second = JoinPath(sources, "zweites.bild");
  ASSERT_TRUE(WriteTestJpeg(second, MakeTestPicture(64, 48, 7), 90));
  const std::string exif = MakeExifOrientationSegment(6);
  const std::string carried = exif + MakeSegment(0xE2, std::string("ICC_PROFILE\0\x01\x01", 14) + std::string(600, 'c')) +
                              MakeSegment(0xFE, "Aufgenommen am Turm");
  ASSERT_TRUE(InsertSegmentsIntoJpeg(source, MakeSegment(0xE2, kMpfPayload) + carried));
  std::string bytes, picture;
  ASSERT_TRUE(ReadFileBytes(source, bytes) && ReadFileBytes(second, picture));
  const size_t tiff = MpfTiff(bytes);
  bytes.replace(tiff + kEntries + 4, 4, Le32(static_cast<std::uint32_t>(bytes.size())));
  bytes.replace(tiff + kEntries + 20, 4, Le32(static_cast<std::uint32_t>(picture.size())));
  bytes.replace(tiff + kEntries + 24, 4, Le32(static_cast<std::uint32_t>(bytes.size() - tiff)));
  const std::string trailer = picture + std::string(5000, 'v');
  ASSERT_TRUE(WriteTextFile(source, bytes + trailer));

  const struct { TestTools tools; int mode, profile; const char* winner; } cases[] = {
      {{true, false, false}, 1, 2, "Jpegli Q88 420 Progressive"}, {{}, 0, 2, "WIC Q84 (Schnellprofil)"},
      {{false, false, true}, 1, 0, "jpegtran verlustfrei / Huffman-optimiert"}};
  for (const auto& c : cases) {
    if (c.tools.jpegtran && JpegtranProgram().empty()) continue;  // no jpegtran on this machine
    TestEngineStore engines(c.tools);
    currentMode = c.mode;
    ASSERT_TRUE(Optimize(source, ProfileAt(c.profile)));
    ASSERT_TRUE(result.optimized) << result.message;
    EXPECT_EQ(result.winnerLabel, c.winner);
    std::string out;
    ASSERT_TRUE(ReadFileBytes(result.outputPath, out));
    EXPECT_EQ(result.resultBytes, out.size());
    ASSERT_GT(out.size(), trailer.size());
    EXPECT_EQ(out.substr(out.size() - trailer.size()), trailer) << result.winnerLabel;
    const size_t outTiff = MpfTiff(out);
    ASSERT_NE(outTiff, 0u);
    EXPECT_EQ(ReadLe(out, outTiff + kEntries + 4, 4), out.size() - trailer.size());
    EXPECT_EQ(out.substr(outTiff + ReadLe(out, outTiff + kEntries + 24, 4),
                         ReadLe(out, outTiff + kEntries + 20, 4)), picture);
    EXPECT_TRUE(Metadata(result.outputPath).ends_with(carried)) << result.winnerLabel;
    PixelImage decoded;
    EXPECT_TRUE(DecodeImageFile(result.outputPath, decoded));
  }

  // An index whose second entry points past the end, or whose first entry is
  // not the primary picture, keeps the source.
  const std::pair<size_t, std::uint32_t> broken[] = {
      {kEntries + 24, static_cast<std::uint32_t>(bytes.size() + trailer.size())}, {kEntries + 8, 16}};
  TestEngineStore engines({true, false, true});
  for (const auto& [field, value] : broken) {
    std::string changed = bytes;
    changed.replace(tiff + field, 4, Le32(value));
    ASSERT_TRUE(WriteTextFile(source, changed + trailer));
    ASSERT_TRUE(Optimize(source));
    EXPECT_FALSE(result.optimized) << field;
    EXPECT_EQ(result.message, kVerdictPicturesNotCarried) << field;
  }

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
