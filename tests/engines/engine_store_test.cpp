// Tests of the engine store: writing and verifying tool resources, the engine
// folder and its private parent in a shared temporary folder, availability,
// the "Encoder-Status" text, and a real executable run from the engine folder.
#include "engines/engine_store.h"

#include <mntent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <map>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tests/support/file_system.h"
#include "tests/support/scoped_temp.h"

namespace {

// The resources (and their version texts) the test lookup hands out; an
// absent id is a missing resource.
std::map<int, std::string> resources, versions;

EngineResource LookUpTestResource(int resourceId) {
  const auto found = resources.find(resourceId);
  if (found == resources.end()) return EngineResource{};
  return EngineResource{reinterpret_cast<const std::uint8_t*>(found->second.data()), found->second.size(),
                        versions[resourceId].c_str()};
}

std::string ElfBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = i < 4 ? "\x7F" "ELF"[i] : static_cast<char>(i * 7 % 251);
  return bytes;
}

// Permission bits (07777) of a path, links not followed; -1 when absent.
int ModeBits(const std::string& path) {
  struct stat info{};
  return ::lstat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

// A fresh folder below `base`; empty on failure.
std::string MakeFolderIn(const std::string& base) {
  std::string pattern = JoinPath(base, "orvel-app-test-XXXXXX");
  return ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

// Names in `folder` that look like engine folders.
int EngineFoldersIn(const std::string& folder) {
  const std::vector<std::string> names = FolderEntries(folder);
  return static_cast<int>(std::count_if(names.begin(), names.end(), [](const std::string& name) {
    return name.rfind("engines_", 0) == 0;
  }));
}

class EngineStoreTest : public ::testing::Test {
 protected:
  ScopedTempFolder temp;
  ScopedEnv tmpdir{"TMPDIR", temp.path.c_str()};
  const std::string shared = temp.Join("OrvelJpegOptimizer");
  const std::string perUser = temp.Join("OrvelJpegOptimizer-" + std::to_string(::geteuid()));

  void SetUp() override {
    ASSERT_FALSE(temp.path.empty());
    resources.clear();
    versions.clear();
    SetEngineResourceLookup(LookUpTestResource);
  }
  void TearDown() override {
    RemoveEngineFolder();
    SetEngineResourceLookup(nullptr);
    SetFileSystemCalls(nullptr);
  }
  // True when `folder` is one of this process's engine folders in `parent`:
  // the pid's name and an unpredictable suffix.
  static bool IsOwnEngineFolderIn(const std::string& parent, const std::string& folder) {
    const std::string stem = EngineFolderName(CurrentProcessId()) + "_";
    return ParentFolder(folder) == parent && FileNamePart(folder).rfind(stem, 0) == 0 &&
           FileNamePart(folder).size() == stem.size() + 12;
  }
  static void GiveAllThreeTools() {
    resources = {{kEngineResourceJpegli, ElfBytes(4096)}, {kEngineResourceMozjpeg, ElfBytes(5000)},
                 {kEngineResourceJpegtran, ElfBytes(6000)}};
  }
  // A link at `link` to a new folder "planted", as another local user could make it.
  std::string PlantLink(const std::string& link) {
    const std::string planted = temp.Join("planted");
    EXPECT_TRUE(EnsureFolder(planted, 0700));
    EXPECT_EQ(::symlink(planted.c_str(), link.c_str()), 0);
    return planted;
  }
};

// --- Writing one resource ----------------------------------------------------

ssize_t WriteFailsWithFullDisk(int fd, const void* data, size_t size) {
  // Half of the first chunk arrives, then the disk is full.
  static thread_local bool first = true;
  first = !first;
  if (!first) return ::write(fd, data, size / 2);
  errno = ENOSPC;
  return -1;
}

TEST_F(EngineStoreTest, OnlyACompleteElfOfAtLeastTheMinimumSizeIsWritten) {
  std::string windowsExecutable = ElfBytes(8192);
  windowsExecutable.replace(0, 4, "MZ\x90\x00", 4);
  resources = {{kEngineResourceJpegli, ElfBytes(4095)}, {kEngineResourceMozjpeg, windowsExecutable},
               {kEngineResourceJpegtran, ElfBytes(100000)}};
  for (const int id : {kEngineResourceJpegli, kEngineResourceMozjpeg, kEngineResourceJpegtran, 304}) {
    const std::string path = temp.Join("tool" + std::to_string(id));
    {
      ScopedFileSystemCalls failing;
      failing.calls.write = WriteFailsWithFullDisk;
      if (id == kEngineResourceJpegtran) failing.Install();
      EXPECT_FALSE(WriteEngineResource(id, path)) << id;
    }
    EXPECT_FALSE(PathExists(path)) << id << ": no partial tool";
  }
}

TEST_F(EngineStoreTest, ResourceIsWrittenCompletelyWithMode0700ReplacingWhateverHeldTheName) {
  resources = {{kEngineResourceJpegli, ElfBytes(4096)}};
  const std::string path = temp.Join("cjpegli"), outside = temp.Join("someone-elses-file");
  ASSERT_TRUE(WriteTextFile(outside, "precious"));
  ASSERT_EQ(::symlink(outside.c_str(), path.c_str()), 0);
  {
    // A umask that strips the owner's execute bit must not leave the tool unrunnable.
    const mode_t previous = ::umask(0177);
    EXPECT_TRUE(WriteEngineResource(kEngineResourceJpegli, path));
    ::umask(previous);
  }
  EXPECT_FALSE(IsSymbolicLink(path));
  EXPECT_EQ(ReadTextFile(path), resources[kEngineResourceJpegli]);
  EXPECT_EQ(ModeBits(path), 0700);
  EXPECT_EQ(ReadTextFile(outside), "precious");
  // A stale file with other bits is replaced too and ends up 0700.
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  ASSERT_TRUE(WriteEngineResource(kEngineResourceJpegli, path));
  EXPECT_EQ(ModeBits(path), 0700);
}

// --- Materialising the three tools -------------------------------------------

TEST_F(EngineStoreTest, AllThreeToolsAreWrittenIntoAPrivatePerProcessFolder) {
  GiveAllThreeTools();
  EXPECT_TRUE(MaterializeEngines());
  const EngineStore& store = Engines();
  const std::string folder = store.engineFolder;
  EXPECT_TRUE(IsOwnEngineFolderIn(shared, folder)) << folder;
  EXPECT_EQ(FileNamePart(folder).rfind("engines_1.3.3_" + std::to_string(::getpid()) + "_", 0), 0u);
  EXPECT_EQ(store.jpegliPath + "|" + store.mozjpegPath + "|" + store.jpegtranPath,
            folder + "/cjpegli|" + folder + "/cjpeg-static|" + folder + "/jpegtran-static");
  EXPECT_TRUE(store.jpegliAvailable && store.mozjpegAvailable && store.jpegtranAvailable && store.allAvailable);
  EXPECT_EQ(ModeBits(shared), 0700);
  EXPECT_EQ(ModeBits(folder), 0700);
  EXPECT_EQ(ModeBits(store.mozjpegPath), 0700);
  EXPECT_EQ(ReadTextFile(store.mozjpegPath), resources[kEngineResourceMozjpeg]);
}

TEST_F(EngineStoreTest, ToolsThatCannotBeWrittenAreUnavailableAndTheOthersStayUsable) {
  std::string notElf = ElfBytes(4096);
  notElf[1] = 'X';
  resources = {{kEngineResourceJpegli, ElfBytes(4096)}, {kEngineResourceMozjpeg, notElf}};  // jpegtran not embedded
  EXPECT_FALSE(MaterializeEngines());
  const EngineStore& store = Engines();
  EXPECT_TRUE(store.jpegliAvailable);
  EXPECT_FALSE(store.mozjpegAvailable || store.jpegtranAvailable || store.allAvailable);
  // The paths are set even for the missing tools; the flags alone decide.
  EXPECT_FALSE(store.mozjpegPath.empty() || store.jpegtranPath.empty());
  EXPECT_FALSE(PathExists(store.mozjpegPath) || PathExists(store.jpegtranPath));
}

TEST_F(EngineStoreTest, RealExecutableIsMaterialisedAndRunsFromTheEngineFolder) {
  ASSERT_TRUE(ReadFileBytes(ORVEL_TEST_TOOL_HELPER, resources[kEngineResourceJpegtran]));
  MaterializeEngines();
  const EngineStore& store = Engines();
  ASSERT_TRUE(store.jpegtranAvailable);
  const std::string output = temp.Join("helper-output.txt");
  ASSERT_TRUE(RunTool(store.jpegtranPath, {"-copy", "none", "a path with spaces.jpg"}, output, store.engineFolder));
  EXPECT_EQ(ReadTextFile(output), "-copy\nnone\na path with spaces.jpg\n");
}

TEST_F(EngineStoreTest, RefreshFollowsTheToolFilesOnDisk) {
  GiveAllThreeTools();
  ASSERT_TRUE(MaterializeEngines());
  EngineStore& store = Engines();
  ASSERT_TRUE(DeleteFileAt(store.jpegliPath) && DeleteFileAt(store.jpegtranPath));
  ASSERT_EQ(::mkdir(store.jpegliPath.c_str(), 0700), 0);  // a folder is not a tool
  RefreshEngineAvailability();
  EXPECT_TRUE(store.mozjpegAvailable);
  EXPECT_FALSE(store.jpegliAvailable || store.jpegtranAvailable || store.allAvailable);
  // Existence is the only test: any regular file counts again.
  ASSERT_TRUE(WriteTextFile(store.jpegtranPath, "x"));
  RefreshEngineAvailability();
  EXPECT_TRUE(store.jpegtranAvailable);
}

TEST_F(EngineStoreTest, RemoveEngineFolderRemovesOnlyThisProcessFolder) {
  GiveAllThreeTools();
  ASSERT_TRUE(MaterializeEngines());
  const std::string ours = Engines().engineFolder;
  // Another process's folder beside ours, as a second instance would make it.
  const std::string theirs = JoinPath(shared, EngineFolderName(CurrentProcessId() + 1));
  ASSERT_NE(ours, theirs);
  ASSERT_TRUE(EnsureFolder(theirs, 0700) && WriteTextFile(JoinPath(theirs, "cjpegli"), "theirs"));
  RemoveEngineFolder();
  EXPECT_FALSE(PathExists(ours));
  EXPECT_TRUE(IsDirectory(shared));
  EXPECT_EQ(ReadTextFile(JoinPath(theirs, "cjpegli")), "theirs");
  EXPECT_FALSE(Engines().allAvailable);
  RemoveEngineFolder();  // shutdown may run it again
  EXPECT_TRUE(IsDirectory(theirs));
}

TEST_F(EngineStoreTest, EmbeddedResourcesAreMaterialisedByteForByte) {
  SetEngineResourceLookup(nullptr);
  MaterializeEngines();
  const EngineStore& store = Engines();
  const std::tuple<int, const std::string&, bool> tools[] = {
      {kEngineResourceJpegli, store.jpegliPath, store.jpegliAvailable},
      {kEngineResourceMozjpeg, store.mozjpegPath, store.mozjpegAvailable},
      {kEngineResourceJpegtran, store.jpegtranPath, store.jpegtranAvailable}};
  for (const auto& [id, path, available] : tools) {
    // Whatever this build embedded is a complete executable and is available.
    const EngineResource embedded = FindEmbeddedEngineResource(id);
    EXPECT_EQ(available, embedded.size > 0) << id;
    EXPECT_TRUE(embedded.size == 0 ||
                ReadTextFile(path) == std::string(reinterpret_cast<const char*>(embedded.data), embedded.size)) << id;
  }
  EXPECT_EQ(FindEmbeddedEngineResource(304).size, 0u);
  std::cout << BuildEncoderStatusReport() << "\n";  // the build's configuration, for the log
}

TEST_F(EngineStoreTest, StatusReportTextsAreExactAndNameEachToolsVersion) {
  GiveAllThreeTools();
  versions = {{kEngineResourceJpegli, "jpegli 031a0077f579"}, {kEngineResourceMozjpeg, "MozJPEG 4.0.3"}};
  ASSERT_TRUE(MaterializeEngines());
  const std::string head = "Encoder-Status\r\n\r\nWIC: verfügbar (eingebautes libjpeg-turbo / Fallback)\r\n";
  const std::string loaded = "im Programm eingebettet und geladen (", missing = "eingebettete Ressource nicht verfügbar\r\n";
  const std::string tail =
      "\r\nFür die Ausführung sind keine Encoderdateien neben dem Programm erforderlich.\r\nDie eingebetteten "
      "statischen Werkzeuge werden beim Start in ein prozessbezogenes Verzeichnis im temporären Ordner entpackt und "
      "beim Beenden wieder entfernt.\r\n";
  const std::string note = "\r\nHinweis für Entwickler: Der Build muss den CMake-Schritt cmake/BuildEncoders.cmake "
                           "erfolgreich ausführen, damit alle drei Binärressourcen in das Programm aufgenommen werden.";
  const std::string folderLine = "Encoder-Ordner: " + Engines().engineFolder + "\r\n";
  const std::string twoLoaded = head + "Jpegli: " + loaded + "jpegli 031a0077f579)\r\nMozJPEG cjpeg: " + loaded +
                                "MozJPEG 4.0.3)\r\nMozJPEG jpegtran: ";
  EXPECT_EQ(BuildEncoderStatusReport(), twoLoaded + loaded + "Version unbekannt)\r\n" + folderLine + tail);
  ASSERT_TRUE(DeleteFileAt(Engines().jpegtranPath));
  RefreshEngineAvailability();
  EXPECT_EQ(BuildEncoderStatusReport(), twoLoaded + missing + folderLine + tail + note);
  resources.clear();
  RemoveEngineFolder();
  EXPECT_FALSE(MaterializeEngines());
  EXPECT_EQ(BuildEncoderStatusReport(), head + "Jpegli: " + missing + "MozJPEG cjpeg: " + missing + "MozJPEG jpegtran: " +
                                            missing + "Encoder-Ordner: " + Engines().engineFolder + "\r\n" + tail + note);
}

// --- The parent folder in a temporary folder shared by all users --------------

TEST_F(EngineStoreTest, SharedParentIsCreatedPrivateOrUsedAsItIsWhenOurs) {
  const mode_t previous = ::umask(0);
  EXPECT_EQ(PrivateEngineParentFolder(temp.path), shared);
  ::umask(previous);
  EXPECT_EQ(ModeBits(shared), 0700);
  ASSERT_EQ(::chmod(shared.c_str(), 0755), 0);
  EXPECT_EQ(PrivateEngineParentFolder(temp.path), shared);
  EXPECT_EQ(ModeBits(shared), 0755);
}

TEST_F(EngineStoreTest, ALinkAFileOrAParentOpenToOthersIsNotUsed) {
  // Someone planted a link to a folder they control.
  const std::string planted = PlantLink(shared);
  GiveAllThreeTools();
  EXPECT_EQ(PrivateEngineParentFolder(temp.path), perUser);
  ASSERT_TRUE(MaterializeEngines());
  EXPECT_TRUE(IsOwnEngineFolderIn(perUser, Engines().engineFolder));
  EXPECT_EQ(EngineFoldersIn(planted), 0);
  RemoveEngineFolder();
  ASSERT_TRUE(DeleteFileAt(shared) && RemoveFolderTree(perUser));
  // A file leads to the per-user name and stays as it was.
  ASSERT_TRUE(WriteTextFile(shared, "not a folder"));
  EXPECT_EQ(PrivateEngineParentFolder(temp.path), perUser);
  EXPECT_EQ(ReadTextFile(shared), "not a folder");
  ASSERT_TRUE(DeleteFileAt(shared) && RemoveFolderTree(perUser));
  // So does a folder writable by others, or by the group.
  ASSERT_EQ(::mkdir(shared.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
  ASSERT_TRUE(MaterializeEngines());
  EXPECT_TRUE(IsOwnEngineFolderIn(perUser, Engines().engineFolder));
  EXPECT_EQ(ModeBits(perUser), 0700);
  EXPECT_EQ(EngineFoldersIn(shared), 0);
  ASSERT_EQ(::chmod(shared.c_str(), 0720), 0);
  EXPECT_EQ(PrivateEngineParentFolder(temp.path), perUser);
  // And one owned by another user, where the test may give one away.
  ASSERT_EQ(::chmod(shared.c_str(), 0700), 0);
  if (::chown(shared.c_str(), ::geteuid() + 1, static_cast<gid_t>(-1)) != 0) return;
  EXPECT_EQ(PrivateEngineParentFolder(temp.path), perUser);
}

TEST_F(EngineStoreTest, WhenBothParentNamesAreTakenTheToolsStillRunFromAnUnguessableFolder) {
  // Another local user made both names first.
  const std::string planted = PlantLink(shared);
  ASSERT_EQ(::mkdir(perUser.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(perUser.c_str(), 0777), 0);
  const std::string runtime = MakeFolderIn(temp.path);
  GiveAllThreeTools();
  {
    const ScopedEnv xdg("XDG_RUNTIME_DIR", nullptr);
    EXPECT_EQ(PrivateEngineParentFolder(temp.path), temp.path);
    ASSERT_TRUE(MaterializeEngines());
    const EngineStore& store = Engines();
    EXPECT_TRUE(IsOwnEngineFolderIn(temp.path, store.engineFolder)) << store.engineFolder;
    EXPECT_EQ(ModeBits(store.engineFolder), 0700);
    EXPECT_NE(BuildEncoderStatusReport().find("Encoder-Ordner: " + store.engineFolder + "\r\n"), std::string::npos);
    RemoveEngineFolder();
  }
  {
    const ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.c_str());
    EXPECT_EQ(PrivateEngineParentFolder(temp.path), JoinPath(runtime, "OrvelJpegOptimizer"));
  }
  EXPECT_EQ(EngineFoldersIn(planted) + EngineFoldersIn(perUser), 0);
}

TEST_F(EngineStoreTest, NamesPreparedAtThePidsEngineFolderAreNeitherUsedNorRemoved) {
  ASSERT_EQ(::mkdir(shared.c_str(), 0700), 0);
  // A link and a folder open to others, at names derived from our pid.
  const std::string stem = JoinPath(shared, EngineFolderName(CurrentProcessId()));
  const std::string planted = PlantLink(stem);
  ASSERT_TRUE(WriteTextFile(JoinPath(planted, "keep"), "keep"));
  ASSERT_EQ(::mkdir((stem + "_open").c_str(), 0777), 0);
  ASSERT_EQ(::chmod((stem + "_open").c_str(), 0777), 0);
  GiveAllThreeTools();
  ASSERT_TRUE(MaterializeEngines());
  EXPECT_TRUE(IsOwnEngineFolderIn(shared, Engines().engineFolder));
  RemoveEngineFolder();
  EXPECT_TRUE(IsSymbolicLink(stem));
  EXPECT_TRUE(IsDirectory(stem + "_open"));
  EXPECT_EQ(ReadTextFile(JoinPath(planted, "keep")), "keep");
  EXPECT_FALSE(PathExists(JoinPath(planted, "cjpegli")));
}

// A writable folder on a noexec mount of this machine, when there is one.
std::string FindWritableNoExecFolder() {
  std::string found;
  FILE* mounts = ::setmntent("/proc/self/mounts", "r");
  for (const mntent* entry; mounts != nullptr && found.empty() && (entry = ::getmntent(mounts)) != nullptr;) {
    if (::hasmntopt(entry, "noexec") != nullptr && ::hasmntopt(entry, "ro") == nullptr) found = MakeFolderIn(entry->mnt_dir);
  }
  if (mounts != nullptr) ::endmntent(mounts);
  return found;
}

TEST_F(EngineStoreTest, NoExecTemporaryFolderGivesWayToTheRuntimeFolder) {
  const std::string noexecTemp = FindWritableNoExecFolder(), runtime = MakeFolderIn(temp.path);
  if (noexecTemp.empty()) GTEST_SKIP() << "no writable noexec file system here";
  struct statvfs info{};
  ASSERT_EQ(::statvfs(runtime.c_str(), &info), 0);
  if ((info.f_flag & ST_NOEXEC) != 0) {
    RemoveFolderTree(noexecTemp);
    GTEST_SKIP() << "the test's own temporary folder is noexec too";
  }
  {
    const ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.c_str());
    EXPECT_EQ(PrivateEngineParentFolder(noexecTemp), JoinPath(runtime, "OrvelJpegOptimizer"));
  }
  {
    const ScopedEnv xdg("XDG_RUNTIME_DIR", nullptr);
    EXPECT_EQ(PrivateEngineParentFolder(noexecTemp), "");
  }
  ASSERT_EQ(::chmod(runtime.c_str(), 0777), 0);  // not private: not used
  {
    const ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.c_str());
    EXPECT_EQ(PrivateEngineParentFolder(noexecTemp), "");
  }
  EXPECT_FALSE(PathExists(JoinPath(noexecTemp, "OrvelJpegOptimizer")));
  RemoveFolderTree(noexecTemp);
}

}  // namespace
