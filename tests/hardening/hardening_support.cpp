// Shared pieces of the hardening suites; see hardening_support.h.
#include "tests/hardening/hardening_support.h"

#include "platform/files.h"
#include "tests/support/file_system.h"

FolderSnapshot SnapshotFolder(const std::string& folder) {
  FolderSnapshot snapshot;
  for (const std::string& name : FolderEntries(folder)) {
    if (IsRegularFile(JoinPath(folder, name))) ReadFileBytes(JoinPath(folder, name), snapshot[name]);
  }
  return snapshot;
}

std::vector<std::string> ChangedNames(const FolderSnapshot& before, const FolderSnapshot& after) {
  std::vector<std::string> names;
  for (const auto& [name, bytes] : before) {
    const auto found = after.find(name);
    if (found == after.end() || found->second != bytes) names.push_back(name);
  }
  for (const auto& [name, bytes] : after) {
    if (before.count(name) == 0) names.push_back(name);
  }
  return names;
}
