// Paths, folders and file writing with the fault-injection seam, and the work
// folders: naming, privacy, the attempt loop, and recovering abandoned ones.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "platform/files.h"
#include "platform/work_folder.h"
#include "tests/support/file_system.h"
#include "tests/support/scoped_temp.h"

class FilesTest : public ::testing::Test {
 protected:
  ScopedTempFolder temp;
  ScopedEnv tmpdir{"TMPDIR", temp.path.c_str()};
};

TEST(Paths, PartsJoinsAndFolders) {
  const std::pair<std::string, std::string> cases[] = {
      {JoinPath("", "a.jpg"), "a.jpg"}, {JoinPath("/tmp", "a.jpg"), "/tmp/a.jpg"},
      {JoinPath("/tmp/", "a.jpg"), "/tmp/a.jpg"}, {JoinPath("C:\\Temp\\", "x"), "C:\\Temp\\x"},
      {ParentFolder("/a/b/c.jpg"), "/a/b"}, {ParentFolder("/a"), "/"}, {ParentFolder("c.jpg"), ""},
      {FileNamePart("/a/b/IMG_0815.JPG"), "IMG_0815.JPG"}, {FileNamePart("plain"), "plain"},
      {BaseNamePart("/a/b/IMG_0815.JPG"), "IMG_0815"}, {BaseNamePart("/a/.hidden"), ".hidden"},
      {BaseNamePart("/a/archiv.2024.jpeg"), "archiv.2024"}, {ExtensionPart("/a.b/name"), ""},
      {ExtensionPart("/x/y.JPG"), ".JPG"}};
  for (const auto& [got, expected] : cases) EXPECT_EQ(got, expected);
  for (const auto& [tmpdir, expected] : std::vector<std::pair<const char*, std::string>>{
           {"/var/tmp", "/var/tmp"}, {"relative/tmp", "/tmp"}, {nullptr, "/tmp"}}) {
    ScopedEnv env("TMPDIR", tmpdir);
    EXPECT_EQ(TempFolder(), expected);
  }
  ASSERT_TRUE(IsDirectory(ProgramFolder()));
  EXPECT_TRUE(IsRegularFile(JoinPath(ProgramFolder(), "platform_tests")));
}

TEST(Paths, NormalisedAbsolutePathCleansTheTextAlone) {
  const struct { const char* path; ParentSteps steps; const char* expected; } cases[] = {
      {"a/./b//c/", ParentSteps::kResolve, "/cwd/a/b/c"}, {"/x/y/../z", ParentSteps::kResolve, "/x/z"},
      {"/x/./y/../z", ParentSteps::kKeep, "/x/y/../z"},   {"/a/b/..", ParentSteps::kResolve, "/a"},
      {"/..", ParentSteps::kResolve, "/"},                 {"///", ParentSteps::kKeep, "/"}};
  for (const auto& c : cases) EXPECT_EQ(NormalisedAbsolutePath(c.path, "/cwd", c.steps), c.expected) << c.path;
}

TEST_F(FilesTest, EnsureCreatesParentsAndRemoveNeverFollowsLinks) {
  const std::string tree = temp.Join("tree"), outside = temp.Join("outside");
  const std::string kept = JoinPath(outside, "keep.txt");
  EXPECT_FALSE(EnsureFolder(""));
  EXPECT_TRUE(EnsureFolder(JoinPath(tree, "sub/deeper")));
  EXPECT_TRUE(IsDirectory(JoinPath(tree, "sub/deeper")));
  EXPECT_TRUE(EnsureFolder(JoinPath(tree, "sub/deeper")));
  ASSERT_TRUE(EnsureFolder(outside));
  ASSERT_TRUE(WriteTextFile(kept, "precious"));
  EXPECT_FALSE(EnsureFolder(kept));
  EXPECT_FALSE(EnsureFolder(JoinPath(kept, "below")));
  ASSERT_TRUE(WriteTextFile(JoinPath(tree, "sub/deeper/a.jpg"), "a"));
  ASSERT_TRUE(WriteTextFile(JoinPath(tree, "readonly.txt"), "r"));
  ASSERT_EQ(::chmod(JoinPath(tree, "readonly.txt").c_str(), 0444), 0);
  for (const auto& [target, link] : {std::pair{outside, "link-to-outside"}, std::pair{kept, "file-link"}}) {
    ASSERT_EQ(::symlink(target.c_str(), JoinPath(tree, link).c_str()), 0);
  }
  ASSERT_EQ(::chmod(JoinPath(tree, "sub").c_str(), 0500), 0);
  ASSERT_EQ(::symlink(outside.c_str(), temp.Join("link").c_str()), 0);
  EXPECT_TRUE(RemoveFolderTree(temp.Join("missing")));
  EXPECT_TRUE(RemoveFolderTree(temp.Join("link")));  // a link to a folder is not descended
  EXPECT_TRUE(RemoveFolderTree(tree));
  EXPECT_FALSE(PathExists(tree));
  EXPECT_EQ(ReadTextFile(kept), "precious");
}

