// Copies that keep their source's times and modes, the trash's info files,
// and replacing a file in place with its original kept in the trash: refused
// or failed steps leave the source alone, and a process killed before any
// single file-system call leaves the source's name holding the old or the
// new file and the original at its place or in the trash.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/trash.h"
#include "tests/support/fault_calls.h"
#include "tests/support/file_system.h"
#include "tests/support/scoped_temp.h"

namespace {

struct stat StatOf(const std::string& path) {
  struct stat info{};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info;
}

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// A source with old, distinctive times, in a folder whose XDG_DATA_HOME
// (and so the home trash) lies beside it on the same file system.
class TrashTest : public ::testing::Test {
 protected:
  ScopedTempFolder temp;
  ScopedEnv dataHome{"XDG_DATA_HOME", temp.Join("daten").c_str()};
  std::string source = temp.Join("fotos/bild 1%.jpg"), winner = temp.Join("gewinner.jpg");
  std::string oldBytes, newBytes;
  FileAttributes attributes;

  void SetUp() override {
    ASSERT_TRUE(ReadFileBytes(ORVEL_TEST_IMAGES "/skimage_chelsea_q95.jpg", oldBytes));
    ASSERT_TRUE(ReadFileBytes(ORVEL_TEST_IMAGES "/mate_FreshFlower.jpg", newBytes));
    MakeSource();
  }
  void MakeSource() {
    ASSERT_TRUE(EnsureFolder(ParentFolder(source)));
    ASSERT_TRUE(WriteTextFile(source, oldBytes) && WriteTextFile(winner, newBytes));
    ASSERT_EQ(::chmod(source.c_str(), 0640), 0);
    const timespec times[2] = {{1500000000, 123456789}, {1400000000, 987654321}};
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
    ASSERT_TRUE(ReadFileAttributes(source, attributes));
  }
  std::string Trash(const std::string& sub) const { return temp.Join("daten/Trash/" + sub); }
};

// The crash test's seam: every call counts down, and the one that reaches
// zero kills the process before it happens.
int callsLeft = 0;
void CountDown() {
  if (--callsLeft == 0) ::raise(SIGKILL);
}
int KillOpen(const char* p, int f, mode_t m) { CountDown(); return ::open(p, f, m); }
ssize_t KillWrite(int fd, const void* d, size_t n) { CountDown(); return ::write(fd, d, n); }
int KillClose(int fd) { CountDown(); return ::close(fd); }
int KillRename(const char* a, const char* b) { CountDown(); return ::rename(a, b); }
int KillMkdir(const char* p, mode_t m) { CountDown(); return ::mkdir(p, m); }
int KillUnlink(const char* p) { CountDown(); return ::unlink(p); }
int KillFsync(int fd) { CountDown(); return ::fsync(fd); }
int KillLink(const char* a, const char* b) { CountDown(); return ::link(a, b); }
const FileSystemCalls kKillingCalls = {KillOpen,   KillWrite, KillClose, KillRename,
                                       KillMkdir,  KillUnlink, KillFsync, KillLink};

}  // namespace

TEST(CopyWithAttributes, TimesAlwaysModeNeverWiderThanSourceAndUmask) {
  ScopedTempFolder temp;
  const std::string from = temp.Join("quelle.jpg"), to = temp.Join("ziel.jpg");
  const struct { mode_t sourceMode, umask; AttributeRule rule; mode_t expected; } cases[] = {
      {0640, 022, AttributeRule::kPreserve, 0640}, {0666, 022, AttributeRule::kPreserve, 0644},
      {0755, 077, AttributeRule::kPreserve, 0700}, {0444, 022, AttributeRule::kPreserve, 0444},
      {04755, 022, AttributeRule::kPreserve, 0755},
      // Standing in for the source, the copy takes its bits whatever the umask.
      {0666, 077, AttributeRule::kReplace, 0666}, {0604, 022, AttributeRule::kReplace, 0604}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::oct << c.sourceMode << " umask " << c.umask);
    ASSERT_TRUE(WriteTextFile(from, "bytes") && ::chmod(from.c_str(), c.sourceMode) == 0);
    const timespec times[2] = {{1600000000, 111}, {1300000000, 222}};
    ASSERT_EQ(::utimensat(AT_FDCWD, from.c_str(), times, 0), 0);
    FileAttributes attributes;
    ASSERT_TRUE(ReadFileAttributes(from, attributes));
    DeleteFileAt(to);
    const mode_t previous = ::umask(c.umask);
    const bool copied = CopyFileBytesWithAttributes(from, to, attributes, c.rule);
    ::umask(previous);
    ASSERT_TRUE(copied);
    const struct stat info = StatOf(to);
    EXPECT_EQ(info.st_mode & 07777, c.expected);
    EXPECT_TRUE(SameTime(info.st_atim, times[0]) && SameTime(info.st_mtim, times[1]));
    EXPECT_EQ(ReadTextFile(to), "bytes");
    EXPECT_EQ(FolderEntries(temp.path).size(), 2u);  // no temporary left
  }
}

