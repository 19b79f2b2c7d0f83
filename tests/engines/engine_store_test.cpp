// Tests of the engine store: writing and verifying tool resources, the engine
// folder and its private parent in a shared temporary folder, availability,
// the "Encoder-Status" text, and a real executable run from the engine folder.
#include "engines/engine_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <optional>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tests/support/fault_calls.h"
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

// True when `folder` holds anything that looks like an engine folder.
bool HasEngineFolders(const std::string& folder) {
  for (const std::string& name : FolderEntries(folder)) {
    if (name.rfind("engines_", 0) == 0) return true;
  }
  return false;
}

class EngineStoreTest : public ::testing::Test {
 protected:
  ScopedTempFolder temp;
  ScopedEnv tmpdir{"TMPDIR", temp.path.c_str()};
  const std::string shared = temp.Join("OrvelJpegOptimizer");
  const std::string perUser = temp.Join("OrvelJpegOptimizer-" + std::to_string(::geteuid()));

  void SetUp() override {
    ASSERT_FALSE(temp.path.empty());
    resources = {{kEngineResourceJpegli, ElfBytes(4096)}, {kEngineResourceMozjpeg, ElfBytes(5000)},
                 {kEngineResourceJpegtran, ElfBytes(6000)}};
    versions.clear();
    SetEngineResourceLookup(LookUpTestResource);
  }
  void TearDown() override {
    RemoveEngineFolder();
    SetEngineResourceLookup(nullptr);
    SetFileSystemCalls(nullptr);
  }
  // Materialises the tools and expects this process's engine folder in
  // `parent`: the pid's name and an unpredictable suffix.
  static void ExpectMaterializedIn(const std::string& parent) {
    ASSERT_TRUE(MaterializeEngines());
    const std::string folder = Engines().engineFolder, stem = EngineFolderName(CurrentProcessId()) + "_";
    EXPECT_EQ(ParentFolder(folder), parent);
    EXPECT_TRUE(FileNamePart(folder).rfind(stem, 0) == 0 && FileNamePart(folder).size() == stem.size() + 12) << folder;
    EXPECT_EQ(ModeBits(folder), 0700);
  }
  // A temporary folder that fills up after the first kilobyte of a file.
  FaultPlan FullDisk() const { return {.pathPart = temp.path, .writeErrno = ENOSPC, .writeBudget = 1000}; }
  // A link at `link` to a new folder "planted", as another local user could make it.
  std::string PlantLink(const std::string& link) {
    const std::string planted = temp.Join("planted");
    EXPECT_TRUE(EnsureFolder(planted, 0700));
    EXPECT_EQ(::symlink(planted.c_str(), link.c_str()), 0);
    return planted;
  }
};

// --- Writing one resource ----------------------------------------------------

const std::string kFullDiskProblem =
    "eingebettet, konnte aber nicht in den Encoder-Ordner geschrieben werden (kein Platz mehr im temporären Ordner)";

TEST_F(EngineStoreTest, OnlyACompleteElfIsWrittenAndToolsThatCannotBeAreUnavailable) {
  std::string windowsExecutable = ElfBytes(8192);
  windowsExecutable.replace(0, 4, "MZ\x90\x00", 4);
  resources = {{kEngineResourceJpegli, ElfBytes(4095)}, {kEngineResourceMozjpeg, windowsExecutable},
               {kEngineResourceJpegtran, ElfBytes(100000)}};
  const std::pair<int, std::string> cases[] = {
      {kEngineResourceJpegli, "eingebettete Ressource ist zu klein, um ein Programm zu sein"},
      {kEngineResourceMozjpeg, "eingebettete Ressource ist kein ausführbares Linux-Programm"},
      {kEngineResourceJpegtran, kFullDiskProblem},
      {304, "nicht in dieses Programm eingebettet"}};
  for (const auto& [id, why] : cases) {
    const std::string path = temp.Join("tool" + std::to_string(id));
    std::string problem;
    {
      std::optional<ScopedFaults> full;
      if (id == kEngineResourceJpegtran) full.emplace(FullDisk());
      EXPECT_FALSE(WriteEngineResource(id, path, &problem)) << id;
    }
    EXPECT_EQ(problem, why);
    EXPECT_FALSE(PathExists(path)) << id << ": no partial tool";
  }
  resources.erase(kEngineResourceJpegli);  // not embedded
  EXPECT_FALSE(MaterializeEngines());
  const EngineStore& store = Engines();
  EXPECT_TRUE(store.jpegtranAvailable);
  // Only what was embedded and still failed is news for a run.
  EXPECT_EQ(DescribeUnusableEmbeddedEngines(),
            "MozJPEG cjpeg nicht verfügbar \u2013 eingebettete Ressource ist kein ausführbares Linux-Programm\n");
  EXPECT_FALSE(store.jpegliAvailable || store.mozjpegAvailable || store.allAvailable);
  // The paths are set even for the missing tools; the flags alone decide.
  EXPECT_FALSE(store.jpegliPath.empty() || store.mozjpegPath.empty());
  EXPECT_FALSE(PathExists(store.jpegliPath) || PathExists(store.mozjpegPath));
}

