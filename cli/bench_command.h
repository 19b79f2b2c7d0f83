// The "bench" command of orvel-cli: a profile-development run without the
// window, over the same session file and run folders.
//
//   orvel-cli bench ROOT [--per-folder N] [--total N] [--depth 0-2] [--shard K/N]
//   orvel-cli bench --resume
//   orvel-cli bench --merge RUN_FOLDER...
//
// --shard measures only part K of N of the sample (one machine's share);
// --merge condenses the finished parts into one summary and manifest in a new
// run folder (see bench/run_parts.h).
//
// A progress line goes to standard error; at the end the run folder's path is
// printed on standard output. SIGINT and SIGTERM are blocked for the run (the
// encoder tools inherit the block, so Ctrl+C cannot kill one mid-candidate);
// the signal is collected while the worker runs and turned into a cancel at
// the worker's next pause point. The session file then keeps the unfinished
// image for "bench --resume".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BenchCommandOptions {
  bool resume = false;         // continue the saved session instead of starting a run
  std::string root;            // new run: the image collection (made absolute)
  int perFolder = 5;           // --per-folder, clamped to 1..50
  int total = 5000;            // --total, clamped to 10..50000
  int depth = 1;               // --depth 0, 1 or 2 ("Standard" by default)
  std::int32_t partIndex = 0;  // --shard K/N: K, from 1; 0 measures the whole sample
  std::int32_t partCount = 0;  // --shard K/N: N; 0 measures the whole sample
  bool merge = false;          // --merge: merge finished parts instead of measuring
  std::vector<std::string> mergeFolders;  // --merge: the parts' run folders (made absolute)
};

// Parses the arguments after the word "bench". False with a German message in
// `error` on a usage error.
bool ParseBenchArguments(const std::vector<std::string>& arguments, BenchCommandOptions& options,
                         std::string& error);

// The usage lines of the command (German, newline-terminated).
std::string BenchUsageText();

// Runs the command with the engine store as the caller prepared it. Exit
// status: 0 complete (or merged), 1 failure (no session, no images, run not
// created, parts refused), 2 usage, 130 after SIGINT and 143 after SIGTERM
// (session kept).
int RunBenchWithPreparedEngines(const BenchCommandOptions& options);

// Parses, materialises the embedded encoders (not for --merge), runs, removes
// the engine folder.
int RunBenchCommand(const std::vector<std::string>& arguments);
