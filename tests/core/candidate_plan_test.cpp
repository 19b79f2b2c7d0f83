// The candidate plan for every profile, mode and tool availability.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engines/engine_store.h"
#include "core/candidate_plan.h"

namespace {

const ToolAvailability kAllTools{true, true, true};

std::vector<std::string> Labels(const std::vector<EncoderCandidate>& plan) {
  std::vector<std::string> labels;
  for (const EncoderCandidate& c : plan) labels.push_back(c.label);
  return labels;
}

std::vector<std::string> PlanLabels(int profile, int mode, bool copy, ToolAvailability tools) {
  return Labels(BuildCandidatePlan(ProfileAt(profile), mode, copy, tools));
}

const std::string kJpegtran = "jpegtran verlustfrei / Huffman-optimiert";

}  // namespace

TEST(CandidatePlanTest, TableWithAllToolsAndAJpegCopy) {
  using L = std::vector<std::string>;
  const L expected[6][3] = {
      {{kJpegtran}, {kJpegtran}, {kJpegtran}},
      {{"WIC Q88 (Schnellprofil)"}, {"Jpegli Q92 420 Progressive", kJpegtran},
       {"Jpegli Q92 420 Progressive", kJpegtran}},
      {{"WIC Q84 (Schnellprofil)"}, {"Jpegli Q88 420 Progressive", kJpegtran},
       {"Jpegli Q88 420 Progressive", kJpegtran}},
      {{"WIC Q80 (Schnellprofil)"}, {"Jpegli Q84 420 Progressive", kJpegtran},
       {"Jpegli Q84 420 Progressive", kJpegtran}},
      {{"WIC Q72 (Schnellprofil)"}, {"Jpegli Distanz 2.50", kJpegtran},
       {"Jpegli Distanz 2.50", kJpegtran}},
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

TEST(CandidatePlanTest, WithoutJpegCopyTheJpegtranEntryIsMissing) {
  EXPECT_EQ(PlanLabels(0, 0, false, kAllTools), std::vector<std::string>{"WIC Q92 (Schnellprofil)"});
  EXPECT_EQ(PlanLabels(0, 1, false, kAllTools), std::vector<std::string>{"Jpegli Distanz 0.50"});
  EXPECT_EQ(PlanLabels(0, 2, false, kAllTools), std::vector<std::string>{"Jpegli Distanz 0.50"});
  EXPECT_EQ(PlanLabels(2, 1, false, kAllTools),
            std::vector<std::string>{"Jpegli Q88 420 Progressive"});
  // Profile 0 without jpegtran: Jpegli at distance 0.5, no jpegtran candidate.
  EXPECT_EQ(PlanLabels(0, 1, true, {true, true, false}),
            std::vector<std::string>{"Jpegli Distanz 0.50"});
}

TEST(CandidatePlanTest, FallbacksWhenTheMainEngineIsMissing) {
  EXPECT_EQ(PlanLabels(2, 1, true, {false, true, true}),
            (std::vector<std::string>{"MozJPEG Q88 420 Progressive + Trellis (Fallback)", kJpegtran}));
  EXPECT_EQ(PlanLabels(4, 1, false, {false, true, false}),
            std::vector<std::string>{"MozJPEG Q76 420 Progressive + Trellis (Fallback)"});
  EXPECT_EQ(PlanLabels(5, 1, false, {true, false, false}),
            std::vector<std::string>{"Jpegli Q56 420 Progressive (Fallback)"});
  for (int p = 1; p < 6; ++p) {
    const auto plan = BuildCandidatePlan(ProfileAt(p), 1, true, {false, false, false});
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0].engine, kEngineWic);
    EXPECT_EQ(plan[0].quality, ProfileAt(p).wicQuality);
    EXPECT_EQ(plan[0].label, "WIC Q" + std::to_string(ProfileAt(p).wicQuality) + " (Schnellprofil)");
  }
}

