// Command-line arguments of orvel-cli, parsed into a plain record before
// anything runs. No Qt and no side effects here, so tests call it directly.
//
//   orvel-cli optimize [--profile KEY|0-5] [--mode 0-2] --output DIR FILE...
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
  std::string outputFolder;        // optimize: existing folder, never created
  std::vector<std::string> files;  // optimize: the images as given
  std::string reference;           // analyze: the reference image
  std::string test;                // analyze: the image compared with it
};

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

// The image list as a batch holds it: absolute paths (relative ones joined to
// the current folder, "." and ".." resolved on the text), sorted ordinally by
// UTF-16 code units and without duplicates.
std::vector<std::string> PrepareImageList(const std::vector<std::string>& files,
                                          const std::string& currentFolder);
