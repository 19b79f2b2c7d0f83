// Running an encoder tool as a child process.
//
// The tool is started with posix_spawn, never through a shell: its arguments
// travel as an argv vector, so paths with spaces, quotes or umlauts need no
// escaping. Standard input and standard error are /dev/null; standard output
// goes to /dev/null or into a file the caller names. The child starts with an
// empty signal mask and default signal actions, whatever the calling thread
// blocks or the program ignores, and in a process group of its own, so a
// terminal's Ctrl-C reaches only the program, which then cancels its tools. It inherits our environment, with glibc's
// huge-page tunable added unless GLIBC_TUNABLES is set (see memory.h).
//
// A tool that hangs must not stop the program: every run has a time limit,
// and CancelToolRuns (safe inside a signal handler) kills every running tool
// and makes later runs fail at once until the cancellation is reset. At most
// 64 tools run at once; a further run waits for one of them to end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Time limit of one tool run for an image of `pixelCount` pixels, in
// milliseconds: a floor of several minutes, growing with the image far beyond
// what any real encode needs.
std::uint64_t ToolTimeLimitMs(std::uint64_t pixelCount);

// The limit RunTool uses when the caller names none (the floor).
constexpr std::uint64_t kDefaultToolTimeLimitMs = 10 * 60 * 1000;

// Runs `toolPath` with `arguments` (argv[1..]) to completion.
//   stdoutPath     created or truncated and used as standard output; empty for
//                  /dev/null. When it cannot be created nothing is started.
//   workingFolder  the child's current folder; empty to inherit ours.
//   timeLimitMs    after this many milliseconds the child is killed and the
//                  run fails.
//   warningExitStatus  a second exit status that also counts as success, or
//                  -1 for none: libjpeg's tools exit 2 after warnings they
//                  recovered from, with their whole output written.
// True only when the child exited normally with status 0 (or the warning
// status) and the runs were not cancelled meanwhile.
bool RunTool(const std::string& toolPath, const std::vector<std::string>& arguments,
             const std::string& stdoutPath, const std::string& workingFolder,
             std::uint64_t timeLimitMs = kDefaultToolTimeLimitMs, int warningExitStatus = -1);

// Kills every running tool and makes every RunTool call fail until
// ResetToolRunCancellation. Async-signal-safe.
void CancelToolRuns();

// True after CancelToolRuns until the reset. Async-signal-safe.
bool ToolRunsCancelled();

// Lets tools run again, for the next batch or benchmark run.
void ResetToolRunCancellation();

// Gives SIGCHLD its default action. A program started with SIGCHLD ignored
// would have its children reaped by the kernel, and no exit status of any
// tool could be read. Called once at start-up, before any tool runs.
void RestoreDefaultChildSignal();
