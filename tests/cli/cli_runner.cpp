// orvel-cli as a child process; see cli_runner.h.
#include "tests/cli/cli_runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <thread>

#include "platform/files.h"

extern char** environ;

CliChild StartCli(const std::vector<std::string>& arguments, const std::string& tmpdir,
                  const std::string& logFolder, const CliLaunch& launch) {
  CliChild child{-1, JoinPath(logFolder, "cli_stdout.txt"), JoinPath(logFolder, "cli_stderr.txt")};
  std::vector<std::string> envText;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(*e).rfind("TMPDIR=", 0) != 0) envText.push_back(*e);
  }
  envText.push_back("TMPDIR=" + tmpdir);
  envText.insert(envText.end(), launch.environment.begin(), launch.environment.end());
  std::vector<std::string> argvText = {launch.program.empty() ? ORVEL_CLI_PROGRAM : launch.program};
  argvText.insert(argvText.end(), arguments.begin(), arguments.end());
  std::vector<char*> env, argv;
  for (std::string& e : envText) env.push_back(e.data());
  for (std::string& a : argvText) argv.push_back(a.data());
  env.push_back(nullptr);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, child.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, child.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  // An ignored disposition survives exec; ours is restored right after.
  struct sigaction ignore{}, previous{};
  ignore.sa_handler = SIG_IGN;
  if (launch.ignoreChildSignal) ::sigaction(SIGCHLD, &ignore, &previous);
  if (::posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), env.data()) != 0) child.pid = -1;
  if (launch.ignoreChildSignal) ::sigaction(SIGCHLD, &previous, nullptr);
  posix_spawn_file_actions_destroy(&actions);
  return child;
}

CliRun WaitForCli(const CliChild& child, std::chrono::seconds limit) {
  CliRun run;
  if (child.pid <= 0) return run;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  pid_t got = 0;
  while (!run.timedOut && (got = ::waitpid(child.pid, &status, WNOHANG)) == 0) {
    run.timedOut = std::chrono::steady_clock::now() > deadline;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (run.timedOut) {
    ::kill(child.pid, SIGKILL);
    ::waitpid(child.pid, &status, 0);
  } else if (got == child.pid && WIFEXITED(status)) {
    run.status = WEXITSTATUS(status);
  }
  ReadFileBytes(child.outPath, run.out);
  ReadFileBytes(child.errPath, run.err);
  return run;
}

std::vector<std::string> LeftoverWorkFolders(const std::string& folder) {
  std::vector<std::string> found;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return found;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name, path = JoinPath(folder, name);
    if (name == "." || name == "..") continue;
    if (name.rfind("TALV_", 0) == 0 || name.rfind("engines_", 0) == 0) found.push_back(path);
    if (IsDirectory(path) && !IsSymbolicLink(path)) {
      for (const std::string& inner : LeftoverWorkFolders(path)) found.push_back(inner);
    }
  }
  ::closedir(dir);
  return found;
}
