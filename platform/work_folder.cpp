// Work folders and folder locks; see work_folder.h. Neighbours: files.cpp
// (RemoveFolderTree), the pipeline and the benchmark worker, which own one
// folder per image, and the engine store, which locks its engine folder and
// clears abandoned folders at start-up.
#include "platform/work_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <vector>

#include "platform/clock.h"

namespace {

// A lock-less folder younger than this may be one whose lock is still being
// made, in a process whose pid we cannot see.
constexpr time_t kLocklessGraceSeconds = 60;

// The lock file's name while it is made and locked, before it is renamed.
constexpr const char* kPendingLockName = ".lock-pending";

// The process id right after `prefix`, when the rest of the name is empty or
// starts with "_"; 0 otherwise.
pid_t ProcessIdInName(const std::string& name, const std::string& prefix) {
  if (name.compare(0, prefix.size(), prefix) != 0) return 0;
  std::uint64_t pid = 0;
  size_t i = prefix.size();
  for (; i < name.size() && name[i] >= '0' && name[i] <= '9' && pid < 0x7FFFFFFF; ++i) {
    pid = pid * 10 + static_cast<unsigned>(name[i] - '0');
  }
  if (i == prefix.size() || (i < name.size() && name[i] != '_')) return 0;
  return pid > 0 && pid < 0x7FFFFFFF ? static_cast<pid_t>(pid) : 0;
}

// True when the folder open at `folderFd` holds no entry but `except`.
bool HoldsNothingBut(int folderFd, const char* except) {
  const int listingFd = ::dup(folderFd);
  if (listingFd < 0) return false;
  DIR* listing = ::fdopendir(listingFd);
  if (listing == nullptr) {
    ::close(listingFd);
    return false;
  }
  bool nothingElse = true;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name != "." && name != ".." && name != except) nothingElse = false;
  }
  ::closedir(listing);
  return nothingElse;
}

// A lock file that nobody holds (and that is a plain file of ours) in `lock`.
bool TakeLock(UniqueFd& lock) {
  struct stat info{};
  return lock.Valid() && ::fstat(lock.fd, &info) == 0 && S_ISREG(info.st_mode) &&
         info.st_uid == ::geteuid() && ::flock(lock.fd, LOCK_EX | LOCK_NB) == 0;
}

// Takes the lock of an abandoned folder, or for a folder without a lock
// file decides by its pid and age. True (with the lock held in `lock` when
// there is one) when the folder may be removed.
//
// A folder of a process killed while it was making its lock holds nothing
// or only the pending lock file: it goes when its pid is gone (and a pending
// lock file is not held). Any other folder without a lock file comes from a
// program that made none; it goes only when its pid is gone and it is older
// than a process whose pid we cannot see (another PID namespace) could take
// to lock it.
bool TakeAbandonedFolder(int parentFd, const std::string& name, pid_t pid,
                         const struct stat& folderInfo, UniqueFd& lock) {
  const UniqueFd folder(::openat(parentFd, name.c_str(),
                                 O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder.Valid()) return false;
  lock = UniqueFd(::openat(folder.fd, kFolderLockName,
                           O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (lock.Valid()) return TakeLock(lock);
  if (errno != ENOENT) return false;
  const bool processGone = ::kill(pid, 0) != 0 && errno == ESRCH;
  if (!processGone) return false;
  lock = UniqueFd(::openat(folder.fd, kPendingLockName,
                           O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (lock.Valid()) return TakeLock(lock) && HoldsNothingBut(folder.fd, kPendingLockName);
  if (HoldsNothingBut(folder.fd, "")) return true;
  return std::time(nullptr) - folderInfo.st_mtime > kLocklessGraceSeconds;
}

}  // namespace

bool CreateWorkFolder(WorkFolder& folder) {
  folder = WorkFolder{};
  const std::string temporary = TempFolder();
  if (temporary.empty()) return false;
  const std::string pid = std::to_string(CurrentProcessId());
  for (int attempt = 0; attempt < 50; ++attempt) {
    const std::string name = "TALV_" + pid + "_" + std::to_string(TickCountMs()) + "_" +
                             std::to_string(attempt);
    const std::string path = JoinPath(temporary, name);
    if (ActiveFileSystemCalls().mkdir(path.c_str(), 0700) == 0) {
      folder.longPath = path;
      folder.shortPath = ShortPath(path);
      // Without a lock the folder still works; it is then only recovered
      // once this pid is gone.
      folder.lock = LockFolderForLifetime(path);
      return true;
    }
  }
  return false;
}

std::string ShortPath(const std::string& path) { return path; }

WorkFolderGuard::~WorkFolderGuard() {
  if (!folder.longPath.empty()) RemoveFolderTree(folder.longPath);
  folder.lock = UniqueFd();
}

UniqueFd LockFolderForLifetime(const std::string& folder) {
  const UniqueFd handle(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!handle.Valid()) return UniqueFd();
  // Made under another name and locked before it becomes the lock file, so
  // nobody ever finds the lock file unlocked while we live.
  const char* const pending = kPendingLockName;
  UniqueFd lock(::openat(handle.fd, pending, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         0600));
  if (!lock.Valid()) return UniqueFd();
  if (::flock(lock.fd, LOCK_EX | LOCK_NB) != 0 ||
      ::renameat(handle.fd, pending, handle.fd, kFolderLockName) != 0) {
    ::unlinkat(handle.fd, pending, 0);
    return UniqueFd();
  }
  return lock;
}

int RemoveAbandonedFolders(const std::string& parent, const std::string& prefix) {
  const UniqueFd parentFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parentFd.Valid()) return 0;
  std::vector<std::string> names;
  if (DIR* listing = ::opendir(parent.c_str())) {
    while (const dirent* entry = ::readdir(listing)) {
      if (ProcessIdInName(entry->d_name, prefix) > 0) names.push_back(entry->d_name);
    }
    ::closedir(listing);
  }
  int removed = 0;
  for (const std::string& name : names) {
    struct stat info{};
    if (::fstatat(parentFd.fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) {
      continue;
    }
    UniqueFd lock;
    if (!TakeAbandonedFolder(parentFd.fd, name, ProcessIdInName(name, prefix), info, lock)) {
      continue;
    }
    // The lock stays held until the folder is gone, so a second program
    // starting now leaves it to us.
    if (RemoveFolderTree(JoinPath(parent, name))) ++removed;
  }
  return removed;
}
