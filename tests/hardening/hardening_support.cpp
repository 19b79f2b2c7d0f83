// Shared pieces of the hardening suites; see hardening_support.h.
#include "tests/hardening/hardening_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "core/pipeline.h"
#include "platform/files.h"

extern char** environ;

FolderSnapshot SnapshotFolder(const std::string& folder) {
  FolderSnapshot snapshot;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return snapshot;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    const std::string path = JoinPath(folder, name);
    if (name == "." || name == ".." || !IsRegularFile(path)) continue;
    std::string bytes;
    ReadFileBytes(path, bytes);
    snapshot[name] = bytes;
  }
  ::closedir(dir);
  return snapshot;
}

std::vector<std::string> ChangedNames(const FolderSnapshot& before, const FolderSnapshot& after) {
  std::vector<std::string> names;
  for (const auto& [name, bytes] : before) {
    const auto found = after.find(name);
    if (found == after.end() || found->second != bytes) names.push_back(name);
  }
  for (const auto& [name, bytes] : after) {
    if (before.count(name) == 0) names.push_back(name);
  }
  return names;
}

bool IsKeepingVerdict(const std::string& message) {
  return message == kVerdictNoSmallerCandidate || message == kVerdictWinnerUndecodable ||
         message == kVerdictGateFailed;
}

std::vector<std::string> LeftoverWorkFolders(const std::string& folder) {
  std::vector<std::string> found;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return found;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = JoinPath(folder, name);
    if (name.rfind("TALV_", 0) == 0 || name.rfind("engines_", 0) == 0) found.push_back(path);
    if (IsDirectory(path) && !IsSymbolicLink(path)) {
      for (const std::string& inner : LeftoverWorkFolders(path)) found.push_back(inner);
    }
  }
  ::closedir(dir);
  return found;
}

CliRun RunCliWithin(const std::vector<std::string>& arguments, const std::string& tmpdir,
                    const std::string& logFolder, int deadlineSeconds) {
  const std::string outPath = JoinPath(logFolder, "cli_stdout.txt");
  const std::string errPath = JoinPath(logFolder, "cli_stderr.txt");
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(*e).rfind("TMPDIR=", 0) != 0) environment.push_back(*e);
  }
  environment.push_back("TMPDIR=" + tmpdir);
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argvText = {ORVEL_CLI_PROGRAM};
  argvText.insert(argvText.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  const bool started = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0;
  posix_spawn_file_actions_destroy(&actions);

  CliRun run;
  if (!started) return run;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(deadlineSeconds);
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      run.timedOut = true;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!run.timedOut && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  ReadFileBytes(outPath, run.out);
  ReadFileBytes(errPath, run.err);
  return run;
}