TEST(CandidatePlanTest, MaximumModeOfProfileFiveWithoutMozJpegGetsTwoEqualJpegliCandidates) {
  const auto plan = BuildCandidatePlan(ProfileAt(5), 2, true, {true, false, true});
  ASSERT_EQ(plan.size(), 3u);
  EXPECT_EQ(plan[0].label, "Jpegli Q56 420 Progressive (Fallback)");
  EXPECT_EQ(plan[1].engine, kEngineJpegtran);
  EXPECT_EQ(plan[2].label, "Jpegli Q56 420 Progressive (zweiter Benchmark-Kandidat)");
  EXPECT_EQ(plan[0].id, 1u);
  EXPECT_EQ(plan[1].id, 2u);
  EXPECT_EQ(plan[2].id, 3u);
  for (size_t i : {0u, 2u}) {
    EXPECT_EQ(plan[i].quality, 56);
    EXPECT_TRUE(plan[i].progressive);
    EXPECT_FALSE(plan[i].useDistance);
    EXPECT_FALSE(plan[i].trellis);
  }
  // Without Jpegli there is no second competitor.
  EXPECT_EQ(PlanLabels(5, 2, true, {false, true, true}),
            (std::vector<std::string>{"MozJPEG Q56 420 Progressive + Trellis", kJpegtran}));
}

TEST(CandidatePlanTest, CandidateFieldsFollowTheirBuilder) {
  const auto jpegli = BuildCandidatePlan(ProfileAt(4), 1, true, kAllTools);
  ASSERT_EQ(jpegli.size(), 2u);
  EXPECT_EQ(jpegli[0].engine, kEngineJpegli);
  EXPECT_TRUE(jpegli[0].useDistance);
  EXPECT_EQ(jpegli[0].distance, 2.5);
  EXPECT_EQ(jpegli[0].quality, 76);
  EXPECT_TRUE(jpegli[0].progressive);
  EXPECT_FALSE(jpegli[0].chroma444);
  EXPECT_EQ(jpegli[1].engine, kEngineJpegtran);
  EXPECT_EQ(jpegli[1].quality, 90);
  EXPECT_FALSE(jpegli[1].progressive);

  const auto moz = BuildCandidatePlan(ProfileAt(5), 1, false, kAllTools);
  ASSERT_EQ(moz.size(), 1u);
  EXPECT_EQ(moz[0].engine, kEngineMozjpeg);
  EXPECT_TRUE(moz[0].trellis);
  EXPECT_TRUE(moz[0].progressive);

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
          SCOPED_TRACE("profile " + std::to_string(p) + " mode " + std::to_string(m) +
                       " copy " + std::to_string(copy) + " tools " + std::to_string(mask));
          ASSERT_GE(plan.size(), 1u);
          ASSERT_LE(plan.size(), 3u);
          bool hasJpegtran = false;
          for (size_t i = 0; i < plan.size(); ++i) {
            EXPECT_EQ(plan[i].id, i + 1);
            if (plan[i].engine == kEngineJpegli) { EXPECT_TRUE(tools.jpegli); }
            if (plan[i].engine == kEngineMozjpeg) { EXPECT_TRUE(tools.mozjpeg); }
            if (plan[i].engine == kEngineJpegtran) {
              EXPECT_TRUE(tools.jpegtran && copy);
              hasJpegtran = true;
            }
            if (m == 0) {
              EXPECT_TRUE(plan[i].engine == kEngineWic || plan[i].engine == kEngineJpegtran);
            }
          }
          // jpegtran joins every plan that can have it, except mode "Schnell".
          if (tools.jpegtran && copy && (m != 0 || p == 0)) { EXPECT_TRUE(hasJpegtran); }
          if (m == 0 && !(p == 0 && tools.jpegtran && copy)) { EXPECT_FALSE(hasJpegtran); }
        }
      }
    }
  }
}

TEST(CandidatePlanTest, ReadsTheEngineStoreFlags) {
  EngineStore& store = Engines();
  store.jpegliAvailable = false;
  store.mozjpegAvailable = true;
  store.jpegtranAvailable = false;
  const auto plan = BuildCandidatePlan(ProfileAt(2), 1, true);
  ASSERT_EQ(plan.size(), 1u);
  EXPECT_EQ(plan[0].label, "MozJPEG Q88 420 Progressive + Trellis (Fallback)");
  store.mozjpegAvailable = false;
}