// A link is a name that exists whether or not its target does (nothing may
// be written over it); type and size questions are about the target.
TEST_F(FilesTest, LinksExistAsNamesAndAnswerForTheirTargets) {
  ASSERT_TRUE(WriteTextFile(temp.Join("ziel.jpg"), "12345"));
  ASSERT_EQ(::symlink(temp.Join("ziel.jpg").c_str(), temp.Join("zum-ziel").c_str()), 0);
  ASSERT_EQ(::symlink(temp.Join("weg.jpg").c_str(), temp.Join("ins-leere").c_str()), 0);
  ASSERT_EQ(::symlink(temp.path.c_str(), temp.Join("zum-ordner").c_str()), 0);
  const struct { const char* name; bool exists, link, file, folder; std::uint64_t size; } cases[] = {
      {"ziel.jpg", true, false, true, false, 5}, {"zum-ziel", true, true, true, false, 5},
      {"ins-leere", true, true, false, false, 0}, {"zum-ordner", true, true, false, true, 0},
      {"fehlt.jpg", false, false, false, false, 0}};
  for (const auto& c : cases) {
    const std::string path = temp.Join(c.name);
    std::uint64_t size = 99;
    const bool sized = TryFileSize(path, size);
    EXPECT_EQ(std::tuple(PathExists(path), IsSymbolicLink(path), IsRegularFile(path), IsDirectory(path), sized, size),
              std::tuple(c.exists, c.link, c.file, c.folder, c.file, c.size)) << c.name;
  }
}