TEST(TrashInfo, PathPercentEncodedRelativeOnAMountAndLocalDeletionDate) {
  const std::pair<std::string, std::string> encodings[] = {
      {"/home/ich/Bilder/IMG_0815.JPG", "/home/ich/Bilder/IMG_0815.JPG"},
      {"/a b/100%.jpg", "/a%20b/100%25.jpg"},
      {"/Urlaub/Strand\xC3\xA4.jpg", "/Urlaub/Strand%C3%A4.jpg"},
      {"/x/#?&=+;,\n", "/x/%23%3F%26%3D%2B%3B%2C%0A"}};
  for (const auto& [path, expected] : encodings) EXPECT_EQ(PercentEncodePath(path), expected);

  ScopedEnv zone("TZ", "Europe/Berlin");
  ::tzset();
  const std::time_t noonUtc = 1751976000;  // 2025-07-08 12:00:00 UTC, 14:00 in Berlin
  const struct { std::string base, expected; } trashes[] = {
      {"", "Path=/mnt/usb/DCIM/a%20b.jpg"}, {"/mnt/usb", "Path=DCIM/a%20b.jpg"}, {"/", "Path=mnt/usb/DCIM/a%20b.jpg"}};
  for (const auto& t : trashes) {
    TrashFolder trash;
    trash.pathBase = t.base;
    EXPECT_EQ(TrashInfoText("/mnt/usb/DCIM/a b.jpg", trash, noonUtc),
              "[Trash Info]\n" + t.expected + "\nDeletionDate=2025-07-08T14:00:00\n");
  }
  ::unsetenv("TZ");
  ::tzset();
}

TEST_F(TrashTest, ReplacedSourceKeepsItsAttributesAndTheOriginalCanBeRestored) {
  std::string trashed;
  ASSERT_EQ(ReplaceKeepingOriginalInTrash(source, winner, attributes, &trashed), ReplaceOutcome::kReplaced);
  EXPECT_EQ(trashed, Trash("files/bild 1%.jpg"));
  const struct stat info = StatOf(source);  // before reading moves the access time
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_TRUE(SameTime(info.st_atim, attributes.accessed) && SameTime(info.st_mtim, attributes.modified));
  EXPECT_EQ(ReadTextFile(source), newBytes);
  EXPECT_EQ(ReadTextFile(trashed), oldBytes);
  char* folder = ::realpath(ParentFolder(source).c_str(), nullptr);
  EXPECT_NE(ReadTextFile(Trash("info/bild 1%.jpg.trashinfo")).find("\nPath=" + PercentEncodePath(JoinPath(folder, "bild 1%.jpg")) + "\n"),
            std::string::npos);
  std::free(folder);
  for (const char* sub : {"", "files", "info"}) EXPECT_EQ(StatOf(Trash(sub)).st_mode & 0777, 0700u) << sub;
  EXPECT_EQ(FolderEntries(ParentFolder(source)).size(), 1u);  // no temporary beside it

  // A second original of the same name takes the next name, with its own info.
  MakeSource();
  ASSERT_EQ(ReplaceKeepingOriginalInTrash(source, winner, attributes, &trashed), ReplaceOutcome::kReplaced);
  EXPECT_EQ(trashed, Trash("files/bild 1%.2.jpg"));
  EXPECT_TRUE(IsRegularFile(Trash("info/bild 1%.2.jpg.trashinfo")));
}

