// The single-image pipeline; see pipeline.h. Neighbours: candidate_plan.cpp
// (the plan), parallel_encoding.cpp (encoding it), jpeg_metadata.cpp (the
// source's metadata), imaging/ (decode, PPM, quality analysis), live_status.cpp
// (phase texts). Callers: the batch of the main window, orvel-cli, the
// benchmark.
#include "core/pipeline.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <exception>

#include "app/engine_store.h"
#include "core/candidate_plan.h"
#include "core/encoder_invocation.h"
#include "core/jpeg_metadata.h"
#include "core/live_status.h"
#include "core/parallel_encoding.h"
#include "imaging/decode.h"
#include "imaging/ppm.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/work_folder.h"

const char* const kVerdictOptimized =
    "Optimiert \u2013 Größensieger aus festem Profil; Qualitätsprüfung ausschließlich "
    "nachgelagert";
const char* const kVerdictNoSmallerCandidate =
    "Kein fester Encoder-Kandidat ist kleiner als das Original \u2013 Original behalten";
const char* const kVerdictWinnerUndecodable =
    "Gewinner konnte nicht zur Qualitätskontrolle dekodiert werden \u2013 Original behalten";
const char* const kVerdictGateFailed =
    "Kleinster fester Kandidat besteht die nachgelagerte Qualitätskontrolle nicht \u2013 "
    "Original behalten";
const char* const kVerdictProtectedSource =
    "Ausgabedatei wäre ein Quellbild des Stapels \u2013 Original behalten";
const char* const kVerdictOutputWrittenThisRun =
    "Ausgabedatei wurde in diesem Stapel bereits geschrieben \u2013 Original behalten";
const char* const kVerdictProcessingError = "Fehler beim Verarbeiten";

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Adds the time of one step to a timing field when timings are wanted.
struct StepTimer {
  double* field;
  Clock::time_point start = Clock::now();
  explicit StepTimer(double* target) : field(target) {}
  ~StepTimer() {
    if (field) *field += MillisecondsSince(start);
  }
  StepTimer(const StepTimer&) = delete;
  StepTimer& operator=(const StepTimer&) = delete;
};

double* Field(PipelineTimings* timings, double PipelineTimings::*member) {
  return timings ? &(timings->*member) : nullptr;
}

void SetPhase(const char* text) {
  SetLiveStatusPhase(text);
  RefreshLiveStatus(true);
}

