// Command lines of the three tools, and EncodeCandidate against the test
// encoder (standing in for cjpegli and MozJPEG cjpeg) and the real jpegtran.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engines/engine_store.h"
#include "core/encoder_invocation.h"
#include "imaging/ppm.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tests/core/core_test_support.h"

namespace {

EncoderCandidate Candidate(int engine, int quality, bool progressive, bool trellis) {
  EncoderCandidate c;
  c.engine = engine;
  c.quality = quality;
  c.progressive = progressive;
  c.trellis = trellis;
  return c;
}

std::string ArgumentsOf(const EncoderCandidate& c, const std::string& copy = "/w/original.jpg") {
  ToolInvocation invocation;
  EXPECT_TRUE(BuildToolInvocation(c, copy, "/w/full.ppm", "/w/full_0001.jpg", "/w/full_0001.jpg",
                                  invocation));
  return RenderArgumentList(invocation.arguments);
}

class CommandLineTest : public ::testing::Test {
 protected:
  TestEngineStore engines{TestTools{true, true, true}};
};

}  // namespace

TEST_F(CommandLineTest, MozJpegArgumentLists) {
  EXPECT_EQ(ArgumentsOf(Candidate(kEngineMozjpeg, 80, false, false)),
            "-quality 80 -optimize -notrellis -sample 2x2,1x1,1x1 \"/w/full.ppm\"");
  EXPECT_EQ(ArgumentsOf(Candidate(kEngineMozjpeg, 56, true, true)),
            "-quality 56 -optimize -progressive -sample 2x2,1x1,1x1 \"/w/full.ppm\"");
  EncoderCandidate full = Candidate(kEngineMozjpeg, 90, true, false);
  full.chroma444 = true;
  EXPECT_EQ(ArgumentsOf(full),
            "-quality 90 -optimize -progressive -notrellis -sample 1x1,1x1,1x1 \"/w/full.ppm\"");
}

TEST_F(CommandLineTest, JpegliArgumentListsWithQualityAndDistance) {
  EXPECT_EQ(ArgumentsOf(Candidate(kEngineJpegli, 88, true, false)),
            "-q 88 --chroma_subsampling 420 -p 2 --quiet \"/w/full.ppm\" \"/w/full_0001.jpg\"");
  for (const auto& [distance, text] : std::vector<std::pair<double, std::string>>{
           {2.5, "2.50"}, {0.5, "0.50"}, {0.75, "0.75"}, {1.0, "1.00"}}) {
    EncoderCandidate c = Candidate(kEngineJpegli, 76, true, false);
    c.useDistance = true;
    c.distance = distance;
    EXPECT_EQ(ArgumentsOf(c), "-d " + text +
                                  " --chroma_subsampling 420 -p 2 --quiet \"/w/full.ppm\" "
                                  "\"/w/full_0001.jpg\"");
  }
  EncoderCandidate baseline = Candidate(kEngineJpegli, 70, false, false);
  baseline.chroma444 = true;
  EXPECT_EQ(ArgumentsOf(baseline),
            "-q 70 --chroma_subsampling 444 -p 0 --quiet \"/w/full.ppm\" \"/w/full_0001.jpg\"");
}

TEST_F(CommandLineTest, JpegtranArgumentListAndFullCommandLine) {
  EncoderCandidate c = Candidate(kEngineJpegtran, 90, false, false);
  EXPECT_EQ(ArgumentsOf(c), "-copy all -optimize \"/w/original.jpg\"");
  c.progressive = true;
  EXPECT_EQ(ArgumentsOf(c), "-copy all -optimize -progressive \"/w/original.jpg\"");

  ToolInvocation invocation;
  ASSERT_TRUE(BuildToolInvocation(Candidate(kEngineJpegli, 88, true, false), "", "/w/full.ppm",
                                  "/w/o.jpg", "/w/o.jpg", invocation));
  EXPECT_EQ(RenderCommandLine(invocation),
            "\"" + Engines().jpegliPath +
                "\" -q 88 --chroma_subsampling 420 -p 2 --quiet \"/w/full.ppm\" \"/w/o.jpg\"");
  EXPECT_TRUE(invocation.stdoutPath.empty());
}

TEST_F(CommandLineTest, ArgvSplitsAsTheToolsExpectAndPathsKeepSpaces) {
  ToolInvocation invocation;
  ASSERT_TRUE(BuildToolInvocation(Candidate(kEngineMozjpeg, 56, true, true), "",
                                  "/my photos/\"x\" full.ppm", "/w/out.jpg", "/w/out.jpg",
                                  invocation));
  EXPECT_EQ(ToolArgv(invocation),
            (std::vector<std::string>{"-quality", "56", "-optimize", "-progressive", "-sample",
                                      "2x2,1x1,1x1", "/my photos/\"x\" full.ppm"}));
  EXPECT_EQ(invocation.stdoutPath, "/w/out.jpg");
}

