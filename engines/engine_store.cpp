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

// The cause of a failed file operation, in German for the common ones.
std::string ErrorCauseText(int error) {
  switch (error) {
    case ENOSPC: return "kein Platz mehr im temporären Ordner";
    case EDQUOT: return "Speicherkontingent erschöpft";
    case EACCES:
    case EPERM: return "keine Berechtigung";
    case EROFS: return "Dateisystem ist schreibgeschützt";
    case ENOENT: return "Ordner existiert nicht (mehr)";
    default: return std::strerror(error);
  }
}

std::string NotWrittenProblem(int error) {
  return "eingebettet, konnte aber nicht in den Encoder-Ordner geschrieben werden (" +
         ErrorCauseText(error) + ")";
}

constexpr const char* kNotEmbeddedProblem = "nicht in dieses Programm eingebettet";

bool IsEmbedded(int resourceId) { return FindEngineResource(resourceId).size > 0; }

// The three tools' resource, path, flag and problem, for loops over them.
struct ToolSlot {
  int resourceId;
  const char* label;  // as the status report and the note name it
  std::string& path;
  std::atomic<bool>& available;
  std::string& problem;
};

std::vector<ToolSlot> ToolSlots(EngineStore& store) {
  return {{kEngineResourceJpegli, "Jpegli", store.jpegliPath, store.jpegliAvailable, store.jpegliProblem},
          {kEngineResourceMozjpeg, "MozJPEG cjpeg", store.mozjpegPath, store.mozjpegAvailable,
           store.mozjpegProblem},
          {kEngineResourceJpegtran, "MozJPEG jpegtran", store.jpegtranPath, store.jpegtranAvailable,
           store.jpegtranProblem}};
}

// Every tool unavailable for `problem`, or for not being embedded.
void MarkAllUnavailable(EngineStore& store, const std::string& problem) {
  for (ToolSlot& tool : ToolSlots(store)) {
    tool.problem = IsEmbedded(tool.resourceId) ? problem : kNotEmbeddedProblem;
  }
}

void ResetEngineStore(EngineStore& store) {
  for (ToolSlot& tool : ToolSlots(store)) tool.problem.clear();
  store.engineFolder.clear();
  store.mozjpegPath.clear();
  store.jpegtranPath.clear();
  store.jpegliPath.clear();
  store.mozjpegAvailable = false;
  store.jpegtranAvailable = false;
  store.jpegliAvailable = false;
  store.allAvailable = false;
}