// A full temporary folder is named as the cause, for every tool.
TEST_F(EngineStoreTest, ToolsThatCannotBeWrittenOutAreBlamedOnTheTemporaryFolder) {
  {
    ScopedFaults full(FullDisk());
    EXPECT_FALSE(MaterializeEngines());
  }
  EXPECT_EQ(DescribeUnusableEmbeddedEngines(), "Jpegli nicht verfügbar \u2013 " + kFullDiskProblem +
                                                   "\nMozJPEG cjpeg nicht verfügbar \u2013 " + kFullDiskProblem +
                                                   "\nMozJPEG jpegtran nicht verfügbar \u2013 " + kFullDiskProblem + "\n");
  const std::string report = BuildEncoderStatusReport();
  EXPECT_NE(report.find("Jpegli: nicht verfügbar \u2013 " + kFullDiskProblem + "\r\n"), std::string::npos) << report;
  EXPECT_EQ(report.find("Hinweis für Entwickler"), std::string::npos) << report;
}

TEST_F(EngineStoreTest, ResourceIsWrittenCompletelyWithMode0700ReplacingWhateverHeldTheName) {
  const std::string path = temp.Join("cjpegli"), outside = temp.Join("someone-elses-file");
  ASSERT_TRUE(WriteTextFile(outside, "precious"));
  ASSERT_EQ(::symlink(outside.c_str(), path.c_str()), 0);
  // A umask that strips the owner's execute bit must not leave the tool unrunnable.
  const mode_t previous = ::umask(0177);
  EXPECT_TRUE(WriteEngineResource(kEngineResourceJpegli, path));
  ::umask(previous);
  EXPECT_FALSE(IsSymbolicLink(path));
  EXPECT_EQ(ReadTextFile(path), resources[kEngineResourceJpegli]);
  EXPECT_EQ(ModeBits(path), 0700);
  EXPECT_EQ(ReadTextFile(outside), "precious");
  // A stale file with other bits is replaced too and ends up 0700.
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  ASSERT_TRUE(WriteEngineResource(kEngineResourceJpegli, path));
  EXPECT_EQ(ModeBits(path), 0700);
}

// --- Materialising, refreshing and removing the three tools ------------------

TEST_F(EngineStoreTest, ToolsLiveInAPrivatePerProcessFolderUntilOnlyItIsRemoved) {
  const mode_t previous = ::umask(0);  // the shared parent is made private whatever the umask
  ExpectMaterializedIn(shared);
  ::umask(previous);
  EngineStore& store = Engines();
  const std::string folder = store.engineFolder;
  EXPECT_EQ(FileNamePart(folder).rfind("engines_1.3.3_" + std::to_string(::getpid()) + "_", 0), 0u);
  EXPECT_EQ(store.jpegliPath + "|" + store.mozjpegPath + "|" + store.jpegtranPath,
            folder + "/cjpegli|" + folder + "/cjpeg-static|" + folder + "/jpegtran-static");
  EXPECT_TRUE(store.jpegliAvailable && store.mozjpegAvailable && store.jpegtranAvailable && store.allAvailable);
  EXPECT_EQ(ModeBits(shared), 0700);
  EXPECT_EQ(ModeBits(store.mozjpegPath), 0700);
  EXPECT_EQ(ReadTextFile(store.mozjpegPath), resources[kEngineResourceMozjpeg]);
  // Refresh follows the files on disk; existence of a regular file is the only test.
  ASSERT_TRUE(DeleteFileAt(store.jpegliPath) && DeleteFileAt(store.jpegtranPath));
  ASSERT_EQ(::mkdir(store.jpegliPath.c_str(), 0700), 0);  // a folder is not a tool
  RefreshEngineAvailability();
  EXPECT_TRUE(store.mozjpegAvailable);
  EXPECT_FALSE(store.jpegliAvailable || store.jpegtranAvailable || store.allAvailable);
  ASSERT_TRUE(WriteTextFile(store.jpegtranPath, "x"));
  RefreshEngineAvailability();
  EXPECT_TRUE(store.jpegtranAvailable);
  // Another process's folder beside ours, as a second instance would make it, stays.
  const std::string theirs = JoinPath(shared, EngineFolderName(CurrentProcessId() + 1));
  ASSERT_TRUE(EnsureFolder(theirs, 0700) && WriteTextFile(JoinPath(theirs, "cjpegli"), "theirs"));
  RemoveEngineFolder();
  EXPECT_FALSE(PathExists(folder));
  EXPECT_FALSE(store.allAvailable);
  RemoveEngineFolder();  // shutdown may run it again
  EXPECT_EQ(ReadTextFile(JoinPath(theirs, "cjpegli")), "theirs");
  // Our own shared parent is used as it is, even when others may read it.
  ASSERT_EQ(::chmod(shared.c_str(), 0755), 0);
  EXPECT_EQ(PrivateEngineParentFolder(temp.path), shared);
  EXPECT_EQ(ModeBits(shared), 0755);
}

