// Paths, folders and file writing of the Linux layer, including the
// fault-injection seam that the pipeline's robustness tests build on.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/support/scoped_temp.h"

namespace {

TEST(Paths, JoinPathInsertsOneSeparator) {
  EXPECT_EQ(JoinPath("", "a.jpg"), "a.jpg");
  EXPECT_EQ(JoinPath("/tmp", "a.jpg"), "/tmp/a.jpg");
  EXPECT_EQ(JoinPath("/tmp/", "a.jpg"), "/tmp/a.jpg");
  EXPECT_EQ(JoinPath("C:\\Temp\\", "x"), "C:\\Temp\\x");
}

TEST(Paths, PartsOfAPath) {
  EXPECT_EQ(ParentFolder("/a/b/c.jpg"), "/a/b");
  EXPECT_EQ(ParentFolder("/a"), "/");
  EXPECT_EQ(ParentFolder("c.jpg"), "");
  EXPECT_EQ(FileNamePart("/a/b/IMG_0815.JPG"), "IMG_0815.JPG");
  EXPECT_EQ(FileNamePart("plain"), "plain");
  EXPECT_EQ(BaseNamePart("/a/b/IMG_0815.JPG"), "IMG_0815");
  EXPECT_EQ(BaseNamePart("/a/archiv.2024.jpeg"), "archiv.2024");
  EXPECT_EQ(BaseNamePart("/a/.hidden"), ".hidden");
  EXPECT_EQ(ExtensionPart("/a.b/name"), "");
  EXPECT_EQ(ExtensionPart("/x/y.JPG"), ".JPG");
}

TEST(Paths, NormalisedAbsolutePathCleansTheTextAlone) {
  const struct { const char* path; ParentSteps steps; const char* expected; } cases[] = {
      {"a/./b//c/", ParentSteps::kResolve, "/cwd/a/b/c"}, {"/x/y/../z", ParentSteps::kResolve, "/x/z"},
      {"/x/./y/../z", ParentSteps::kKeep, "/x/y/../z"},   {"/a/b/..", ParentSteps::kResolve, "/a"},
      {"/..", ParentSteps::kResolve, "/"},                 {"///", ParentSteps::kKeep, "/"}};
  for (const auto& c : cases) {
    EXPECT_EQ(NormalisedAbsolutePath(c.path, "/cwd", c.steps), c.expected) << c.path;
  }
}

TEST(Paths, TempFolderHonoursOnlyAbsoluteTmpdir) {
  {
    ScopedEnv env("TMPDIR", "/var/tmp");
    EXPECT_EQ(TempFolder(), "/var/tmp");
  }
  {
    ScopedEnv env("TMPDIR", "relative/tmp");
    EXPECT_EQ(TempFolder(), "/tmp");
  }
  {
    ScopedEnv env("TMPDIR", nullptr);
    EXPECT_EQ(TempFolder(), "/tmp");
  }
}

TEST(Paths, ProgramFolderIsTheTestBinarysFolder) {
  const std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(IsDirectory(folder));
  EXPECT_TRUE(IsRegularFile(JoinPath(folder, "platform_tests")));
}

TEST(Folders, EnsureFolderCreatesParents) {
  ScopedTempFolder temp;
  EXPECT_FALSE(EnsureFolder(""));
  const std::string deep = temp.Join("a/b/c");
  EXPECT_TRUE(EnsureFolder(deep));
  EXPECT_TRUE(IsDirectory(deep));
  EXPECT_TRUE(EnsureFolder(deep));
  ASSERT_TRUE(WriteTextFile(temp.Join("file"), "x"));
  EXPECT_FALSE(EnsureFolder(temp.Join("file")));
  EXPECT_FALSE(EnsureFolder(temp.Join("file/below")));
}

TEST(Folders, RemoveFolderTreeRemovesContentsButNeverFollowsLinks) {
  ScopedTempFolder temp;
  const std::string outside = temp.Join("outside");
  ASSERT_TRUE(EnsureFolder(outside));
  ASSERT_TRUE(WriteTextFile(JoinPath(outside, "keep.txt"), "precious"));

  const std::string tree = temp.Join("tree");
  ASSERT_TRUE(EnsureFolder(JoinPath(tree, "sub/deeper")));
  ASSERT_TRUE(WriteTextFile(JoinPath(tree, "sub/deeper/a.jpg"), "a"));
  ASSERT_TRUE(WriteTextFile(JoinPath(tree, "readonly.txt"), "r"));
  ASSERT_EQ(::chmod(JoinPath(tree, "readonly.txt").c_str(), 0444), 0);
  ASSERT_EQ(::symlink(outside.c_str(), JoinPath(tree, "link-to-outside").c_str()), 0);
  ASSERT_EQ(::symlink(JoinPath(outside, "keep.txt").c_str(), JoinPath(tree, "file-link").c_str()), 0);
  ASSERT_EQ(::chmod(JoinPath(tree, "sub").c_str(), 0500), 0);

  EXPECT_TRUE(RemoveFolderTree(tree));
  EXPECT_FALSE(PathExists(tree));
  EXPECT_EQ(ReadTextFile(JoinPath(outside, "keep.txt")), "precious");
}

TEST(Folders, RemoveFolderTreeOnALinkOrNothing) {
  ScopedTempFolder temp;
  EXPECT_TRUE(RemoveFolderTree(temp.Join("missing")));
  const std::string target = temp.Join("target");
  ASSERT_TRUE(EnsureFolder(target));
  ASSERT_TRUE(WriteTextFile(JoinPath(target, "keep.txt"), "k"));
  const std::string link = temp.Join("link");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  EXPECT_TRUE(RemoveFolderTree(link));
  EXPECT_EQ(ReadTextFile(JoinPath(target, "keep.txt")), "k");
}

TEST(Files, SizeCopyDeleteAndExistence) {
  ScopedTempFolder temp;
  const std::string a = temp.Join("a file.jpg");
  ASSERT_TRUE(WriteTextFile(a, std::string(3000, 'x')));
  EXPECT_EQ(FileSize(a), 3000u);
  EXPECT_EQ(FileSize(temp.Join("missing")), 0u);
  std::uint64_t size = 1;
  EXPECT_FALSE(TryFileSize(temp.path, size));
  EXPECT_EQ(size, 0u);

  const std::string b = temp.Join("copy.jpg");
  ASSERT_TRUE(WriteTextFile(b, "old content that is longer than nothing"));
  EXPECT_TRUE(CopyFileBytes(a, b));
  EXPECT_EQ(ReadTextFile(b), std::string(3000, 'x'));
  EXPECT_FALSE(CopyFileBytes(temp.Join("missing"), temp.Join("never.jpg")));
  EXPECT_FALSE(PathExists(temp.Join("never.jpg")));

  EXPECT_TRUE(DeleteFileAt(b));
  EXPECT_FALSE(PathExists(b));
  EXPECT_TRUE(DeleteFileAt(b));  // already gone counts as deleted
}

TEST(Files, CopiesGetOrdinaryPermissions) {
  ScopedTempFolder temp;
  const mode_t previous = ::umask(022);
  const std::string a = temp.Join("a");
  ASSERT_TRUE(WriteTextFile(a, "data"));
  ASSERT_EQ(::chmod(a.c_str(), 0600), 0);
  ASSERT_TRUE(CopyFileBytes(a, temp.Join("b")));
  struct stat info{};
  ASSERT_EQ(::stat(temp.Join("b").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  ::umask(previous);
}

TEST(Files, ReadFileBytesRespectsItsLimit) {
  ScopedTempFolder temp;
  ASSERT_TRUE(WriteTextFile(temp.Join("f"), "0123456789"));
  std::string content;
  EXPECT_TRUE(ReadFileBytes(temp.Join("f"), content));
  EXPECT_EQ(content, "0123456789");
  EXPECT_FALSE(ReadFileBytes(temp.Join("f"), content, 9));
  EXPECT_TRUE(content.empty());
  EXPECT_FALSE(ReadFileBytes(temp.path, content));
}

// --- Fault injection -------------------------------------------------------

int failingWritesAfter = 0;
ssize_t WriteFailingWithNoSpace(int fd, const void* data, size_t size) {
  if (failingWritesAfter-- <= 0) {
    errno = ENOSPC;
    return -1;
  }
  // Short writes must be retried by the caller.
  return ::write(fd, data, size > 7 ? 7 : size);
}
int RenameFailing(const char*, const char*) {
  errno = EIO;
  return -1;
}

struct FaultInjection {
  FileSystemCalls calls = ActiveFileSystemCalls();
  FaultInjection() = default;
  void Install() { SetFileSystemCalls(&calls); }
  ~FaultInjection() { SetFileSystemCalls(nullptr); }
};

size_t CountEntries(const std::string& folder) {
  size_t count = 0;
  if (DIR* listing = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(listing)) {
      if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") ++count;
    }
    ::closedir(listing);
  }
  return count;
}

TEST(FaultInjection, FullDiskNeverLeavesAPartialFileUnderTheFinalName) {
  ScopedTempFolder temp;
  const std::string source = temp.Join("source.jpg");
  const std::string target = temp.Join("target.jpg");
  ASSERT_TRUE(WriteTextFile(source, std::string(100, 's')));
  ASSERT_TRUE(WriteTextFile(target, "earlier result"));

  FaultInjection fault;
  fault.calls.write = WriteFailingWithNoSpace;
  fault.Install();
  failingWritesAfter = 3;
  EXPECT_FALSE(CopyFileBytes(source, target));
  failingWritesAfter = 0;
  EXPECT_FALSE(WriteFileAtomically(temp.Join("new.txt"), "abc", 3));
  SetFileSystemCalls(nullptr);

  EXPECT_EQ(ReadTextFile(target), "earlier result");
  EXPECT_FALSE(PathExists(temp.Join("new.txt")));
  EXPECT_EQ(CountEntries(temp.path), 2u) << "temporary files left behind";
}

TEST(FaultInjection, ShortWritesAreCompleted) {
  ScopedTempFolder temp;
  FaultInjection fault;
  fault.calls.write = WriteFailingWithNoSpace;
  fault.Install();
  failingWritesAfter = 1000;
  EXPECT_TRUE(WriteFileAtomically(temp.Join("ok.txt"), "0123456789abcdefghij", 20));
  SetFileSystemCalls(nullptr);
  EXPECT_EQ(ReadTextFile(temp.Join("ok.txt")), "0123456789abcdefghij");
}

TEST(FaultInjection, FailingRenameKeepsTheOldFile) {
  ScopedTempFolder temp;
  const std::string target = temp.Join("target.jpg");
  ASSERT_TRUE(WriteTextFile(target, "earlier"));
  FaultInjection fault;
  fault.calls.rename = RenameFailing;
  fault.Install();
  EXPECT_FALSE(WriteFileAtomically(target, "newer", 5));
  SetFileSystemCalls(nullptr);
  EXPECT_EQ(ReadTextFile(target), "earlier");
  EXPECT_EQ(CountEntries(temp.path), 1u);
}

// --- Names the program must not trust -------------------------------------

TEST(UnsafeNames, NamedPipeIsRefusedAtOnceInsteadOfBlocking) {
  ScopedTempFolder temp;
  const std::string pipe = temp.Join("pipe.jpg");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_FALSE(OpenForReading(pipe).Valid());
  EXPECT_FALSE(CopyFileBytes(pipe, temp.Join("copy.jpg")));
  EXPECT_FALSE(CreateForWriting(pipe).Valid()) << "nobody reads the pipe";
}

TEST(UnsafeNames, PlantedLinksAreReplacedOrRefusedNeverWrittenThrough) {
  ScopedTempFolder temp;
  const std::string victim = temp.Join("victim");
  ASSERT_TRUE(WriteTextFile(victim, "precious"));
  const std::string source = temp.Join("source");
  ASSERT_TRUE(WriteTextFile(source, "new data"));
  for (const char* name : {"copied", "written", "created"}) {
    ASSERT_EQ(::symlink(victim.c_str(), temp.Join(name).c_str()), 0);
  }
  EXPECT_FALSE(CreateForWriting(temp.Join("created")).Valid());
  EXPECT_FALSE(OpenForAppending(temp.Join("created")).Valid());
  EXPECT_TRUE(CopyFileBytes(source, temp.Join("copied")));
  EXPECT_TRUE(WriteFileAtomically(temp.Join("written"), "new data", 8));
  EXPECT_EQ(ReadTextFile(victim), "precious");
  for (const char* name : {"copied", "written"}) {
    EXPECT_FALSE(IsSymbolicLink(temp.Join(name))) << name;
    EXPECT_EQ(ReadTextFile(temp.Join(name)), "new data") << name;
  }
}

TEST(UnsafeNames, NamesAtTheFileSystemLimitCanBeWritten) {
  ScopedTempFolder temp;
  const std::string source = temp.Join("s");
  ASSERT_TRUE(WriteTextFile(source, "bytes"));
  const std::string longest = temp.Join(std::string(251, 'n') + ".jpg");
  EXPECT_TRUE(CopyFileBytes(source, longest));
  EXPECT_TRUE(WriteFileAtomically(temp.Join(std::string(255, 'w')), "x", 1));
  EXPECT_EQ(ReadTextFile(longest), "bytes");
  EXPECT_EQ(CountEntries(temp.path), 3u) << "temporary files left behind";
}

std::vector<std::string> events;
int RecordingFsync(int fd) {
  struct stat info{};
  ::fstat(fd, &info);
  events.push_back(S_ISDIR(info.st_mode) ? "sync folder" : "sync file");
  return ::fsync(fd);
}
int RecordingRename(const char* from, const char* to) {
  events.push_back("rename");
  return ::rename(from, to);
}

TEST(FaultInjection, OutputsAreSyncedBeforeAndTheirFolderAfterTheRename) {
  ScopedTempFolder temp;
  ASSERT_TRUE(WriteTextFile(temp.Join("s"), "data"));
  FaultInjection fault;
  fault.calls.fsync = RecordingFsync;
  fault.calls.rename = RecordingRename;
  fault.Install();
  events.clear();
  EXPECT_TRUE(CopyFileBytes(temp.Join("s"), temp.Join("copy")));
  EXPECT_TRUE(WriteFileAtomically(temp.Join("whole"), "data", 4));
  SetFileSystemCalls(nullptr);
  const std::vector<std::string> once = {"sync file", "rename", "sync folder"};
  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(events, twice);
}

}  // namespace
