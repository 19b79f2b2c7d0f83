// The trash and replacing a file with its original kept there; see trash.h.
// Neighbours: files.cpp (staged copies, the seam), core/pipeline (caller).
#include "platform/trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

// How many names "IMG.jpg", "IMG.2.jpg", ... a trash is tried with.
constexpr int kTrashNameAttempts = 1000;

bool LinkStat(const std::string& path, struct stat& info) {
  return !path.empty() && ::lstat(path.c_str(), &info) == 0;
}

// A folder of ours that nobody can have swapped for a link: created with
// mode 0700 when missing, then a real directory owned by the user.
bool EnsurePrivateFolder(const std::string& path) {
  if (ActiveFileSystemCalls().mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat info{};
  return LinkStat(path, info) && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
}

// files/ and info/ below `root`, both on `device` (a hard link cannot cross
// file systems, and a trash elsewhere would not hold the original).
bool PrepareTrash(const std::string& root, dev_t device, const std::string& pathBase,
                  TrashFolder& trash) {
  trash = TrashFolder{root, JoinPath(root, "files"), JoinPath(root, "info"), pathBase};
  if (!EnsurePrivateFolder(root) || !EnsurePrivateFolder(trash.filesFolder) ||
      !EnsurePrivateFolder(trash.infoFolder)) {
    return false;
  }
  struct stat files{}, info{};
  return LinkStat(trash.filesFolder, files) && LinkStat(trash.infoFolder, info) &&
         files.st_dev == device && info.st_dev == device;
}

// The device of `path` or, when it does not exist yet, of its nearest
// existing ancestor: where it would be created.
bool DeviceWhereCreated(std::string path, dev_t& device) {
  for (;;) {
    struct stat info{};
    if (::stat(path.c_str(), &info) == 0) {
      device = info.st_dev;
      return true;
    }
    const std::string parent = ParentFolder(path);
    if (parent.empty() || parent == path) return false;
    path = parent;
  }
}

bool UseHomeTrash(dev_t device, TrashFolder& trash) {
  const std::string root = HomeTrashFolder();
  dev_t homeDevice = 0;
  if (root.empty() || !DeviceWhereCreated(root, homeDevice) || homeDevice != device) return false;
  // The data folder's parents are ordinary folders of the user's home.
  return EnsureFolder(ParentFolder(root), 0700) && PrepareTrash(root, device, "", trash);
}

// The top folder of the mount that holds `folder` (a resolved path): the
// last ancestor on the same device.
std::string MountTopFolder(const std::string& folder, dev_t device) {
  std::string top = folder;
  for (;;) {
    const std::string parent = ParentFolder(top);
    struct stat info{};
    if (parent.empty() || parent == top || ::stat(parent.c_str(), &info) != 0 ||
        info.st_dev != device) {
      return top;
    }
    top = parent;
  }
}

bool UseMountTrash(const std::string& top, dev_t device, TrashFolder& trash) {
  const std::string uid = std::to_string(::geteuid());
  const std::string shared = JoinPath(top, ".Trash");
  struct stat info{};
  // The administrator's shared trash: a sticky folder, never a link.
  if (LinkStat(shared, info) && S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0 &&
      PrepareTrash(JoinPath(shared, uid), device, top, trash)) {
    return true;
  }
  return PrepareTrash(JoinPath(top, ".Trash-" + uid), device, top, trash);
}

// The original's path as the info file records it: absolute for the home
// trash, relative to the mount's top folder for a trash on that mount.
std::string RecordedPath(const std::string& originalPath, const TrashFolder& trash) {
  if (trash.pathBase.empty()) return originalPath;
  if (trash.pathBase == "/") return originalPath.substr(1);
  return originalPath.substr(trash.pathBase.size() + 1);
}

// The resolved absolute path of `path`'s folder joined with its name (the
// file itself is not resolved: it is what goes to the trash).
std::string ResolvedPath(const std::string& path) {
  const std::string absolute = NormalisedAbsolutePath(path, {}, ParentSteps::kKeep);
  char* folder = ::realpath(ParentFolder(absolute).c_str(), nullptr);
  if (folder == nullptr) return std::string();
  const std::string resolved = JoinPath(folder, FileNamePart(absolute));
  std::free(folder);
  return resolved;
}

// "IMG.jpg", then "IMG.2.jpg", "IMG.3.jpg", ...
std::string TrashName(const std::string& name, int attempt) {
  if (attempt == 1) return name;
  const std::string base = BaseNamePart(name);
  return base + "." + std::to_string(attempt) + name.substr(base.size());
}

// The source is still the file that was read: same identity, size and
// modification time, a regular file and not a link.
bool SourceUnchanged(const std::string& path, const FileAttributes& read) {
  struct stat now{};
  return LinkStat(path, now) && S_ISREG(now.st_mode) && now.st_dev == read.device &&
         now.st_ino == read.inode && static_cast<std::uint64_t>(now.st_size) == read.bytes &&
         now.st_mtim.tv_sec == read.modified.tv_sec && now.st_mtim.tv_nsec == read.modified.tv_nsec;
}

// Creates info/NAME.trashinfo exclusively with `text`, synced. False with
// errno EEXIST when the name is taken; anything else left half-done is
// removed.
bool CreateInfoFile(const std::string& infoPath, const std::string& text) {
  UniqueFd file(ActiveFileSystemCalls().open(
      infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!file.Valid()) return false;
  const bool written = WriteAll(file, text.data(), text.size()) &&
                       ActiveFileSystemCalls().fsync(file.fd) == 0;
  if (CloseChecked(file) && written) return true;
  ActiveFileSystemCalls().unlink(infoPath.c_str());
  errno = EIO;
  return false;
}

// Steps (2) to (4): the original hard-linked into the trash beside its info
// file. False when the trash cannot take it; nothing of it is left then.
bool LinkIntoTrash(const std::string& sourcePath, const std::string& recordedSource,
                   const TrashFolder& trash, std::string& trashedAs) {
  const std::string text = TrashInfoText(recordedSource, trash, std::time(nullptr));
  const std::string name = FileNamePart(sourcePath);
  for (int attempt = 1; attempt <= kTrashNameAttempts; ++attempt) {
    const std::string trashName = TrashName(name, attempt);
    const std::string infoPath = JoinPath(trash.infoFolder, trashName + ".trashinfo");
    if (!CreateInfoFile(infoPath, text)) {
      if (errno == EEXIST) continue;
      return false;
    }
    const std::string filePath = JoinPath(trash.filesFolder, trashName);
    if (LinkPath(sourcePath, filePath)) {
      SyncFolderOf(filePath);
      SyncFolderOf(infoPath);
      trashedAs = filePath;
      return true;
    }
    const int error = errno;
    ActiveFileSystemCalls().unlink(infoPath.c_str());
    if (error != EEXIST) return false;  // EXDEV, EPERM (no hard links here), ...
  }
  return false;
}

// Takes back what LinkIntoTrash made: the file first, so no trashed file is
// ever without its info.
void UnlinkFromTrash(const std::string& trashedFile, const TrashFolder& trash) {
  ActiveFileSystemCalls().unlink(trashedFile.c_str());
  const std::string info = JoinPath(trash.infoFolder, FileNamePart(trashedFile) + ".trashinfo");
  ActiveFileSystemCalls().unlink(info.c_str());
}

}  // namespace

std::string HomeTrashFolder() {
  const char* data = ::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return JoinPath(data, "Trash");
  const char* home = ::getenv("HOME");
  if (home != nullptr && home[0] == '/') return JoinPath(home, ".local/share/Trash");
  return std::string();
}

bool FindTrashFor(const std::string& path, TrashFolder& trash) {
  const std::string resolved = ResolvedPath(path);
  struct stat info{};
  if (resolved.empty() || !LinkStat(resolved, info)) return false;
  if (UseHomeTrash(info.st_dev, trash)) return true;
  return UseMountTrash(MountTopFolder(ParentFolder(resolved), info.st_dev), info.st_dev, trash);
}

std::string PercentEncodePath(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                       (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' ||
                       c == '~' || c == '/';
    if (plain) {
      encoded.push_back(c);
    } else {
      encoded += {'%', kHex[byte >> 4], kHex[byte & 15]};
    }
  }
  return encoded;
}

std::string TrashInfoText(const std::string& originalPath, const TrashFolder& trash,
                          std::time_t deletedAt) {
  std::tm local{};
  ::localtime_r(&deletedAt, &local);
  char date[32] = {};
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  return "[Trash Info]\nPath=" + PercentEncodePath(RecordedPath(originalPath, trash)) +
         "\nDeletionDate=" + date + "\n";
}

ReplaceOutcome ReplaceKeepingOriginalInTrash(const std::string& sourcePath,
                                             const std::string& newFile,
                                             const FileAttributes& sourceAttributes,
                                             std::string* trashedAs) {
  if (!SourceUnchanged(sourcePath, sourceAttributes)) return ReplaceOutcome::kSourceChanged;
  TrashFolder trash;
  const std::string resolved = ResolvedPath(sourcePath);
  if (!FindTrashFor(sourcePath, trash)) return ReplaceOutcome::kNoTrash;
  const std::string staged =
      StageCopyBeside(newFile, sourcePath, sourceAttributes, AttributeRule::kReplace);
  if (staged.empty()) return ReplaceOutcome::kFailed;
  std::string trashed;
  if (!LinkIntoTrash(sourcePath, resolved, trash, trashed)) {
    ActiveFileSystemCalls().unlink(staged.c_str());
    return ReplaceOutcome::kNoTrash;
  }
  if (!RenamePath(staged, sourcePath)) {
    UnlinkFromTrash(trashed, trash);
    ActiveFileSystemCalls().unlink(staged.c_str());
    return ReplaceOutcome::kFailed;
  }
  SyncFolderOf(sourcePath);
  if (trashedAs != nullptr) *trashedAs = trashed;
  return ReplaceOutcome::kReplaced;
}
