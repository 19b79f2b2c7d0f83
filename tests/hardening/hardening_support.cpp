// Shared pieces of the hardening suites; see hardening_support.h.
#include "tests/hardening/hardening_support.h"

#include <dirent.h>

#include "core/pipeline.h"
#include "platform/files.h"

FolderSnapshot SnapshotFolder(const std::string& folder) {
  FolderSnapshot snapshot;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return snapshot;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string path = JoinPath(folder, entry->d_name);
    if (IsRegularFile(path)) ReadFileBytes(path, snapshot[entry->d_name]);
  }
  ::closedir(dir);
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

bool IsKeepingVerdict(const std::string& message) {
  return message == kVerdictNoSmallerCandidate || message == kVerdictWinnerUndecodable ||
         message == kVerdictGateFailed;
}
