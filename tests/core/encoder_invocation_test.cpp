// Command lines of the three tools, and EncodeCandidate against the test
// encoder (standing in for cjpegli and MozJPEG cjpeg) and the real jpegtran.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/engine_store.h"
#include "core/encoder_invocation.h"
#include "imaging/ppm.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tests/core/core_test_support.h"

namespace {

EncoderCandidate Candidate(int engine, int quality, bool progressive, bool trellis = false,
                           bool chroma444 = false) {
  EncoderCandidate c;
  c.engine = engine;
  c.quality = quality;
  c.progressive = progressive;
  c.trellis = trellis;
  c.chroma444 = chroma444;
  return c;
}

EncoderCandidate Distance(double distance) {
  EncoderCandidate c = Candidate(kEngineJpegli, 76, true);
  c.useDistance = true;
  c.distance = distance;
  return c;
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

}  // namespace

TEST_F(EncoderInvocationTest, ArgumentListsOfTheThreeTools) {
  const std::pair<EncoderCandidate, std::string> cases[] = {
      {Candidate(kEngineMozjpeg, 80, false), "-quality 80 -optimize -notrellis -sample 2x2,1x1,1x1 \"/w/full.ppm\""},
      {Candidate(kEngineMozjpeg, 56, true, true), "-quality 56 -optimize -progressive -sample 2x2,1x1,1x1 \"/w/full.ppm\""},
      {Candidate(kEngineMozjpeg, 90, true, false, true),
       "-quality 90 -optimize -progressive -notrellis -sample 1x1,1x1,1x1 \"/w/full.ppm\""},
      {Candidate(kEngineJpegli, 88, true),
       "-q 88 --chroma_subsampling 420 -p 2 --quiet \"/w/full.ppm\" \"/w/full_0001.jpg\""},
      {Candidate(kEngineJpegli, 70, false, false, true),
       "-q 70 --chroma_subsampling 444 -p 0 --quiet \"/w/full.ppm\" \"/w/full_0001.jpg\""},
      {Distance(2.5), "-d 2.50 --chroma_subsampling 420 -p 2 --quiet \"/w/full.ppm\" \"/w/full_0001.jpg\""},
      {Distance(0.5), "-d 0.50 --chroma_subsampling 420 -p 2 --quiet \"/w/full.ppm\" \"/w/full_0001.jpg\""},
      {Distance(0.75), "-d 0.75 --chroma_subsampling 420 -p 2 --quiet \"/w/full.ppm\" \"/w/full_0001.jpg\""},
      {Distance(1.0), "-d 1.00 --chroma_subsampling 420 -p 2 --quiet \"/w/full.ppm\" \"/w/full_0001.jpg\""},
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
            "\"" + Engines().jpegliPath + "\" -q 88 --chroma_subsampling 420 -p 2 --quiet \"/w/full.ppm\" \"/w/o.jpg\"");
  EXPECT_TRUE(invocation.stdoutPath.empty());
  ASSERT_TRUE(BuildToolInvocation(Candidate(kEngineMozjpeg, 56, true, true), "", "/my photos/\"x\" full.ppm",
                                  "/w/out.jpg", "/w/out.jpg", invocation));
  EXPECT_EQ(ToolArgv(invocation), (std::vector<std::string>{"-quality", "56", "-optimize", "-progressive",
                                                            "-sample", "2x2,1x1,1x1", "/my photos/\"x\" full.ppm"}));
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

TEST_F(EncoderInvocationTest, ToolsWriteTheirFilesAndFailuresCountAsFailed) {
  const std::string out = JoinPath(folder, "full_0001.jpg");
  for (const EncoderCandidate& c : {Candidate(kEngineJpegli, 88, true), Candidate(kEngineMozjpeg, 56, true, true),
                                    Candidate(kEngineWic, 84, false)}) {
    EXPECT_TRUE(Encode(c, out)) << c.engine;
    EXPECT_GT(FileSize(out), 0u) << c.engine;
  }
  for (const char* behaviour : {"fail", "empty", "crash"}) {
    ScopedEnv a("ORVEL_TEST_CJPEGLI", behaviour);
    ScopedEnv b("ORVEL_TEST_CJPEG_STATIC", behaviour);
    for (int engine : {kEngineJpegli, kEngineMozjpeg}) {
      EXPECT_FALSE(Encode(Candidate(engine, 80, true), out)) << behaviour << " " << engine;
    }
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