// Every refusal and failure leaves the source's bytes and attributes, no
// temporary beside it and nothing in the trash.
TEST_F(TrashTest, RefusedOrFailedStepsLeaveTheSourceAndAnEmptyTrash) {
  const std::string all = "/";  // every path, the trash's real one included
  const struct { const char* what; FaultPlan plan; ReplaceOutcome outcome; } cases[] = {
      {"link", {.pathPart = all, .linkErrno = EPERM}, ReplaceOutcome::kNoTrash},  // a file system without hard links
      {"link", {.pathPart = all, .linkErrno = EXDEV}, ReplaceOutcome::kNoTrash},
      {"mkdir", {.pathPart = all, .mkdirErrno = EACCES}, ReplaceOutcome::kNoTrash},
      {"rename", {.pathPart = all, .renameErrno = EIO}, ReplaceOutcome::kFailed},
      {"write", {.pathPart = all, .writeErrno = ENOSPC}, ReplaceOutcome::kFailed},
      // The info file alone cannot be made, written or synced: no trash takes the original.
      {"info open", {.pathPart = ".trashinfo", .openErrno = EACCES}, ReplaceOutcome::kNoTrash},
      {"info write", {.pathPart = ".trashinfo", .writeErrno = ENOSPC, .writeBudget = 10}, ReplaceOutcome::kNoTrash},
      {"info sync", {.pathPart = ".trashinfo", .fsyncErrno = EIO}, ReplaceOutcome::kNoTrash},
      {"changed", {}, ReplaceOutcome::kSourceChanged}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveFolderTree(temp.Join("daten"));
    MakeSource();
    FileAttributes read = attributes;
    if (c.plan.pathPart.empty()) read.modified.tv_sec -= 1;  // edited since it was read
    {
      ScopedFaults fault(c.plan);
      EXPECT_EQ(ReplaceKeepingOriginalInTrash(source, winner, read, nullptr), c.outcome);
      EXPECT_TRUE(c.plan.pathPart.empty() || fault.FailedCalls() > 0) << "the fault never struck";
    }
    EXPECT_EQ(ReadTextFile(source), oldBytes);
    EXPECT_TRUE(SameTime(StatOf(source).st_mtim, attributes.modified));
    EXPECT_EQ(FolderEntries(ParentFolder(source)).size(), 1u);
    EXPECT_TRUE(FolderEntries(Trash("files")).empty());
    EXPECT_TRUE(FolderEntries(Trash("info")).empty());
  }
}

// A child is killed before its N-th file-system call, for N = 1, 2, ...
// until one runs to the end.
TEST_F(TrashTest, KilledBeforeAnyCallTheNameHoldsOldOrNewAndTheOriginalIsKept) {
  int killedRuns = 0;
  for (int n = 1; n < 200; ++n) {
    SCOPED_TRACE(n);
    RemoveFolderTree(temp.Join("daten"));
    MakeSource();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      callsLeft = n;
      SetFileSystemCalls(&kKillingCalls);
      const ReplaceOutcome outcome = ReplaceKeepingOriginalInTrash(source, winner, attributes);
      ::_exit(outcome == ReplaceOutcome::kReplaced ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    ASSERT_TRUE(killed || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;

    const std::string now = ReadTextFile(source);
    ASSERT_TRUE(now == oldBytes || now == newBytes);
    std::vector<std::string> trashedOriginals;
    for (const std::string& name : FolderEntries(Trash("files"))) {
      EXPECT_EQ(ReadTextFile(Trash("files/" + name)), oldBytes);
      EXPECT_TRUE(IsRegularFile(Trash("info/" + name + ".trashinfo"))) << name;
      trashedOriginals.push_back(name);
    }
    // The original is where it was, or in the trash with its info.
    EXPECT_TRUE(now == oldBytes || trashedOriginals.size() == 1u);
    if (!killed) {
      EXPECT_EQ(now, newBytes);
      std::printf("[ crash    ] killed before each of calls 1 to %d; call %d ran to the end\n", n - 1, n);
      break;
    }
    ++killedRuns;
  }
  EXPECT_GT(killedRuns, 10);
}
