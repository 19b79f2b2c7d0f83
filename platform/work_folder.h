// Per-job work folders under the temporary folder.
//
// A work folder holds the intermediate and candidate files of one image (or one
// benchmark image) and is removed with everything in it when the job ends.
// Folders are created with mode 0700 by mkdir, which fails when the name
// exists, so the attempt loop below never reuses another job's folder.
#pragma once

#include <string>

struct WorkFolder {
  std::string longPath;   // full path as created; empty when none could be made
  std::string shortPath;  // the same path: Linux has no short names
};

// Creates "TALV_<pid>_<tick>_<attempt>" under TempFolder(), trying attempts 0
// to 49 with a fresh tick count each time. On failure `longPath` is empty and
// the result is false.
bool CreateWorkFolder(WorkFolder& folder);

// Linux has no 8.3 short names; the path is returned unchanged.
std::string ShortPath(const std::string& path);

// Removes the folder it holds when it goes out of scope, on every path
// including exceptions.
struct WorkFolderGuard {
  WorkFolder& folder;
  explicit WorkFolderGuard(WorkFolder& owned) : folder(owned) {}
  WorkFolderGuard(const WorkFolderGuard&) = delete;
  WorkFolderGuard& operator=(const WorkFolderGuard&) = delete;
  ~WorkFolderGuard();
};
