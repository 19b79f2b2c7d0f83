// The batch benchmarks' shared runs; see batch_runs.h.
#include "benchmarks/cli/batch_runs.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "core/image_list.h"
#include "platform/files.h"
#include "platform/text.h"

extern char** environ;

namespace {

long ReadHighWaterKiB(pid_t pid) {
  std::string status;
  ReadFileBytes("/proc/" + std::to_string(pid) + "/status", status);
  const size_t at = status.find("VmHWM:");
  return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
}

}  // namespace

bool FillBatchFolder(const std::vector<std::string>& sources, int count, const std::string& images) {
  std::vector<std::string> photos;
  AddToImageList(photos, sources, std::string());
  if (photos.empty() || !EnsureFolder(images)) return false;
  for (int i = 0; i < count; ++i) {
    const std::string& photo = photos[static_cast<size_t>(i) % photos.size()];
    const std::string name = FormatInteger(1000 + i) + "_" + FileNamePart(photo);
    if (!CopyFileBytes(photo, JoinPath(images, name))) return false;
  }
  return true;
}

CliRunFigures RunCliTimed(const std::string& cli, std::vector<std::string> arguments,
                          const std::string& logPath) {
  arguments.insert(arguments.begin(), cli);
  std::vector<char*> argv;
  for (std::string& word : arguments) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  CliRunFigures figures;
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
  figures.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  figures.ran = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  figures.largestPeakKiB = usage.ru_maxrss;
  std::string out;
  ReadFileBytes(logPath, out);
  figures.resultLines = out.substr(0, out.rfind("Zusammenfassung:"));
  return figures;
}

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

std::string MakeBenchmarkFolder(const std::string& prefix) {
  std::string pattern = JoinPath(TempFolder(), prefix + "-XXXXXX");
  const char* made = ::mkdtemp(pattern.data());
  return made == nullptr ? std::string() : std::string(made);
}
