// Bad and unusual sources through the whole pipeline: OptimizeImage in every
// compute mode with three profiles, and orvel-cli optimize in every mode.
// Empty files, text named .jpg, truncated and oversized JPEGs, a JPEG with
// more than 500 scans, CMYK, YCCK and grey JPEGs, 16-bit, paletted and
// transparent PNGs, BMP, multi-page TIFF, GIF, a 1 x 1 JPEG, quotes and
// umlauts in every path, and files that vanish. Each must end in a verdict or
// in "Fehler beim Verarbeiten", never in a crash or a hang, and change no file
// but its own output; no work folder may stay behind.
#include <gtest/gtest.h>

#include <fcntl.h>

#include "core/live_status.h"
#include "core/pipeline.h"
#include "core/profiles.h"
#include "imaging/decode.h"
#include "platform/files.h"
#include "tests/core/core_test_support.h"
#include "tests/hardening/hardening_support.h"
#include "tests/hardening/sample_files.h"

namespace {

const char* const kEarlierOutput = "Ergebnis eines früheren Laufs";
using Names = std::vector<std::string>;

class BadInputTest : public CoreTest, public ::testing::WithParamInterface<int> {
 protected:
  std::string sources;  // every source lies in a folder with spaces, quotes and umlauts
  std::string output;
  std::vector<BadInput> inputs;
  Names list;  // the sources as the batch lists them

  void SetUp() override {
    CoreTest::SetUp();
    sources = Path("Quellen mit Leerzeichen, \"Zitat\" und Ümläuten");
    output = Path("Ausgabe 'Ä ö'");
    ASSERT_TRUE(EnsureFolder(sources) && EnsureFolder(output));
    inputs = MakeBadInputs(temp.path);
    for (const BadInput& input : inputs) {
      list.push_back(JoinPath(sources, input.name));
      ASSERT_TRUE(WriteTextFile(list.back(), input.bytes)) << input.name;
    }
    ASSERT_TRUE(WriteTextFile(JoinPath(output, "fremd.txt"), "gehört niemandem von uns"));
  }

  // Optimises input `i` over an earlier output and checks that nothing but
  // its own output changed.
  void Optimise(size_t i, const QualityProfile& profile) {
    SCOPED_TRACE(inputs[i].name + " / " + profile.key);
    const std::string outputPath = OutputPathFor(list[i], output, profile);
    ASSERT_TRUE(WriteTextFile(outputPath, kEarlierOutput));
    const FolderSnapshot sourcesBefore = SnapshotFolder(sources);
    FolderSnapshot expected = SnapshotFolder(output);
    ImageResult result;
    const bool reached = OptimizeImage(list[i], output, profile, result, list);
    EXPECT_EQ(reached, inputs[i].expected == ExpectedEnd::kVerdict) << result.message;
    EXPECT_EQ(result.sourcePath, list[i]);
    EXPECT_EQ(result.originalBytes, inputs[i].bytes.size());
    if (reached) ExpectConsistentResult(result, outputPath);
    // Failures before the output step leave an earlier output alone; a
    // keeping verdict deletes it.
    if (reached && result.optimized) expected[FileNamePart(outputPath)] = ReadTextFile(outputPath);
    if (reached && !result.optimized) expected.erase(FileNamePart(outputPath));
    EXPECT_EQ(ChangedNames(sourcesBefore, SnapshotFolder(sources)), Names{});
    EXPECT_EQ(ChangedNames(expected, SnapshotFolder(output)), Names{});
    EXPECT_TRUE(WorkFoldersIn(tmpdir).empty());
  }

