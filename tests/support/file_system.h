// Test support: the entries of a folder, and the file-system calls replaced
// for one scope, so tests can inject faults and see what a write left behind.
#pragma once

#include <dirent.h>

#include <string>
#include <vector>

#include "platform/files.h"

// The names in `folder` without "." and "..", in directory order.
inline std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* listing = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(listing)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(listing);
  }
  return names;
}

// A copy of the calls in force; a test replaces some of them, then installs
// the copy. The real calls return when the scope ends.
struct ScopedFileSystemCalls {
  FileSystemCalls calls = ActiveFileSystemCalls();
  void Install() { SetFileSystemCalls(&calls); }
  ~ScopedFileSystemCalls() { SetFileSystemCalls(nullptr); }
};
