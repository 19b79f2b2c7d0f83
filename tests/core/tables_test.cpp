// Profile rows and compute modes, the candidate plan for every profile, mode
// and tool availability, the live status, the byte formatter, the result line,
// the batch image list (absolute paths, folder search, duplicates) and the
// output targets (mirrored subfolders, --update).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <tuple>
#include <vector>

#include "core/candidate_plan.h"
#include "core/display_text.h"
#include "core/image_list.h"
#include "core/live_status.h"
#include "core/output_target.h"
#include "core/profiles.h"
#include "core/result_line.h"
#include "tests/support/scoped_temp.h"

namespace {

using Labels = std::vector<std::string>;
using Paths = std::vector<std::string>;
const ToolAvailability kAllTools{true, true, true};
const std::string kJpegtran = "jpegtran verlustfrei / Huffman-optimiert";

Labels PlanLabels(int profile, int mode, bool copy, ToolAvailability tools) {
  Labels labels;
  for (const EncoderCandidate& c : BuildCandidatePlan(ProfileAt(profile), mode, copy, tools)) labels.push_back(c.label);
  return labels;
}

}  // namespace

TEST(ProfilesTest, RowsModesAndOutOfRangeSelections) {
  EXPECT_EQ(currentProfile.load(), 2);
  EXPECT_EQ(currentMode.load(), 1);
  // A selection out of range falls back to the recommended row and mode.
  for (int profile : {-1, 2, kProfileCount}) EXPECT_STREQ(ProfileAt(profile).key, "hoch") << profile;
  EXPECT_STREQ(ProfileAt(kProfileCount - 1).key, "max_kompression");
  const char* modes[] = {"Optimal (empfohlen)", "Schnell", "Optimal (empfohlen)", "Maximum",
                         "Optimal (empfohlen)"};
  const int caps[] = {4, 2, 4, 6, 4};
  for (int mode = -1; mode <= kComputeModeCount; ++mode) {
    EXPECT_STREQ(ComputeModeName(mode), modes[mode + 1]) << mode;
    EXPECT_EQ(ComputeModeWorkerCap(mode), caps[mode + 1]) << mode;
  }
}

TEST(CandidatePlanTest, TableWithAllToolsAndAJpegCopy) {
  const Labels expected[6][3] = {
      {{kJpegtran}, {kJpegtran}, {kJpegtran}},
      {{"WIC Q88 (Schnellprofil)"}, {"Jpegli Q92 420 Progressive", kJpegtran},
       {"Jpegli Q92 420 Progressive", kJpegtran}},
      {{"WIC Q84 (Schnellprofil)"}, {"Jpegli Q88 420 Progressive", kJpegtran},
       {"Jpegli Q88 420 Progressive", kJpegtran}},
      {{"WIC Q80 (Schnellprofil)"}, {"Jpegli Q84 420 Progressive", kJpegtran},
       {"Jpegli Q84 420 Progressive", kJpegtran}},
      {{"WIC Q72 (Schnellprofil)"}, {"Jpegli Distanz 2.50", kJpegtran}, {"Jpegli Distanz 2.50", kJpegtran}},
      {{"WIC Q56 (Schnellprofil)"}, {"MozJPEG Q56 420 Progressive + Trellis", kJpegtran},
       {"MozJPEG Q56 420 Progressive + Trellis", kJpegtran,
        "Jpegli Q56 420 Progressive (zweiter Benchmark-Kandidat)"}},
  };
  for (int i = 0; i < 18; ++i) EXPECT_EQ(PlanLabels(i / 3, i % 3, true, kAllTools), expected[i / 3][i % 3]) << i;
}