  static void ExpectConsistentResult(const ImageResult& result, const std::string& outputPath) {
    PixelImage decoded;
    if (result.optimized) {
      EXPECT_EQ(result.message, kVerdictOptimized);
      EXPECT_EQ(result.outputPath, outputPath);
      EXPECT_EQ(result.resultBytes, FileSize(outputPath));
      EXPECT_LT(result.resultBytes, result.originalBytes);
      EXPECT_TRUE(DecodeImageFile(outputPath, decoded));
    } else {
      // The verdicts that keep the source (a protected source aside).
      EXPECT_TRUE(result.message == kVerdictNoSmallerCandidate || result.message == kVerdictWinnerUndecodable ||
                  result.message == kVerdictGateFailed || result.message == kVerdictNotJpeg) << result.message;
      EXPECT_TRUE(result.outputPath.empty());
      EXPECT_EQ(result.resultBytes, result.originalBytes);
    }
  }
};

TEST_P(BadInputTest, EveryInputEndsInAVerdictOrAnErrorAndChangesOnlyItsOutput) {
  currentMode = GetParam();
  {
    TestEngineStore engines(TestTools{true, true, true});
    for (const int profileIndex : {0, 2, 5}) {
      for (size_t i = 0; i < inputs.size(); ++i) Optimise(i, ProfileAt(profileIndex));
    }
  }
  if (GetParam() != 1) return;
  // The in-process encoder alone gives the same ends.
  TestEngineStore wicOnly(TestTools{});
  for (size_t i = 0; i < inputs.size(); ++i) Optimise(i, ProfileAt(2));
}

// The result line of the image named `name`, or empty.
std::string LineFor(const Names& lines, const std::string& name) {
  for (const std::string& line : lines) {
    if (line.rfind(name + "   |   ", 0) == 0) return line;
  }
  return "";
}

TEST_P(BadInputTest, EveryInputGetsACliLineAndOnlyOptimisedImagesGetAnOutput) {
  std::vector<std::string> arguments = {"optimize", "--mode", std::to_string(GetParam()), "--output", output};
  arguments.insert(arguments.end(), list.begin(), list.end());
  arguments.push_back(JoinPath(sources, "verschwunden.jpg"));
  const FolderSnapshot sourcesBefore = SnapshotFolder(sources);
  FolderSnapshot expectedOutput = SnapshotFolder(output);
  const CliRun run = WaitForCli(StartCli(arguments, tmpdir, temp.path), std::chrono::seconds(240));
  ASSERT_FALSE(run.timedOut) << "orvel-cli hung";
  EXPECT_EQ(run.status, 1) << run.err;  // some images fail
  const Names lines = SplitLines(run.out);
  ASSERT_EQ(lines.size(), inputs.size() + 2) << run.out;
  EXPECT_EQ(lines.back().rfind("Zusammenfassung: " + std::to_string(inputs.size() + 1) + " Bilder", 0), 0u);
  EXPECT_NE(LineFor(lines, "verschwunden.jpg").find("Original behalten   |   Fehler beim Verarbeiten"), std::string::npos);
  for (size_t i = 0; i < inputs.size(); ++i) {
    SCOPED_TRACE(inputs[i].name);
    const std::string line = LineFor(lines, inputs[i].name);
    ASSERT_FALSE(line.empty());
    // A failure names its reason after the verdict.
    const bool failed = line.find("   |   Fehler beim Verarbeiten \u2013 ") != std::string::npos;
    EXPECT_EQ(failed, inputs[i].expected == ExpectedEnd::kError) << line;
    const std::string outputPath = OutputPathFor(list[i], output, ProfileAt(2));
    // The verdicts and outputs themselves are checked by the test above, which runs the same modes.
    if (line.find(" % kleiner") != std::string::npos) {
      ASSERT_TRUE(ReadFileBytes(outputPath, expectedOutput[FileNamePart(outputPath)])) << line;
    }
  }
  EXPECT_EQ(ChangedNames(expectedOutput, SnapshotFolder(output)), Names{});
  EXPECT_EQ(ChangedNames(sourcesBefore, SnapshotFolder(sources)), Names{});
  EXPECT_EQ(LeftoverWorkFolders(tmpdir), Names{});
}

INSTANTIATE_TEST_SUITE_P(EveryMode, BadInputTest, ::testing::Values(0, 1, 2));

class VanishingSourceTest : public BadInputTest {};

std::string vanishingSource;  // deleted when full.ppm is created, after the decode
int DeleteSourceThenOpen(const char* path, int flags, mode_t mode) {
  if (std::string(path).find("full.ppm") != std::string::npos) DeleteFileAt(vanishingSource);
  return ::open(path, flags, mode);
}

TEST_F(VanishingSourceTest, FileThatVanishesBeforeDecodingIsAnErrorAfterDecodingStillAVerdict) {
  TestEngineStore engines(TestTools{true, true, true});
  const std::string first = list.back(), vanishing = JoinPath(sources, "verschwindet.jpg");  // quotes and umlauts
  ASSERT_TRUE(WriteTextFile(vanishing, SampleJpeg(128, 96)));
  const Names batch = {first, vanishing};
  static std::string toDelete;
  toDelete = vanishing;
  // Deleted by someone else while the first image is being encoded.
  SetFrontEndHooks(FrontEndHooks{[](bool) { DeleteFileAt(toDelete); }, {}});
  ImageResult result;
  EXPECT_TRUE(OptimizeImage(first, output, ProfileAt(2), result, batch)) << result.message;
  SetFrontEndHooks(FrontEndHooks{});
  ASSERT_FALSE(PathExists(vanishing));
  ASSERT_TRUE(WriteTextFile(OutputPathFor(vanishing, output, ProfileAt(2)), kEarlierOutput));
  const FolderSnapshot before = SnapshotFolder(output);
  EXPECT_FALSE(OptimizeImage(vanishing, output, ProfileAt(2), result, batch));
  EXPECT_EQ(result.originalBytes, 0u);
  EXPECT_EQ(ChangedNames(before, SnapshotFolder(output)), Names{});
  // A source path that names a folder is an error too.
  const std::string folder = JoinPath(sources, "ordner.jpg");
  ASSERT_TRUE(EnsureFolder(folder));
  EXPECT_FALSE(OptimizeImage(folder, output, ProfileAt(2), result, {folder}));
  EXPECT_TRUE(IsDirectory(folder));
  // Gone after the decode: the copy for jpegtran, the metadata and the plan
  // were taken before, and the pixels are in memory: nothing reads it again.
  vanishingSource = JoinPath(sources, "gleich weg.jpg");
  ASSERT_TRUE(WriteTextFile(vanishingSource, SampleJpeg(256, 192, JpegRecipe{JpegLayout::Rgb, 97})));
  FileSystemCalls calls = ActiveFileSystemCalls();
  calls.open = DeleteSourceThenOpen;
  SetFileSystemCalls(&calls);
  const bool reached = OptimizeImage(vanishingSource, output, ProfileAt(0), result, {vanishingSource});
  SetFileSystemCalls(nullptr);
  EXPECT_TRUE(reached);
  EXPECT_FALSE(PathExists(vanishingSource));
  EXPECT_EQ(result.candidatesPlanned, 1);
  ExpectConsistentResult(result, OutputPathFor(vanishingSource, output, ProfileAt(0)));
}

}  // namespace
