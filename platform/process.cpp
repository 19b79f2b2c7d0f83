// posix_spawn-based tool runner; see process.h. Called concurrently from the
// encoder worker threads, so it keeps the state of a run in locals and opens
// every descriptor close-on-exec (the dup2 file actions clear that flag only
// on the child's own standard descriptors).
//
// Running children are listed in a fixed table of atomics, so that
// CancelToolRuns can kill them from a signal handler without taking a lock.
// A run reserves its slot before it spawns, waiting for one when all are
// taken, so every child is listed.
// A run takes its child out of the table before it reaps it, and waits until
// no canceller still holds the pid it read, so a kill never reaches a process
// that merely reuses a reaped child's pid.
#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/memory.h"

extern char** environ;

namespace {

// Our environment, plus the advice that lets a tool's own large buffers use
// huge pages (it halves a 20-megapixel jpegli encode on a virtual machine)
// unless the user set glibc's tunables already.
std::vector<char*> ToolEnvironment() {
  std::vector<char*> environment;
  bool tunablesSet = false;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    tunablesSet = tunablesSet || std::string_view(*entry).starts_with("GLIBC_TUNABLES=");
    environment.push_back(*entry);
  }
  if (!tunablesSet) environment.push_back(const_cast<char*>(kHugePageTunable));
  environment.push_back(nullptr);
  return environment;
}

// A tool run may take this long per started block of pixels; the floor
// covers small images.
constexpr std::uint64_t kPixelsPerTimeLimitStep = 4'000'000;

// More than the encoder threads of one image and the benchmark together; a
// batch of many images at once waits for a free slot before it starts a
// tool, so the table also bounds the tools running at once.
constexpr int kTrackedChildSlots = 64;

// A slot taken by a run that has not started its child yet.
constexpr pid_t kReservedSlot = -1;

struct ChildTable {
  std::atomic<pid_t> pids[kTrackedChildSlots] = {};
  std::atomic<int> readers[kTrackedChildSlots] = {};  // cancellers holding a pid
  std::atomic<bool> cancelled{false};
};
ChildTable children;
static_assert(std::atomic<pid_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the child table is used from signal handlers");

// Takes a free slot, waiting while all are in use. A tool that got no slot
// could not be cancelled, and killing it instead would make its candidate
// fail for no reason of its own. -1 when the runs are cancelled meanwhile.
int ReserveChildSlot() {
  for (;;) {
    for (int slot = 0; slot < kTrackedChildSlots; ++slot) {
      pid_t empty = 0;
      if (children.pids[slot].compare_exchange_strong(empty, kReservedSlot)) return slot;
    }
    if (ToolRunsCancelled()) return -1;
    ::usleep(2000);
  }
}

void ForgetChild(int slot) {
  children.pids[slot].store(0);
  while (children.readers[slot].load() != 0) sched_yield();
}

// Gives a reserved slot back, whatever happens to the spawn.
struct ChildSlot {
  int slot = ReserveChildSlot();
  ChildSlot() = default;
  ~ChildSlot() {
    if (slot >= 0) ForgetChild(slot);
  }
  ChildSlot(const ChildSlot&) = delete;
  ChildSlot& operator=(const ChildSlot&) = delete;
};

// Owns the spawn attributes: the child starts with an empty signal mask and
// every signal at its default action, in a process group of its own. A
// blocked SIGINT or an ignored SIGPIPE of ours would otherwise survive exec
// and keep the tool from ending; and in our process group a terminal's Ctrl-C
// would kill the tool before we see the signal, so its candidate would count
// as failed instead of the image as cancelled. We cancel our tools ourselves.
struct SpawnAttributes {
  posix_spawnattr_t attributes;
  bool initialized = false;
  bool ready = false;
  SpawnAttributes() {
    initialized = posix_spawnattr_init(&attributes) == 0;
    if (!initialized) return;
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    ready = posix_spawnattr_setsigmask(&attributes, &none) == 0 &&
            posix_spawnattr_setsigdefault(&attributes, &all) == 0 &&
            posix_spawnattr_setpgroup(&attributes, 0) == 0 &&
            posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                                      POSIX_SPAWN_SETPGROUP) == 0;
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

// True once the child has ended (it stays unreaped); false while it runs or
// when it cannot be waited for at all (then `lost` is set).
bool ChildHasEnded(pid_t child, bool& lost) {
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
    if (errno == EINTR) return false;
    lost = true;
    return true;
  }
  return info.si_pid == child;
}

// Waits until the child ends or the deadline passes; then kills it and waits
// for its end. True when it ended before the deadline.
bool AwaitChild(pid_t child, std::uint64_t timeLimitMs, bool& lost) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeLimitMs);
  // A pidfd wakes the wait the moment the child ends; without one (old
  // kernels) the wait polls.
  const UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, child, 0)));
  bool killed = false;
  while (!ChildHasEnded(child, lost)) {
    const auto now = Clock::now();
    if (!killed && now >= deadline) {
      ::kill(child, SIGKILL);
      killed = true;
      continue;
    }
    int waitMs = 10;
    if (pidfd.Valid()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
      waitMs = killed ? -1 : static_cast<int>(std::min<std::int64_t>(left.count() + 1, 60'000));
      pollfd entry{pidfd.fd, POLLIN, 0};
      ::poll(&entry, 1, waitMs);
    } else {
      ::usleep(static_cast<useconds_t>(waitMs) * 1000);
    }
  }
  return !killed;
}

bool ReapWithAcceptedStatus(pid_t child, int warningExitStatus) {
  int status = 0;
  for (;;) {
    const pid_t got = ::waitpid(child, &status, 0);
    if (got == child) break;
    if (got < 0 && errno == EINTR) continue;
    return false;
  }
  if (!WIFEXITED(status)) return false;
  return WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == warningExitStatus;
}

// Waits for a started child, listed in `slot`, within the time limit and
// reaps it.
bool FinishChild(pid_t child, int slot, std::uint64_t timeLimitMs, int warningExitStatus) {
  children.pids[slot].store(child);
  // A cancel that came between the spawn and the listing did not see it.
  if (ToolRunsCancelled()) ::kill(child, SIGKILL);
  bool lost = false;
  const bool inTime = AwaitChild(child, timeLimitMs, lost);
  ForgetChild(slot);
  const bool exitedOk = !lost && ReapWithAcceptedStatus(child, warningExitStatus);
  return inTime && exitedOk && !ToolRunsCancelled();
}

}  // namespace

