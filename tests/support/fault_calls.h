// Test support: file-system faults by path through the platform's seam. A
// plan names the part of the paths it strikes and the errno each kind of call
// then fails with; a write can first pass a budget of bytes, as a disk that
// fills up. Safe for the encoder threads, which share the plan.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <string>

#include "platform/files.h"

// Which calls fail, for paths that contain `pathPart`.
struct FaultPlan {
  std::string pathPart;    // affected paths contain this text; empty: no faults
  int openErrno = 0;       // creating such a file fails
  int writeErrno = 0;      // writing to such a file fails once `writeBudget` is spent
  size_t writeBudget = 0;  // bytes that are still written (a disk filling up)
  int renameErrno = 0;     // a rename from or to such a path fails
  int unlinkErrno = 0;     // deleting such an existing file fails
  int mkdirErrno = 0;      // creating such a folder fails
  int fsyncErrno = 0;      // syncing such a file fails
  int linkErrno = 0;       // a hard link from or to such a path fails
};

// The plan in force; the tracked descriptors are shared with encoder threads.
struct FaultState {
  std::mutex mutex;
  FaultPlan plan;
  std::map<int, size_t> written;  // descriptor of an affected file -> bytes written
  int failedCalls = 0;
};
inline FaultState faults;

inline bool Affected(const char* path) {
  return !faults.plan.pathPart.empty() && std::string(path).find(faults.plan.pathPart) != std::string::npos;
}

// Whether a call on `path` fails with `code` (0: the plan lets it pass).
inline bool Strikes(bool affected, int code) {
  if (!affected || code == 0) return false;
  ++faults.failedCalls;
  errno = code;
  return true;
}

inline int FaultyOpen(const char* path, int flags, mode_t mode) {
  std::lock_guard<std::mutex> lock(faults.mutex);
  if (Strikes(Affected(path), faults.plan.openErrno)) return -1;
  const int fd = ::open(path, flags, mode);
  if (fd >= 0 && Affected(path)) faults.written[fd] = 0;
  return fd;
}

inline ssize_t FaultyWrite(int fd, const void* data, size_t size) {
  std::unique_lock<std::mutex> lock(faults.mutex);
  const auto found = faults.written.find(fd);
  if (found != faults.written.end() && faults.plan.writeErrno != 0) {
    const size_t left = faults.plan.writeBudget - std::min(faults.plan.writeBudget, found->second);
    if (Strikes(left == 0, faults.plan.writeErrno)) return -1;
    size = std::min(size, left);
    found->second += size;
  }
  lock.unlock();
  return ::write(fd, data, size);
}

inline int FaultyClose(int fd) {
  std::lock_guard<std::mutex> lock(faults.mutex);
  faults.written.erase(fd);
  return ::close(fd);
}

inline int FaultyRename(const char* from, const char* to) {
  std::lock_guard<std::mutex> lock(faults.mutex);
  return Strikes(Affected(from) || Affected(to), faults.plan.renameErrno) ? -1 : ::rename(from, to);
}

inline int FaultyUnlink(const char* path) {
  std::lock_guard<std::mutex> lock(faults.mutex);
  struct stat info{};
  // As on a real read-only folder, a name that does not exist is ENOENT.
  return Strikes(Affected(path) && ::lstat(path, &info) == 0, faults.plan.unlinkErrno) ? -1 : ::unlink(path);
}

inline int FaultyMkdir(const char* path, mode_t mode) {
  std::lock_guard<std::mutex> lock(faults.mutex);
  return Strikes(Affected(path), faults.plan.mkdirErrno) ? -1 : ::mkdir(path, mode);
}

inline int FaultyFsync(int fd) {
  std::lock_guard<std::mutex> lock(faults.mutex);
  return Strikes(faults.written.count(fd) != 0, faults.plan.fsyncErrno) ? -1 : ::fsync(fd);
}

inline int FaultyLink(const char* from, const char* to) {
  std::lock_guard<std::mutex> lock(faults.mutex);
  return Strikes(Affected(from) || Affected(to), faults.plan.linkErrno) ? -1 : ::link(from, to);
}

inline const FileSystemCalls kFaultyCalls = {FaultyOpen,  FaultyWrite,  FaultyClose, FaultyRename,
                                             FaultyMkdir, FaultyUnlink, FaultyFsync, FaultyLink};

// Installs the plan for its lifetime; `FailedCalls` tells whether it struck.
struct ScopedFaults {
  explicit ScopedFaults(const FaultPlan& plan) {
    std::lock_guard<std::mutex> lock(faults.mutex);
    faults.plan = plan;
    faults.written.clear();
    faults.failedCalls = 0;
    SetFileSystemCalls(&kFaultyCalls);
  }
  ~ScopedFaults() {
    SetFileSystemCalls(nullptr);
    std::lock_guard<std::mutex> lock(faults.mutex);
    faults.plan = FaultPlan{};
  }
  int FailedCalls() {
    std::lock_guard<std::mutex> lock(faults.mutex);
    return faults.failedCalls;
  }
};