// The absolute path with "." and ".." resolved on the text alone and repeated
// separators collapsed.
std::string NormalisedPathText(const std::string& path) {
  std::string absolute = path;
  if (absolute.empty() || absolute[0] != '/') {
    char buffer[4096];
    if (::getcwd(buffer, sizeof buffer) != nullptr) absolute = JoinPath(buffer, path);
  }
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= absolute.size()) {
    size_t end = absolute.find('/', start);
    if (end == std::string::npos) end = absolute.size();
    const std::string part = absolute.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string normalised;
  for (const std::string& part : parts) normalised += "/" + part;
  return normalised.empty() ? "/" : normalised;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Step 8: the smallest successful candidate below the source size; the earlier
// one on a tie. -1 when none qualifies.
int ChooseWinner(const std::vector<CandidateResult>& results, std::uint64_t originalBytes) {
  int winner = -1;
  for (size_t i = 0; i < results.size(); ++i) {
    const CandidateResult& r = results[i];
    if (!r.ok || r.bytes == 0 || r.bytes >= originalBytes) continue;
    if (winner < 0 || r.bytes < results[static_cast<size_t>(winner)].bytes) {
      winner = static_cast<int>(i);
    }
  }
  return winner;
}

// The verdicts that keep the source remove an earlier output of the same
// name. When that output cannot be deleted (a read-only output folder), the
// folder would still hold a stale result beside a verdict that says
// otherwise, so the image ends as a failure instead.
bool KeepOriginal(ImageResult& result, const std::string& outputPath, const char* verdict) {
  if (!DeleteFileAt(outputPath)) return false;
  result.message = verdict;
  return true;
}

void CopyWinnerFigures(const CandidateResult& winner, ImageResult& result) {
  result.winnerLabel = winner.candidate.label;
  result.score = winner.score;
  result.global = winner.report.global;
  result.worst5 = winner.report.worst5;
  result.worst = winner.report.worst;
}

// Steps 11 to 14, once the winner is known.
bool JudgeWinner(CandidateResult& winner, const PixelImage& reference,
                 const QualityProfile& profile, const std::string& outputPath,
                 ImageResult& result, PipelineTimings* timings) {
  SetPhase("Nachgelagerte Qualitätskontrolle");
  SetLiveStatusStep(winner.candidate.label, result.candidatesEncoded, result.candidatesEncoded,
                    winner.bytes);
  RefreshLiveStatus(true);
  PixelImage decoded;
  bool decodedOk;
  {
    StepTimer timer(Field(timings, &PipelineTimings::winnerDecodeMs));
    decodedOk = DecodeImageFile(winner.outputPath, decoded);
  }
  if (!decodedOk) {
    StepTimer timer(Field(timings, &PipelineTimings::outputWriteMs));
    return KeepOriginal(result, outputPath, kVerdictWinnerUndecodable);
  }
  {
    StepTimer timer(Field(timings, &PipelineTimings::analysisMs));
    winner.report = AnalyzeQuality(reference, decoded);
  }
  ClearImage(decoded);
  winner.measured = !winner.report.windowScores.empty();
  winner.score = winner.report.composite;

  StepTimer timer(Field(timings, &PipelineTimings::outputWriteMs));
  if (!PassesQualityGate(winner.report, winner.measured, profile)) {
    CopyWinnerFigures(winner, result);
    return KeepOriginal(result, outputPath, kVerdictGateFailed);
  }
  winner.passed = true;
  SetPhase("Ergebnis wird gespeichert");
  // The copy goes to a hidden temporary name and is renamed over the output,
  // so the final name never holds a partial file; an earlier result stays in
  // place until the new one is complete.
  // A failed write leaves an earlier output alone: it is still a valid result.
  if (!CopyFileBytes(winner.outputPath, outputPath)) return false;
  result.outputPath = outputPath;
  result.resultBytes = winner.bytes;
  result.optimized = true;
  CopyWinnerFigures(winner, result);
  result.message = kVerdictOptimized;
  return true;
}

// Steps 2 to 14 for an image whose output path is not protected.
bool RunPipeline(const std::string& sourcePath, const QualityProfile& profile,
                 const std::string& outputPath, ImageResult& result, PipelineTimings* timings) {
  SetPhase("Bild wird dekodiert");
  PixelImage reference;
  {
    StepTimer timer(Field(timings, &PipelineTimings::decodeMs));
    DecodeFailure failure = DecodeFailure::None;
    if (!DecodeImageFile(sourcePath, reference, &failure)) {
      result.failureReason = DecodeFailureText(failure);
      return false;
    }
  }

  WorkFolder folder;
  WorkFolderGuard removeFolder(folder);
  if (!CreateWorkFolder(folder)) return false;

  const EngineStore& engines = Engines();
  if (engines.mozjpegAvailable.load() || engines.jpegliAvailable.load()) {
    StepTimer timer(Field(timings, &PipelineTimings::ppmWriteMs));
    if (!WritePpm(reference, JoinPath(folder.longPath, "full.ppm"))) return false;
  }
  std::string jpegCopyPath;
  if (engines.jpegtranAvailable.load()) {
    StepTimer timer(Field(timings, &PipelineTimings::copyMs));
    if (CopyFileBytes(sourcePath, JoinPath(folder.longPath, "original.jpg"))) {
      jpegCopyPath = JoinPath(folder.shortPath, "original.jpg");
    }
  }
  std::string sourceMetadata;
  {
    StepTimer timer(Field(timings, &PipelineTimings::metadataReadMs));
    if (!ReadJpegMetadataFile(sourcePath, sourceMetadata)) sourceMetadata.clear();
  }

  SetPhase("Feste Encoder-Kandidaten werden vorbereitet");
  std::vector<EncoderCandidate> plan;
  {
    StepTimer timer(Field(timings, &PipelineTimings::planMs));
    plan = BuildCandidatePlan(profile, currentMode.load(), !jpegCopyPath.empty());
  }
  result.candidatesPlanned = static_cast<std::int32_t>(plan.size());
  result.candidatesEncoded = result.candidatesPlanned;

  SetPhase("Encodierung");
  {
    LiveStatus& status = CurrentLiveStatus();
    { std::lock_guard<std::mutex> lock(status.mutex); status.stepText.clear(); }
    status.candidatesDone.store(0);
    status.candidatesTotal.store(result.candidatesPlanned);
  }
  RefreshLiveStatus(true);
  std::vector<CandidateResult> results;
  bool encoded;
  {
    StepTimer timer(Field(timings, &PipelineTimings::encodingMs));
    encoded = EncodeAllCandidates(plan, reference, jpegCopyPath,
                                  JoinPath(folder.shortPath, "full.ppm"), folder, "full",
                                  sourceMetadata, results);
  }
  if (timings) {
    for (const CandidateResult& r : results) {
      timings->candidateLabels.push_back(r.candidate.label);
      timings->candidateEncodeMs.push_back(r.encodeMs);
      timings->candidateMetadataMs.push_back(r.metadataMs);
    }
  }
  if (!encoded) return false;
  // Killed tools look like failed candidates; judging the rest could end in
  // a verdict that deletes an earlier output.
  if (ToolRunsCancelled()) {
    result.failureReason = "abgebrochen";
    return false;
  }

  SetPhase("Größenvergleich");
  const int winner = ChooseWinner(results, result.originalBytes);
  if (winner < 0) {
    StepTimer timer(Field(timings, &PipelineTimings::outputWriteMs));
    return KeepOriginal(result, outputPath, kVerdictNoSmallerCandidate);
  }
  return JudgeWinner(results[static_cast<size_t>(winner)], reference, profile, outputPath,
                     result, timings);
}

}  // namespace