TEST_F(CommandLineTest, RefusesUnavailableEnginesWicAndJpegtranWithoutCopy) {
  ToolInvocation invocation;
  EXPECT_FALSE(BuildToolInvocation(Candidate(kEngineJpegtran, 90, false, false), "", "p", "o",
                                   "o", invocation));
  EXPECT_FALSE(BuildToolInvocation(Candidate(kEngineWic, 90, false, false), "c", "p", "o", "o",
                                   invocation));
  EXPECT_FALSE(BuildToolInvocation(Candidate(9, 90, false, false), "c", "p", "o", "o", invocation));
  Engines().jpegliAvailable = false;
  EXPECT_FALSE(BuildToolInvocation(Candidate(kEngineJpegli, 90, false, false), "c", "p", "o", "o",
                                   invocation));
}

// --- EncodeCandidate ---------------------------------------------------------

class EncodeCandidateTest : public CoreTest {
 protected:
  TestEngineStore engines{TestTools{true, true, true}};
  std::string folder;
  std::string ppm;
  PixelImage image;

  void SetUp() override {
    CoreTest::SetUp();
    folder = Path("work dir");  // a space in every path
    ASSERT_TRUE(EnsureFolder(folder));
    image = MakeTestPicture(160, 120, 3);
    ppm = JoinPath(folder, "full.ppm");
    ASSERT_TRUE(WritePpmForTest());
  }
  bool WritePpmForTest();
  bool Encode(const EncoderCandidate& c, const std::string& out, const std::string& copy = "") {
    return EncodeCandidate(c, image, copy, ppm, out, out, folder);
  }
};

bool EncodeCandidateTest::WritePpmForTest() { return WritePpm(image, ppm); }

TEST_F(EncodeCandidateTest, ToolsWriteTheirFiles) {
  const std::string out = JoinPath(folder, "full_0001.jpg");
  EXPECT_TRUE(Encode(Candidate(kEngineJpegli, 88, true, false), out));
  EXPECT_GT(FileSize(out), 0u);
  EXPECT_TRUE(Encode(Candidate(kEngineMozjpeg, 56, true, true), out));
  EXPECT_GT(FileSize(out), 0u);
  EXPECT_TRUE(Encode(Candidate(kEngineWic, 84, false, false), out));
  EXPECT_GT(FileSize(out), 0u);
}

TEST_F(EncodeCandidateTest, ToolFailuresCountAsFailed) {
  const std::string out = JoinPath(folder, "full_0002.jpg");
  for (const char* behaviour : {"fail", "empty", "crash"}) {
    for (int engine : {kEngineJpegli, kEngineMozjpeg}) {
      ScopedEnv a("ORVEL_TEST_CJPEGLI", behaviour);
      ScopedEnv b("ORVEL_TEST_CJPEG_STATIC", behaviour);
      EXPECT_FALSE(Encode(Candidate(engine, 80, true, false), out)) << behaviour << " " << engine;
    }
  }
}

TEST_F(EncodeCandidateTest, BadArgumentShapeIsRefusedByTheStandIn) {
  // The stand-in checks the argument list; a chroma flag it does not know fails.
  ToolInvocation invocation;
  ASSERT_TRUE(BuildToolInvocation(Candidate(kEngineJpegli, 88, true, false), "", ppm, "o", "o",
                                  invocation));
  std::vector<std::string> argv = ToolArgv(invocation);
  argv[3] = "422";
  EXPECT_FALSE(RunTool(invocation.toolPath, argv, "", folder));
}

TEST_F(EncodeCandidateTest, JpegtranWithoutCopyFailsButStillDeletesTheOldOutput) {
  const std::string out = JoinPath(folder, "full_0003.jpg");
  ASSERT_TRUE(WriteTextFile(out, "left over"));
  EXPECT_FALSE(Encode(Candidate(kEngineJpegtran, 90, false, false), out, ""));
  EXPECT_FALSE(PathExists(out));
}

TEST_F(EncodeCandidateTest, JpegtranTranscodesTheCopy) {
  if (JpegtranProgram().empty()) GTEST_SKIP() << "no jpegtran";
  const std::string copy = JoinPath(folder, "original.jpg");
  ASSERT_TRUE(WriteTestJpeg(copy, image, 90));
  const std::string out = JoinPath(folder, "full_0004.jpg");
  EXPECT_TRUE(Encode(Candidate(kEngineJpegtran, 90, false, false), out, copy));
  EXPECT_GT(FileSize(out), 0u);
}
