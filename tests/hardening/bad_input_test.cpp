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

#include <algorithm>
#include <string>
#include <vector>

#include "engines/engine_store.h"
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

class BadInputTest : public CoreTest {
 protected:
  std::string sources;  // every source lies in a folder with spaces, quotes and umlauts
  std::string output;
  std::vector<BadInput> inputs;
  std::vector<std::string> list;  // the sources as the batch lists them

  void SetUp() override {
    CoreTest::SetUp();
    sources = Path("Quellen mit Leerzeichen, \"Zitat\" und Ümläuten");
    output = Path("Ausgabe 'Ä ö'");
    ASSERT_TRUE(EnsureFolder(sources));
    ASSERT_TRUE(EnsureFolder(output));
    inputs = MakeBadInputs(temp.path);
    for (const BadInput& input : inputs) {
      const std::string path = JoinPath(sources, input.name);
      ASSERT_TRUE(WriteTextFile(path, input.bytes)) << input.name;
      list.push_back(path);
    }
    ASSERT_TRUE(WriteTextFile(JoinPath(output, "fremd.txt"), "gehört niemandem von uns"));
  }
};

// What one OptimizeImage call may have changed, given what it returned.
void ExpectOnlyItsOwnOutputChanged(const FolderSnapshot& before, const FolderSnapshot& after,
                                   const std::string& outputName, bool reached,
                                   const ImageResult& result) {
  FolderSnapshot expected = before;
  if (!reached) {
    // Failures before the output step leave an earlier output alone.
  } else if (result.optimized) {
    const auto written = after.find(outputName);
    ASSERT_NE(written, after.end());
    expected[outputName] = written->second;
  } else {
    expected.erase(outputName);  // a keeping verdict deletes the earlier output
  }
  EXPECT_EQ(ChangedNames(expected, after), std::vector<std::string>{});
}

void ExpectConsistentResult(const ImageResult& result, bool reached, const std::string& outputPath) {
  if (!reached) return;
  if (result.optimized) {
    EXPECT_EQ(result.message, kVerdictOptimized);
    EXPECT_EQ(result.outputPath, outputPath);
    EXPECT_EQ(result.resultBytes, FileSize(outputPath));
    EXPECT_LT(result.resultBytes, result.originalBytes);
    PixelImage decoded;
    EXPECT_TRUE(DecodeImageFile(outputPath, decoded));
  } else {
    EXPECT_TRUE(IsKeepingVerdict(result.message)) << result.message;
    EXPECT_TRUE(result.outputPath.empty());
    EXPECT_EQ(result.resultBytes, result.originalBytes);
  }
}

class BadInputPipelineTest : public BadInputTest, public ::testing::WithParamInterface<int> {};

}  // namespace