TEST(CandidatePlanTest, WithoutJpegCopyOrWithoutTheMainEngine) {
  const struct { int profile, mode; bool copy; ToolAvailability tools; Labels expected; } cases[] = {
      {0, 0, false, kAllTools, {"WIC Q92 (Schnellprofil)"}},
      {0, 1, false, kAllTools, {"Jpegli Distanz 0.50"}},
      {0, 2, false, kAllTools, {"Jpegli Distanz 0.50"}},
      {2, 1, false, kAllTools, {"Jpegli Q88 420 Progressive"}},
      {0, 1, true, {true, true, false}, {"Jpegli Distanz 0.50"}},  // no jpegtran for profile 0
      {2, 1, true, {false, true, true}, {"MozJPEG Q88 420 Progressive + Trellis (Fallback)", kJpegtran}},
      {4, 1, false, {false, true, false}, {"MozJPEG Q76 420 Progressive + Trellis (Fallback)"}},
      {5, 1, false, {true, false, false}, {"Jpegli Q56 420 Progressive (Fallback)"}},
      // Without Jpegli there is no second competitor.
      {5, 2, true, {false, true, true}, {"MozJPEG Q56 420 Progressive + Trellis", kJpegtran}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PlanLabels(c.profile, c.mode, c.copy, c.tools), c.expected) << c.profile << " " << c.mode;
  }
  for (int p = 1; p < 6; ++p) {  // no tool at all: WIC at the profile's WIC quality
    const auto plan = BuildCandidatePlan(ProfileAt(p), 1, true, {false, false, false});
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0].engine, kEngineWic);
    EXPECT_EQ(plan[0].quality, ProfileAt(p).wicQuality);
    EXPECT_EQ(plan[0].label, "WIC Q" + std::to_string(ProfileAt(p).wicQuality) + " (Schnellprofil)");
  }
}

TEST(CandidatePlanTest, CandidateFieldsFollowTheirBuilder) {
  using Fields = std::tuple<int, int, bool, bool, double, bool, bool>;
  const auto fields = [](const EncoderCandidate& c) {
    return Fields{c.engine, c.quality, c.progressive, c.useDistance, c.distance, c.trellis, c.chroma444};
  };
  // Profile 5 in mode "Maximum" without MozJPEG: two equal Jpegli candidates.
  const auto twin = BuildCandidatePlan(ProfileAt(5), 2, true, {true, false, true});
  ASSERT_EQ(PlanLabels(5, 2, true, {true, false, true}),
            (Labels{"Jpegli Q56 420 Progressive (Fallback)", kJpegtran,
                    "Jpegli Q56 420 Progressive (zweiter Benchmark-Kandidat)"}));
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(twin[i].id, i + 1);
  EXPECT_EQ(fields(twin[0]), Fields(kEngineJpegli, 56, true, false, 3.0, false, false));
  EXPECT_EQ(fields(twin[2]), Fields(kEngineJpegli, 56, true, false, 0.0, false, false));
  const auto jpegli = BuildCandidatePlan(ProfileAt(4), 1, true, kAllTools);
  ASSERT_EQ(jpegli.size(), 2u);
  EXPECT_EQ(fields(jpegli[0]), Fields(kEngineJpegli, 76, true, true, 2.5, false, false));
  EXPECT_EQ(fields(jpegli[1]), Fields(kEngineJpegtran, 90, false, false, 1.0, false, false));
  EXPECT_EQ(fields(BuildCandidatePlan(ProfileAt(5), 1, false, kAllTools).at(0)),
            Fields(kEngineMozjpeg, 56, true, false, 1.0, true, false));
  EXPECT_EQ(fields(BuildCandidatePlan(ProfileAt(3), 0, true, kAllTools).at(0)),
            Fields(kEngineWic, 80, false, false, 1.0, false, false));
}

