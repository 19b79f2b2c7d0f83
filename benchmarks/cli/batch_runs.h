// What the batch benchmarks share: a folder of numbered photo copies, one
// timed orvel-cli run with its peak memory, and the bytes of an output
// folder to compare two runs by. Used by orvel-cli-jobs-benchmark and the
// window's batch benchmark (benchmarks/app). Prints nothing itself.
#pragma once

#include <string>
#include <vector>

struct CliRunFigures {
  bool ran = false;          // spawned and exited with status 0
  double wallSeconds = 0;
  long programPeakKiB = 0;   // VmHWM of orvel-cli, sampled every 10 ms
  long largestPeakKiB = 0;   // ru_maxrss: the largest process of the run
  std::string resultLines;   // standard output without the summary
};

// The JPEG files of `sources` (files or folders) repeated up to `count` under
// numbered names in `images`, which is created.
bool FillBatchFolder(const std::vector<std::string>& sources, int count, const std::string& images);

// Runs `cli` with `arguments` (argv[1..]), standard output into `logPath`.
CliRunFigures RunCliTimed(const std::string& cli, std::vector<std::string> arguments,
                          const std::string& logPath);

// Every output file's name and bytes, in name order.
std::string OutputBytes(const std::string& output);

// A new folder under the temporary folder named after `prefix`; empty on
// failure.
std::string MakeBenchmarkFolder(const std::string& prefix);
