// The candidate builders and the plan rule; see candidate_plan.h.
// Neighbours: profiles.cpp (the rows), engines/engine_store (tool availability),
// encoder_invocation.cpp (what each field means on a command line).
#include "core/candidate_plan.h"

#include "engines/engine_store.h"
#include "platform/text.h"

namespace {

const char* const kFallbackSuffix = " (Fallback)";
const char* const kSecondCompetitorSuffix = " (zweiter Benchmark-Kandidat)";

void Append(PlanBuilder& plan, EncoderCandidate candidate) {
  candidate.id = plan.nextId++;
  plan.candidates.push_back(std::move(candidate));
}

}  // namespace

ToolAvailability CurrentToolAvailability() {
  const EngineStore& store = Engines();
  ToolAvailability tools;
  tools.jpegli = store.jpegliAvailable.load();
  tools.mozjpeg = store.mozjpegAvailable.load();
  tools.jpegtran = store.jpegtranAvailable.load();
  return tools;
}

void AddWicCandidate(PlanBuilder& plan, int quality) {
  EncoderCandidate candidate;
  candidate.engine = kEngineWic;
  candidate.quality = quality;
  candidate.label = "WIC Q" + FormatInteger(quality) + " (Schnellprofil)";
  Append(plan, std::move(candidate));
}

void AddJpegliCandidate(PlanBuilder& plan, int quality, bool useDistance, double distance,
                        const std::string& labelSuffix) {
  if (!plan.tools.jpegli) return;
  EncoderCandidate candidate;
  candidate.engine = kEngineJpegli;
  candidate.quality = quality;
  candidate.progressive = true;
  candidate.useDistance = useDistance;
  candidate.distance = distance;
  candidate.label = useDistance
                        ? "Jpegli Distanz " + FormatFixed(distance, 2) + labelSuffix
                        : "Jpegli Q" + FormatInteger(quality) + " 420 Progressive" + labelSuffix;
  Append(plan, std::move(candidate));
}

void AddMozJpegCandidate(PlanBuilder& plan, int quality, const std::string& labelSuffix) {
  if (!plan.tools.mozjpeg) return;
  EncoderCandidate candidate;
  candidate.engine = kEngineMozjpeg;
  candidate.quality = quality;
  candidate.progressive = true;
  candidate.trellis = true;
  candidate.label =
      "MozJPEG Q" + FormatInteger(quality) + " 420 Progressive + Trellis" + labelSuffix;
  Append(plan, std::move(candidate));
}

void AddJpegtranCandidate(PlanBuilder& plan) {
  if (!plan.jpegCopyAvailable || !plan.tools.jpegtran) return;
  EncoderCandidate candidate;
  candidate.engine = kEngineJpegtran;
  candidate.quality = 90;
  candidate.label = "jpegtran verlustfrei / Huffman-optimiert";
  Append(plan, std::move(candidate));
}

std::vector<EncoderCandidate> BuildCandidatePlan(const QualityProfile& profile, ComputeMode mode,
                                                 bool jpegCopyAvailable,
                                                 const ToolAvailability& tools) {
  PlanBuilder plan;
  plan.tools = tools;
  plan.jpegCopyAvailable = jpegCopyAvailable;

  // A JPEG source in the lossless profile is only ever transcoded, in every mode.
  if (profile.jpegLossless && jpegCopyAvailable && tools.jpegtran) {
    AddJpegtranCandidate(plan);
    return plan.candidates;
  }
  if (mode == 0) {
    AddWicCandidate(plan, profile.wicQuality);
    return plan.candidates;
  }

  if (profile.engine == kEngineJpegli) {
    AddJpegliCandidate(plan, profile.quality, profile.useDistance, profile.distance, "");
  } else if (profile.engine == kEngineMozjpeg) {
    AddMozJpegCandidate(plan, profile.quality, "");
  } else {
    AddWicCandidate(plan, profile.quality);
  }
  // The main engine is missing: the first tool that is present stands in, WIC last.
  if (plan.candidates.empty()) AddJpegliCandidate(plan, profile.quality, profile.useDistance,
                                                  profile.distance, kFallbackSuffix);
  if (plan.candidates.empty()) AddMozJpegCandidate(plan, profile.quality, kFallbackSuffix);
  if (plan.candidates.empty()) AddWicCandidate(plan, profile.wicQuality);

  AddJpegtranCandidate(plan);

  if (mode == 2 && profile.engine == kEngineMozjpeg) {
    AddJpegliCandidate(plan, 56, false, 0.0, kSecondCompetitorSuffix);
  }
  return plan.candidates;
}

std::vector<EncoderCandidate> BuildCandidatePlan(const QualityProfile& profile, ComputeMode mode,
                                                 bool jpegCopyAvailable) {
  return BuildCandidatePlan(profile, mode, jpegCopyAvailable, CurrentToolAvailability());
}