// Every combination: one to three candidates, identifiers 1..n without gaps,
// no unavailable engine, and mode "Schnell" never starts a lossy tool.
TEST(CandidatePlanTest, InvariantsOverEveryCombination) {
  for (int combination = 0; combination < 6 * 3 * 2 * 8; ++combination) {
    const int p = combination / 48, m = combination / 16 % 3, copy = combination / 8 % 2, mask = combination % 8;
    const ToolAvailability tools{(mask & 1) != 0, (mask & 2) != 0, (mask & 4) != 0};
    const auto plan = BuildCandidatePlan(ProfileAt(p), m, copy != 0, tools);
    SCOPED_TRACE("profile " + std::to_string(p) + " mode " + std::to_string(m) + " copy " +
                 std::to_string(copy) + " tools " + std::to_string(mask));
    ASSERT_GE(plan.size(), 1u);
    ASSERT_LE(plan.size(), 3u);
    bool hasJpegtran = false;
    for (size_t i = 0; i < plan.size(); ++i) {
      const int engine = plan[i].engine;
      EXPECT_EQ(plan[i].id, i + 1);
      EXPECT_TRUE(engine != kEngineJpegli || tools.jpegli);
      EXPECT_TRUE(engine != kEngineMozjpeg || tools.mozjpeg);
      EXPECT_TRUE(engine != kEngineJpegtran || (tools.jpegtran && copy));
      EXPECT_TRUE(m != 0 || engine == kEngineWic || engine == kEngineJpegtran);
      hasJpegtran = hasJpegtran || engine == kEngineJpegtran;
    }
    // jpegtran joins every plan that can have it, except mode "Schnell".
    EXPECT_EQ(hasJpegtran, tools.jpegtran && copy && (m != 0 || p == 0));
  }
}

TEST(FormatBytesTest, UnitsAndRounding) {
  const std::pair<std::uint64_t, std::string> cases[] = {
      {0, "0 B"}, {1023, "1023 B"}, {1024, "1.00 KB"}, {1536, "1.50 KB"}, {1048576, "1.00 MB"},
      {1048575, "1024.00 KB"}, {5ull << 40, "5120.00 GB"}, {UINT64_MAX, "17179869184.00 GB"}};
  for (const auto& [bytes, text] : cases) EXPECT_EQ(FormatBytes(bytes), text);
}

TEST(LiveStatusTest, StepKeepsTheLastCandidateSizeWhenNoneIsGiven) {
  SetLiveStatusStep("Jpegli Q88 420 Progressive", 0, 2, 12345);
  SetLiveStatusStep(kJpegtran, 1, 2, 0);
  SetLiveStatusPhase("Größenvergleich");
  const LiveStatusSnapshot s = TakeLiveStatusSnapshot();
  EXPECT_EQ(std::tie(s.stepText, s.candidatesDone, s.candidatesTotal, s.lastCandidateBytes, s.phase),
            std::make_tuple(kJpegtran, 1, 2, std::uint64_t{12345}, std::string("Größenvergleich")));
}

TEST(ResultLineTest, OptimisedAndKeptLines) {
  ImageResult r{.sourcePath = "/bilder/a.jpg", .profileLabel = "Hohe Qualität (empfohlen)",
                .winnerLabel = "Jpegli Q88 420 Progressive", .score = 0.973, .worst5 = 0.941,
                .candidatesPlanned = 2, .candidatesEncoded = 2, .originalBytes = 4u << 20, .resultBytes = 1572864,
                .optimized = true};
  EXPECT_EQ(FormatResultLine(r),
            "a.jpg   |   Hohe Qualität (empfohlen)   |   Jpegli Q88 420 Progressive   |   4.00 MB "
            "\xE2\x86\x92 1.50 MB   |   62.5 % kleiner   |   Robust 97.3   |   Worst-5% 94.1   |   "
            "Kandidaten 2/2");
  r.optimized = false;
  r.message = "Kein fester Encoder-Kandidat ist kleiner als das Original \xE2\x80\x93 Original behalten";
  r.candidatesEncoded = r.candidatesPlanned = 1;
  EXPECT_EQ(FormatResultLine(r),
            "a.jpg   |   Hohe Qualität (empfohlen)   |   Original behalten   |   Kein fester "
            "Encoder-Kandidat ist kleiner als das Original \xE2\x80\x93 Original behalten   |   "
            "Kandidaten 1/1");
  EXPECT_EQ(SavingPercent(0, 10), 0.0);
}

