// The commands of orvel-cli; see cli_commands.h. Neighbours: cli_options.cpp
// (the parsed record), core/pipeline (OptimizeImage), core/result_line (the
// result text), engines/engine_store (the embedded tools).
#include "cli/cli_commands.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "engines/engine_store.h"
#include "cli/bench_command.h"
#include "cli/json_report.h"
#include "core/display_text.h"
#include "core/parallel_batch.h"
#include "core/image_list.h"
#include "core/live_status.h"
#include "core/output_target.h"
#include "core/pipeline.h"
#include "core/profiles.h"
#include "core/result_line.h"
#include "imaging/decode.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"

namespace {

// Signals of this run: blocked, collected by polling (from the calling
// thread and from the pipeline's threads alike).
struct InterruptState {
  sigset_t signals;
  std::atomic<int> received{0};  // SIGINT or SIGTERM once collected; 0 before
};
InterruptState interrupt;

void BlockInterruptSignals() {
  sigemptyset(&interrupt.signals);
  sigaddset(&interrupt.signals, SIGINT);
  sigaddset(&interrupt.signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &interrupt.signals, nullptr);
  // A closed output pipe must not end the run before the engine folder is gone.
  signal(SIGPIPE, SIG_IGN);
}

bool CollectInterrupt() {
  const timespec noWait{0, 0};
  const int signal = sigtimedwait(&interrupt.signals, nullptr, &noWait);
  int none = 0;
  if (signal > 0 && interrupt.received.compare_exchange_strong(none, signal)) {
    // A tool may hang or take long; the images in flight end as cancelled.
    CancelToolRuns();
  }
  return interrupt.received.load() != 0;
}

// The embedded encoders written out for one command, and their folder
// removed again on every way out of it. Only the commands that start tools
// clear what killed runs of ours left behind; --help or a usage error
// touches nothing.
struct PreparedEngines {
  PreparedEngines() {
    RemoveAbandonedFoldersOfEarlierRuns();
    MaterializeEngines();
    RefreshEngineAvailability();
  }
  ~PreparedEngines() { RemoveEngineFolder(); }
  PreparedEngines(const PreparedEngines&) = delete;
  PreparedEngines& operator=(const PreparedEngines&) = delete;
};

void WriteText(FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

// The live progress line on a terminal's standard error. Several images may
// be in flight; the line shows whichever the shared live status names.
struct ProgressLine {
  std::mutex mutex;  // guards the fields below and every write to the terminal
  bool enabled = false;
  bool shown = false;
  std::uint64_t lastTick = 0;
};
ProgressLine progress;

// With progress.mutex held.
void ClearProgressLineLocked() {
  if (!progress.shown) return;
  WriteText(stderr, "\r\033[K");
  progress.shown = false;
}

void ClearProgressLine() {
  const std::lock_guard<std::mutex> lock(progress.mutex);
  ClearProgressLineLocked();
}

// A result line on standard output, the progress line cleared first.
void WriteResultLine(const std::string& line) {
  const std::lock_guard<std::mutex> lock(progress.mutex);
  ClearProgressLineLocked();
  WriteText(stdout, line + "\n");
}

void RefreshProgressLine(bool force) {
  const std::lock_guard<std::mutex> lock(progress.mutex);
  if (!progress.enabled) return;
  const std::uint64_t now = TickCountMs();
  if (!force && now - progress.lastTick < 250) return;
  progress.lastTick = now;
  const LiveStatusSnapshot status = TakeLiveStatusSnapshot();
  std::string line = "\r\033[K[" + FormatInteger(static_cast<std::int64_t>(status.imageIndex)) +
                     "/" + FormatInteger(static_cast<std::int64_t>(status.imageCount)) + "] " +
                     status.fileName + " \u2013 " + (status.phase.empty() ? "\u2013" : status.phase);
  if (status.candidatesTotal > 0) {
    line += "   |   Kandidaten " + FormatInteger(status.candidatesDone) + " / " +
            FormatInteger(status.candidatesTotal);
  }
  WriteText(stderr, line);
  progress.shown = true;
}

void CountResult(const ImageResult& result, bool reached, BatchSummary& summary) {
  ++summary.images;
  if (!reached) ++summary.failed;
  else if (result.optimized) ++summary.optimized;
  else ++summary.kept;
  summary.bytesBefore += result.originalBytes;
  summary.bytesAfter += result.resultBytes;
}

// The images of one optimize run and what it shares with its threads.
struct OptimizeRun {
  const CliOptions& options;
  const QualityProfile& profile;
  std::vector<std::string> list;  // the sorted image list
  BatchSummary summary;
  std::vector<OutputTarget> targets;  // entry i: where image i's output goes
  std::vector<double> imageMs;        // entry i: image i's wall time, ms (its thread writes it)
};

// The three calls of the parallel batch: one image through the pipeline (on
// its thread), its result line in list order, the interrupt poll.
ParallelBatchCalls BatchCallsFor(OptimizeRun& run) {
  ParallelBatchCalls calls;
  calls.process = [&run](std::size_t i, const std::vector<std::string>& writtenOutputs) {
    const std::uint64_t started = TickCountMs();
    const OutputOptions output{run.options.replace, run.options.preserve};
    BatchOutcome outcome =
        OptimizeBatchImage(run.list, i, run.targets[i], run.profile, writtenOutputs, output);
    run.imageMs[i] = static_cast<double>(TickCountMs() - started);
    return outcome;
  };
  calls.report = [&run](std::size_t i, BatchOutcome& outcome) {
    if (!outcome.reached) {
      outcome.result = ProcessingErrorResult(outcome.result, run.list[i], run.profile.label);
    }
    CountResult(outcome.result, outcome.reached, run.summary);
    WriteResultLine(run.options.json ? FormatImageJson(outcome.result, outcome.reached, run.imageMs[i])
                                     : FormatResultLine(outcome.result));
  };
  calls.poll = [] {
    RefreshProgressLine(false);
    return CollectInterrupt();
  };
  AdmitByDeclaredMemory(calls, run.list);
  return calls;
}

int ExitStatusFor(const BatchSummary& summary) {
  if (interrupt.received.load() != 0) return 128 + interrupt.received.load();
  return summary.failed > 0 ? kExitFailure : kExitOk;
}

std::string FormatSignificant(double value) {
  char buffer[64];
  const auto converted =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 17);
  return std::string(buffer, converted.ptr);
}

}  // namespace

