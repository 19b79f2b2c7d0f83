// orvel-cli as a child process, for the command-line and hardening suites:
// its own TMPDIR, standard output and error collected through files, and a
// deadline, so a hang fails the test instead of stalling the suite.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// How a child is started besides its arguments.
struct CliLaunch {
  std::string program;                   // empty: ORVEL_CLI_PROGRAM
  std::vector<std::string> environment;  // extra "NAME=value" entries
  bool ignoreChildSignal = false;        // start it with SIGCHLD ignored
};

struct CliChild {
  pid_t pid = -1;       // -1 when it could not be started
  std::string outPath;  // its standard output
  std::string errPath;  // its standard error
};

struct CliRun {
  int status = -1;        // exit status; -1 when it did not exit normally
  bool timedOut = false;  // killed after the deadline
  std::string out, err;   // standard output and error
};

// Starts the program with TMPDIR set to `tmpdir`, output files in `logFolder`.
CliChild StartCli(const std::vector<std::string>& arguments, const std::string& tmpdir,
                  const std::string& logFolder, const CliLaunch& launch = {});

// Waits for the child's end; one still running after `limit` is killed.
CliRun WaitForCli(const CliChild& child, std::chrono::seconds limit = std::chrono::seconds(120));

// Entries named "TALV_..." or "engines_..." anywhere below `folder`.
std::vector<std::string> LeftoverWorkFolders(const std::string& folder);