// Hostile file names: none may start a line, a terminal sequence or a
// reordering of the text, and ordinary names stay exactly as they are.
TEST(DisplayTextTest, HostileNamesAreShownEscapedAndOrdinaryNamesUnchanged) {
  const struct {
    std::string name;
    std::string shown;
  } cases[] = {
      {"Urlaub 2023 \u00e4 (1).jpg", "Urlaub 2023 \u00e4 (1).jpg"},
      {"Gr\xC3\xBC\xC3\x9F" "e \xE2\x80\x93 \xF0\x9F\x93\xB7.jpg", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x80\x93 \xF0\x9F\x93\xB7.jpg"},
      {"a\nZusammenfassung: 1 Bilder.jpg", "a\\nZusammenfassung: 1 Bilder.jpg"},
      {"b\r\t.jpg", "b\\r\\t.jpg"},
      {"\x1b]0;x\x07\x1b[2J.jpg", "\\x1b]0;x\\x07\\x1b[2J.jpg"},
      {std::string("nul\0.jpg", 8), "nul\\x00.jpg"},
      {"del\x7f.jpg", "del\\x7f.jpg"},
      {"csi\xC2\x9B" "31m.jpg", "csi\\u009b31m.jpg"},
      {"rtl\xE2\x80\xAEgpj.exe", "rtl\\u202egpj.exe"},
      {"sep\xE2\x80\xA8.jpg", "sep\\u2028.jpg"},
      {"latin1-\xE4.jpg", "latin1-\xEF\xBF\xBD.jpg"},
      {"cut\xE2\x80", "cut\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"overlong\xC0\xAF.jpg", "overlong\xEF\xBF\xBD\xEF\xBF\xBD.jpg"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeForDisplay(c.name), c.shown) << c.shown;

  ImageResult r{.sourcePath = "/bilder/a\n\x1b[31mb.jpg", .profileLabel = "Hohe Qualität (empfohlen)",
                .candidatesPlanned = 1, .message = "Fehler beim Verarbeiten"};
  EXPECT_EQ(FormatResultLine(r).substr(0, 16), "a\\n\\x1b[31mb.jpg");
}

TEST(ImageListTest, TextOnlyPathsAreMadeAbsoluteAndUnique) {
  // None of these exist, so only their texts can tell them apart.
  Paths list;
  AddToImageList(list, {"b.jpg", "a.jpg", "./a.jpg", "/x//y/./c.jpg", "/x/y/c.jpg", ""}, "/cwd");
  EXPECT_EQ(list, (Paths{"/cwd/a.jpg", "/cwd/b.jpg", "/x/y/c.jpg"}));
}

class ImageListFilesTest : public ::testing::Test {
 protected:
  ScopedTempFolder temp;
  std::string Make(const std::string& name) {
    EXPECT_TRUE(EnsureFolder(ParentFolder(temp.Join(name))));
    EXPECT_TRUE(WriteTextFile(temp.Join(name), name));
    return temp.Join(name);
  }
  void Link(const std::string& target, const std::string& name) {
    ASSERT_EQ(::symlink(target.c_str(), temp.Join(name).c_str()), 0);
  }
};

TEST_F(ImageListFilesTest, ParentStepsAreResolvedOnlyWhereTheyNameTheSameFileWhichCountsOnce) {
  const std::string a = Make("a.jpg"), other = Make("b.jpg");
  Make("fern/tief/x.jpg");
  Make("fern/x.jpg");
  ASSERT_TRUE(EnsureFolder(temp.Join("sub")));
  Link(temp.Join("fern/tief"), "link");
  EXPECT_EQ(AbsoluteImagePath("sub/../a.jpg", temp.path), a);
  EXPECT_EQ(AbsoluteImagePath("./sub//", temp.path), temp.Join("sub"));
  // link/.. is fern, not the folder that holds the link: the text keeps it,
  // and the file it names is fern/x.jpg.
  EXPECT_EQ(AbsoluteImagePath("link/./../x.jpg", temp.path), temp.Join("link/../x.jpg"));
  EXPECT_EQ(ReadTextFile(AbsoluteImagePath("link/../x.jpg", temp.path)), "fern/x.jpg");
  // Nothing to compare with: the text stays as given.
  EXPECT_EQ(AbsoluteImagePath("fehlt/../a.jpg", temp.path), temp.Join("fehlt/../a.jpg"));
  // One file named several ways counts once: the first in list order stays;
  // a missing file has no identity to share.
  ASSERT_EQ(::link(a.c_str(), temp.Join("hart.jpg").c_str()), 0);
  Link(a, "verweis.jpg");
  Paths list{a};
  AddToImageList(list, {"verweis.jpg", "hart.jpg", "sub/../a.jpg", "b.jpg", "fehlt.jpg"}, temp.path);
  EXPECT_EQ(list, (Paths{a, other, temp.Join("fehlt.jpg")}));
}

TEST_F(ImageListFilesTest, FoldersAreSearchedForJpegFilesWithoutFollowingLinkedFolders) {
  const Paths expected = {Make("bilder/A.JPEG"), Make("bilder/b.jpg"), Make("bilder/unter/tiefer/d.jpe"),
                          temp.Join("bilder/verweis.jpg"), temp.Join("leer-gibt-es-nicht")};
  for (const char* name :
       {"bilder/notiz.txt", "bilder/c.png", "bilder/x.jpg.bak", "fremd/f.jpg", "fremd/g.jpg"}) {
    Make(name);
  }
  Link(temp.Join("fremd"), "bilder/fremd-ordner");
  Link(temp.Join("fremd/f.jpg"), "bilder/verweis.jpg");
  Link(temp.Join("bilder"), "bilder/unter/schleife");
  Paths list;
  AddToImageList(list, {temp.Join("bilder"), "bilder/unter", temp.Join("leer-gibt-es-nicht")}, temp.path);
  EXPECT_EQ(list, expected);
  // A linked folder named by the user is searched; its linked files count once.
  list.clear();
  AddToImageList(list, {"bilder/fremd-ordner", "fremd"}, temp.path);
  EXPECT_EQ(list, (Paths{temp.Join("bilder/fremd-ordner/f.jpg"), temp.Join("bilder/fremd-ordner/g.jpg")}));
}

TEST_F(ImageListFilesTest, FolderScansNeverEnterTheOutputFolderWhateverPathLeadsToIt) {
  const std::string a = Make("fotos/a.jpg"), b = Make("fotos/2023/b.jpg"), alone = Make("fotos/opt/x_hoch.jpg");
  Make("fotos/opt/a_hoch.jpg");
  Make("fotos/opt/2023/b_hoch.jpg");
  Link(temp.Join("fotos/opt"), "ausgabe-verweis");
  // {named, output folder, expected list}; a file in it named one by one still counts.
  for (const auto& [named, output, expected] : std::vector<std::tuple<Paths, std::string, Paths>>{
           {{"fotos"}, "fotos/opt", {b, a}},
           {{"fotos"}, "ausgabe-verweis", {b, a}},
           {{"fotos/opt"}, "fotos/opt", {temp.Join("fotos/opt/2023/b_hoch.jpg"), temp.Join("fotos/opt/a_hoch.jpg"), alone}},
           {{"fotos", "fotos/opt/x_hoch.jpg"}, "fotos/opt", {b, a, alone}},
           {{"fotos/2023"}, "fotos", {b}}}) {
    Paths list;
    AddToImageList(list, named, temp.path, temp.Join(output));
    EXPECT_EQ(list, expected) << named.front() << " -> " << output;
  }
}

TEST(OutputTargetTest, MirroredPathsAreRelativeToTheOutermostNamedFolder) {
  const QualityProfile& hoch = ProfileAt(2);
  const Paths roots = {"/f", "/f/2023", "/g/"};
  // {source, keep structure, expected path, expected subfolder}
  for (const auto& [source, keep, path, subfolder] : std::vector<std::tuple<std::string, bool, std::string, std::string>>{
           {"/f/2023/Urlaub/a.jpg", true, "/out/2023/Urlaub/a_hoch.jpg", "2023/Urlaub"},
           {"/f/a.jpg", true, "/out/a_hoch.jpg", ""},
           {"/g/x/b.jpeg", true, "/out/x/b_hoch.jpg", "x"},
           {"/fremd/c.jpg", true, "/out/c_hoch.jpg", ""},    // named one by one: flat
           {"/f2/d.jpg", true, "/out/d_hoch.jpg", ""},       // "/f" is no folder of "/f2"
           {"/f/2023/Urlaub/a.jpg", false, "/out/a_hoch.jpg", ""}}) {
    const OutputTarget target = OutputTargetFor(source, OutputLayout{"/out", keep, false}, roots, hoch);
    EXPECT_EQ(std::tuple(target.path, target.subfolder), std::tuple(path, subfolder)) << source;
  }
}

TEST_F(ImageListFilesTest, UpToDateMeansAnOutputNotOlderThanItsSource) {
  const std::string source = Make("a.jpg");
  OutputTarget target;
  target.path = temp.Join("a_hoch.jpg");
  EXPECT_FALSE(OutputIsUpToDate(target, source));  // no output yet
  Make("a_hoch.jpg");
  // {source mtime, output mtime, up to date}
  for (const auto& [sourceTime, outputTime, current] : std::vector<std::tuple<timespec, timespec, bool>>{
           {{1000, 5}, {1000, 5}, true}, {{1000, 5}, {1000, 4}, false}, {{1000, 5}, {2000, 0}, true},
           {{3000, 0}, {2999, 999999999}, false}}) {
    const timespec sourceTimes[2] = {sourceTime, sourceTime}, outputTimes[2] = {outputTime, outputTime};
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), sourceTimes, 0), 0);
    ASSERT_EQ(::utimensat(AT_FDCWD, target.path.c_str(), outputTimes, 0), 0);
    EXPECT_EQ(OutputIsUpToDate(target, source), current) << sourceTime.tv_sec << " " << outputTime.tv_nsec;
  }
}

