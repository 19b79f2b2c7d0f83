// The profile rows and compute modes as the rest of the program reads them,
// and the candidate plan for every profile, mode and tool availability.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/candidate_plan.h"
#include "core/profiles.h"

namespace {

using Labels = std::vector<std::string>;
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
  const char* modes[] = {"Optimal (empfohlen)", "Schnell", "Optimal (empfohlen)", "Maximum", "Optimal (empfohlen)"};
  const int caps[] = {4, 2, 4, 6, 4};
  for (int mode = -1; mode <= kComputeModeCount; ++mode) {
    EXPECT_STREQ(ComputeModeName(mode), modes[mode + 1]) << mode;
    EXPECT_EQ(ComputeModeWorkerCap(mode), caps[mode + 1]) << mode;
  }
  EXPECT_STREQ(EngineName(kEngineJpegtran), "jpegtran");
  EXPECT_STREQ(EngineName(7), "");
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
  for (int p = 0; p < 6; ++p) {
    for (int m = 0; m < 3; ++m) {
      EXPECT_EQ(PlanLabels(p, m, true, kAllTools), expected[p][m]) << "profile " << p << " mode " << m;
    }
  }
}

TEST(CandidatePlanTest, WithoutJpegCopyOrWithoutTheMainEngine) {
  const struct {
    int profile, mode;
    bool copy;
    ToolAvailability tools;
    Labels expected;
  } cases[] = {
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
  const auto twin = BuildCandidatePlan(ProfileAt(5), 2, true, {true, false, true});
  ASSERT_EQ(PlanLabels(5, 2, true, {true, false, true}),
            (Labels{"Jpegli Q56 420 Progressive (Fallback)", kJpegtran,
                    "Jpegli Q56 420 Progressive (zweiter Benchmark-Kandidat)"}));
  for (size_t i : {0u, 2u}) {
    EXPECT_EQ(twin[i].id, i + 1);
    EXPECT_EQ(twin[i].quality, 56);
    EXPECT_TRUE(twin[i].progressive);
    EXPECT_FALSE(twin[i].useDistance || twin[i].trellis);
  }
  EXPECT_EQ(twin[1].id, 2u);
  const auto jpegli = BuildCandidatePlan(ProfileAt(4), 1, true, kAllTools);
  ASSERT_EQ(jpegli.size(), 2u);
  EXPECT_EQ(jpegli[0].engine, kEngineJpegli);
  EXPECT_TRUE(jpegli[0].useDistance && jpegli[0].progressive);
  EXPECT_EQ(jpegli[0].distance, 2.5);
  EXPECT_EQ(jpegli[0].quality, 76);
  EXPECT_FALSE(jpegli[0].chroma444);
  EXPECT_EQ(jpegli[1].engine, kEngineJpegtran);
  EXPECT_EQ(jpegli[1].quality, 90);
  EXPECT_FALSE(jpegli[1].progressive);
  const auto moz = BuildCandidatePlan(ProfileAt(5), 1, false, kAllTools);
  ASSERT_EQ(moz.size(), 1u);
  EXPECT_EQ(moz[0].engine, kEngineMozjpeg);
  EXPECT_TRUE(moz[0].trellis && moz[0].progressive);
  const auto wic = BuildCandidatePlan(ProfileAt(3), 0, true, kAllTools);
  ASSERT_EQ(wic.size(), 1u);
  EXPECT_FALSE(wic[0].progressive);
  EXPECT_EQ(wic[0].distance, 1.0);
}

// Every combination: one to three candidates, identifiers 1..n without gaps,
// no unavailable engine, and mode "Schnell" never starts a lossy tool.
TEST(CandidatePlanTest, InvariantsOverEveryCombination) {
  for (int p = 0; p < 6; ++p) {
    for (int m = 0; m < 3; ++m) {
      for (int copy = 0; copy < 2; ++copy) {
        for (int mask = 0; mask < 8; ++mask) {
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
          const bool jpegtranPossible = tools.jpegtran && copy;
          EXPECT_EQ(hasJpegtran, jpegtranPossible && (m != 0 || p == 0));
        }
      }
    }
  }
}