std::string FormatSummaryLine(const BatchSummary& summary) {
  const std::string separator = "   |   ";
  auto bytes = [](unsigned long long count) {
    return FormatBytes(count) + " (" + FormatInteger(static_cast<std::int64_t>(count)) + " Bytes)";
  };
  return "Zusammenfassung: " + FormatInteger(summary.images) + " Bilder" + separator +
         FormatInteger(summary.optimized) + " optimiert" + separator +
         FormatInteger(summary.kept) + " Original behalten" + separator +
         FormatInteger(summary.failed) + " Fehler" + separator + "vorher " +
         bytes(summary.bytesBefore) + separator + "nachher " + bytes(summary.bytesAfter);
}

int RunOptimizeCommand(const CliOptions& options) {
  if (options.files.empty()) {
    WriteText(stderr, "Bitte zuerst mindestens ein JPEG-Bild hinzufügen.\n");
    return kExitUsage;
  }
  if (!options.replace && (options.outputFolder.empty() || !IsDirectory(options.outputFolder))) {
    WriteText(stderr, "Bitte einen gültigen Ausgabepfad auswählen.\n");
    return kExitUsage;
  }
  OptimizeRun run{options, ProfileAt(options.profile), {}, {}, {}, {}};
  AddToImageList(run.list, options.files, std::string(), options.outputFolder);
  if (run.list.empty()) {  // only folders without JPEG files
    WriteText(stderr, "Bitte zuerst mindestens ein JPEG-Bild hinzufügen.\n");
    return kExitUsage;
  }

  // Held until the run ends; the window's batch takes the same lock.
  bool busy = false;
  const UniqueFd outputLock = LockFolderExclusively(options.outputFolder, busy);
  if (busy) {
    WriteText(stderr, std::string(kMessageOutputFolderBusy) + "\n");
    return kExitFailure;
  }
  BlockInterruptSignals();
  const PreparedEngines engines;
  // The plan shrinks without the tool; say once why, so it is not a mystery.
  WriteText(stderr, DescribeUnusableEmbeddedEngines());
  currentProfile.store(options.profile);
  currentMode.store(options.mode);
  const unsigned jobs = options.jobs > 0 ? static_cast<unsigned>(options.jobs)
                                         : AutomaticJobCount(HardwareThreadCount());
  // Absolute, so every output path (in the JSON lines too) names its file
  // whatever the reader's current folder.
  const std::string outputFolder = NormalisedAbsolutePath(options.outputFolder, {}, ParentSteps::kKeep);
  const OutputLayout layout{outputFolder, options.keepStructure, options.update};
  run.targets = BatchOutputTargets(run.list, layout, ScanRootsOf(options.files, {}), run.profile);
  run.imageMs.assign(run.list.size(), 0.0);

  progress.enabled = ::isatty(STDERR_FILENO) == 1;
  SetFrontEndHooks(FrontEndHooks{[](bool force) { RefreshProgressLine(force); },
                                 [] { CollectInterrupt(); }});
  BeginLiveStatusBatch(run.list.size());
  // Under --replace each image's output is its own source: no two share one.
  RunParallelBatch(options.replace ? run.list : OutputPathsOf(run.targets), jobs,
                   BatchCallsFor(run));
  CollectInterrupt();
  SetFrontEndHooks(FrontEndHooks{});
  ClearProgressLine();
  if (interrupt.received.load() != 0) {
    WriteText(stderr, "Abgebrochen nach " + FormatInteger(run.summary.images) + " von " +
                          FormatInteger(static_cast<std::int64_t>(run.list.size())) + " Bildern.\n");
  }
  WriteText(stdout, (options.json ? FormatSummaryJson(run.summary) : FormatSummaryLine(run.summary)) + "\n");
  return ExitStatusFor(run.summary);
}