std::string OutputPathFor(const std::string& sourcePath, const std::string& outputFolder,
                          const QualityProfile& profile) {
  const std::string name = BaseNamePart(FileNamePart(sourcePath)) + "_" + profile.key + ".jpg";
  return JoinPath(outputFolder, name);
}

bool IsProtectedOutputPath(const std::string& outputPath, const std::string& sourcePath,
                           const std::vector<std::string>& protectedSources) {
  const std::string outputText = NormalisedPathText(outputPath);
  struct stat outputInfo{};
  const bool outputExists = ::stat(outputPath.c_str(), &outputInfo) == 0;
  auto matches = [&](const std::string& source) {
    if (NormalisedPathText(source) == outputText) return true;
    struct stat sourceInfo{};
    return outputExists && ::stat(source.c_str(), &sourceInfo) == 0 &&
           SameFile(outputInfo, sourceInfo);
  };
  if (matches(sourcePath)) return true;
  for (const std::string& source : protectedSources) {
    if (matches(source)) return true;
  }
  return false;
}

bool PassesQualityGate(const QualityReport& report, bool measured, const QualityProfile& profile) {
  // Written as ">=" so that a NaN figure fails its comparison.
  return measured && report.global >= profile.minGlobal && report.worst5 >= profile.minWorst5 &&
         report.worst >= profile.minWorst && report.composite >= profile.minComposite;
}

bool OptimizeImage(const std::string& sourcePath, const std::string& outputFolder,
                   const QualityProfile& profile, ImageResult& result,
                   const std::vector<std::string>& protectedSources, PipelineTimings* timings,
                   const std::vector<std::string>& writtenOutputs) {
  const auto started = Clock::now();
  result = ImageResult{};
  if (timings) *timings = PipelineTimings{};
  result.sourcePath = sourcePath;
  result.profileLabel = profile.label;
  result.originalBytes = FileSize(sourcePath);
  result.resultBytes = result.originalBytes;

  // Checked before any work: a protected file must not even be deleted as a
  // stale result, and the check costs nothing when it refuses.
  const std::string outputPath = OutputPathFor(sourcePath, outputFolder, profile);
  if (IsProtectedOutputPath(outputPath, sourcePath, protectedSources)) {
    result.message = kVerdictProtectedSource;
    return true;
  }
  for (const std::string& written : writtenOutputs) {
    if (NormalisedPathText(written) == NormalisedPathText(outputPath)) {
      result.message = kVerdictOutputWrittenThisRun;
      return true;
    }
  }
  bool reached = false;
  try {
    reached = RunPipeline(sourcePath, profile, outputPath, result, timings);
  } catch (const std::exception&) {
    // The work folder is gone already (its guard ran while unwinding).
    reached = false;
  }
  if (timings) timings->totalMs = MillisecondsSince(started);
  result.failed = !reached;
  return reached;
}

ImageResult ProcessingErrorResult(const ImageResult& partial, const std::string& sourcePath,
                                  const std::string& profileLabel) {
  ImageResult result = partial;
  result.sourcePath = sourcePath;
  result.profileLabel = profileLabel;
  result.failed = true;
  result.message = kVerdictProcessingError;
  if (!result.failureReason.empty()) result.message += " \u2013 " + result.failureReason;
  result.originalBytes = FileSize(sourcePath);
  result.resultBytes = result.originalBytes;
  return result;
}
