// Work folders: naming, privacy, the attempt loop and removal on scope exit.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

}  // namespace
