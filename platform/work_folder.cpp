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

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <string_view>
#include <vector>

#include "platform/clock.h"

namespace {

// A lock-less folder younger than this may be one whose owner (perhaps in
// another PID namespace, where its pid means nothing here) is still making
// its lock, or a build from before the lock that is still at work.
constexpr time_t kLocklessGraceSeconds = 60 * 60;

// The lock file's name while it is made and locked, before it is renamed.
constexpr const char* kPendingLockName = ".lock-pending";

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The process id right after `kind.prefix` when the rest of the name is one
// this program makes; 0 otherwise.
pid_t ProcessIdInName(std::string_view name, const OurFolderKind& kind) {
  const std::string_view prefix = kind.prefix;
  if (!name.starts_with(prefix)) return 0;
  name.remove_prefix(prefix.size());
  const size_t digits = std::min(name.find('_'), name.size());
  const std::string_view number = name.substr(0, digits);
  if (!AllDigits(number) || number.size() > 10 || !kind.isOurSuffix(name.substr(digits))) return 0;
  const std::uint64_t pid = std::stoull(std::string(number));
  return pid > 0 && pid < 0x7FFFFFFF ? static_cast<pid_t>(pid) : 0;
}

// "_<tick>_<attempt>", as CreateWorkFolder names them.
bool IsWorkFolderSuffix(std::string_view rest) {
  if (!rest.starts_with('_')) return false;
  rest.remove_prefix(1);
  const size_t split = rest.find('_');
  return split != std::string_view::npos && AllDigits(rest.substr(0, split)) &&
         AllDigits(rest.substr(split + 1));
}

// "<stem>_<4 or more digits>.jpg", a candidate file.
bool IsCandidateFileName(std::string_view name, std::string_view stem) {
  if (!name.starts_with(stem) || !name.ends_with(".jpg")) return false;
  const std::string_view number = name.substr(stem.size(), name.size() - stem.size() - 4);
  return number.size() >= 5 && number[0] == '_' && AllDigits(number.substr(1));
}

// What the pipeline and the benchmark write into a work folder.
bool IsPlainWorkFileName(std::string_view name) {
  if (name.ends_with(".meta")) name.remove_suffix(5);  // a candidate's metadata rewrite
  return name == "full.ppm" || name == "bench.ppm" || name == "original.jpg" ||
         IsCandidateFileName(name, "full") || IsCandidateFileName(name, "bench");
}

bool IsWorkFileName(std::string_view name) {
  return IsPlainWorkFileName(name) || IsTemporaryNameFor(name, IsPlainWorkFileName);
}

// A lock file that nobody holds (and that is a plain file of ours) in `lock`.
bool TakeLock(UniqueFd& lock) {
  struct stat info{};
  return lock.Valid() && ::fstat(lock.fd, &info) == 0 && S_ISREG(info.st_mode) &&
         info.st_uid == ::geteuid() && ::flock(lock.fd, LOCK_EX | LOCK_NB) == 0;
}

struct FolderEntry {
  std::string name;
  bool isFolder = false;
  bool isOurFile = false;  // a regular file under a name this program writes
};

// The entries of the folder open at `folderFd`, without following links.
std::vector<FolderEntry> ListFolder(int folderFd, const OurFolderKind& kind) {
  std::vector<FolderEntry> entries;
  const int listingFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listingFd < 0) return entries;
  DIR* listing = ::fdopendir(listingFd);
  if (listing == nullptr) {
    ::close(listingFd);
    return entries;
  }
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat info{};
    const bool known = ::fstatat(folderFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    const bool lockFile = name == kFolderLockName || name == kPendingLockName;
    entries.push_back({name, !known || S_ISDIR(info.st_mode),
                       known && S_ISREG(info.st_mode) && (lockFile || kind.isOurFile(name))});
  }
  ::closedir(listing);
  return entries;
}

