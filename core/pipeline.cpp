// The single-image pipeline; see pipeline.h. Neighbours: candidate_plan.cpp
// (the plan), parallel_encoding.cpp (encoding it), jpeg_metadata.cpp (the
// source's metadata), imaging/ (decode, PPM, quality analysis), live_status.cpp
// (phase texts). Callers: the batch of the main window, orvel-cli, the
// benchmark.
#include "core/pipeline.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <new>

#include "engines/engine_store.h"
#include "core/candidate_plan.h"
#include "core/encoder_invocation.h"
#include "core/jpeg_metadata.h"
#include "core/picture_trailer.h"
#include "core/live_status.h"
#include "core/output_target.h"
#include "core/parallel_encoding.h"
#include "imaging/decode.h"
#include "imaging/ppm.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/trash.h"
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
const char* const kVerdictNotJpeg = "Inhalt ist kein JPEG \u2013 Original behalten";
const char* const kVerdictNoTrash =
    "Kein nutzbarer Papierkorb auf dem Dateisystem der Quelle \u2013 Original behalten";
const char* const kVerdictSourceIsLink =
    "Quelle ist eine symbolische Verknüpfung \u2013 Original behalten";
const char* const kVerdictSourceChanged =
    "Quelle wurde während der Bearbeitung verändert \u2013 Original behalten";
const char* const kVerdictProcessingError = "Fehler beim Verarbeiten";

const char* const kFailureWorkFolder = "Arbeitsordner kann nicht angelegt werden";
const char* const kFailurePpmNotWritten = "Zwischendatei kann nicht geschrieben werden";
const char* const kFailureOutputNotWritten = "Ausgabedatei kann nicht geschrieben werden";
const char* const kFailureStaleOutput = "Frühere Ausgabedatei kann nicht gelöscht werden";
const char* const kFailureThreadRefused = "Encoder-Thread kann nicht gestartet werden";
const char* const kFailureOutOfMemory = "Arbeitsspeicher reicht nicht aus";
const char* const kFailureUnexpected = "unerwarteter interner Fehler";
const char* const kFailureCancelled = "abgebrochen";
const char* const kFailureNoEncoderRan = "kein Encoder konnte ausgeführt werden";

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

