// A whole profile-development run over a folder, timed: sampling, the worker
// over every image, and the summary written again on its own afterwards.
// Prints the wall time per image and per candidate and the raw file's size.
//
//   orvel-bench-run ROOT [--depth 0-2] [--per-folder N] [--total N]
//                   [--jpegli PATH] [--mozjpeg PATH] [--jpegtran PATH]
//
// Without a tool option the embedded encoders are used. The run folder and
// the session file go to the local data folder as for any run; point
// LOCALAPPDATA elsewhere to keep them apart.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engines/engine_store.h"
#include "bench/raw_results.h"
#include "bench/sampling.h"
#include "bench/session.h"
#include "bench/summary.h"
#include "bench/worker.h"
#include "platform/files.h"

namespace {

struct RunOptions {
  std::string root;
  int depth = 1;
  int perFolder = kPerFolderDefault;
  int total = kTotalDefault;
  std::string jpegli, mozjpeg, jpegtran;
  bool toolsGiven = false;
};

bool ParseOptions(int argc, char** argv, RunOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool hasValue = i + 1 < argc;
    if (argument == "--depth" && hasValue) options.depth = std::atoi(argv[++i]);
    else if (argument == "--per-folder" && hasValue) options.perFolder = std::atoi(argv[++i]);
    else if (argument == "--total" && hasValue) options.total = std::atoi(argv[++i]);
    else if (argument == "--jpegli" && hasValue) options.jpegli = argv[++i], options.toolsGiven = true;
    else if (argument == "--mozjpeg" && hasValue) options.mozjpeg = argv[++i], options.toolsGiven = true;
    else if (argument == "--jpegtran" && hasValue) options.jpegtran = argv[++i], options.toolsGiven = true;
    else if (options.root.empty() && argument[0] != '-') options.root = argument;
    else return false;
  }
  return !options.root.empty();
}

void SetTools(const RunOptions& options) {
  if (!options.toolsGiven) {
    MaterializeEngines();
    RefreshEngineAvailability();
    return;
  }
  EngineStore& store = Engines();
  store.jpegliPath = options.jpegli;
  store.mozjpegPath = options.mozjpeg;
  store.jpegtranPath = options.jpegtran;
  store.jpegliAvailable = !options.jpegli.empty();
  store.mozjpegAvailable = !options.mozjpeg.empty();
  store.jpegtranAvailable = !options.jpegtran.empty();
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  RunOptions options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: orvel-bench-run ROOT [--depth 0-2] [--per-folder N] [--total N] "
                         "[--jpegli PATH] [--mozjpeg PATH] [--jpegtran PATH]\n");
    return 2;
  }
  SetTools(options);
  BenchmarkSession& session = CurrentBenchmarkSession();
  session.root = options.root;
  session.depth = options.depth;
  session.maxPerFolder = options.perFolder;
  session.maxTotal = options.total;
  const auto sampleStart = std::chrono::steady_clock::now();
  ImageSample sample = SelectBalancedSample(session.root, session.maxPerFolder, session.maxTotal);
  const double sampleSeconds = SecondsSince(sampleStart);
  session.images = std::move(sample.images);
  session.foldersFound = sample.foldersFound;
  session.imagesFound = sample.imagesFound;
  if (session.images.empty() || !CreateBenchmarkRun(session)) {
    std::fprintf(stderr, "no images, or the run could not be created\n");
    return 1;
  }
  std::uint64_t candidates = 0;
  BenchmarkWorker& worker = CurrentBenchmarkWorker();
  // Counted on the worker thread, read after the join.
  const auto countCandidates = [&] {
    if (session.currentCandidate.load() == 1) candidates += session.candidateCount.load();
  };
  SetBenchmarkNotifications(worker, BenchmarkNotifications{countCandidates, nullptr});
  const auto runStart = std::chrono::steady_clock::now();
  if (!StartBenchmarkWorker()) return 1;
  JoinBenchmarkWorker(worker);
  const double runSeconds = SecondsSince(runStart);
  const auto summaryStart = std::chrono::steady_clock::now();
  const bool summaryWritten = WriteCandidateSummary(session);
  const double summarySeconds = SecondsSince(summaryStart);
  const double images = static_cast<double>(session.images.size());

  std::printf("run folder               %s\n", session.sessionDir.c_str());
  std::printf("tools                    jpegli %s, MozJPEG %s, jpegtran %s\n",
              Engines().jpegliAvailable ? "yes" : "no", Engines().mozjpegAvailable ? "yes" : "no",
              Engines().jpegtranAvailable ? "yes" : "no");
  std::printf("images                   %zu (found %llu in %llu folders, sampling %.3f s)\n",
              session.images.size(), static_cast<unsigned long long>(session.imagesFound),
              static_cast<unsigned long long>(session.foldersFound), sampleSeconds);
  std::printf("candidates               %llu (depth %d)\n", static_cast<unsigned long long>(candidates),
              session.depth);
  std::printf("run wall time            %.2f s (summary included)\n", runSeconds);
  std::printf("per image                %.3f s\n", runSeconds / images);
  std::printf("per candidate            %.1f ms\n", candidates ? runSeconds * 1000 / candidates : 0.0);
  std::printf("raw file size            %llu bytes\n",
              static_cast<unsigned long long>(FileSize(session.csvPath)));
  std::printf("summary (again, alone)   %.1f ms%s\n", summarySeconds * 1000,
              summaryWritten ? "" : " (NOT written)");
  SetBenchmarkNotifications(worker, BenchmarkNotifications{});
  if (!options.toolsGiven) RemoveEngineFolder();
  return 0;
}
