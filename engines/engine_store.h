// The embedded encoder tools and the process-wide engine store.
//
// The build embeds up to three tool binaries (cjpegli, MozJPEG cjpeg,
// jpegtran) as resources 301, 302 and 303. At start-up MaterializeEngines
// writes them into a private per-process engine folder and records where each
// tool lies and whether it is usable; shutdown removes the folder again.
//
// Invariants:
//   - the paths are written only by MaterializeEngines (UI thread, before any
//     other thread exists) and never change afterwards;
//   - the flags are atomic: written on the UI thread only, read by encoder and
//     benchmark worker threads;
//   - tools are only ever executed from a folder that no other user can write.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

constexpr int kEngineResourceJpegli = 301;
constexpr int kEngineResourceMozjpeg = 302;
constexpr int kEngineResourceJpegtran = 303;

struct EngineStore {
  std::string engineFolder;  // per-process folder; empty when none could be made
  std::string mozjpegPath;   // "cjpeg-static" in engineFolder
  std::string jpegtranPath;  // "jpegtran-static" in engineFolder
  std::string jpegliPath;    // "cjpegli" in engineFolder
  std::atomic<bool> mozjpegAvailable{false};
  std::atomic<bool> jpegtranAvailable{false};
  std::atomic<bool> jpegliAvailable{false};
  std::atomic<bool> allAvailable{false};
  // Why a tool is unavailable, in German ("" while it is available): not
  // embedded in this build, or embedded but not written out, and why. Written
  // with the paths, read by the status text and orvel-cli's note.
  std::string jpegliProblem;
  std::string mozjpegProblem;
  std::string jpegtranProblem;
};

// The one process-wide store.
EngineStore& Engines();

// Bytes of one embedded resource; size 0 when the build was not given it.
struct EngineResource {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  // The tool's version as the build recorded it ("jpegli 031a0077f579",
  // "MozJPEG 4.0.3", or what a given binary printed); "" when unknown.
  const char* version = "";
};

// Resource lookup seam: tests install their own lookup to hand in resources
// that are too small, not ELF, or a real helper executable. nullptr restores
// the embedded resources.
using EngineResourceLookup = EngineResource (*)(int resourceId);
void SetEngineResourceLookup(EngineResourceLookup lookup);
// The resource through the installed lookup (the embedded bytes by default).
EngineResource FindEngineResource(int resourceId);
// The bytes the build embedded; size 0 for a tool it was not given.
EngineResource FindEmbeddedEngineResource(int resourceId);

// Files written into the engine folder.
constexpr const char* kJpegliFileName = "cjpegli";
constexpr const char* kMozjpegFileName = "cjpeg-static";
constexpr const char* kJpegtranFileName = "jpegtran-static";

// "engines_" + program version + "_" + process id in decimal.
std::string EngineFolderName(std::uint32_t processId);

// Writes the three tools into a fresh engine folder under
// PrivateEngineParentFolder(TempFolder()) and fills the store (resetting it
// first). The folder is EngineFolderName(pid) + "_" + an unpredictable
// suffix, made exclusively and locked for the process's lifetime. True when
// all three are available.
bool MaterializeEngines();

// Writes one resource to `path` (mode 0700) and verifies it: at least 4,096
// bytes, written completely, and beginning with the ELF signature. A file that
// fails the check is deleted. On failure `problem` (when given) says why.
bool WriteEngineResource(int resourceId, const std::string& path, std::string* problem = nullptr);

// Recomputes the four flags from the tool files on disk.
void RefreshEngineAvailability();

// The text of the "Encoder-Status" report ("\r\n" line ends), with the
// recorded version next to each available tool and the problem next to each
// unavailable one. The hint for developers about the build comes only when a
// tool was not embedded at all.
std::string BuildEncoderStatusReport();

// One line per tool that this build embedded but that cannot be used, with
// the reason ("Jpegli nicht verfügbar – …\n"); "" when there is none. A tool
// the build was not given is a property of the build (see the status report),
// not news for every run.
std::string DescribeUnusableEmbeddedEngines();

// Removes this process's engine folder (shutdown) and clears the flags, as
// the tools are gone. Safe to call twice.
void RemoveEngineFolder();

// The shared parent of all engine folders that this user may execute tools
// from, created if needed; empty when none can be had. Exposed for tests of
// the temp-folder safety rules:
//   - "<temporaryFolder>/OrvelJpegOptimizer", created with mode 0700, or when it
//     exists, used only if it is a real directory (not a link), owned by the
//     effective user and not writable by group or others;
//   - otherwise "<temporaryFolder>/OrvelJpegOptimizer-<uid>" under the same rules;
//   - otherwise (the temporary folder is mounted noexec, or another user
//     took both names) the same two names under $XDG_RUNTIME_DIR (absolute,
//     a private directory of ours, not noexec either);
//   - otherwise the temporary folder itself, when tools can run from it: the
//     engine folder's unpredictable name and mode 0700 keep it private there;
//   - otherwise none.
std::string PrivateEngineParentFolder(const std::string& temporaryFolder);

// Start-up of both programs: removes the work folders and engine folders of
// this user that killed runs left behind (see RemoveAbandonedFolders), in
// every place this program puts them. Folders of running processes and of
// other users are never touched.
void RemoveAbandonedFoldersOfEarlierRuns();
