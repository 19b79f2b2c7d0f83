// Command-line arguments of orvel-cli, parsed into a plain record before
// anything runs. No Qt and no side effects here, so tests call it directly.
//
//   orvel-cli optimize [--profile KEY|0-5] [--mode 0-2] [--jobs N] [--preserve] [--keep-structure]
//                      [--update] [--json] (--output DIR | --replace) FILE|FOLDER...
//   orvel-cli status
//   orvel-cli analyze REFERENCE TEST
//   orvel-cli bench ROOT [--per-folder N] [--total N] [--depth 0-2] [--shard K/N]
//   orvel-cli bench --resume
//   orvel-cli bench --merge RUN_FOLDER...
//   orvel-cli --help
//   orvel-cli --version
//
// An option's value follows it ("--mode 2") or is attached ("--mode=2"); after
// "--" every argument is a file. --help or -h anywhere before "--" asks for
// the usage text, whatever else is given; --version there asks for the
// version text (--help wins when both are given).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class CliCommand { kHelp, kVersion, kOptimize, kStatus, kAnalyze, kBench };

// The bench command's arguments (see bench_command.h).
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

struct CliOptions {
  CliCommand command = CliCommand::kHelp;
  int profile = 2;                 // profile row 0..5 (default "hoch")
  int mode = 1;                    // compute mode 0..2 (default "Optimal (empfohlen)")
  int jobs = 0;                    // optimize: images at once, 1..kMaxJobs; 0 automatic
  std::string outputFolder;        // optimize: existing folder, never created
  bool replace = false;            // optimize --replace: over the sources, originals to the trash
  bool preserve = false;           // optimize --preserve: the sources' times and modes on the outputs
  bool keepStructure = false;      // optimize --keep-structure: mirror the named folders
  bool json = false;               // optimize --json: JSON lines instead of result lines
  bool update = false;             // optimize --update: skip images whose output is current
  std::vector<std::string> files;  // optimize: the images and folders as given
  std::string reference;           // analyze: the reference image
  std::string test;                // analyze: the image compared with it
  BenchCommandOptions bench;       // bench: its arguments
};

// Upper limit of --jobs: far beyond any useful value, low enough that a typo
// cannot start thousands of threads.
constexpr int kMaxJobs = 256;

// Exit statuses of orvel-cli.
constexpr int kExitOk = 0;           // every image reached a verdict
constexpr int kExitFailure = 1;      // an image failed / analyze invalid or undecodable
constexpr int kExitUsage = 2;        // wrong arguments or combination, no images, no output folder
constexpr int kExitInterrupted = 130;  // SIGINT (SIGTERM gives 143)

// Parses argv[1..]. False with a German message in `error` on a usage error.
bool ParseCliArguments(const std::vector<std::string>& arguments, CliOptions& options,
                       std::string& error);

// Parses the arguments after the word "bench". False with a German message in
// `error` on a usage error.
bool ParseBenchArguments(const std::vector<std::string>& arguments, BenchCommandOptions& options,
                         std::string& error);

// A profile given as its key ("hoch") or its index ("2"); -1 when unknown.
int ParseProfileArgument(const std::string& text);

// The German usage text.
std::string CliUsageText();

// The usage lines of the bench command alone (German, newline-terminated).
std::string BenchUsageText();
