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
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "core/image_list.h"
#include "platform/files.h"
#include "platform/text.h"

extern char** environ;

namespace {

struct Options {
  std::string cli = ORVEL_CLI_PROGRAM;
  std::string mode = "1";
  int count = 30;
  std::vector<std::string> jobs{"1", "auto"};
  std::vector<std::string> sources;
};

struct RunFigures {
  bool ran = false;
  double wallSeconds = 0;
  long programPeakKiB = 0;  // VmHWM of orvel-cli
  long largestPeakKiB = 0;  // ru_maxrss: the largest process of the run
  std::string resultLines;  // standard output without the summary
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

long ReadHighWaterKiB(pid_t pid) {
  const std::string status = [&] {
    std::string text;
    ReadFileBytes("/proc/" + std::to_string(pid) + "/status", text);
    return text;
  }();
  const size_t at = status.find("VmHWM:");
  return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
}

RunFigures RunCli(const Options& options, const std::string& jobs, const std::string& images,
                  const std::string& output, const std::string& logPath) {
  std::vector<std::string> words = {options.cli, "optimize", "--mode", options.mode};
  if (jobs != "auto") words.insert(words.end(), {"--jobs", jobs});
  words.insert(words.end(), {"--output", output, images});
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  RunFigures figures;
  const auto started = std::chrono::steady_clock::now();
  pid_t pid = -1;
  const bool spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (!spawned) return figures;
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, WNOHANG, &usage) == 0) {
    figures.programPeakKiB = std::max(figures.programPeakKiB, ReadHighWaterKiB(pid));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  figures.wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  figures.ran = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  figures.largestPeakKiB = usage.ru_maxrss;
  std::string out;
  ReadFileBytes(logPath, out);
  figures.resultLines = out.substr(0, out.rfind("Zusammenfassung:"));
  return figures;
}

// The batch: the sources' JPEG files repeated up to `count` under numbered names.
bool FillBatchFolder(const Options& options, const std::string& images) {
  std::vector<std::string> photos;
  AddToImageList(photos, options.sources, std::string());
  if (photos.empty() || !EnsureFolder(images)) return false;
  for (int i = 0; i < options.count; ++i) {
    const std::string& photo = photos[static_cast<size_t>(i) % photos.size()];
    const std::string name = FormatInteger(1000 + i) + "_" + FileNamePart(photo);
    if (!CopyFileBytes(photo, JoinPath(images, name))) return false;
  }
  return true;
}

// Every output file's name and bytes, in name order.
std::string OutputBytes(const std::string& output) {
  std::vector<std::string> files;
  CollectJpegFiles(output, files);
  std::sort(files.begin(), files.end());
  std::string all;
  for (const std::string& file : files) {
    std::string bytes;
    ReadFileBytes(file, bytes);
    all += FileNamePart(file) + ":" + bytes;
  }
  return all;
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
  std::string pattern = JoinPath(TempFolder(), "orvel-jobs-benchmark-XXXXXX");
  const char* made = ::mkdtemp(pattern.data());
  if (made == nullptr) return 1;
  const std::string root = made;
  const std::string images = JoinPath(root, "bilder");
  if (!FillBatchFolder(options, images)) {
    RemoveFolderTree(root);
    std::fprintf(stderr, "Keine Bilder.\n");
    return 1;
  }
  std::printf("%d Bilder, Rechenmodus %s, %u Hardware-Threads\n", options.count,
              options.mode.c_str(), std::thread::hardware_concurrency());
  std::printf("%-6s %10s %8s %14s %16s %s\n", "jobs", "wall s", "ratio", "orvel-cli MiB",
              "largest proc MiB", "same results");
  RunFigures first;
  std::string firstOutputs;
  for (size_t k = 0; k < options.jobs.size(); ++k) {
    const std::string output = JoinPath(root, "ausgabe" + FormatInteger(static_cast<std::int64_t>(k)));
    EnsureFolder(output);
    const RunFigures run = RunCli(options, options.jobs[k], images, output, JoinPath(root, "out.txt"));
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
