// The "bench" command of orvel-cli: a profile-development run without the
// window, over the same session file and run folders. Its arguments are
// parsed by cli_options.h (BenchCommandOptions).
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

#include "cli/cli_options.h"

// Runs the command with the engine store as the caller prepared it (a merge
// needs no encoders). Exit status: 0 complete (or merged), 1 failure (no
// session, no images, run not created, parts refused), 2 usage, 130 after
// SIGINT and 143 after SIGTERM (session kept).
int RunBenchWithPreparedEngines(const BenchCommandOptions& options);
