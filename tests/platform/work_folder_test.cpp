// Work folders: naming, privacy, the attempt loop and removal on scope exit.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>
#include <vector>

#include "platform/work_folder.h"
#include "tests/support/scoped_temp.h"

namespace {

TEST(WorkFolder, NameModeAndShortPath) {
  ScopedTempFolder temp;
  ScopedEnv env("TMPDIR", temp.path.c_str());
  WorkFolder folder;
  ASSERT_TRUE(CreateWorkFolder(folder));
  // <temp>/TALV_<pid>_<tick>_0 with the tick in decimal, no leading zero.
  const std::string prefix = temp.path + "/TALV_" + std::to_string(::getpid()) + "_";
  ASSERT_EQ(folder.longPath.compare(0, prefix.size(), prefix), 0) << folder.longPath;
  const std::string rest = folder.longPath.substr(prefix.size());
  ASSERT_GE(rest.size(), 3u);
  EXPECT_EQ(rest.substr(rest.size() - 2), "_0");
  const std::string tick = rest.substr(0, rest.size() - 2);
  EXPECT_NE(tick[0], '0');
  EXPECT_EQ(tick.find_first_not_of("0123456789"), std::string::npos) << tick;
  EXPECT_EQ(folder.shortPath, folder.longPath);
  struct stat info{};
  ASSERT_EQ(::stat(folder.longPath.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(ShortPath("/a b/c"), "/a b/c");
}

int mkdirCalls = 0;
int MkdirAlwaysExists(const char*, mode_t) {
  ++mkdirCalls;
  errno = EEXIST;
  return -1;
}
int MkdirExistsTwice(const char* path, mode_t mode) {
  if (mkdirCalls++ < 2) {
    errno = EEXIST;
    return -1;
  }
  return ::mkdir(path, mode);
}

TEST(WorkFolder, GivesUpAfterFiftyAttempts) {
  ScopedTempFolder temp;
  ScopedEnv env("TMPDIR", temp.path.c_str());
  FileSystemCalls calls = ActiveFileSystemCalls();
  calls.mkdir = MkdirAlwaysExists;
  SetFileSystemCalls(&calls);
  mkdirCalls = 0;
  WorkFolder folder;
  folder.longPath = "stale";
  EXPECT_FALSE(CreateWorkFolder(folder));
  SetFileSystemCalls(nullptr);
  EXPECT_EQ(mkdirCalls, 50);
  EXPECT_TRUE(folder.longPath.empty());
}

TEST(WorkFolder, TakesTheNextAttemptWhenTheNameExists) {
  ScopedTempFolder temp;
  ScopedEnv env("TMPDIR", temp.path.c_str());
  FileSystemCalls calls = ActiveFileSystemCalls();
  calls.mkdir = MkdirExistsTwice;
  SetFileSystemCalls(&calls);
  mkdirCalls = 0;
  WorkFolder folder;
  const bool created = CreateWorkFolder(folder);
  SetFileSystemCalls(nullptr);
  ASSERT_TRUE(created);
  EXPECT_EQ(folder.longPath.substr(folder.longPath.size() - 2), "_2");
  RemoveFolderTree(folder.longPath);
}

TEST(WorkFolder, GuardRemovesTheFolderEvenWhenAnExceptionPasses) {
  ScopedTempFolder temp;
  ScopedEnv env("TMPDIR", temp.path.c_str());
  WorkFolder folder;
  try {
    ASSERT_TRUE(CreateWorkFolder(folder));
    WorkFolderGuard guard(folder);
    ASSERT_TRUE(WriteTextFile(JoinPath(folder.longPath, "full.ppm"), "P6"));
    throw std::runtime_error("encoder blew up");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(PathExists(folder.longPath));
}

// --- Folders a killed run left behind ---------------------------------------

// The pid of a child that has ended and been reaped.
pid_t EndedProcessId() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

void MakeOldFolder(const std::string& path) {
  ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
  const timespec hourAgo{std::time(nullptr) - 3600, 0};
  const timespec times[2] = {hourAgo, hourAgo};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(AbandonedFolders, OnlyFoldersOfOursWhoseOwnerIsGoneAreRemoved) {
  ScopedTempFolder temp;
  ScopedEnv env("TMPDIR", temp.path.c_str());
  const std::string gone = "TALV_" + std::to_string(EndedProcessId());
  const std::string alive = "TALV_" + std::to_string(::getpid());
  const std::string target = temp.Join("target");
  ASSERT_TRUE(EnsureFolder(target));

  WorkFolder live;  // this process's own, in use
  ASSERT_TRUE(CreateWorkFolder(live));
  std::vector<UniqueFd> held;
  const auto locked = [&](const std::string& name, bool keepLock) {
    ASSERT_TRUE(EnsureFolder(temp.Join(name)));
    UniqueFd lock = LockFolderForLifetime(temp.Join(name));
    ASSERT_TRUE(lock.Valid());
    if (keepLock) held.push_back(std::move(lock));
  };
  locked(gone + "_1_0", false);     // its owner died: the lock is free
  locked(gone + "_2_0", true);      // pid unknown here, lock held: another namespace
  locked(alive + "_3_0", true);
  MakeOldFolder(temp.Join(gone + "_4_0"));   // no lock, pid gone, old
  MakeOldFolder(temp.Join(alive + "_5_0"));  // no lock, pid alive
  // No lock, pid gone, just made, with files: perhaps a process whose pid we
  // cannot see, still making its lock.
  ASSERT_TRUE(EnsureFolder(temp.Join(gone + "_6_0")));
  ASSERT_TRUE(WriteTextFile(temp.Join(gone + "_6_0/full.ppm"), "P6"));
  // Killed while making its lock: empty, or holding only the pending lock file.
  ASSERT_TRUE(EnsureFolder(temp.Join(gone + "_10_0")));
  ASSERT_TRUE(EnsureFolder(temp.Join(gone + "_11_0")));
  ASSERT_TRUE(WriteTextFile(temp.Join(gone + "_11_0/.lock-pending"), ""));
  MakeOldFolder(temp.Join("TALV_x_7_0"));                // not a name of ours
  ASSERT_EQ(::symlink(target.c_str(), temp.Join(gone + "_8_0").c_str()), 0);
  ASSERT_TRUE(WriteTextFile(temp.Join(gone + "_9_0"), "a file"));
  ASSERT_TRUE(WriteTextFile(JoinPath(target, "keep"), "keep"));

  EXPECT_EQ(RemoveAbandonedFolders(temp.path, "TALV_"), 4);
  for (const std::string& removed : {gone + "_1_0", gone + "_4_0", gone + "_10_0", gone + "_11_0"}) {
    EXPECT_FALSE(PathExists(temp.Join(removed))) << removed;
  }
  for (const std::string& kept : {gone + "_2_0", alive + "_3_0", alive + "_5_0", gone + "_6_0",
                                  std::string("TALV_x_7_0"), gone + "_8_0", gone + "_9_0"}) {
    EXPECT_TRUE(PathExists(temp.Join(kept))) << kept;
  }
  EXPECT_TRUE(IsDirectory(live.longPath));
  EXPECT_EQ(ReadTextFile(JoinPath(target, "keep")), "keep");
  RemoveFolderTree(live.longPath);
}

}  // namespace
