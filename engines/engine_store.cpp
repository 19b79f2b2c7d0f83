// The engine store: writing the embedded encoder tools into a private
// per-process folder, their availability flags and the "Encoder-Status" text.
//
// Neighbours: engine_resources.cpp supplies the embedded bytes; the start-up
// code of both programs (app/application.cpp, cli/) calls MaterializeEngines
// once and RemoveEngineFolder at shutdown; the candidate plan and the encoder
// invocation (core/) read the paths and flags. The temporary folder is shared by all users, so tools are only
// ever written into, and run from, folders that are ours and private (see
// PrivateEngineParentFolder in the header).
#include "engines/engine_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/work_folder.h"

#ifndef ORVEL_VERSION
#error "ORVEL_VERSION must name the program version"
#endif

namespace {

constexpr const char* kSharedParentName = "OrvelJpegOptimizer";
constexpr std::size_t kMinimumToolSize = 4096;
constexpr unsigned char kElfSignature[4] = {0x7F, 'E', 'L', 'F'};

std::atomic<EngineResourceLookup> resourceLookup{nullptr};

// The engine folder's lock, held from its creation until it is removed.
UniqueFd engineFolderLock;

std::string EngineFolderPrefix() { return std::string("engines_") + ORVEL_VERSION + "_"; }

// Opens `path` as a directory without following a final symbolic link.
UniqueFd OpenFolderNoFollow(const std::string& path) {
  return UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// A directory we may keep executables in: ours, and nobody else may add,
// rename or replace entries in it.
bool IsPrivateFolder(const UniqueFd& folder) {
  struct stat info{};
  if (!folder.Valid() || ::fstat(folder.fd, &info) != 0) return false;
  return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
         (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Creates `path` with mode 0700, or accepts an existing private folder of ours.
// A fresh folder is set to exactly 0700 whatever the umask says.
bool MakePrivateFolder(const std::string& path) {
  if (path.empty()) return false;
  const bool created = ActiveFileSystemCalls().mkdir(path.c_str(), 0700) == 0;
  if (!created && errno != EEXIST) return false;
  const UniqueFd folder = OpenFolderNoFollow(path);
  if (!IsPrivateFolder(folder)) return false;
  if (created && ::fchmod(folder.fd, 0700) != 0) return false;
  return true;
}

// True when programs cannot be started from files below `folder`.
bool IsMountedNoExec(const std::string& folder) {
  struct statvfs info{};
  if (::statvfs(folder.c_str(), &info) != 0) return false;
  return (info.f_flag & ST_NOEXEC) != 0;
}

// $XDG_RUNTIME_DIR when it is absolute and a private directory of ours.
std::string PrivateRuntimeFolder() {
  const char* value = std::getenv("XDG_RUNTIME_DIR");
  if (value == nullptr || value[0] != '/') return std::string();
  const std::string folder = value;
  if (!IsPrivateFolder(OpenFolderNoFollow(folder))) return std::string();
  return folder;
}

// The shared name in `base`, or the per-user name beside it when the shared
// one is taken by something that is not ours and private.
std::string ChoosePrivateParent(const std::string& base) {
  const std::string shared = JoinPath(base, kSharedParentName);
  if (MakePrivateFolder(shared)) return shared;
  const std::string perUser =
      JoinPath(base, std::string(kSharedParentName) + "-" + FormatInteger(::geteuid()));
  if (MakePrivateFolder(perUser)) return perUser;
  return std::string();
}

bool BeginsWithElfSignature(const std::string& path) {
  const UniqueFd file = OpenForReading(path);
  if (!file.Valid()) return false;
  unsigned char head[sizeof kElfSignature] = {};
  std::size_t got = 0;
  while (got < sizeof head) {
    const ssize_t n = ::read(file.fd, head + got, sizeof head - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got == sizeof head && std::memcmp(head, kElfSignature, sizeof head) == 0;
}

// What follows the pid in an engine folder's name: nothing (builds before
// the unpredictable suffix) or "_" and the twelve letters and digits that
// CreateUniqueFolder adds.
bool IsEngineFolderSuffix(std::string_view rest) {
  if (rest.empty()) return true;
  return rest.size() == 13 && rest[0] == '_' &&
         std::all_of(rest.begin() + 1, rest.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

// The tools are written in place (WriteEngineResource), never through a
// temporary name.
bool IsEngineFileName(std::string_view name) {
  return name == kJpegliFileName || name == kMozjpegFileName || name == kJpegtranFileName;
}

void ResetEngineStore(EngineStore& store) {
  store.engineFolder.clear();
  store.mozjpegPath.clear();
  store.jpegtranPath.clear();
  store.jpegliPath.clear();
  store.mozjpegAvailable = false;
  store.jpegtranAvailable = false;
  store.jpegliAvailable = false;
  store.allAvailable = false;
}

// One tool's line of the report: where the tool is and which version it is.
std::string ToolStatusLine(const char* label, int resourceId, bool available) {
  if (!available) return std::string(label) + "eingebettete Ressource nicht verfügbar\r\n";
  const char* version = FindEngineResource(resourceId).version;
  const bool known = version != nullptr && version[0] != '\0';
  return std::string(label) + "im Programm eingebettet und geladen (" +
         (known ? version : "Version unbekannt") + ")\r\n";
}

}  // namespace

EngineStore& Engines() {
  static EngineStore store;
  return store;
}

void SetEngineResourceLookup(EngineResourceLookup lookup) { resourceLookup.store(lookup); }

EngineResource FindEngineResource(int resourceId) {
  const EngineResourceLookup lookup = resourceLookup.load();
  return lookup != nullptr ? lookup(resourceId) : FindEmbeddedEngineResource(resourceId);
}

std::string EngineFolderName(std::uint32_t processId) {
  return std::string("engines_") + ORVEL_VERSION + "_" + FormatInteger(processId);
}

std::string PrivateEngineParentFolder(const std::string& temporaryFolder) {
  bool temporaryUsable = false;
  if (!temporaryFolder.empty()) {
    if (!IsDirectory(temporaryFolder)) EnsureFolder(temporaryFolder, 0700);
    // Tools written to a noexec file system could not be started.
    temporaryUsable = IsDirectory(temporaryFolder) && !IsMountedNoExec(temporaryFolder);
    if (temporaryUsable) {
      const std::string parent = ChoosePrivateParent(temporaryFolder);
      if (!parent.empty()) return parent;
    }
  }
  const std::string runtime = PrivateRuntimeFolder();
  if (!runtime.empty() && !IsMountedNoExec(runtime)) {
    const std::string parent = ChoosePrivateParent(runtime);
    if (!parent.empty()) return parent;
  }
  // Someone took both names: the engine folder goes straight into the
  // temporary folder, under a name nobody can know in advance.
  return temporaryUsable ? temporaryFolder : std::string();
}

void RemoveAbandonedFoldersOfEarlierRuns() {
  const std::string temporary = TempFolder();
  const std::string enginePrefix = EngineFolderPrefix();
  const OurFolderKind engineFolders = {enginePrefix.c_str(), IsEngineFolderSuffix,
                                       IsEngineFileName};
  RemoveAbandonedFolders(temporary, kWorkFolderKind);
  std::vector<std::string> bases = {temporary};
  const std::string runtime = PrivateRuntimeFolder();
  if (!runtime.empty()) bases.push_back(runtime);
  for (const std::string& base : bases) {
    RemoveAbandonedFolders(base, engineFolders);
    for (const std::string& parent :
         {JoinPath(base, kSharedParentName),
          JoinPath(base, std::string(kSharedParentName) + "-" + FormatInteger(::geteuid()))}) {
      if (IsPrivateFolder(OpenFolderNoFollow(parent))) {
        RemoveAbandonedFolders(parent, engineFolders);
      }
    }
  }
}

bool WriteEngineResource(int resourceId, const std::string& path) {
  const EngineResource resource = FindEngineResource(resourceId);
  if (resource.data == nullptr || resource.size < kMinimumToolSize) return false;

  // Replace, never write through, whatever lies at the name.
  if (!DeleteFileAt(path)) return false;
  UniqueFd file = CreateForWriting(path, 0700);
  if (!file.Valid()) return false;
  const bool written = ::fchmod(file.fd, 0700) == 0 &&
                       WriteAll(file, resource.data, resource.size);
  if (!CloseChecked(file) || !written) {
    DeleteFileAt(path);
    return false;
  }
  if (!BeginsWithElfSignature(path)) {
    DeleteFileAt(path);
    return false;
  }
  return true;
}

bool MaterializeEngines() {
  EngineStore& store = Engines();
  ResetEngineStore(store);

  const std::string parent = PrivateEngineParentFolder(TempFolder());
  if (parent.empty()) return false;
  // The pid alone is not unique: processes in other PID namespaces may share
  // this temporary folder. The folder is made exclusively, so a name somebody
  // prepared is never used, and locked, so a later start can tell whether
  // this process still lives.
  const std::string folder =
      CreateUniqueFolder(parent, EngineFolderName(CurrentProcessId()) + "_");
  if (folder.empty()) return false;
  engineFolderLock = LockFolderForLifetime(folder);
  store.engineFolder = folder;

  store.jpegliPath = JoinPath(folder, kJpegliFileName);
  store.mozjpegPath = JoinPath(folder, kMozjpegFileName);
  store.jpegtranPath = JoinPath(folder, kJpegtranFileName);
  const bool jpegliWritten = WriteEngineResource(kEngineResourceJpegli, store.jpegliPath);
  const bool mozjpegWritten = WriteEngineResource(kEngineResourceMozjpeg, store.mozjpegPath);
  const bool jpegtranWritten = WriteEngineResource(kEngineResourceJpegtran, store.jpegtranPath);

  store.jpegliAvailable = jpegliWritten && IsRegularFile(store.jpegliPath);
  store.mozjpegAvailable = mozjpegWritten && IsRegularFile(store.mozjpegPath);
  store.jpegtranAvailable = jpegtranWritten && IsRegularFile(store.jpegtranPath);
  store.allAvailable = store.jpegliAvailable && store.mozjpegAvailable && store.jpegtranAvailable;
  return store.allAvailable;
}

void RefreshEngineAvailability() {
  EngineStore& store = Engines();
  if (store.engineFolder.empty()) return;
  store.jpegliAvailable = IsRegularFile(store.jpegliPath);
  store.mozjpegAvailable = IsRegularFile(store.mozjpegPath);
  store.jpegtranAvailable = IsRegularFile(store.jpegtranPath);
  store.allAvailable = store.jpegliAvailable && store.mozjpegAvailable && store.jpegtranAvailable;
}

std::string BuildEncoderStatusReport() {
  const EngineStore& store = Engines();
  std::string report = "Encoder-Status\r\n\r\n";
  report += "WIC: verfügbar (eingebautes libjpeg-turbo / Fallback)\r\n";
  report += ToolStatusLine("Jpegli: ", kEngineResourceJpegli, store.jpegliAvailable);
  report += ToolStatusLine("MozJPEG cjpeg: ", kEngineResourceMozjpeg, store.mozjpegAvailable);
  report += ToolStatusLine("MozJPEG jpegtran: ", kEngineResourceJpegtran, store.jpegtranAvailable);
  if (!store.engineFolder.empty()) report += "Encoder-Ordner: " + store.engineFolder + "\r\n";
  report += "\r\nFür die Ausführung sind keine Encoderdateien neben dem Programm erforderlich.\r\n";
  report +=
      "Die eingebetteten statischen Werkzeuge werden beim Start in ein prozessbezogenes "
      "Verzeichnis im temporären Ordner entpackt und beim Beenden wieder entfernt.\r\n";
  if (!store.allAvailable) {
    report +=
        "\r\nHinweis für Entwickler: Der Build muss den CMake-Schritt cmake/BuildEncoders.cmake "
        "erfolgreich ausführen, damit alle drei Binärressourcen in das Programm aufgenommen "
        "werden.";
  }
  return report;
}

void RemoveEngineFolder() {
  EngineStore& store = Engines();
  if (store.engineFolder.empty()) return;
  RemoveFolderTree(store.engineFolder);
  engineFolderLock = UniqueFd();
  // The tool files went with the folder.
  store.jpegliAvailable = false;
  store.mozjpegAvailable = false;
  store.jpegtranAvailable = false;
  store.allAvailable = false;
}
