// Work folders; see work_folder.h. Neighbours: files.cpp (RemoveFolderTree),
// the pipeline and the benchmark worker, which own one folder per image.
#include "platform/work_folder.h"

#include "platform/clock.h"
#include "platform/files.h"

bool CreateWorkFolder(WorkFolder& folder) {
  folder = WorkFolder{};
  const std::string temporary = TempFolder();
  if (temporary.empty()) return false;
  const std::string pid = std::to_string(CurrentProcessId());
  for (int attempt = 0; attempt < 50; ++attempt) {
    const std::string name = "TALV_" + pid + "_" + std::to_string(TickCountMs()) + "_" +
                             std::to_string(attempt);
    const std::string path = JoinPath(temporary, name);
    if (ActiveFileSystemCalls().mkdir(path.c_str(), 0700) == 0) {
      folder.longPath = path;
      folder.shortPath = ShortPath(path);
      return true;
    }
  }
  return false;
}

std::string ShortPath(const std::string& path) { return path; }

WorkFolderGuard::~WorkFolderGuard() {
  if (!folder.longPath.empty()) RemoveFolderTree(folder.longPath);
}
