// The six fixed quality profiles and the three compute modes.
//
// Both are compiled constants: nothing is read from a file, learned or tuned
// at run time. The rest of the core handles a profile as a read-only reference
// to its row, never as a copy. The selection (`currentProfile`,
// `currentMode`) is process-wide and starts at profile 2 and mode 1 on every
// run; it is written on the UI thread only.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// Encoder engine codes shared by the plan, the invocation and the bench.
enum EncoderEngine : std::int32_t {
  kEngineWic = 0,
  kEngineMozjpeg = 1,
  kEngineJpegli = 2,
  kEngineJpegtran = 3,
};

struct QualityProfile {
  const char* label;             // German display name (menu, live status, results)
  const char* key;               // suffix of output file names, e.g. "hoch"
  const char* shortDescription;  // one-line description
  const char* longDescription;   // how the profile was calibrated
  std::int32_t qualityRangeHigh; // documentation: upper quality bound of the row
  std::int32_t qualityRangeLow;  // documentation: lower quality bound of the row
  std::int32_t quality;          // 1..100, main candidate and the Jpegli/MozJPEG fallbacks
  double distance;               // Jpegli distance when useDistance is set
  double minGlobal;              // lowest acceptable `global` of the quality gate
  double minWorst5;              // lowest acceptable `worst5`
  double minWorst;               // lowest acceptable `worst`
  double minComposite;           // lowest acceptable `composite`
  std::int32_t wicQuality;       // 1..100, WIC candidate (mode "Schnell", last fallback)
  std::int32_t engine;           // main engine: kEngineJpegli, kEngineMozjpeg, else WIC
  bool useDistance;              // the Jpegli main candidate takes `distance`
  bool jpegLossless;             // with a JPEG copy and jpegtran: jpegtran alone
  double avgSavingPercent;       // documentation: mean saving in the calibration set
  double avgComposite;           // documentation: mean composite in the calibration set
};

constexpr int kProfileCount = 6;
constexpr int kComputeModeCount = 3;
constexpr int kDefaultProfile = 2;
constexpr int kDefaultComputeMode = 1;

// Compute modes: 0 "Schnell", 1 "Optimal (empfohlen)", 2 "Maximum".
using ComputeMode = std::int32_t;

// The profile table, rows 0..5.
const QualityProfile& ProfileAt(int index);

// Mode name; an index outside 0..2 gives the name of mode 1.
const char* ComputeModeName(ComputeMode mode);

// Cap on concurrent encoder worker threads of a mode: 2, 4 or 6.
int ComputeModeWorkerCap(ComputeMode mode);

// The selection. Written on the UI thread, read by the pipeline.
extern std::atomic<int> currentProfile;
extern std::atomic<ComputeMode> currentMode;

// The name of an engine code: "WIC", "MozJPEG", "Jpegli", "jpegtran"; empty
// for an unknown code.
const char* EngineName(std::int32_t engine);
