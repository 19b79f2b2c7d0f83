// Output paths and the --update test of a batch; see output_target.h.
// Neighbours: core/pipeline (OutputPathFor, the name rule), core/image_list
// (absolute paths as the list makes them), platform/files (the folder walk).
#include "core/output_target.h"

#include <sys/stat.h>

#include "core/image_list.h"
#include "core/pipeline.h"
#include "platform/files.h"

const char* const kVerdictUpToDate = "Ausgabe ist aktuell \u2013 übersprungen";
const char* const kMessageOutputFolderBusy =
    "Der Ausgabeordner wird gerade von einem anderen laufenden Stapel beschrieben (Programmfenster oder "
    "orvel-cli); bitte warten oder einen anderen Ausgabeordner wählen.";

namespace {

// The text a path below `root` starts with.
std::string RootPrefix(const std::string& root) {
  return !root.empty() && root.back() == '/' ? root : root + "/";
}

// The folder of `sourcePath` relative to the outermost scan root holding it;
// empty when none holds it or it lies in a root itself.
std::string MirroredSubfolder(const std::string& sourcePath,
                              const std::vector<std::string>& scanRoots) {
  const std::string* outermost = nullptr;
  for (const std::string& root : scanRoots) {
    if (sourcePath.rfind(RootPrefix(root), 0) != 0) continue;
    if (outermost == nullptr || root.size() < outermost->size()) outermost = &root;
  }
  if (outermost == nullptr) return std::string();
  return ParentFolder(sourcePath.substr(RootPrefix(*outermost).size()));
}

bool NotEarlier(const timespec& a, const timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec >= b.tv_nsec;
}

}  // namespace

std::vector<std::string> ScanRootsOf(const std::vector<std::string>& named,
                                     const std::string& currentFolder) {
  std::vector<std::string> roots;
  for (const std::string& entry : named) {
    if (entry.empty()) continue;
    const std::string path = AbsoluteImagePath(entry, currentFolder);
    if (IsDirectory(path)) roots.push_back(path);
  }
  return roots;
}

OutputTarget OutputTargetFor(const std::string& sourcePath, const OutputLayout& layout,
                             const std::vector<std::string>& scanRoots,
                             const QualityProfile& profile) {
  OutputTarget target;
  target.folder = layout.folder;
  target.skipUpToDate = layout.skipUpToDate;
  if (layout.keepStructure) target.subfolder = MirroredSubfolder(sourcePath, scanRoots);
  const std::string folder =
      target.subfolder.empty() ? layout.folder : JoinPath(layout.folder, target.subfolder);
  target.path = OutputPathFor(sourcePath, folder, profile);
  return target;
}

std::vector<OutputTarget> BatchOutputTargets(const std::vector<std::string>& sources,
                                             const OutputLayout& layout,
                                             const std::vector<std::string>& scanRoots,
                                             const QualityProfile& profile) {
  std::vector<OutputTarget> targets;
  targets.reserve(sources.size());
  for (const std::string& source : sources) {
    targets.push_back(OutputTargetFor(source, layout, scanRoots, profile));
  }
  return targets;
}

std::vector<std::string> OutputPathsOf(const std::vector<OutputTarget>& targets) {
  std::vector<std::string> paths;
  paths.reserve(targets.size());
  for (const OutputTarget& target : targets) paths.push_back(target.path);
  return paths;
}

bool OutputIsUpToDate(const OutputTarget& target, const std::string& sourcePath) {
  struct stat output{};
  struct stat source{};
  if (::stat(target.path.c_str(), &output) != 0 || !S_ISREG(output.st_mode)) return false;
  if (::stat(sourcePath.c_str(), &source) != 0) return false;
  return NotEarlier(output.st_mtim, source.st_mtim);
}

bool PrepareOutputSubfolders(const OutputTarget& target) {
  if (target.subfolder.empty()) return true;
  return WalkSubfolders(target.folder, target.subfolder, true) == SubfolderWalk::kReady;
}

bool MayDeleteAtTarget(const OutputTarget& target) {
  if (target.subfolder.empty()) return true;
  return WalkSubfolders(target.folder, target.subfolder, false) != SubfolderWalk::kRefused;
}
