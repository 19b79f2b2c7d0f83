// Tests of the engine store: writing and verifying tool resources, the engine
// folder and its private parent in a shared temporary folder, availability,
// the "Encoder-Status" text, and a real executable run from the engine folder.
#include "engines/engine_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <mntent.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "test_temp_folder.h"

namespace {

// The resources the test lookup hands out; an absent id is a missing resource.
std::map<int, std::string>& TestResources() {
  static std::map<int, std::string> resources;
  return resources;
}

// The version texts the test lookup hands out with the resources.
std::map<int, std::string>& TestVersions() {
  static std::map<int, std::string> versions;
  return versions;
}

EngineResource LookUpTestResource(int resourceId) {
  const auto found = TestResources().find(resourceId);
  if (found == TestResources().end()) return EngineResource{};
  return EngineResource{reinterpret_cast<const std::uint8_t*>(found->second.data()),
                        found->second.size(), TestVersions()[resourceId].c_str()};
}

std::string ElfBytes(std::size_t size) {
  std::string bytes(size, '\0');
  const char signature[] = {0x7F, 'E', 'L', 'F'};
  for (std::size_t i = 0; i < 4 && i < size; ++i) bytes[i] = signature[i];
  for (std::size_t i = 4; i < size; ++i) bytes[i] = static_cast<char>(i * 7 % 251);
  return bytes;
}

std::string ReadAll(const std::string& path) {
  std::string content;
  ReadFileBytes(path, content);
  return content;
}

void WriteText(const std::string& path, const std::string& text) {
  const UniqueFd file = CreateForWriting(path, 0644);
  ASSERT_TRUE(WriteAll(file, text.data(), text.size())) << path;
}

// Restores the process umask on scope exit.
struct ScopedUmask {
  mode_t previous;
  explicit ScopedUmask(mode_t mask) : previous(::umask(mask)) {}
  ~ScopedUmask() { ::umask(previous); }
};

class EngineStoreTest : public ::testing::Test {
 protected:
  PrivateTemporaryFolder temp;

  void SetUp() override {
    ASSERT_FALSE(temp.path.empty());
    TestResources().clear();
    TestVersions().clear();
    SetEngineResourceLookup(LookUpTestResource);
  }

  void TearDown() override {
    RemoveEngineFolder();
    SetEngineResourceLookup(nullptr);
    SetFileSystemCalls(nullptr);
    TestResources().clear();
  }

