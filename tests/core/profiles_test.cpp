// The profile table and the compute modes.
#include <gtest/gtest.h>

#include <string>

#include "core/profiles.h"

TEST(ProfilesTest, StartsAtRecommendedProfileAndMode) {
  EXPECT_EQ(currentProfile.load(), 2);
  EXPECT_EQ(currentMode.load(), 1);
  EXPECT_STREQ(ProfileAt(currentProfile).label, "Hohe Qualität (empfohlen)");
  EXPECT_STREQ(ComputeModeName(currentMode), "Optimal (empfohlen)");
}

TEST(ProfilesTest, LabelsKeysAndShortDescriptions) {
  const char* labels[] = {"Maximale Qualität", "Sehr hohe Qualität", "Hohe Qualität (empfohlen)",
                          "Ausgewogen", "Stark komprimiert", "Maximale Kompression"};
  const char* keys[] = {"max_qualitaet", "sehr_hoch", "hoch", "ausgewogen", "stark",
                        "max_kompression"};
  for (int i = 0; i < kProfileCount; ++i) {
    EXPECT_STREQ(ProfileAt(i).label, labels[i]);
    EXPECT_STREQ(ProfileAt(i).key, keys[i]);
  }
  EXPECT_STREQ(ProfileAt(5).shortDescription,
               "Kleinste Dateien \xE2\x80\x93 sichtbare Verluste sind ausdrücklich möglich.");
  EXPECT_STREQ(ProfileAt(3).shortDescription,
               "Mehr als 50 % mittlere Reduktion bei weiterhin guter Darstellung.");
}

TEST(ProfilesTest, EncoderParametersOfEveryRow) {
  struct Row { int engine, quality; bool useDistance; double distance; int wic; bool lossless; };
  const Row rows[] = {{2, 96, true, 0.5, 92, true},   {2, 92, false, 0.75, 88, false},
                      {2, 88, false, 1.0, 84, false}, {2, 84, false, 1.5, 80, false},
                      {2, 76, true, 2.5, 72, false},  {1, 56, false, 3.0, 56, false}};
  for (int i = 0; i < kProfileCount; ++i) {
    const QualityProfile& p = ProfileAt(i);
    EXPECT_EQ(p.engine, rows[i].engine) << i;
    EXPECT_EQ(p.quality, rows[i].quality) << i;
    EXPECT_EQ(p.useDistance, rows[i].useDistance) << i;
    EXPECT_EQ(p.distance, rows[i].distance) << i;
    EXPECT_EQ(p.wicQuality, rows[i].wic) << i;
    EXPECT_EQ(p.jpegLossless, rows[i].lossless) << i;
    EXPECT_LE(p.quality, p.qualityRangeHigh) << i;
    EXPECT_GE(p.quality, p.qualityRangeLow) << i;
  }
}

TEST(ProfilesTest, LimitsFallMonotonicallyFromRowToRow) {
  for (int i = 1; i < kProfileCount; ++i) {
    const QualityProfile& a = ProfileAt(i - 1);
    const QualityProfile& b = ProfileAt(i);
    EXPECT_GT(a.minGlobal, b.minGlobal) << i;
    EXPECT_GT(a.minWorst5, b.minWorst5) << i;
    EXPECT_GT(a.minWorst, b.minWorst) << i;
    EXPECT_GT(a.minComposite, b.minComposite) << i;
  }
  EXPECT_EQ(ProfileAt(0).minGlobal, 0.983);
  EXPECT_EQ(ProfileAt(5).minComposite, 0.89);
}

TEST(ProfilesTest, ModesAndTheirWorkerCaps) {
  EXPECT_STREQ(ComputeModeName(0), "Schnell");
  EXPECT_STREQ(ComputeModeName(2), "Maximum");
  EXPECT_EQ(ComputeModeWorkerCap(0), 2);
  EXPECT_EQ(ComputeModeWorkerCap(1), 4);
  EXPECT_EQ(ComputeModeWorkerCap(2), 6);
  EXPECT_STREQ(EngineName(kEngineJpegtran), "jpegtran");
  EXPECT_STREQ(EngineName(7), "");
}

TEST(ProfilesTest, LongDescriptionsQuoteTheirSavings) {
  EXPECT_NE(std::string(ProfileAt(1).longDescription).find("rund 33,6 % eingespart"),
            std::string::npos);
  EXPECT_NE(std::string(ProfileAt(5).longDescription).find("rund 75,5 %"), std::string::npos);
  EXPECT_NE(std::string(ProfileAt(0).longDescription).find("'Maximale Qualität'"),
            std::string::npos);
}