TEST_P(BadInputPipelineTest, EveryInputEndsInAVerdictOrAnErrorAndChangesOnlyItsOutput) {
  currentMode = GetParam();
  TestEngineStore engines(TestTools{true, true, true});
  for (const int profileIndex : {0, 2, 5}) {
    const QualityProfile& profile = ProfileAt(profileIndex);
    for (size_t i = 0; i < inputs.size(); ++i) {
      SCOPED_TRACE(inputs[i].name + " / " + profile.key);
      const std::string outputPath = OutputPathFor(list[i], output, profile);
      ASSERT_TRUE(WriteTextFile(outputPath, kEarlierOutput));
      const FolderSnapshot sourcesBefore = SnapshotFolder(sources);
      const FolderSnapshot outputBefore = SnapshotFolder(output);

      ImageResult result;
      const bool reached = OptimizeImage(list[i], output, profile, result, list);

      EXPECT_EQ(reached, inputs[i].expected == ExpectedEnd::kVerdict) << result.message;
      ExpectConsistentResult(result, reached, outputPath);
      EXPECT_EQ(result.sourcePath, list[i]);
      EXPECT_EQ(result.originalBytes, inputs[i].bytes.size());
      EXPECT_EQ(ChangedNames(sourcesBefore, SnapshotFolder(sources)), std::vector<std::string>{});
      ExpectOnlyItsOwnOutputChanged(outputBefore, SnapshotFolder(output),
                                    FileNamePart(outputPath), reached, result);
      EXPECT_TRUE(WorkFoldersIn(tmpdir).empty());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryMode, BadInputPipelineTest, ::testing::Values(0, 1, 2));

TEST_F(BadInputTest, WicAloneGivesTheSameEndsWithoutAnyTool) {
  TestEngineStore engines(TestTools{});
  for (size_t i = 0; i < inputs.size(); ++i) {
    SCOPED_TRACE(inputs[i].name);
    ImageResult result;
    const bool reached = OptimizeImage(list[i], output, ProfileAt(2), result, list);
    EXPECT_EQ(reached, inputs[i].expected == ExpectedEnd::kVerdict) << result.message;
    ExpectConsistentResult(result, reached, OutputPathFor(list[i], output, ProfileAt(2)));
  }
}

TEST_F(BadInputTest, FileThatVanishesBetweenListingAndProcessingIsAnError) {
  TestEngineStore engines(TestTools{true, false, true});
  const std::string first = list.back();  // the photo with quotes and umlauts
  const std::string vanishing = JoinPath(sources, "verschwindet.jpg");
  ASSERT_TRUE(WriteTextFile(vanishing, SampleJpeg(128, 96)));
  const std::vector<std::string> batch = {first, vanishing};
  static std::string toDelete;
  toDelete = vanishing;
  // Deleted by someone else while the first image is being encoded.
  SetFrontEndHooks(FrontEndHooks{[](bool) { DeleteFileAt(toDelete); }, {}});
  ImageResult result;
  EXPECT_TRUE(OptimizeImage(first, output, ProfileAt(2), result, batch)) << result.message;
  SetFrontEndHooks(FrontEndHooks{});
  ASSERT_FALSE(PathExists(vanishing));

  const std::string outputPath = OutputPathFor(vanishing, output, ProfileAt(2));
  ASSERT_TRUE(WriteTextFile(outputPath, kEarlierOutput));
  const FolderSnapshot before = SnapshotFolder(output);
  EXPECT_FALSE(OptimizeImage(vanishing, output, ProfileAt(2), result, batch));
  EXPECT_EQ(result.originalBytes, 0u);
  EXPECT_EQ(ChangedNames(before, SnapshotFolder(output)), std::vector<std::string>{});
}

namespace {

std::string vanishingSource;  // deleted when full.ppm is created, after the decode
int DeleteSourceThenOpen(const char* path, int flags, mode_t mode) {
  if (std::string(path).find("full.ppm") != std::string::npos) DeleteFileAt(vanishingSource);
  return ::open(path, flags, mode);
}

}  // namespace

TEST_F(BadInputTest, FileThatVanishesAfterDecodingStillEndsInAVerdict) {
  TestEngineStore engines(TestTools{true, true, true});
  vanishingSource = JoinPath(sources, "gleich weg.jpg");
  ASSERT_TRUE(WriteTextFile(vanishingSource, SampleJpeg(256, 192, JpegRecipe{JpegLayout::Rgb, 97})));
  FileSystemCalls calls = ActiveFileSystemCalls();
  calls.open = DeleteSourceThenOpen;
  SetFileSystemCalls(&calls);
  ImageResult result;
  // The copy for jpegtran, the metadata and the plan were taken before the
  // decode, and the pixels are in memory: nothing reads the source again.
  const bool reached = OptimizeImage(vanishingSource, output, ProfileAt(0), result, {vanishingSource});
  SetFileSystemCalls(nullptr);
  EXPECT_TRUE(reached);
  EXPECT_FALSE(PathExists(vanishingSource));
  EXPECT_EQ(result.candidatesPlanned, 1);
  ExpectConsistentResult(result, reached, OutputPathFor(vanishingSource, output, ProfileAt(0)));
}

TEST_F(BadInputTest, SourcePathThatNamesAFolderIsAnError) {
  TestEngineStore engines(TestTools{true, true, true});
  const std::string folder = JoinPath(sources, "ordner.jpg");
  ASSERT_TRUE(EnsureFolder(folder));
  ImageResult result;
  EXPECT_FALSE(OptimizeImage(folder, output, ProfileAt(2), result, {folder}));
  EXPECT_TRUE(IsDirectory(folder));
}

// --- orvel-cli -------------------------------------------------------------------------

namespace {

class BadInputCliTest : public BadInputTest, public ::testing::WithParamInterface<int> {};

// The result line of the image named `name`, or empty.
std::string LineFor(const std::vector<std::string>& lines, const std::string& name) {
  for (const std::string& line : lines) {
    if (line.rfind(name + "   |   ", 0) == 0) return line;
  }
  return "";
}

}  // namespace

TEST_P(BadInputCliTest, EveryInputGetsALineAndOnlyOptimisedImagesGetAnOutput) {
  const std::string vanished = JoinPath(sources, "verschwunden.jpg");
  std::vector<std::string> arguments = {"optimize", "--mode", std::to_string(GetParam()),
                                        "--output", output};
  arguments.insert(arguments.end(), list.begin(), list.end());
  arguments.push_back(vanished);
  const FolderSnapshot sourcesBefore = SnapshotFolder(sources);
  const FolderSnapshot outputBefore = SnapshotFolder(output);

  const CliRun run = RunCliWithin(arguments, tmpdir, temp.path, 240);

  ASSERT_FALSE(run.timedOut) << "orvel-cli hung";
  EXPECT_EQ(run.status, 1) << run.err;  // some images fail
  const std::vector<std::string> lines = SplitLines(run.out);
  ASSERT_EQ(lines.size(), inputs.size() + 2) << run.out;
  EXPECT_EQ(lines.back().rfind("Zusammenfassung: " + std::to_string(inputs.size() + 1) + " Bilder", 0), 0u)
      << lines.back();
  EXPECT_NE(LineFor(lines, "verschwunden.jpg").find("Original behalten   |   Fehler beim Verarbeiten"),
            std::string::npos);

  FolderSnapshot expectedOutput = outputBefore;
  for (size_t i = 0; i < inputs.size(); ++i) {
    SCOPED_TRACE(inputs[i].name);
    const std::string line = LineFor(lines, inputs[i].name);
    ASSERT_FALSE(line.empty());
    // A failure names its reason after the verdict.
    const bool failed = line.find("   |   Fehler beim Verarbeiten \u2013 ") != std::string::npos;
    EXPECT_EQ(failed, inputs[i].expected == ExpectedEnd::kError) << line;
    const std::string outputName = FileNamePart(OutputPathFor(list[i], output, ProfileAt(2)));
    if (line.find(" % kleiner") != std::string::npos) {
      std::string written;
      ASSERT_TRUE(ReadFileBytes(JoinPath(output, outputName), written)) << line;
      expectedOutput[outputName] = written;
      PixelImage decoded;
      EXPECT_TRUE(DecodeImageFile(JoinPath(output, outputName), decoded));
    } else if (!failed) {
      bool named = false;
      for (const char* verdict : {kVerdictNoSmallerCandidate, kVerdictWinnerUndecodable, kVerdictGateFailed}) {
        named = named || line.find(verdict) != std::string::npos;
      }
      EXPECT_TRUE(named) << line;
    }
  }
  EXPECT_EQ(ChangedNames(expectedOutput, SnapshotFolder(output)), std::vector<std::string>{});
  EXPECT_EQ(ChangedNames(sourcesBefore, SnapshotFolder(sources)), std::vector<std::string>{});
  EXPECT_EQ(LeftoverWorkFolders(tmpdir), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(EveryMode, BadInputCliTest, ::testing::Values(0, 1, 2));