// Decides whether the folder open at `folder` is abandoned and ours, and
// lists in `entries` what may be removed from it (false: leave it). With a lock file,
// the lock protocol decides: the folder is abandoned when its lock can be
// taken (held in `lock` until the folder is gone), and its files go. Without
// one, the folder is from a build before the lock, or its owner is still
// making it: it goes only when it is old, its pid is gone, a pending lock
// file is not held, and it holds nothing but files this program writes.
bool TakeAbandonedFolder(const UniqueFd& folder, pid_t pid, const OurFolderKind& kind,
                         UniqueFd& lock, std::vector<FolderEntry>& entries) {
  lock = UniqueFd(::openat(folder.fd, kFolderLockName,
                           O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  const bool locked = lock.Valid();
  if (locked && !TakeLock(lock)) return false;
  if (!locked) {
    if (errno != ENOENT) return false;
    struct stat info{};
    if (::fstat(folder.fd, &info) != 0 || std::time(nullptr) - info.st_mtime <= kLocklessGraceSeconds) {
      return false;
    }
    if (!(::kill(pid, 0) != 0 && errno == ESRCH)) return false;
    lock = UniqueFd(::openat(folder.fd, kPendingLockName,
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (lock.Valid() && !TakeLock(lock)) return false;
  }
  entries = ListFolder(folder.fd, kind);
  return std::all_of(entries.begin(), entries.end(), [&](const FolderEntry& e) {
    return locked ? !e.isFolder : e.isOurFile;
  });
}

// Removes the checked entries relative to the folder's descriptor (the lock
// files last, while still held), then the folder itself when it is still the
// one that was checked.
bool RemoveCheckedFolder(int parentFd, const std::string& name, const UniqueFd& folder,
                         const std::vector<FolderEntry>& entries) {
  for (int pass = 0; pass < 2; ++pass) {
    for (const FolderEntry& entry : entries) {
      const bool lockFile = entry.name == kFolderLockName || entry.name == kPendingLockName;
      if (entry.isFolder || lockFile != (pass == 1)) continue;
      ::unlinkat(folder.fd, entry.name.c_str(), 0);
    }
  }
  struct stat opened{}, named{};
  if (::fstat(folder.fd, &opened) != 0 ||
      ::fstatat(parentFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
      opened.st_dev != named.st_dev || opened.st_ino != named.st_ino) {
    return false;
  }
  return ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0;
}

}  // namespace

const OurFolderKind kWorkFolderKind = {"TALV_", IsWorkFolderSuffix, IsWorkFileName};

bool IsTemporaryNameFor(std::string_view name, bool (*isOurFile)(std::string_view name)) {
  // ".<name>.part-<random>", as CopyFileBytes and WriteFileAtomically make them.
  const size_t part = name.rfind(".part-");
  return name.starts_with('.') && part != std::string_view::npos && part > 1 &&
         isOurFile(name.substr(1, part - 1));
}

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

int RemoveAbandonedFolders(const std::string& parent, const OurFolderKind& kind) {
  const UniqueFd parentFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parentFd.Valid()) return 0;
  std::vector<std::string> names;
  if (DIR* listing = ::opendir(parent.c_str())) {
    while (const dirent* entry = ::readdir(listing)) {
      if (ProcessIdInName(entry->d_name, kind) > 0) names.push_back(entry->d_name);
    }
    ::closedir(listing);
  }
  int removed = 0;
  for (const std::string& name : names) {
    // Opened once; everything after goes through this descriptor, so a
    // folder swapped for another (or a link) under the same name is not
    // what gets checked and emptied.
    const UniqueFd folder(::openat(parentFd.fd, name.c_str(),
                                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info{};
    if (!folder.Valid() || ::fstat(folder.fd, &info) != 0 || info.st_uid != ::geteuid()) continue;
    // The lock stays held until the folder is gone, so a second program
    // starting now leaves it to us.
    UniqueFd lock;
    std::vector<FolderEntry> entries;
    if (TakeAbandonedFolder(folder, ProcessIdInName(name, kind), kind, lock, entries) &&
        RemoveCheckedFolder(parentFd.fd, name, folder, entries)) {
      ++removed;
    }
  }
  return removed;
}