// The text by which outputs of one run are compared: the folder part
// resolved (links, "..", another spelling of the same folder) when it
// exists, the file name as written. The file itself is not resolved: it may
// be replaced later in the run, and a link of that name is a different file.
std::string OutputIdentityText(const std::string& path) {
  const std::string text = NormalisedAbsolutePath(path);
  char* resolved = ::realpath(ParentFolder(text).c_str(), nullptr);
  if (resolved == nullptr) return text;
  const std::string folder = resolved;
  std::free(resolved);
  return JoinPath(folder, FileNamePart(text));
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool WrittenEarlierInTheRun(const std::string& outputPath,
                            const std::vector<std::string>& writtenOutputs) {
  if (writtenOutputs.empty()) return false;
  const std::string identity = OutputIdentityText(outputPath);
  for (const std::string& written : writtenOutputs) {
    if (OutputIdentityText(written) == identity) return true;
  }
  // On a file system that ignores case (vfat, exFAT, casefolded ext4)
  // "IMG_hoch.jpg" names the "img_hoch.jpg" written before: one entry, one
  // inode. Links themselves are compared, never their targets.
  struct stat outputInfo{};
  if (::lstat(outputPath.c_str(), &outputInfo) != 0) return false;
  for (const std::string& written : writtenOutputs) {
    struct stat writtenInfo{};
    if (::lstat(written.c_str(), &writtenInfo) == 0 && SameFile(outputInfo, writtenInfo)) return true;
  }
  return false;
}

// Fails the image with `reason`; always false.
bool Fail(ImageResult& result, const char* reason) {
  result.failureReason = reason;
  return false;
}

// Where and how this image's output goes.
struct WritePlan {
  OutputTarget target;              // its path is the source itself under replaceSource
  OutputOptions options;
  FileAttributes source;            // the source's, read before it was first opened
  bool sourceAttributesRead = false;
};

// The verdicts that keep the source remove an earlier output of the same
// name (never under replaceSource: that name is the source). When that
// output cannot be deleted (a read-only output folder), the folder would
// still hold a stale result beside a verdict that says otherwise, so the
// image ends as a failure instead.
// After a stop nothing is deleted: the batch ends what is in flight unchanged.
// A mirrored subfolder that is a link leads out of the output tree: nothing
// behind it is deleted.
bool KeepOriginal(ImageResult& result, const WritePlan& plan, const char* verdict) {
  if (ToolRunsCancelled()) return Fail(result, kFailureCancelled);
  if (!plan.options.replaceSource && MayDeleteAtTarget(plan.target) &&
      !DeleteFileAt(plan.target.path)) {
    return Fail(result, kFailureStaleOutput);
  }
  result.message = verdict;
  return true;
}

// The scores stay with the result, so the compare window can show where the
// winner lost quality; without scores (an invalid comparison) there is no size.
void CopyWinnerFigures(const CandidateResult& winner, const PixelImage& reference,
                       ImageResult& result) {
  result.winnerLabel = winner.candidate.label;
  result.score = winner.score;
  result.global = winner.report.global;
  result.worst5 = winner.report.worst5;
  result.worst = winner.report.worst;
  result.color = winner.report.color;
  result.edge = winner.report.edge;
  result.ringing = winner.report.ringing;
  result.banding = winner.report.banding;
  result.windowScores = winner.report.windowScores;
  const bool scored = !result.windowScores.empty();
  result.analysedWidth = scored ? reference.width : 0;
  result.analysedHeight = scored ? reference.height : 0;
}

// The winner's decode and analysis: the one made ahead while other candidates
// were encoding, or made here.
CandidateCheck CheckWinner(CandidateEncoding& encoding, size_t index, const PixelImage& reference,
                           PipelineTimings* timings) {
  CandidateCheck check;
  const bool ahead = TakeCandidateCheck(encoding, index, check);
  if (!ahead) CheckCandidate(encoding.results[index].outputPath, reference, check);
  if (timings) {
    timings->winnerDecodeMs = check.decodeMs;
    timings->analysisMs = check.analysisMs;
    timings->winnerCheckedAhead = ahead;
  }
  return check;
}

// Candidates whose encoder ran to completion and left a file. One that could
// not run (a tool missing, killed or out of process slots) says nothing about
// the size an encode would reach.
std::int32_t CountCompletedCandidates(const std::vector<CandidateResult>& results) {
  std::int32_t completed = 0;
  for (const CandidateResult& r : results) completed += r.ok && r.bytes > 0 ? 1 : 0;
  return completed;
}

enum class WriteOutcome { kWritten, kKept, kFailed };

// The passing winner's file to its place. Under replaceSource a source that
// cannot be replaced with a way back is kept, with the verdict saying why.
WriteOutcome WriteWinner(const std::string& winnerFile, const WritePlan& plan,
                         ImageResult& result) {
  const OutputOptions& options = plan.options;
  if ((options.replaceSource || options.preserveAttributes) && !plan.sourceAttributesRead) {
    return WriteOutcome::kFailed;
  }
  const std::string& path = plan.target.path;
  if (!options.replaceSource) {
    const bool written =
        PrepareOutputSubfolders(plan.target) &&
        (options.preserveAttributes
             ? CopyFileBytesWithAttributes(winnerFile, path, plan.source, AttributeRule::kPreserve)
             : CopyFileBytes(winnerFile, path));
    return written ? WriteOutcome::kWritten : WriteOutcome::kFailed;
  }
  switch (ReplaceKeepingOriginalInTrash(path, winnerFile, plan.source)) {
    case ReplaceOutcome::kReplaced: return WriteOutcome::kWritten;
    case ReplaceOutcome::kNoTrash: result.message = kVerdictNoTrash; return WriteOutcome::kKept;
    case ReplaceOutcome::kSourceChanged:
      result.message = kVerdictSourceChanged;
      return WriteOutcome::kKept;
    case ReplaceOutcome::kFailed: break;
  }
  return WriteOutcome::kFailed;
}

// Steps 11 to 14, once the winner is known.
bool JudgeWinner(CandidateEncoding& encoding, size_t index, const PixelImage& reference,
                 const QualityProfile& profile, const WritePlan& plan,
                 ImageResult& result, PipelineTimings* timings) {
  CandidateResult& winner = encoding.results[index];
  SetPhase("Nachgelagerte Qualitätskontrolle");
  SetLiveStatusStep(winner.candidate.label, result.candidatesEncoded, result.candidatesEncoded,
                    winner.bytes);
  RefreshLiveStatus(true);
  CandidateCheck check = CheckWinner(encoding, index, reference, timings);
  if (!check.decoded) {
    StepTimer timer(Field(timings, &PipelineTimings::outputWriteMs));
    return KeepOriginal(result, plan, kVerdictWinnerUndecodable);
  }
  winner.report = std::move(check.report);
  winner.measured = !winner.report.windowScores.empty();
  winner.score = winner.report.composite;

  StepTimer timer(Field(timings, &PipelineTimings::outputWriteMs));
  if (!PassesQualityGate(winner.report, winner.measured, profile)) {
    CopyWinnerFigures(winner, reference, result);
    return KeepOriginal(result, plan, kVerdictGateFailed);
  }
  winner.passed = true;
  SetPhase("Ergebnis wird gespeichert");
  // The copy goes to a hidden temporary name and is renamed over the output,
  // so the final name never holds a partial file; an earlier result stays in
  // place until the new one is complete.
  // A failed write leaves an earlier output alone: it is still a valid result.
  // After a stop (the check ran on, its tools already killed) nothing is written.
  if (ToolRunsCancelled()) return Fail(result, kFailureCancelled);
  const WriteOutcome written = WriteWinner(winner.outputPath, plan, result);
  if (written == WriteOutcome::kFailed) return Fail(result, kFailureOutputNotWritten);
  CopyWinnerFigures(winner, reference, result);
  if (written == WriteOutcome::kKept) return true;
  result.outputPath = plan.target.path;
  result.resultBytes = winner.bytes;
  result.optimized = true;
  result.message = kVerdictOptimized;
  return true;
}

// Without a work folder the image fails; a source that cannot be decoded
// still says so, as that is what the user can mend.
bool FailWithoutWorkFolder(const std::string& sourcePath, ImageResult& result) {
  PixelImage probe;
  DecodeFailure failure = DecodeFailure::None;
  if (!DecodeImageFile(sourcePath, probe, &failure)) return Fail(result, DecodeFailureText(failure));
  return Fail(result, kFailureWorkFolder);
}

// The first `limit` bytes of a file (fewer when it is shorter); empty when it
// cannot be read.
std::string ReadFilePrefix(const std::string& path, size_t limit) {
  std::string bytes;
  UniqueFd file = OpenForReading(path);
  if (!file.Valid()) return bytes;
  bytes.resize(limit);
  size_t filled = 0;
  while (filled < limit) {
    const ssize_t got = ::read(file.fd, bytes.data() + filled, limit - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    filled += static_cast<size_t>(got);
  }
  bytes.resize(filled);
  return bytes;
}

// True when the file's first bytes announce an image format other than JPEG.
// Such a source would become a lossy JPEG under a JPEG name, losing any
// transparency, so it is kept. Unknown content is left to the decoder, whose
// failure names the reason.
bool IsOtherImageFormat(const std::string& sourcePath) {
  const std::string head = ReadFilePrefix(sourcePath, 16);
  const ImageFormat format =
      DetectImageFormat(reinterpret_cast<const std::uint8_t*>(head.data()), head.size());
  return format != ImageFormat::Jpeg && format != ImageFormat::Unknown;
}

// jpegtran may start before the source is decoded only when the source's
// header declares a size the decoder accepts and the file could plausibly
// hold it (at most 1024 pixels per byte, far beyond any photograph).
// Otherwise a small corrupt file that declares a huge image would have
// jpegtran fill gigabytes of coefficients while the decode refuses the file
// at once; such a source is decoded first, as before.
bool MayStartBeforeDecoding(const std::string& sourcePath, std::uint64_t sourceBytes) {
  // Frame headers follow the metadata segments, which rarely exceed this.
  const std::string head = ReadFilePrefix(sourcePath, 1 << 20);
  std::uint32_t width = 0, height = 0;
  if (!ReadJpegFrameSize(reinterpret_cast<const std::uint8_t*>(head.data()), head.size(), width,
                         height)) {
    return false;
  }
  const std::uint64_t pixels = static_cast<std::uint64_t>(width) * height;
  return pixels > 0 && PixelBufferBytes(width, height) <= kMaxPixelBytes &&
         pixels <= 1024 * sourceBytes;
}

// Steps 5 and 6, which need only the source file: the source copy for
// jpegtran, the source's metadata and the plan.
void PrepareEncoding(const std::string& sourcePath, const QualityProfile& profile,
                     const WorkFolder& folder, CandidateEncoding& encoding,
                     PipelineTimings* timings) {
  encoding.folder = &folder;
  encoding.prefix = "full";
  encoding.ppmPath = JoinPath(folder.shortPath, "full.ppm");
  encoding.checkAhead = true;
  if (Engines().jpegtranAvailable.load()) {
    StepTimer timer(Field(timings, &PipelineTimings::copyMs));
    if (CopyFileBytes(sourcePath, JoinPath(folder.longPath, "original.jpg"))) {
      encoding.jpegCopyPath = JoinPath(folder.shortPath, "original.jpg");
    }
  }
  {
    StepTimer timer(Field(timings, &PipelineTimings::metadataReadMs));
    SourceStructure& structure = encoding.sourceStructure;
    if (!ReadSourceStructure(sourcePath, structure)) structure = SourceStructure{};
    encoding.sourceMetadata = structure.metadata;
  }
  StepTimer timer(Field(timings, &PipelineTimings::planMs));
  encoding.plan = BuildCandidatePlan(profile, currentMode.load(), !encoding.jpegCopyPath.empty());
  encoding.copyReadersStartEarly =
      !encoding.jpegCopyPath.empty() && MayStartBeforeDecoding(sourcePath, FileSize(sourcePath));
}

void ResetCandidateCounters(std::int32_t total) {
  LiveStatus& status = CurrentLiveStatus();
  { std::lock_guard<std::mutex> lock(status.mutex); status.stepText.clear(); }
  status.candidatesDone.store(0);
  status.candidatesTotal.store(total);
  RefreshLiveStatus(true);
}

// Steps 2 and 4: the decoded source and, for the Jpegli and MozJPEG tools,
// its PPM.
bool MakeReference(const std::string& sourcePath, const WorkFolder& folder, PixelImage& reference,
                   ImageResult& result, PipelineTimings* timings) {
  SetPhase("Bild wird dekodiert");
  {
    StepTimer timer(Field(timings, &PipelineTimings::decodeMs));
    DecodeFailure failure = DecodeFailure::None;
    if (!DecodeImageFile(sourcePath, reference, &failure)) {
      return Fail(result, DecodeFailureText(failure));
    }
  }
  const EngineStore& engines = Engines();
  if (engines.mozjpegAvailable.load() || engines.jpegliAvailable.load()) {
    StepTimer timer(Field(timings, &PipelineTimings::ppmWriteMs));
    if (!WritePpm(reference, JoinPath(folder.longPath, "full.ppm"))) {
      return Fail(result, kFailurePpmNotWritten);
    }
  }
  return true;
}

const char* EncodingFailureText(EncodingFailure failure) {
  switch (failure) {
    case EncodingFailure::None: return "";
    case EncodingFailure::ThreadRefused: return kFailureThreadRefused;
    case EncodingFailure::OutOfMemory: return kFailureOutOfMemory;
    case EncodingFailure::WorkerError: return kFailureUnexpected;
  }
  return kFailureUnexpected;
}

void RecordCandidateTimings(const CandidateEncoding& encoding, double encodingStartMs,
                            PipelineTimings* timings) {
  if (!timings) return;
  for (const CandidateResult& r : encoding.results) {
    timings->candidateLabels.push_back(r.candidate.label);
    timings->candidateStartMs.push_back(encodingStartMs + r.startMs);
    timings->candidateEncodeMs.push_back(r.encodeMs);
    timings->candidateMetadataMs.push_back(r.metadataMs);
  }
}

// The encoding and the verdict, once the work folder exists. The tools that
// read only the source copy start before the source is decoded; the others
// start once it is decoded and its PPM written; finished candidates are
// checked ahead while others still run. The verdict is the same as when
// every step ran one after the other.
bool EncodeAndJudge(const std::string& sourcePath, const QualityProfile& profile,
                    const WritePlan& plan, const WorkFolder& folder, ImageResult& result,
                    PipelineTimings* timings, Clock::time_point imageStarted) {
  SetPhase("Feste Encoder-Kandidaten werden vorbereitet");
  // Declared after the work folder's guard: its workers are joined before the
  // folder is removed, on every path.
  CandidateEncoding encoding;
  PrepareEncoding(sourcePath, profile, folder, encoding, timings);
  encoding.originalBytes = result.originalBytes;
  const auto planned = static_cast<std::int32_t>(encoding.plan.size());
  ResetCandidateCounters(planned);
  const double encodingStartMs = MillisecondsSince(imageStarted);
  encoding.origin = Clock::now();
  PixelImage reference;
  // A source whose metadata or further pictures cannot be carried is kept;
  // one the decoder refuses still says why.
  const std::string& keepReason = encoding.sourceStructure.keepReason;
  if (!keepReason.empty()) {
    if (!MakeReference(sourcePath, folder, reference, result, timings)) return false;
    return KeepOriginal(result, plan, keepReason.c_str());
  }
  const bool started = StartCandidateEncoding(encoding);

  if (!MakeReference(sourcePath, folder, reference, result, timings)) {
    AbandonCandidateEncoding(encoding);
    return false;
  }
  result.candidatesPlanned = planned;
  result.candidatesEncoded = planned;
  SetPhase("Encodierung");
  bool encoded = false;
  if (started) {
    ReleasePixelCandidates(encoding, reference);
    encoded = FinishCandidateEncoding(encoding);
  }
  if (timings) timings->encodingMs = MillisecondsSince(encoding.origin);
  RecordCandidateTimings(encoding, encodingStartMs, timings);
  if (!encoded) {
    AbandonCandidateEncoding(encoding);
    return Fail(result, started ? EncodingFailureText(encoding.failure) : kFailureThreadRefused);
  }
  // Killed tools look like failed candidates; judging the rest could end in
  // a verdict that deletes an earlier output.
  if (ToolRunsCancelled()) {
    AbandonCandidateEncoding(encoding);
    return Fail(result, kFailureCancelled);
  }
  // Only candidates that ran are judged, and the result line says how many
  // of the plan that were. With none, there is nothing to judge: keeping the
  // original would delete an earlier output on no evidence.
  result.candidatesEncoded = CountCompletedCandidates(encoding.results);
  if (result.candidatesEncoded == 0) {
    AbandonCandidateEncoding(encoding);
    return Fail(result, kFailureNoEncoderRan);
  }

  SetPhase("Größenvergleich");
  const int winner = ChooseWinner(encoding.results, result.originalBytes);
  bool reached = false;
  if (winner < 0) {
    StepTimer timer(Field(timings, &PipelineTimings::outputWriteMs));
    reached = KeepOriginal(result, plan, kVerdictNoSmallerCandidate);
  } else {
    reached = JudgeWinner(encoding, static_cast<size_t>(winner), reference, profile, plan, result,
                          timings);
  }
  // A check ahead of a losing candidate may still run.
  AbandonCandidateEncoding(encoding);
  if (timings) timings->checksAhead = encoding.checksAhead;
  return reached;
}

// Steps 2 to 14 for an image whose output path is not protected.
bool RunPipeline(const std::string& sourcePath, const QualityProfile& profile,
                 const WritePlan& plan, ImageResult& result, PipelineTimings* timings,
                 Clock::time_point imageStarted) {
  WorkFolder folder;
  WorkFolderGuard removeFolder(folder);
  if (!CreateWorkFolder(folder)) return FailWithoutWorkFolder(sourcePath, result);
  return EncodeAndJudge(sourcePath, profile, plan, folder, result, timings, imageStarted);
}

// The verdict of an image that ends before any work, or nullptr. Under
// replaceSource the output path is the source itself: what matters there is
// a way back, checked again when the winner is written.
const char* RefusalBeforeWork(const std::string& sourcePath, const WritePlan& plan,
                              const std::vector<std::string>& protectedSources,
                              const std::vector<std::string>& writtenOutputs) {
  if (plan.options.replaceSource) {
    // A source that cannot be read fails in the pipeline, saying why.
    if (!plan.sourceAttributesRead) return nullptr;
    if (IsSymbolicLink(sourcePath)) return kVerdictSourceIsLink;
    TrashFolder trash;
    return FindTrashFor(sourcePath, trash) ? nullptr : kVerdictNoTrash;
  }
  const OutputTarget& target = plan.target;
  if (IsProtectedOutputPath(target.path, sourcePath, protectedSources)) return kVerdictProtectedSource;
  if (WrittenEarlierInTheRun(target.path, writtenOutputs)) return kVerdictOutputWrittenThisRun;
  // Nothing is deleted for a skipped image: its output is the current one.
  if (target.skipUpToDate && OutputIsUpToDate(target, sourcePath)) return kVerdictUpToDate;
  return nullptr;
}

}  // namespace

std::string OutputPathFor(const std::string& sourcePath, const std::string& outputFolder,
                          const QualityProfile& profile) {
  const std::string name = BaseNamePart(FileNamePart(sourcePath)) + "_" + profile.key + ".jpg";
  return JoinPath(outputFolder, name);
}

bool IsProtectedOutputPath(const std::string& outputPath, const std::string& sourcePath,
                           const std::vector<std::string>& protectedSources) {
  const std::string outputText = NormalisedAbsolutePath(outputPath);
  struct stat outputInfo{};
  const bool outputExists = ::stat(outputPath.c_str(), &outputInfo) == 0;
  auto matches = [&](const std::string& source) {
    if (NormalisedAbsolutePath(source) == outputText) return true;
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
                   const std::vector<std::string>& writtenOutputs, const OutputOptions& output) {
  const OutputTarget target = OutputTargetFor(sourcePath, OutputLayout{outputFolder}, {}, profile);
  return OptimizeImageTo(sourcePath, target, profile, result, protectedSources, timings,
                         writtenOutputs, output);
}

bool OptimizeImageTo(const std::string& sourcePath, const OutputTarget& target,
                     const QualityProfile& profile, ImageResult& result,
                     const std::vector<std::string>& protectedSources, PipelineTimings* timings,
                     const std::vector<std::string>& writtenOutputs, const OutputOptions& output) {
  const auto started = Clock::now();
  result = ImageResult{};
  if (timings) *timings = PipelineTimings{};
  result.sourcePath = sourcePath;
  result.profileLabel = profile.label;
  // Before anything opens the source, as reading it may move its access time.
  WritePlan plan;
  plan.options = output;
  plan.sourceAttributesRead = ReadFileAttributes(sourcePath, plan.source);
  result.originalBytes = FileSize(sourcePath);
  result.resultBytes = result.originalBytes;

  // Checked before any work: a protected file must not even be deleted as a
  // stale result, and the check costs nothing when it refuses.
  plan.target = target;
  if (output.replaceSource) plan.target = OutputTarget{sourcePath, ParentFolder(sourcePath), {}, false};
  if (const char* verdict = RefusalBeforeWork(sourcePath, plan, protectedSources, writtenOutputs)) {
    result.message = verdict;
    return true;
  }
  bool reached = false;
  if (IsOtherImageFormat(sourcePath)) {
    reached = KeepOriginal(result, plan, kVerdictNotJpeg);
    result.failed = !reached;
    return reached;
  }
  try {
    reached = RunPipeline(sourcePath, profile, plan, result, timings, started);
  } catch (const std::bad_alloc&) {
    // The work folder is gone already (its guard ran while unwinding).
    reached = Fail(result, kFailureOutOfMemory);
  } catch (const std::exception&) {
    reached = Fail(result, kFailureUnexpected);
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
