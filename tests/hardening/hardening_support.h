// Shared pieces of the hardening suites: folder snapshots (to prove that
// nothing but the expected file was written or deleted). orvel-cli runs as a child process through tests/cli.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/cli/cli_runner.h"
#include "tests/support/text_lines.h"

// The regular files of one folder (not its subfolders), name -> bytes.
using FolderSnapshot = std::map<std::string, std::string>;
FolderSnapshot SnapshotFolder(const std::string& folder);

// Names that were added, removed or changed between two snapshots.
std::vector<std::string> ChangedNames(const FolderSnapshot& before, const FolderSnapshot& after);