std::uint64_t ToolTimeLimitMs(std::uint64_t pixelCount) {
  const std::uint64_t steps = pixelCount / kPixelsPerTimeLimitStep + 1;
  constexpr std::uint64_t kMaximumSteps = 1'000'000;
  return kDefaultToolTimeLimitMs * std::min(steps, kMaximumSteps);
}

void CancelToolRuns() {
  children.cancelled.store(true);
  for (int slot = 0; slot < kTrackedChildSlots; ++slot) {
    children.readers[slot].fetch_add(1);
    const pid_t child = children.pids[slot].load();
    if (child > 0) ::kill(child, SIGKILL);  // not a reserved slot
    children.readers[slot].fetch_sub(1);
  }
}

bool ToolRunsCancelled() { return children.cancelled.load(); }

void ResetToolRunCancellation() { children.cancelled.store(false); }

void RestoreDefaultChildSignal() {
  struct sigaction action{};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGCHLD, &action, nullptr);
}

bool RunTool(const std::string& toolPath, const std::vector<std::string>& arguments,
             const std::string& stdoutPath, const std::string& workingFolder,
             std::uint64_t timeLimitMs, int warningExitStatus) {
  if (toolPath.empty() || ToolRunsCancelled()) return false;
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

  std::vector<char*> environment = ToolEnvironment();
  ChildSlot reserved;
  if (reserved.slot < 0) return false;
  pid_t child = -1;
  const int started = ::posix_spawn(&child, toolPath.c_str(), &spawn.actions, &attributes.attributes,
                                   argv.data(), environment.data());
  // The parent's copies go now, whether or not the child started.
  outputFile = UniqueFd();
  nullInput = UniqueFd();
  nullOutput = UniqueFd();
  if (started != 0) return false;
  const int slot = std::exchange(reserved.slot, -1);
  return FinishChild(child, slot, timeLimitMs, warningExitStatus);
}