TEST_F(FilesTest, SizeCopyReadAndDelete) {
  const std::string a = temp.Join("a file.jpg"), b = temp.Join("copy.jpg");
  ASSERT_TRUE(WriteTextFile(a, std::string(3000, 'x')));
  ASSERT_EQ(::chmod(a.c_str(), 0600), 0);
  EXPECT_EQ(FileSize(a), 3000u);
  EXPECT_EQ(FileSize(temp.Join("missing")), 0u);
  std::uint64_t size = 1;
  EXPECT_FALSE(TryFileSize(temp.path, size));
  EXPECT_EQ(size, 0u);
  ASSERT_TRUE(WriteTextFile(b, "old content that is longer than nothing"));
  const mode_t previousMask = ::umask(022);
  EXPECT_TRUE(CopyFileBytes(a, b));
  ::umask(previousMask);
  EXPECT_EQ(ReadTextFile(b), std::string(3000, 'x'));
  struct stat info{};
  ASSERT_EQ(::stat(b.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);  // ordinary permissions, not the source's
  EXPECT_FALSE(CopyFileBytes(temp.Join("missing"), temp.Join("never.jpg")));
  EXPECT_FALSE(PathExists(temp.Join("never.jpg")));
  std::string content;
  EXPECT_TRUE(ReadFileBytes(a, content, 3000));
  EXPECT_EQ(content.size(), 3000u);
  EXPECT_FALSE(ReadFileBytes(a, content, 2999));
  EXPECT_TRUE(content.empty());
  EXPECT_FALSE(ReadFileBytes(temp.path, content));
  EXPECT_TRUE(DeleteFileAt(b));
  EXPECT_FALSE(PathExists(b));
  EXPECT_TRUE(DeleteFileAt(b));  // already gone counts as deleted
  EXPECT_FALSE(RenamePath("", a) || RenamePath(a, ""));
  EXPECT_FALSE(WriteAll(UniqueFd(), "x", 1));
}

int writesBeforeFull = 0;
// At most 7 bytes a call, which the caller must complete; ENOSPC once the
// writes are used up.
ssize_t ShortWritesThenFull(int fd, const void* data, size_t size) {
  if (writesBeforeFull-- > 0) return ::write(fd, data, size > 7 ? 7 : size);
  errno = ENOSPC;
  return -1;
}
int FailingRename(const char*, const char*) { errno = EIO; return -1; }
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

// A finished file is synced before the rename, its folder after it; a failed
// write or rename leaves no file behind and the earlier one in place.
TEST_F(FilesTest, FullDiskOrFailedRenameNeverLeavesAPartialFileUnderTheFinalName) {
  const std::string source = temp.Join("source.jpg"), target = temp.Join("target.jpg");
  ASSERT_TRUE(WriteTextFile(source, std::string(100, 's')));
  ASSERT_TRUE(WriteTextFile(target, "earlier result"));
  {
    ScopedFileSystemCalls fault;
    fault.calls.write = ShortWritesThenFull;
    fault.calls.fsync = RecordingFsync;
    fault.calls.rename = RecordingRename;
    fault.Install();
    events.clear();
    writesBeforeFull = 3;
    EXPECT_FALSE(CopyFileBytes(source, target));
    writesBeforeFull = 0;
    EXPECT_FALSE(WriteFileAtomically(temp.Join("new.txt"), "abc", 3));
    writesBeforeFull = 1000;
    EXPECT_TRUE(WriteFileAtomically(temp.Join("ok.txt"), "0123456789abcdefghij", 20));
    EXPECT_EQ(events, (std::vector<std::string>{"sync file", "rename", "sync folder"}));
  }
  EXPECT_EQ(ReadTextFile(temp.Join("ok.txt")), "0123456789abcdefghij");
  {
    ScopedFileSystemCalls fault;
    fault.calls.rename = FailingRename;
    fault.Install();
    EXPECT_FALSE(WriteFileAtomically(target, "newer", 5));
  }
  EXPECT_EQ(ReadTextFile(target), "earlier result");
  EXPECT_FALSE(PathExists(temp.Join("new.txt")));
  // Names at the file-system limit still get their temporary sibling.
  const std::string longest = temp.Join(std::string(251, 'n') + ".jpg");
  EXPECT_TRUE(CopyFileBytes(source, longest));
  EXPECT_TRUE(WriteFileAtomically(temp.Join(std::string(255, 'w')), "x", 1));
  EXPECT_EQ(ReadTextFile(longest), std::string(100, 's'));
  EXPECT_EQ(FolderEntries(temp.path).size(), 5u) << "temporary files left behind";
}

TEST_F(FilesTest, PipesAndPlantedLinksAreRefusedOrReplacedNeverWrittenThrough) {
  const std::string pipe = temp.Join("pipe.jpg");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_FALSE(OpenForReading(pipe).Valid());  // at once, instead of blocking
  EXPECT_FALSE(CopyFileBytes(pipe, temp.Join("copy.jpg")));
  EXPECT_FALSE(CreateForWriting(pipe).Valid()) << "nobody reads the pipe";
  const std::string victim = temp.Join("victim"), source = temp.Join("source");
  ASSERT_TRUE(WriteTextFile(victim, "precious"));
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

TEST_F(FilesTest, WorkFolderNameModeAndShortPath) {
  WorkFolder folder;
  ASSERT_TRUE(CreateWorkFolder(folder));
  // <temp>/TALV_<pid>_<tick>_0 with the tick in decimal, no leading zero.
  const std::string prefix = temp.path + "/TALV_" + std::to_string(::getpid()) + "_";
  ASSERT_EQ(folder.longPath.rfind(prefix, 0), 0u) << folder.longPath;
  EXPECT_TRUE(std::regex_match(folder.longPath.substr(prefix.size()), std::regex("[1-9][0-9]*_0")));
  EXPECT_EQ(folder.shortPath, folder.longPath);
  struct stat info{};
  ASSERT_EQ(::stat(folder.longPath.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

int mkdirCalls = 0, existingNames = 0;  // existingNames: how many attempts find their name taken
int MkdirFindingNamesTaken(const char* path, mode_t mode) {
  if (mkdirCalls++ >= existingNames) return ::mkdir(path, mode);
  errno = EEXIST;
  return -1;
}

TEST_F(FilesTest, WorkFolderTakesTheNextAttemptWhenTheNameExistsAndGivesUpAfterFifty) {
  ScopedFileSystemCalls calls;
  calls.calls.mkdir = MkdirFindingNamesTaken;
  calls.Install();
  WorkFolder folder;
  mkdirCalls = 0, existingNames = 2;
  ASSERT_TRUE(CreateWorkFolder(folder));
  EXPECT_EQ(folder.longPath.substr(folder.longPath.size() - 2), "_2");
  RemoveFolderTree(folder.longPath);
  mkdirCalls = 0, existingNames = 1000;
  EXPECT_FALSE(CreateWorkFolder(folder));
  EXPECT_EQ(mkdirCalls, 50);
  EXPECT_TRUE(folder.longPath.empty());
}

// The pid of a child that has ended and been reaped.
pid_t EndedProcessId() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

// A folder with the given files (a name ending in "/" is a subfolder),
// last changed an hour and a minute ago.
void MakeFolder(const std::string& path, const std::vector<std::string>& files, bool old) {
  ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
  for (const std::string& file : files) {
    if (file.back() == '/') {
      ASSERT_TRUE(EnsureFolder(JoinPath(path, file)));
      ASSERT_TRUE(WriteTextFile(JoinPath(path, file + "photo.jpg"), "photo"));
    } else {
      ASSERT_TRUE(WriteTextFile(JoinPath(path, file), "x"));
    }
  }
  if (!old) return;
  const timespec times[2] = {{std::time(nullptr) - 3660, 0}, {std::time(nullptr) - 3660, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Only what the lock protocol marks as abandoned, or an old lock-less folder
// that holds exactly files of ours, goes; everything else stays untouched.
TEST_F(FilesTest, WorkFolderOnlyAbandonedFoldersOfOursWhoseOwnerIsGoneAreRemoved) {
  const std::string gone = "TALV_" + std::to_string(EndedProcessId()),
                    alive = "TALV_" + std::to_string(::getpid()), target = temp.Join("target");
  ASSERT_TRUE(EnsureFolder(target));
  ASSERT_TRUE(WriteTextFile(JoinPath(target, "keep"), "keep"));
  WorkFolder live;  // this process's own, in use
  ASSERT_TRUE(CreateWorkFolder(live));
  std::vector<UniqueFd> held;
  const auto locked = [&](const std::string& name, bool keepLock, const std::vector<std::string>& files) {
    MakeFolder(temp.Join(name), files, false);
    UniqueFd lock = LockFolderForLifetime(temp.Join(name));
    ASSERT_TRUE(lock.Valid());
    if (keepLock) held.push_back(std::move(lock));
  };
  const std::vector<std::string> ours = {"full.ppm", "original.jpg", "full_0001.jpg", "bench_0002.jpg.meta",
                                         ".original.jpg.part-a1B2c3D4e5F6"};
  locked(gone + "_1_0", false, {"full.ppm", "anything"});  // its owner died: the lock is free
  locked(gone + "_2_0", true, {});    // pid unknown here, lock held: another namespace
  locked(alive + "_3_0", true, {});
  locked(gone + "_14_0", false, {"sub/"});  // lock free, but a folder inside is not ours
  MakeFolder(temp.Join(gone + "_4_0"), ours, true);             // no lock, pid gone, old, our files
  MakeFolder(temp.Join(gone + "_10_0"), {}, true);               // the same, empty
  MakeFolder(temp.Join(gone + "_11_0"), {".lock-pending"}, true);  // killed while making its lock
  MakeFolder(temp.Join(alive + "_5_0"), {"full.ppm"}, true);     // no lock, pid alive
  // Just made, without a lock yet: perhaps an owner in another PID namespace.
  MakeFolder(temp.Join(gone + "_6_0"), {"full.ppm"}, false);
  MakeFolder(temp.Join(gone + "_15_0"), {}, false);
  // Old and lock-less, but holding what this program never writes.
  MakeFolder(temp.Join(gone + "_13_0"), {"full.ppm", "notizen.txt"}, true);
  MakeFolder(temp.Join(gone + "_16_0"), {"raw/"}, true);
  // A user's folders merely named like ours.
  MakeFolder(temp.Join("TALV_999999_Urlaub2023"), {"raw/"}, true);
  MakeFolder(temp.Join("TALV_x_7_0"), {}, true);
  MakeFolder(temp.Join("TALV_2147483647_12_0"), {}, true);  // nor is a pid no process can have
  ASSERT_EQ(::symlink(target.c_str(), temp.Join(gone + "_8_0").c_str()), 0);
  ASSERT_TRUE(WriteTextFile(temp.Join(gone + "_9_0"), "a file"));
  const std::vector<std::string> removed = {gone + "_1_0", gone + "_4_0", gone + "_10_0", gone + "_11_0"};
  EXPECT_EQ(RemoveAbandonedFolders(temp.path, kWorkFolderKind), static_cast<int>(removed.size()));
  for (const std::string& name : removed) EXPECT_FALSE(PathExists(temp.Join(name))) << name;
  const std::vector<std::string> kept = {gone + "_2_0",  alive + "_3_0", gone + "_14_0", alive + "_5_0",
                                         gone + "_6_0",  gone + "_15_0", gone + "_13_0", gone + "_16_0",
                                         gone + "_8_0",  gone + "_9_0",  "TALV_x_7_0",   "TALV_2147483647_12_0"};
  for (const std::string& name : kept) EXPECT_TRUE(PathExists(temp.Join(name))) << name;
  EXPECT_EQ(ReadTextFile(temp.Join("TALV_999999_Urlaub2023/raw/photo.jpg")), "photo");
  EXPECT_EQ(ReadTextFile(temp.Join(gone + "_13_0/notizen.txt")), "x");
  EXPECT_TRUE(IsDirectory(live.longPath));
  EXPECT_EQ(ReadTextFile(JoinPath(target, "keep")), "keep");
  RemoveFolderTree(live.longPath);
}
