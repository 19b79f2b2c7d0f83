// Per-job work folders under the temporary folder, and the lock that tells a
// live folder from one a killed process left behind.
//
// A work folder holds the intermediate and candidate files of one image (or one
// benchmark image) and is removed with everything in it when the job ends.
// Folders are created with mode 0700 by mkdir, which fails when the name
// exists, so the attempt loop below never reuses another job's folder.
//
// Every folder of ours that lives in the temporary folder (work folders, the
// engine folder) holds a lock file that its process keeps flock()ed while the
// folder exists. The kernel drops the lock when the process dies, however it
// dies, so at the next start a folder whose lock can be taken is known to be
// abandoned, whatever PID namespace either process ran in.
#pragma once

#include <string>

#include "platform/files.h"

struct WorkFolder {
  std::string longPath;   // full path as created; empty when none could be made
  std::string shortPath;  // the same path: Linux has no short names
  UniqueFd lock;          // the folder's lock, held until the folder is gone
};

// Creates "TALV_<pid>_<tick>_<attempt>" under TempFolder(), trying attempts 0
// to 49 with a fresh tick count each time, and locks it. On failure
// `longPath` is empty and the result is false.
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

// Name of the lock file inside a locked folder.
constexpr const char* kFolderLockName = ".lock";

// Puts a locked lock file into `folder`, a fresh folder of ours; the folder
// counts as in use while the returned descriptor stays open. Invalid when
// the lock file cannot be made (the folder then counts as in use while its
// process lives, see below).
UniqueFd LockFolderForLifetime(const std::string& folder);

// Removes the folders directly in `parent` whose names are `prefix`, a
// process id and then nothing or "_...", and that a killed process of ours
// left behind. A folder is removed only when it is a real directory (not a
// link) owned by the effective user and either
//   - holds a lock file of ours whose lock can be taken (its owner is gone), or
//   - holds no lock file, the process id of its name does not exist, and it
//     was last changed more than a minute ago (a folder in the middle of
//     being set up is never taken).
// Everything else is left alone. Returns the number of folders removed.
int RemoveAbandonedFolders(const std::string& parent, const std::string& prefix);
