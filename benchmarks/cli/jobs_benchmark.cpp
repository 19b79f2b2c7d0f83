// orvel-cli-jobs-benchmark: runs `orvel-cli optimize` over the same batch
// with different --jobs settings and prints, per setting, the wall time (and
// its ratio to the first setting, timed in the same run), the peak resident
// memory of orvel-cli itself and of the largest process of the run (an
// encoder tool may be larger), and whether result lines and output files
// match those of the first setting. Prints, never judges.
//
//   orvel-cli-jobs-benchmark [--cli PATH] [--mode 0-2] [--count N] [--jobs 1,auto,...]
//                            FILE|FOLDER...
//
// The batch is `count` images (default 30), the given photos repeated under
// numbered names in a temporary folder that is removed at the end. "auto"
// runs without --jobs. The program's own memory is read from VmHWM in
// /proc while it runs (sampled every 10 ms, so a peak in its last moments
// may be missed).

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "benchmarks/cli/batch_runs.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

struct Options {
  std::string cli = ORVEL_CLI_PROGRAM;
  std::string mode = "1";
  int count = 30;
  std::vector<std::string> jobs{"1", "auto"};
  std::vector<std::string> sources;
};

std::vector<std::string> SplitCommas(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool hasValue = i + 1 < argc;
    if (argument == "--cli" && hasValue) options.cli = argv[++i];
    else if (argument == "--mode" && hasValue) options.mode = argv[++i];
    else if (argument == "--count" && hasValue) options.count = std::atoi(argv[++i]);
    else if (argument == "--jobs" && hasValue) options.jobs = SplitCommas(argv[++i]);
    else if (!argument.empty() && argument[0] != '-') options.sources.push_back(argument);
    else return false;
  }
  return options.count > 0 && !options.jobs.empty() && !options.sources.empty();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "Aufruf: orvel-cli-jobs-benchmark [--cli PFAD] [--mode 0-2] [--count N] "
                 "[--jobs 1,auto,...] DATEI|ORDNER...\n");
    return 2;
  }
  const std::string root = MakeBenchmarkFolder("orvel-jobs-benchmark");
  if (root.empty()) return 1;
  const std::string images = JoinPath(root, "bilder");
  if (!FillBatchFolder(options.sources, options.count, images)) {
    RemoveFolderTree(root);
    std::fprintf(stderr, "Keine Bilder.\n");
    return 1;
  }
  std::printf("%d Bilder, Rechenmodus %s, %u Hardware-Threads\n", options.count,
              options.mode.c_str(), std::thread::hardware_concurrency());
  std::printf("%-6s %10s %8s %14s %16s %s\n", "jobs", "wall s", "ratio", "orvel-cli MiB",
              "largest proc MiB", "same results");
  CliRunFigures first;
  std::string firstOutputs;
  for (size_t k = 0; k < options.jobs.size(); ++k) {
    const std::string output = JoinPath(root, "ausgabe" + FormatInteger(static_cast<std::int64_t>(k)));
    EnsureFolder(output);
    std::vector<std::string> words = {"optimize", "--mode", options.mode};
    if (options.jobs[k] != "auto") words.insert(words.end(), {"--jobs", options.jobs[k]});
    words.insert(words.end(), {"--output", output, images});
    const CliRunFigures run = RunCliTimed(options.cli, words, JoinPath(root, "out.txt"));
    const std::string outputs = OutputBytes(output);
    if (k == 0) {
      first = run;
      firstOutputs = outputs;
    }
    const bool same = run.resultLines == first.resultLines && outputs == firstOutputs;
    std::printf("%-6s %10.2f %8.3f %14.1f %16.1f %s%s\n", options.jobs[k].c_str(), run.wallSeconds,
                first.wallSeconds > 0 ? run.wallSeconds / first.wallSeconds : 0.0,
                run.programPeakKiB / 1024.0, run.largestPeakKiB / 1024.0, same ? "yes" : "NO",
                run.ran ? "" : "  (exit status not 0)");
  }
  RemoveFolderTree(root);
  return 0;
}
