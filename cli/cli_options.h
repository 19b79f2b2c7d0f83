// Command-line arguments of orvel-cli, parsed into a plain record before
// anything runs. No Qt and no side effects here, so tests call it directly.
//
//   orvel-cli optimize [--profile KEY|0-5] [--mode 0-2] [--jobs N] --output DIR FILE|FOLDER...
//   orvel-cli status
//   orvel-cli analyze REFERENCE TEST
//   orvel-cli --help
#pragma once

#include <string>
#include <vector>

enum class CliCommand { kHelp, kOptimize, kStatus, kAnalyze };

struct CliOptions {
  CliCommand command = CliCommand::kHelp;
  int profile = 2;                 // profile row 0..5 (default "hoch")
  int mode = 1;                    // compute mode 0..2 (default "Optimal (empfohlen)")
  int jobs = 0;                    // optimize: images at once, 1..kMaxJobs; 0 automatic
  std::string outputFolder;        // optimize: existing folder, never created
  std::vector<std::string> files;  // optimize: the images and folders as given
  std::string reference;           // analyze: the reference image
  std::string test;                // analyze: the image compared with it
};

// Upper limit of --jobs: far beyond any useful value, low enough that a typo
// cannot start thousands of threads.
constexpr int kMaxJobs = 256;

// Exit statuses of orvel-cli.
constexpr int kExitOk = 0;           // every image reached a verdict
constexpr int kExitFailure = 1;      // an image failed / analyze invalid or undecodable
constexpr int kExitUsage = 2;        // wrong arguments, no images, no output folder
constexpr int kExitInterrupted = 130;  // SIGINT (SIGTERM gives 143)

// Parses argv[1..]. False with a German message in `error` on a usage error.
bool ParseCliArguments(const std::vector<std::string>& arguments, CliOptions& options,
                       std::string& error);

// A profile given as its key ("hoch") or its index ("2"); -1 when unknown.
int ParseProfileArgument(const std::string& text);

// The German usage text.
std::string CliUsageText();