// One tool's line of the report: which version it is, or why it is missing.
std::string ToolStatusLine(const ToolSlot& tool) {
  const std::string label = std::string(tool.label) + ": ";
  if (!tool.available.load()) {
    return label + "nicht verfügbar \u2013 " +
           (tool.problem.empty() ? std::string("eingebettete Ressource nicht verfügbar") : tool.problem) +
           "\r\n";
  }
  const char* version = FindEngineResource(tool.resourceId).version;
  const bool known = version != nullptr && version[0] != '\0';
  return label + "im Programm eingebettet und geladen (" + (known ? version : "Version unbekannt") +
         ")\r\n";
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

bool WriteEngineResource(int resourceId, const std::string& path, std::string* problem) {
  std::string ignored;
  std::string& why = problem != nullptr ? *problem : ignored;
  const EngineResource resource = FindEngineResource(resourceId);
  if (resource.data == nullptr || resource.size == 0) {
    why = kNotEmbeddedProblem;
    return false;
  }
  if (resource.size < kMinimumToolSize) {
    why = "eingebettete Ressource ist zu klein, um ein Programm zu sein";
    return false;
  }

  // Replace, never write through, whatever lies at the name.
  if (!DeleteFileAt(path)) {
    why = NotWrittenProblem(errno);
    return false;
  }
  UniqueFd file = CreateForWriting(path, 0700);
  if (!file.Valid()) {
    why = NotWrittenProblem(errno);
    return false;
  }
  bool written = ::fchmod(file.fd, 0700) == 0 && WriteAll(file, resource.data, resource.size);
  int error = errno;
  if (!CloseChecked(file) && written) {
    written = false;
    error = errno;
  }
  if (!written) {
    DeleteFileAt(path);
    why = NotWrittenProblem(error);
    return false;
  }
  if (!BeginsWithElfSignature(path)) {
    DeleteFileAt(path);
    why = "eingebettete Ressource ist kein ausführbares Linux-Programm";
    return false;
  }
  return true;
}

bool MaterializeEngines() {
  EngineStore& store = Engines();
  ResetEngineStore(store);

  const std::string parent = PrivateEngineParentFolder(TempFolder());
  if (parent.empty()) {
    MarkAllUnavailable(store, "eingebettet, aber im temporären Ordner (TMPDIR) gibt es keinen privaten "
                              "Ordner, aus dem Programme starten dürfen");
    return false;
  }
  // The pid alone is not unique: processes in other PID namespaces may share
  // this temporary folder. The folder is made exclusively, so a name somebody
  // prepared is never used, and locked, so a later start can tell whether
  // this process still lives.
  const std::string folder =
      CreateUniqueFolder(parent, EngineFolderName(CurrentProcessId()) + "_");
  if (folder.empty()) {
    MarkAllUnavailable(store, "eingebettet, aber der Encoder-Ordner konnte nicht angelegt werden (" +
                                  ErrorCauseText(errno) + ")");
    return false;
  }
  engineFolderLock = LockFolderForLifetime(folder);
  store.engineFolder = folder;

  store.jpegliPath = JoinPath(folder, kJpegliFileName);
  store.mozjpegPath = JoinPath(folder, kMozjpegFileName);
  store.jpegtranPath = JoinPath(folder, kJpegtranFileName);
  for (ToolSlot& tool : ToolSlots(store)) {
    tool.available = WriteEngineResource(tool.resourceId, tool.path, &tool.problem) &&
                     IsRegularFile(tool.path);
  }
  store.allAvailable = store.jpegliAvailable && store.mozjpegAvailable && store.jpegtranAvailable;
  return store.allAvailable;
}

void RefreshEngineAvailability() {
  EngineStore& store = Engines();
  if (store.engineFolder.empty()) return;
  for (ToolSlot& tool : ToolSlots(store)) {
    const bool wasAvailable = tool.available.load();
    tool.available = IsRegularFile(tool.path);
    if (tool.available.load()) tool.problem.clear();
    else if (wasAvailable) tool.problem = "eingebettet, aber die Datei im Encoder-Ordner fehlt (entfernt?)";
  }
  store.allAvailable = store.jpegliAvailable && store.mozjpegAvailable && store.jpegtranAvailable;
}

std::string BuildEncoderStatusReport() {
  EngineStore& store = Engines();
  std::string report = "Encoder-Status\r\n\r\n";
  report += "WIC: verfügbar (eingebautes libjpeg-turbo / Fallback)\r\n";
  bool notEmbedded = false;
  for (const ToolSlot& tool : ToolSlots(store)) {
    report += ToolStatusLine(tool);
    notEmbedded = notEmbedded || !IsEmbedded(tool.resourceId);
  }
  if (!store.engineFolder.empty()) report += "Encoder-Ordner: " + store.engineFolder + "\r\n";
  report += "\r\nFür die Ausführung sind keine Encoderdateien neben dem Programm erforderlich.\r\n";
  report +=
      "Die eingebetteten statischen Werkzeuge werden beim Start in ein prozessbezogenes "
      "Verzeichnis im temporären Ordner entpackt und beim Beenden wieder entfernt.\r\n";
  if (notEmbedded) {
    report +=
        "\r\nHinweis für Entwickler: Der Build muss den CMake-Schritt cmake/BuildEncoders.cmake "
        "erfolgreich ausführen, damit alle drei Binärressourcen in das Programm aufgenommen "
        "werden.";
  }
  return report;
}

std::string DescribeUnusableEmbeddedEngines() {
  std::string text;
  for (const ToolSlot& tool : ToolSlots(Engines())) {
    if (tool.available.load() || !IsEmbedded(tool.resourceId)) continue;
    text += std::string(tool.label) + " nicht verfügbar \u2013 " +
            (tool.problem.empty() ? std::string("Grund unbekannt") : tool.problem) + "\n";
  }
  return text;
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
