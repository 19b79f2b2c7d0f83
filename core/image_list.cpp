// Building the image list of a batch; see image_list.h. Neighbours:
// platform/text (ordinal UTF-16 order), platform/files (folder test, the
// path normaliser).
#include "core/image_list.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <utility>

#include "platform/files.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

using FileIdentity = std::pair<dev_t, ino_t>;

bool ReadIdentity(const std::string& path, FileIdentity& identity) {
  struct stat info{};
  if (::stat(path.c_str(), &info) != 0) return false;
  identity = {info.st_dev, info.st_ino};
  return true;
}

bool NameSameFile(const std::string& a, const std::string& b) {
  FileIdentity first;
  FileIdentity second;
  return ReadIdentity(a, first) && ReadIdentity(b, second) && first == second;
}

// Ordinal by UTF-16 code units; texts that convert alike (invalid UTF-8) fall
// back to their bytes, so the order is total and equal texts end up adjacent.
bool OrdinalLess(const std::string& left, const std::string& right) {
  const int order = CompareOrdinalUtf16(left, right);
  return order != 0 ? order < 0 : left < right;
}

// Keeps the first of every group of entries that name the same file.
void DropRepeatedFiles(std::vector<std::string>& list) {
  std::set<FileIdentity> seen;
  std::vector<std::string> kept;
  kept.reserve(list.size());
  for (std::string& path : list) {
    FileIdentity identity;
    if (ReadIdentity(path, identity) && !seen.insert(identity).second) continue;
    kept.push_back(std::move(path));
  }
  list = std::move(kept);
}

}  // namespace

std::string FindPathExtension(const std::string& path) {
  const size_t separator = path.find_last_of("/\\");
  const size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || dot < nameStart) return std::string();
  if (path.find(' ', dot) != std::string::npos) return std::string();
  return path.substr(dot);
}

bool IsJpegSourceFile(const std::string& path) {
  std::string extension = FindPathExtension(path);
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  return extension == ".jpg" || extension == ".jpeg" || extension == ".jpe";
}

void CollectJpegFiles(const std::string& folder, std::vector<std::string>& found,
                      const std::string& excluded) {
  FileIdentity excludedIdentity;
  const bool excluding = !excluded.empty() && ReadIdentity(excluded, excludedIdentity);
  std::vector<fs::path> pending{fs::path(folder)};
  while (!pending.empty()) {
    const fs::path current = std::move(pending.back());
    pending.pop_back();
    // The named folder itself is always listed, also when it is the output
    // folder: the window's default output folder is the photos' own folder.
    FileIdentity identity;
    if (excluding && current != fs::path(folder) && ReadIdentity(current.string(), identity) &&
        identity == excludedIdentity) {
      continue;
    }
    std::error_code error;
    for (fs::directory_iterator entry(current, error), end; !error && entry != end;
         entry.increment(error)) {
      std::error_code typeError;
      const bool link = entry->is_symlink(typeError);
      if (!link && entry->is_directory(typeError)) {
        pending.push_back(entry->path());
      } else if (entry->is_regular_file(typeError) && IsJpegSourceFile(entry->path().string())) {
        found.push_back(entry->path().string());
      }
    }
  }
}

std::string AbsoluteImagePath(const std::string& path, const std::string& currentFolder) {
  const std::string kept = NormalisedAbsolutePath(path, currentFolder, ParentSteps::kKeep);
  const std::string resolved = NormalisedAbsolutePath(path, currentFolder);
  return resolved == kept || NameSameFile(kept, resolved) ? resolved : kept;
}

void AddToImageList(std::vector<std::string>& list, const std::vector<std::string>& added,
                    const std::string& currentFolder, const std::string& outputFolder) {
  for (const std::string& entry : added) {
    if (entry.empty()) continue;
    const std::string path = AbsoluteImagePath(entry, currentFolder);
    if (IsDirectory(path)) CollectJpegFiles(path, list, outputFolder);
    else list.push_back(path);
  }
  std::sort(list.begin(), list.end(), OrdinalLess);
  list.erase(std::unique(list.begin(), list.end()), list.end());
  DropRepeatedFiles(list);
}