  std::string SharedParent() const { return JoinPath(temp.path, "OrvelJpegOptimizer"); }
  std::string PerUserParent() const {
    return JoinPath(temp.path, "OrvelJpegOptimizer-" + std::to_string(::geteuid()));
  }
  // True when `folder` is one of this process's engine folders in `parent`:
  // the pid's name and an unpredictable suffix.
  static bool IsOwnEngineFolderIn(const std::string& parent, const std::string& folder) {
    const std::string stem = EngineFolderName(CurrentProcessId()) + "_";
    return ParentFolder(folder) == parent && FileNamePart(folder).rfind(stem, 0) == 0 &&
           FileNamePart(folder).size() == stem.size() + 12;
  }
  // Names in `folder` that look like engine folders.
  static int EngineFoldersIn(const std::string& folder) {
    int count = 0;
    if (DIR* listing = ::opendir(folder.c_str())) {
      while (const dirent* entry = ::readdir(listing)) {
        if (std::string(entry->d_name).rfind("engines_", 0) == 0) ++count;
      }
      ::closedir(listing);
    }
    return count;
  }
  void GiveAllThreeTools() {
    TestResources()[kEngineResourceJpegli] = ElfBytes(4096);
    TestResources()[kEngineResourceMozjpeg] = ElfBytes(5000);
    TestResources()[kEngineResourceJpegtran] = ElfBytes(6000);
  }
};

// --- Writing one resource ----------------------------------------------------

TEST_F(EngineStoreTest, ResourceBelowMinimumOrMissingIsRefusedAndNothingWritten) {
  TestResources()[kEngineResourceJpegli] = ElfBytes(4095);
  const std::string path = JoinPath(temp.path, "cjpegli");
  EXPECT_FALSE(WriteEngineResource(kEngineResourceJpegli, path));
  EXPECT_FALSE(PathExists(path));

  const std::string missing = JoinPath(temp.path, "cjpeg-static");
  EXPECT_FALSE(WriteEngineResource(kEngineResourceMozjpeg, missing));
  EXPECT_FALSE(PathExists(missing));
}

TEST_F(EngineStoreTest, MinimumSizeElfIsWrittenCompletelyWithMode0700WhateverTheUmask) {
  TestResources()[kEngineResourceJpegli] = ElfBytes(4096);
  const std::string path = JoinPath(temp.path, "cjpegli");
  {
    // A umask that strips the owner's execute bit must not leave the tool
    // unrunnable.
    const ScopedUmask mask(0177);
    ASSERT_TRUE(WriteEngineResource(kEngineResourceJpegli, path));
  }
  EXPECT_EQ(ReadAll(path), TestResources()[kEngineResourceJpegli]);
  EXPECT_EQ(ModeBits(path), 0700);
}

TEST_F(EngineStoreTest, NonElfFileIsDeleted) {
  std::string windowsExecutable = ElfBytes(8192);
  windowsExecutable.replace(0, 4, "MZ\x90\x00", 4);
  TestResources()[kEngineResourceMozjpeg] = windowsExecutable;
  const std::string path = JoinPath(temp.path, "cjpeg-static");
  EXPECT_FALSE(WriteEngineResource(kEngineResourceMozjpeg, path));
  EXPECT_FALSE(PathExists(path));
}

TEST_F(EngineStoreTest, ExistingFileOrLinkAtTheNameIsReplacedNotWrittenThrough) {
  TestResources()[kEngineResourceJpegtran] = ElfBytes(4096);
  const std::string outside = JoinPath(temp.path, "someone-elses-file");
  WriteText(outside, "precious");
  const std::string path = JoinPath(temp.path, "jpegtran-static");
  ASSERT_EQ(::symlink(outside.c_str(), path.c_str()), 0);

  ASSERT_TRUE(WriteEngineResource(kEngineResourceJpegtran, path));
  EXPECT_FALSE(IsSymbolicLink(path));
  EXPECT_EQ(ReadAll(path), TestResources()[kEngineResourceJpegtran]);
  EXPECT_EQ(ReadAll(outside), "precious");

  // A stale file with other bits is replaced too and ends up 0700.
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  ASSERT_TRUE(WriteEngineResource(kEngineResourceJpegtran, path));
  EXPECT_EQ(ModeBits(path), 0700);
}

ssize_t WriteFailsWithFullDisk(int fd, const void* data, size_t size) {
  // Half of the first chunk arrives, then the disk is full.
  static thread_local bool first = true;
  if (first) {
    first = false;
    return ::write(fd, data, size / 2);
  }
  first = true;
  errno = ENOSPC;
  return -1;
}

TEST_F(EngineStoreTest, FailedWriteLeavesNoPartialTool) {
  TestResources()[kEngineResourceJpegli] = ElfBytes(100000);
  FileSystemCalls failing = ActiveFileSystemCalls();
  failing.write = WriteFailsWithFullDisk;
  SetFileSystemCalls(&failing);
  const std::string path = JoinPath(temp.path, "cjpegli");
  EXPECT_FALSE(WriteEngineResource(kEngineResourceJpegli, path));
  SetFileSystemCalls(nullptr);
  EXPECT_FALSE(PathExists(path));
}

// --- Materialising the three tools -------------------------------------------

TEST_F(EngineStoreTest, AllThreeToolsAreWrittenIntoAPrivatePerProcessFolder) {
  GiveAllThreeTools();
  EXPECT_TRUE(MaterializeEngines());

  const EngineStore& store = Engines();
  const std::string folder = store.engineFolder;
  EXPECT_TRUE(IsOwnEngineFolderIn(SharedParent(), folder)) << folder;
  EXPECT_EQ(FileNamePart(folder).rfind("engines_1.3.3_" + std::to_string(::getpid()) + "_", 0), 0u);
  EXPECT_EQ(store.jpegliPath, JoinPath(folder, "cjpegli"));
  EXPECT_EQ(store.mozjpegPath, JoinPath(folder, "cjpeg-static"));
  EXPECT_EQ(store.jpegtranPath, JoinPath(folder, "jpegtran-static"));
  EXPECT_TRUE(store.jpegliAvailable && store.mozjpegAvailable && store.jpegtranAvailable);
  EXPECT_TRUE(store.allAvailable);

  EXPECT_EQ(ModeBits(SharedParent()), 0700);
  EXPECT_EQ(ModeBits(folder), 0700);
  EXPECT_EQ(ModeBits(store.mozjpegPath), 0700);
  EXPECT_EQ(ReadAll(store.mozjpegPath), TestResources()[kEngineResourceMozjpeg]);
}

TEST_F(EngineStoreTest, ToolsThatCannotBeWrittenAreUnavailableAndTheOthersStayUsable) {
  TestResources()[kEngineResourceJpegli] = ElfBytes(4096);
  std::string notElf = ElfBytes(4096);
  notElf[1] = 'X';
  TestResources()[kEngineResourceMozjpeg] = notElf;
  // jpegtran is not embedded at all.
  EXPECT_FALSE(MaterializeEngines());

  const EngineStore& store = Engines();
  EXPECT_TRUE(store.jpegliAvailable);
  EXPECT_FALSE(store.mozjpegAvailable);
  EXPECT_FALSE(store.jpegtranAvailable);
  EXPECT_FALSE(store.allAvailable);
  // The paths are set even for the missing tools; the flags alone decide.
  EXPECT_FALSE(store.mozjpegPath.empty());
  EXPECT_FALSE(store.jpegtranPath.empty());
  EXPECT_FALSE(PathExists(store.mozjpegPath));
  EXPECT_FALSE(PathExists(store.jpegtranPath));
}

TEST_F(EngineStoreTest, RealExecutableIsMaterialisedAndRunsFromTheEngineFolder) {
  std::string helper;
  ASSERT_TRUE(ReadFileBytes(ORVEL_TEST_TOOL_HELPER, helper));
  TestResources()[kEngineResourceJpegtran] = helper;
  MaterializeEngines();
  const EngineStore& store = Engines();
  ASSERT_TRUE(store.jpegtranAvailable);

  const std::string output = JoinPath(temp.path, "helper-output.txt");
  ASSERT_TRUE(RunTool(store.jpegtranPath, {"-copy", "none", "a path with spaces.jpg"}, output,
                      store.engineFolder));
  EXPECT_EQ(ReadAll(output), "-copy\nnone\na path with spaces.jpg\n");
}

TEST_F(EngineStoreTest, RefreshFollowsTheToolFilesOnDisk) {
  GiveAllThreeTools();
  ASSERT_TRUE(MaterializeEngines());
  EngineStore& store = Engines();

  ASSERT_TRUE(DeleteFileAt(store.jpegliPath));
  ASSERT_EQ(::mkdir(store.jpegliPath.c_str(), 0700), 0);  // a folder is not a tool
  ASSERT_TRUE(DeleteFileAt(store.jpegtranPath));
  RefreshEngineAvailability();
  EXPECT_FALSE(store.jpegliAvailable);
  EXPECT_TRUE(store.mozjpegAvailable);
  EXPECT_FALSE(store.jpegtranAvailable);
  EXPECT_FALSE(store.allAvailable);

  // Existence is the only test: any regular file counts again.
  WriteText(store.jpegtranPath, "x");
  RefreshEngineAvailability();
  EXPECT_TRUE(store.jpegtranAvailable);
}

TEST_F(EngineStoreTest, RemoveEngineFolderRemovesOnlyThisProcessFolder) {
  GiveAllThreeTools();
  ASSERT_TRUE(MaterializeEngines());
  const std::string ours = Engines().engineFolder;
  // Another process's folder beside ours, as a second instance would make it.
  const std::string theirs = JoinPath(SharedParent(), EngineFolderName(CurrentProcessId() + 1));
  ASSERT_NE(ours, theirs);
  ASSERT_EQ(::mkdir(theirs.c_str(), 0700), 0);
  WriteText(JoinPath(theirs, "cjpegli"), "theirs");

  RemoveEngineFolder();
  EXPECT_FALSE(PathExists(ours));
  EXPECT_TRUE(IsDirectory(SharedParent()));
  EXPECT_EQ(ReadAll(JoinPath(theirs, "cjpegli")), "theirs");
  EXPECT_FALSE(Engines().allAvailable);
  RemoveEngineFolder();  // shutdown may run it again
  EXPECT_TRUE(IsDirectory(theirs));
}

TEST_F(EngineStoreTest, EmbeddedResourcesAreMaterialisedByteForByte) {
  SetEngineResourceLookup(nullptr);
  MaterializeEngines();
  const EngineStore& store = Engines();
  const struct {
    int id;
    const std::string& path;
    bool available;
  } tools[] = {{kEngineResourceJpegli, store.jpegliPath, store.jpegliAvailable},
               {kEngineResourceMozjpeg, store.mozjpegPath, store.mozjpegAvailable},
               {kEngineResourceJpegtran, store.jpegtranPath, store.jpegtranAvailable}};
  for (const auto& tool : tools) {
    const EngineResource embedded = FindEmbeddedEngineResource(tool.id);
    SCOPED_TRACE(tool.id);
    // Whatever this build embedded is a complete executable and is available.
    EXPECT_EQ(tool.available, embedded.size > 0);
    if (embedded.size > 0) {
      const std::string expected(reinterpret_cast<const char*>(embedded.data), embedded.size);
      EXPECT_EQ(ReadAll(tool.path), expected);
    }
  }
  EXPECT_EQ(FindEmbeddedEngineResource(304).size, 0u);
  // The build's configuration, for the log.
  std::cout << BuildEncoderStatusReport() << "\n";
}

// --- The "Encoder-Status" text ------------------------------------------------

constexpr const char* kReportHead =
    "Encoder-Status\r\n\r\n"
    "WIC: verfügbar (eingebautes libjpeg-turbo / Fallback)\r\n";
constexpr const char* kReportTail =
    "\r\nFür die Ausführung sind keine Encoderdateien neben dem Programm erforderlich.\r\n"
    "Die eingebetteten statischen Werkzeuge werden beim Start in ein prozessbezogenes "
    "Verzeichnis im temporären Ordner entpackt und beim Beenden wieder entfernt.\r\n";
constexpr const char* kDeveloperNote =
    "\r\nHinweis für Entwickler: Der Build muss den CMake-Schritt cmake/BuildEncoders.cmake "
    "erfolgreich ausführen, damit alle drei Binärressourcen in das Programm aufgenommen "
    "werden.";
constexpr const char* kLoaded = "im Programm eingebettet und geladen (";
constexpr const char* kMissing = "eingebettete Ressource nicht verfügbar\r\n";

TEST_F(EngineStoreTest, StatusReportTextsAreExactAndNameEachToolsVersion) {
  GiveAllThreeTools();
  TestVersions()[kEngineResourceJpegli] = "jpegli 031a0077f579";
  TestVersions()[kEngineResourceMozjpeg] = "MozJPEG 4.0.3";
  ASSERT_TRUE(MaterializeEngines());
  const std::string folderLine = "Encoder-Ordner: " + Engines().engineFolder + "\r\n";
  EXPECT_EQ(BuildEncoderStatusReport(),
            std::string(kReportHead) + "Jpegli: " + kLoaded + "jpegli 031a0077f579)\r\n" +
                "MozJPEG cjpeg: " + kLoaded + "MozJPEG 4.0.3)\r\n" + "MozJPEG jpegtran: " +
                kLoaded + "Version unbekannt)\r\n" + folderLine + kReportTail);

  ASSERT_TRUE(DeleteFileAt(Engines().jpegtranPath));
  RefreshEngineAvailability();
  EXPECT_EQ(BuildEncoderStatusReport(),
            std::string(kReportHead) + "Jpegli: " + kLoaded + "jpegli 031a0077f579)\r\n" +
                "MozJPEG cjpeg: " + kLoaded + "MozJPEG 4.0.3)\r\n" + "MozJPEG jpegtran: " +
                kMissing + folderLine + kReportTail + kDeveloperNote);

  TestResources().clear();
  RemoveEngineFolder();
  EXPECT_FALSE(MaterializeEngines());
  EXPECT_EQ(BuildEncoderStatusReport(),
            std::string(kReportHead) + "Jpegli: " + kMissing + "MozJPEG cjpeg: " + kMissing +
                "MozJPEG jpegtran: " + kMissing + "Encoder-Ordner: " + Engines().engineFolder +
                "\r\n" + kReportTail + kDeveloperNote);
}

// --- The parent folder in a temporary folder shared by all users --------------

TEST_F(EngineStoreTest, FreshSharedParentIsCreatedPrivateWhateverTheUmask) {
  const ScopedUmask mask(0);
  EXPECT_EQ(PrivateEngineParentFolder(temp.path), SharedParent());
  EXPECT_EQ(ModeBits(SharedParent()), 0700);
}

TEST_F(EngineStoreTest, ExistingPrivateParentOfOursIsUsedAsItIs) {
  ASSERT_EQ(::mkdir(SharedParent().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(SharedParent().c_str(), 0755), 0);
  EXPECT_EQ(PrivateEngineParentFolder(temp.path), SharedParent());
  EXPECT_EQ(ModeBits(SharedParent()), 0755);
}

TEST_F(EngineStoreTest, SymbolicLinkAsParentIsNotUsed) {
  // Someone planted a link to a folder they control.
  const std::string planted = JoinPath(temp.path, "planted");
  ASSERT_EQ(::mkdir(planted.c_str(), 0700), 0);
  ASSERT_EQ(::symlink(planted.c_str(), SharedParent().c_str()), 0);
  GiveAllThreeTools();

  EXPECT_EQ(PrivateEngineParentFolder(temp.path), PerUserParent());
  ASSERT_TRUE(MaterializeEngines());
  EXPECT_TRUE(IsOwnEngineFolderIn(PerUserParent(), Engines().engineFolder));
  EXPECT_EQ(EngineFoldersIn(planted), 0);
}

TEST_F(EngineStoreTest, ParentWritableByOthersIsNotUsed) {
  ASSERT_EQ(::mkdir(SharedParent().c_str(), 0700), 0);
  ASSERT_EQ(::chmod(SharedParent().c_str(), 0777), 0);
  GiveAllThreeTools();
  ASSERT_TRUE(MaterializeEngines());
  EXPECT_TRUE(IsOwnEngineFolderIn(PerUserParent(), Engines().engineFolder));
  EXPECT_EQ(ModeBits(PerUserParent()), 0700);
  EXPECT_EQ(EngineFoldersIn(SharedParent()), 0);

  ASSERT_EQ(::chmod(SharedParent().c_str(), 0720), 0);  // group-writable is as bad
  EXPECT_EQ(PrivateEngineParentFolder(temp.path), PerUserParent());
}

TEST_F(EngineStoreTest, FileAsParentLeadsToThePerUserName) {
  WriteText(SharedParent(), "not a folder");
  EXPECT_EQ(PrivateEngineParentFolder(temp.path), PerUserParent());
  EXPECT_EQ(ReadAll(SharedParent()), "not a folder");
}

TEST_F(EngineStoreTest, ParentOwnedByAnotherUserIsNotUsed) {
  ASSERT_EQ(::mkdir(SharedParent().c_str(), 0700), 0);
  if (::chown(SharedParent().c_str(), ::geteuid() + 1, static_cast<gid_t>(-1)) != 0) {
    GTEST_SKIP() << "giving a folder away needs privileges";
  }
  EXPECT_EQ(PrivateEngineParentFolder(temp.path), PerUserParent());
}

TEST_F(EngineStoreTest, WhenBothParentNamesAreTakenTheToolsStillRunFromAnUnguessableFolder) {
  // Another local user made both names first.
  const std::string planted = JoinPath(temp.path, "planted");
  ASSERT_EQ(::mkdir(planted.c_str(), 0700), 0);
  ASSERT_EQ(::symlink(planted.c_str(), SharedParent().c_str()), 0);
  ASSERT_EQ(::mkdir(PerUserParent().c_str(), 0700), 0);
  ASSERT_EQ(::chmod(PerUserParent().c_str(), 0777), 0);
  const std::string runtime = MakeTemporaryFolderIn(temp.path);
  GiveAllThreeTools();
  {
    const ScopedEnvironment xdg("XDG_RUNTIME_DIR", std::nullopt);
    EXPECT_EQ(PrivateEngineParentFolder(temp.path), temp.path);
    ASSERT_TRUE(MaterializeEngines());
    const EngineStore& store = Engines();
    EXPECT_TRUE(IsOwnEngineFolderIn(temp.path, store.engineFolder)) << store.engineFolder;
    EXPECT_EQ(ModeBits(store.engineFolder), 0700);
    EXPECT_NE(BuildEncoderStatusReport().find("Encoder-Ordner: " + store.engineFolder + "\r\n"),
              std::string::npos);
    RemoveEngineFolder();
  }
  {
    const ScopedEnvironment xdg("XDG_RUNTIME_DIR", runtime);
    EXPECT_EQ(PrivateEngineParentFolder(temp.path), JoinPath(runtime, "OrvelJpegOptimizer"));
  }
  EXPECT_EQ(EngineFoldersIn(planted) + EngineFoldersIn(PerUserParent()), 0);
}

TEST_F(EngineStoreTest, NamesPreparedAtThePidsEngineFolderAreNeitherUsedNorRemoved) {
  ASSERT_EQ(::mkdir(SharedParent().c_str(), 0700), 0);
  const std::string planted = JoinPath(temp.path, "planted");
  ASSERT_EQ(::mkdir(planted.c_str(), 0700), 0);
  WriteText(JoinPath(planted, "keep"), "keep");
  // A link and a folder open to others, at names derived from our pid.
  const std::string stem = JoinPath(SharedParent(), EngineFolderName(CurrentProcessId()));
  ASSERT_EQ(::symlink(planted.c_str(), stem.c_str()), 0);
  ASSERT_EQ(::mkdir((stem + "_open").c_str(), 0777), 0);
  ASSERT_EQ(::chmod((stem + "_open").c_str(), 0777), 0);
  GiveAllThreeTools();

  ASSERT_TRUE(MaterializeEngines());
  EXPECT_TRUE(IsOwnEngineFolderIn(SharedParent(), Engines().engineFolder));
  RemoveEngineFolder();
  EXPECT_TRUE(IsSymbolicLink(stem));
  EXPECT_TRUE(IsDirectory(stem + "_open"));
  EXPECT_EQ(ReadAll(JoinPath(planted, "keep")), "keep");
  EXPECT_FALSE(PathExists(JoinPath(planted, "cjpegli")));
}

// A writable folder on a noexec mount of this machine, when there is one.
std::string FindWritableNoExecFolder() {
  FILE* mounts = ::setmntent("/proc/self/mounts", "r");
  if (mounts == nullptr) return std::string();
  std::string found;
  while (const mntent* entry = ::getmntent(mounts)) {
    if (::hasmntopt(entry, "noexec") == nullptr || ::hasmntopt(entry, "ro") != nullptr) continue;
    const std::string folder = MakeTemporaryFolderIn(entry->mnt_dir);
    if (!folder.empty()) {
      found = folder;
      break;
    }
  }
  ::endmntent(mounts);
  return found;
}

TEST_F(EngineStoreTest, NoExecTemporaryFolderGivesWayToTheRuntimeFolder) {
  const std::string noexecTemp = FindWritableNoExecFolder();
  if (noexecTemp.empty()) GTEST_SKIP() << "no writable noexec file system here";
  const std::string runtime = MakeTemporaryFolderIn(temp.path);
  struct statvfs info{};
  ASSERT_EQ(::statvfs(runtime.c_str(), &info), 0);
  if ((info.f_flag & ST_NOEXEC) != 0) {
    RemoveFolderTree(noexecTemp);
    GTEST_SKIP() << "the test's own temporary folder is noexec too";
  }

  {
    const ScopedEnvironment xdg("XDG_RUNTIME_DIR", runtime);
    EXPECT_EQ(PrivateEngineParentFolder(noexecTemp), JoinPath(runtime, "OrvelJpegOptimizer"));
  }
  {
    const ScopedEnvironment xdg("XDG_RUNTIME_DIR", std::nullopt);
    EXPECT_EQ(PrivateEngineParentFolder(noexecTemp), "");
  }
  {
    ASSERT_EQ(::chmod(runtime.c_str(), 0777), 0);  // not private: not used
    const ScopedEnvironment xdg("XDG_RUNTIME_DIR", runtime);
    EXPECT_EQ(PrivateEngineParentFolder(noexecTemp), "");
  }
  EXPECT_FALSE(PathExists(JoinPath(noexecTemp, "OrvelJpegOptimizer")));
  RemoveFolderTree(noexecTemp);
}

}  // namespace