int RunStatusCommand() {
  const PreparedEngines engines;
  std::string report = BuildEncoderStatusReport();
  std::string text;
  text.reserve(report.size());
  for (size_t i = 0; i < report.size(); ++i) {
    if (report[i] == '\r' && i + 1 < report.size() && report[i + 1] == '\n') continue;
    text += report[i];
  }
  if (!text.empty() && text.back() != '\n') text += '\n';
  WriteText(stdout, text);
  return kExitOk;
}

std::string FormatVersionText() {
  std::string text = std::string("orvel-cli (Orvel JPEG Optimizer) ") + ORVEL_VERSION + "\n";
  const std::pair<int, const char*> tools[] = {{kEngineResourceJpegli, "cjpegli"},
                                                {kEngineResourceMozjpeg, "cjpeg"},
                                                {kEngineResourceJpegtran, "jpegtran"}};
  for (const auto& [id, name] : tools) {
    const EngineResource embedded = FindEmbeddedEngineResource(id);
    const bool known = embedded.version != nullptr && embedded.version[0] != '\0';
    text += std::string("  ") + name + ": " +
            (embedded.size == 0 ? "nicht eingebettet" : known ? embedded.version : "Version unbekannt") +
            "\n";
  }
  return text;
}

std::string FormatAnalysisReport(const QualityReport& report) {
  const std::pair<const char*, double> figures[] = {
      {"global", report.global},   {"worst5", report.worst5}, {"worst", report.worst},
      {"color", report.color},     {"edge", report.edge},     {"ringing", report.ringing},
      {"banding", report.banding}, {"composite", report.composite}};
  std::string text;
  for (const auto& [name, value] : figures) text += std::string(name) + "=" + FormatSignificant(value) + "\n";
  text += "windows=" + FormatInteger(static_cast<std::int64_t>(report.windowScores.size())) + "\n";
  return text;
}

int RunAnalyzeCommand(const CliOptions& options) {
  PixelImage reference;
  PixelImage test;
  for (const auto& [path, image] : {std::pair<const std::string&, PixelImage&>{options.reference, reference},
                                    std::pair<const std::string&, PixelImage&>{options.test, test}}) {
    if (!DecodeImageFile(path, image)) {
      WriteText(stderr, "Bild konnte nicht dekodiert werden: " + EscapeForDisplay(path) + "\n");
      return kExitFailure;
    }
  }
  const QualityReport report = AnalyzeQuality(reference, test);
  WriteText(stdout, FormatAnalysisReport(report));
  if (report.windowScores.empty()) {
    WriteText(stderr, "Vergleich ungültig: keine Fenster (verschiedene Bildmaße?).\n");
    return kExitFailure;
  }
  return kExitOk;
}

int RunCliProgram(const std::vector<std::string>& arguments) {
  RestoreDefaultChildSignal();
  CliOptions options;
  std::string error;
  if (!ParseCliArguments(arguments, options, error)) {
    const bool bench = options.command == CliCommand::kBench;
    // The message may quote an argument: a file name or whatever was typed.
    WriteText(stderr, EscapeForDisplay(error) + "\n\n" + (bench ? "Aufruf:\n" + BenchUsageText() : CliUsageText()));
    return kExitUsage;
  }
  return RunCliCommand(options);
}

int RunCliCommand(const CliOptions& options) {
  switch (options.command) {
    case CliCommand::kHelp:
      WriteText(stdout, CliUsageText());
      return kExitOk;
    case CliCommand::kVersion:
      WriteText(stdout, FormatVersionText());
      return kExitOk;
    case CliCommand::kOptimize: return RunOptimizeCommand(options);
    case CliCommand::kStatus: return RunStatusCommand();
    case CliCommand::kAnalyze: return RunAnalyzeCommand(options);
    case CliCommand::kBench: {
      if (options.bench.merge) return RunBenchWithPreparedEngines(options.bench);
      const PreparedEngines engines;
      return RunBenchWithPreparedEngines(options.bench);
    }
  }
  return kExitUsage;
}