TEST_F(ImageListFilesTest, SubfoldersAreMadeWithoutEverFollowingALink) {
  ASSERT_TRUE(EnsureFolder(temp.Join("out")) && EnsureFolder(temp.Join("fremd")));
  Link(temp.Join("fremd"), "out/verweis");
  Make("out/datei");
  const std::string out = temp.Join("out");
  // {relative, create, expected walk}
  for (const auto& [relative, create, walk] : std::vector<std::tuple<std::string, bool, SubfolderWalk>>{
           {"2023/Urlaub", false, SubfolderWalk::kMissing}, {"2023/Urlaub", true, SubfolderWalk::kReady},
           {"2023/Urlaub", false, SubfolderWalk::kReady}, {"verweis/neu", true, SubfolderWalk::kRefused},
           {"verweis", false, SubfolderWalk::kRefused}, {"datei/x", true, SubfolderWalk::kRefused},
           {"a/../b", true, SubfolderWalk::kRefused}}) {
    EXPECT_EQ(WalkSubfolders(out, relative, create), walk) << relative;
  }
  EXPECT_FALSE(PathExists(temp.Join("fremd/neu")));
  struct stat info{};
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ASSERT_EQ(::stat(temp.Join("out/2023/Urlaub").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0777u & ~mask);
}
