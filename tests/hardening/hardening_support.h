// Shared pieces of the hardening suites: folder snapshots (to prove that
// nothing but the expected file was written or deleted), the verdict texts
// grouped by outcome, and orvel-cli run as a child process under a deadline.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/support/text_lines.h"

// The regular files of one folder (not its subfolders), name -> bytes.
using FolderSnapshot = std::map<std::string, std::string>;
FolderSnapshot SnapshotFolder(const std::string& folder);

// Names that were added, removed or changed between two snapshots.
std::vector<std::string> ChangedNames(const FolderSnapshot& before, const FolderSnapshot& after);

// The three verdicts that keep the source (a protected source aside).
bool IsKeepingVerdict(const std::string& message);

// Entries named "TALV_..." or "engines_..." anywhere below `folder`.
std::vector<std::string> LeftoverWorkFolders(const std::string& folder);

struct CliRun {
  int status = -1;        // exit status; -1 when it did not exit normally
  bool timedOut = false;  // killed after the deadline
  std::string out;        // standard output
  std::string err;        // standard error
};

// Runs orvel-cli with TMPDIR set to `tmpdir`; standard output and error are
// collected through files in `logFolder`. A run that takes longer than
// `deadlineSeconds` is killed and reported as timed out.
CliRun RunCliWithin(const std::vector<std::string>& arguments, const std::string& tmpdir,
                    const std::string& logFolder, int deadlineSeconds);

