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
#include <string_view>

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

// What tells a folder of this program from anybody else's.
struct OurFolderKind {
  const char* prefix;                           // then the process id in decimal
  bool (*isOurSuffix)(std::string_view rest);   // what this program puts after the pid
  bool (*isOurFile)(std::string_view name);     // a file it writes into such a folder
};

// Work folders: "TALV_<pid>_<tick>_<attempt>", holding what the pipeline and
// the benchmark write (the PPM, the source copy, candidate files and their
// temporaries).
extern const OurFolderKind kWorkFolderKind;

// True for ".<name>.part-<random>", the temporary of a file `isOurFile`
// accepts, as CopyFileBytes and WriteFileAtomically make them.
bool IsTemporaryNameFor(std::string_view name, bool (*isOurFile)(std::string_view name));

// Removes the folders directly in `parent` that `kind` names, that a process
// of ours left behind and that are provably ours. A folder is looked at only
// when it is a real directory (not a link) owned by the effective user, and
// removed only when
//   - it holds a lock file that nobody holds any more (its owner is gone,
//     whatever PID namespace it ran in): its files go, or
//   - it holds no lock file, is older than an hour, its pid does not exist
//     here, and it holds nothing but regular files under names `kind` says
//     this program writes (a build before the lock, killed).
// Anything else (a folder in the middle of being set up, a user's folder
// that is merely named like ours) is left alone without a word. The folder
// is opened once and locked, and only the entries that were checked are
// removed, relative to its descriptor. Returns the number of folders removed.
int RemoveAbandonedFolders(const std::string& parent, const OurFolderKind& kind);