TEST_F(EngineStoreTest, RealExecutableIsMaterialisedAndRunsFromTheEngineFolder) {
  ASSERT_TRUE(ReadFileBytes(ORVEL_TEST_TOOL_HELPER, resources[kEngineResourceJpegtran]));
  ASSERT_TRUE(MaterializeEngines());
  const std::string output = temp.Join("helper-output.txt");
  ASSERT_TRUE(RunTool(Engines().jpegtranPath, {"-copy", "none", "a path with spaces.jpg"}, output,
                      Engines().engineFolder));
  EXPECT_EQ(ReadTextFile(output), "-copy\nnone\na path with spaces.jpg\n");
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
}

TEST_F(EngineStoreTest, StatusReportTextsAreExactAndNameEachToolsVersion) {
  versions = {{kEngineResourceJpegli, "jpegli 031a0077f579"}, {kEngineResourceMozjpeg, "MozJPEG 4.0.3"}};
  ASSERT_TRUE(MaterializeEngines());
  const std::string head = "Encoder-Status\r\n\r\nWIC: verfügbar (eingebautes libjpeg-turbo / Fallback)\r\n";
  const std::string loaded = "im Programm eingebettet und geladen (", missing = "nicht verfügbar \u2013 nicht in dieses Programm eingebettet\r\n";
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
  // Embedded but gone: said so, and the build is not blamed.
  EXPECT_EQ(BuildEncoderStatusReport(), twoLoaded +
                                            "nicht verfügbar \u2013 eingebettet, aber die Datei im Encoder-Ordner "
                                            "fehlt (entfernt?)\r\n" + folderLine + tail);
  resources.clear();
  RemoveEngineFolder();
  EXPECT_FALSE(MaterializeEngines());
  EXPECT_EQ(BuildEncoderStatusReport(), head + "Jpegli: " + missing + "MozJPEG cjpeg: " + missing + "MozJPEG jpegtran: " +
                                            missing + "Encoder-Ordner: " + Engines().engineFolder + "\r\n" + tail + note);
}

// --- The parent folder in a temporary folder shared by all users --------------

TEST_F(EngineStoreTest, ALinkAFileOrAParentOpenToOthersIsNotUsedEvenWhenBothNamesAreTaken) {
  // Someone planted a link to a folder they control.
  const std::string planted = PlantLink(shared);
  ExpectMaterializedIn(perUser);
  EXPECT_FALSE(HasEngineFolders(planted));
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
  ExpectMaterializedIn(perUser);
  EXPECT_EQ(ModeBits(perUser), 0700);
  EXPECT_FALSE(HasEngineFolders(shared));
  ASSERT_EQ(::chmod(shared.c_str(), 0720), 0);
  EXPECT_EQ(PrivateEngineParentFolder(temp.path), perUser);
  RemoveEngineFolder();
  // When the per-user name is taken too, an unguessable folder right in the
  // temporary folder, or the private runtime folder when there is one.
  ASSERT_EQ(::chmod(perUser.c_str(), 0777), 0);
  {
    const ScopedEnv xdg("XDG_RUNTIME_DIR", nullptr);
    ExpectMaterializedIn(temp.path);
    RemoveEngineFolder();
  }
  EXPECT_FALSE(HasEngineFolders(planted) || HasEngineFolders(perUser) || HasEngineFolders(shared));
  const std::string runtime = temp.Join("runtime");
  ASSERT_TRUE(EnsureFolder(runtime, 0700));
  {
    const ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.c_str());
    EXPECT_EQ(PrivateEngineParentFolder(temp.path), JoinPath(runtime, "OrvelJpegOptimizer"));
  }
  // And one owned by another user, where the test may give one away.
  ASSERT_TRUE(::chmod(shared.c_str(), 0700) == 0 && ::chmod(perUser.c_str(), 0700) == 0);
  if (::chown(shared.c_str(), ::geteuid() + 1, static_cast<gid_t>(-1)) != 0) return;
  EXPECT_EQ(PrivateEngineParentFolder(temp.path), perUser);
}

TEST_F(EngineStoreTest, NamesPreparedAtThePidsEngineFolderAreNeitherUsedNorRemoved) {
  ASSERT_EQ(::mkdir(shared.c_str(), 0700), 0);
  // A link and a folder open to others, at names derived from our pid.
  const std::string stem = JoinPath(shared, EngineFolderName(CurrentProcessId()));
  const std::string planted = PlantLink(stem);
  ASSERT_TRUE(WriteTextFile(JoinPath(planted, "keep"), "keep"));
  ASSERT_EQ(::mkdir((stem + "_open").c_str(), 0777), 0);
  ASSERT_EQ(::chmod((stem + "_open").c_str(), 0777), 0);
  ExpectMaterializedIn(shared);
  RemoveEngineFolder();
  EXPECT_TRUE(IsSymbolicLink(stem));
  EXPECT_TRUE(IsDirectory(stem + "_open"));
  EXPECT_EQ(FolderEntries(planted), std::vector<std::string>{"keep"});
  EXPECT_EQ(ReadTextFile(JoinPath(planted, "keep")), "keep");
}

}  // namespace
