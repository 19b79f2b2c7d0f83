// The per-image candidate plan: a short fixed list of encoder configurations
// that follows only from the profile, the compute mode, whether a JPEG copy of
// the source is at hand, and which tools are available. One to three
// candidates; identifiers count from 1 without gaps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/profiles.h"

struct EncoderCandidate {
  std::uint32_t id = 0;           // position in its list, from 1; names its output file
  std::int32_t engine = kEngineWic;  // EncoderEngine code
  std::int32_t quality = 90;      // 1..100; ignored by jpegtran and by Jpegli with distance
  bool progressive = false;       // progressive scan order
  bool trellis = false;           // trellis quantisation (MozJPEG only)
  bool chroma444 = false;         // 4:4:4; false means 4:2:0
  bool useDistance = false;       // Jpegli takes `distance` instead of `quality`
  double distance = 1.0;          // Jpegli distance
  std::string label;              // human-readable name (live status, winner label)
};

// Which tools may be used; a snapshot of the engine store's flags.
struct ToolAvailability {
  bool jpegli = false;
  bool mozjpeg = false;
  bool jpegtran = false;
};

// Reads the engine store's atomic flags once.
ToolAvailability CurrentToolAvailability();

// The builders append one candidate each and advance the shared identifier
// only when they append.
struct PlanBuilder {
  std::vector<EncoderCandidate> candidates;
  std::uint32_t nextId = 1;
  ToolAvailability tools;
  bool jpegCopyAvailable = false;
};

void AddWicCandidate(PlanBuilder& plan, int quality);
void AddJpegliCandidate(PlanBuilder& plan, int quality, bool useDistance, double distance,
                        const std::string& labelSuffix);
void AddMozJpegCandidate(PlanBuilder& plan, int quality, const std::string& labelSuffix);
void AddJpegtranCandidate(PlanBuilder& plan);

// The plan for one image with the given tools.
std::vector<EncoderCandidate> BuildCandidatePlan(const QualityProfile& profile, ComputeMode mode,
                                                 bool jpegCopyAvailable,
                                                 const ToolAvailability& tools);

// The same with the engine store's current flags.
std::vector<EncoderCandidate> BuildCandidatePlan(const QualityProfile& profile, ComputeMode mode,
                                                 bool jpegCopyAvailable);
