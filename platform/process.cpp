// posix_spawn-based tool runner; see process.h. Called concurrently from the
// encoder worker threads, so it keeps all state in locals and opens every
// descriptor close-on-exec (the dup2 file actions clear that flag only on the
// child's own standard descriptors).
#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"

extern char** environ;

namespace {

// Owns the spawn attributes: a signal the program ignores (SIGPIPE, in the
// command-line front-end) would otherwise stay ignored in the tool, because an
// ignored disposition survives exec.
struct SpawnAttributes {
  posix_spawnattr_t attributes;
  bool initialized = false;
  bool ready = false;
  SpawnAttributes() {
    initialized = posix_spawnattr_init(&attributes) == 0;
    if (!initialized) return;
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    ready = posix_spawnattr_setsigdefault(&attributes, &defaults) == 0 &&
            posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF) == 0;
  }
  ~SpawnAttributes() {
    if (initialized) posix_spawnattr_destroy(&attributes);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
};

// Owns a posix_spawn_file_actions_t for one spawn.
struct SpawnActions {
  posix_spawn_file_actions_t actions;
  bool ready = false;
  SpawnActions() { ready = posix_spawn_file_actions_init(&actions) == 0; }
  ~SpawnActions() {
    if (ready) posix_spawn_file_actions_destroy(&actions);
  }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
};

bool WaitForExitStatusZero(pid_t child) {
  int status = 0;
  for (;;) {
    const pid_t got = ::waitpid(child, &status, 0);
    if (got == child) break;
    if (got < 0 && errno == EINTR) continue;
    return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool RunTool(const std::string& toolPath, const std::vector<std::string>& arguments,
             const std::string& stdoutPath, const std::string& workingFolder) {
  if (toolPath.empty()) return false;
  UniqueFd nullInput(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  UniqueFd nullOutput(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  if (!nullInput.Valid() || !nullOutput.Valid()) return false;
  UniqueFd outputFile;
  if (!stdoutPath.empty()) {
    outputFile = CreateForWriting(stdoutPath);
    if (!outputFile.Valid()) return false;
  }
  const int stdoutFd = outputFile.Valid() ? outputFile.fd : nullOutput.fd;

  SpawnActions spawn;
  SpawnAttributes attributes;
  if (!spawn.ready || !attributes.ready) return false;
  if (posix_spawn_file_actions_adddup2(&spawn.actions, nullInput.fd, STDIN_FILENO) != 0 ||
      posix_spawn_file_actions_adddup2(&spawn.actions, stdoutFd, STDOUT_FILENO) != 0 ||
      posix_spawn_file_actions_adddup2(&spawn.actions, nullOutput.fd, STDERR_FILENO) != 0) {
    return false;
  }
  if (!workingFolder.empty() &&
      posix_spawn_file_actions_addchdir_np(&spawn.actions, workingFolder.c_str()) != 0) {
    return false;
  }

  std::vector<char*> argv;
  argv.reserve(arguments.size() + 2);
  argv.push_back(const_cast<char*>(toolPath.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  pid_t child = -1;
  const int started = ::posix_spawn(&child, toolPath.c_str(), &spawn.actions, &attributes.attributes,
                                   argv.data(), environ);
  // The parent's copies go now, whether or not the child started.
  outputFile = UniqueFd();
  nullInput = UniqueFd();
  nullOutput = UniqueFd();
  if (started != 0) return false;
  return WaitForExitStatusZero(child);
}
