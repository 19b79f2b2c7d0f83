// Files, folders and paths of the Linux layer; see files.h.
// Neighbours: work_folder.cpp (work folders), process.cpp (RunTool), and the
// imaging and core modules that write files through WriteAll.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <utility>
#include <vector>

namespace {

int RealOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t RealWrite(int fd, const void* data, size_t size) { return ::write(fd, data, size); }
int RealClose(int fd) { return ::close(fd); }
int RealRename(const char* from, const char* to) { return ::rename(from, to); }
int RealMkdir(const char* path, mode_t mode) { return ::mkdir(path, mode); }

const FileSystemCalls kRealCalls = {RealOpen, RealWrite, RealClose, RealRename, RealMkdir};
std::atomic<const FileSystemCalls*> activeCalls{&kRealCalls};

constexpr char kNameCharacters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

// Twelve characters nobody can predict (about 71 bits).
std::string RandomNamePart() {
  unsigned char noise[12] = {};
  size_t got = 0;
  while (got < sizeof noise) {
    const ssize_t n = ::getrandom(noise + got, sizeof noise - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  static std::atomic<unsigned> fallback{0};
  std::string name;
  for (size_t i = 0; i < sizeof noise; ++i) {
    // Without the kernel's randomness the name is still unique; the
    // exclusive create below keeps it safe.
    const unsigned value = got == sizeof noise ? noise[i] : fallback.fetch_add(7919) + i;
    name.push_back(kNameCharacters[value % (sizeof kNameCharacters - 1)]);
  }
  return name;
}

// At most the first `limit` bytes of a name, not cutting a UTF-8 sequence.
std::string NameHead(const std::string& name, size_t limit) {
  if (name.size() <= limit) return name;
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end);
}

// Creates a hidden file of a fresh unpredictable name beside `path`,
// exclusively and never through a link, so nothing planted in the folder can
// redirect the write. The name carries at most the head of `path`'s name (to
// tell what a leftover was meant to be), so an output whose name is near the
// file-system limit can still be written.
UniqueFd CreateTemporarySibling(const std::string& path, unsigned mode, std::string& temporary) {
  const std::string folder = ParentFolder(path);
  const std::string head = NameHead(FileNamePart(path), 40);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = "." + head + ".part-" + RandomNamePart();
    temporary = folder.empty() ? name : JoinPath(folder, name);
    const int fd = ActiveFileSystemCalls().open(
        temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
        static_cast<mode_t>(mode));
    if (fd >= 0) return UniqueFd(fd);
    if (errno != EEXIST) break;
  }
  temporary.clear();
  return UniqueFd();
}

// Syncs, closes and renames a finished temporary file over `path`; on any
// failure the temporary file is removed and `path` is left as it was.
bool CommitTemporary(UniqueFd& file, bool written, const std::string& temporary,
                     const std::string& path) {
  const bool synced = written && ActiveFileSystemCalls().fsync(file.fd) == 0;
  if (!CloseChecked(file) || !synced || !RenamePath(temporary, path)) {
    ActiveFileSystemCalls().unlink(temporary.c_str());
    return false;
  }
  SyncFolderOf(path);
  return true;
}

// Copies every byte from `from` to `to`; false on a read or write error.
bool CopyAllBytes(int from, const UniqueFd& to) {
  std::vector<char> buffer(1 << 20);
  for (;;) {
    const ssize_t got = ::read(from, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (!WriteAll(to, buffer.data(), static_cast<size_t>(got))) return false;
  }
}

// After the last write, since writing moves the modification time.
bool ApplyAttributes(const UniqueFd& file, const FileAttributes& attributes, AttributeRule rule) {
  if (rule == AttributeRule::kReplace) {
    // Only root (or an owner giving a group of theirs) may do this; where it
    // is refused the file stays the user's, as anything they write would.
    if (::fchown(file.fd, attributes.owner, attributes.group) != 0) {
      (void)::fchown(file.fd, static_cast<uid_t>(-1), attributes.group);
    }
    // Without set-id bits: the file may now belong to someone else.
    if (::fchmod(file.fd, attributes.mode & 0777) != 0) return false;
  }
  const struct timespec times[2] = {attributes.accessed, attributes.modified};
  return ::futimens(file.fd, times) == 0;
}

// A synced copy of `from` under a fresh hidden name beside `to`, with
// `attributes` applied when given; its path, or empty with nothing left.
// Under kPreserve the file is created with the source's permission bits, so
// the umask (or a default ACL) narrows them and nothing can widen them.
std::string StageCopy(const std::string& from, const std::string& to,
                      const FileAttributes* attributes, AttributeRule rule) {
  UniqueFd source = OpenForReading(from);
  if (!source.Valid()) return std::string();
  const unsigned mode = attributes == nullptr             ? 0666u
                        : rule == AttributeRule::kPreserve ? (attributes->mode & 0777u)
                                                           : 0600u;
  std::string temporary;
  UniqueFd target = CreateTemporarySibling(to, mode, temporary);
  if (!target.Valid()) return std::string();
  bool ok = CopyAllBytes(source.fd, target) &&
            (attributes == nullptr || ApplyAttributes(target, *attributes, rule));
  ok = ok && ActiveFileSystemCalls().fsync(target.fd) == 0;
  if (!CloseChecked(target) || !ok) {
    ActiveFileSystemCalls().unlink(temporary.c_str());
    return std::string();
  }
  return temporary;
}

// Renames a staged file over `path`; on failure it is removed.
bool PublishStaged(const std::string& temporary, const std::string& path) {
  if (temporary.empty()) return false;
  if (!RenamePath(temporary, path)) {
    ActiveFileSystemCalls().unlink(temporary.c_str());
    return false;
  }
  SyncFolderOf(path);
  return true;
}

bool StatPath(const std::string& path, struct stat& info, bool followLinks) {
  if (path.empty()) return false;
  return (followLinks ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info)) == 0;
}

}  // namespace

const FileSystemCalls& ActiveFileSystemCalls() { return *activeCalls.load(); }

void SetFileSystemCalls(const FileSystemCalls* calls) {
  activeCalls.store(calls ? calls : &kRealCalls);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd >= 0) ActiveFileSystemCalls().close(fd);
    fd = other.fd;
    other.fd = -1;
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd >= 0) ActiveFileSystemCalls().close(fd);
}

UniqueFd LockFolderExclusively(const std::string& folder, bool& busy) {
  busy = false;
  UniqueFd handle(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!handle.Valid()) return UniqueFd();
  if (::flock(handle.fd, LOCK_EX | LOCK_NB) == 0) return handle;
  busy = errno == EWOULDBLOCK;
  return UniqueFd();
}

UniqueFd OpenForReading(const std::string& path) {
  if (path.empty()) return UniqueFd();
  int fd;
  // Non-blocking, so a named pipe does not wait for a writer before it can be
  // refused; only regular files are read.
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  UniqueFd file(fd);
  struct stat info{};
  if (!file.Valid() || ::fstat(file.fd, &info) != 0) return UniqueFd();
  if (!S_ISREG(info.st_mode)) {
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return UniqueFd();
  }
  const int flags = ::fcntl(file.fd, F_GETFL);
  if (flags < 0 || ::fcntl(file.fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return UniqueFd();
  return file;
}

namespace {

// Opens for writing without following a final link and without waiting
// on a named pipe nobody reads; the descriptor is blocking again afterwards.
UniqueFd OpenWritableNoFollow(const std::string& path, int flags, unsigned mode) {
  if (path.empty()) return UniqueFd();
  UniqueFd file(ActiveFileSystemCalls().open(
      path.c_str(), flags | O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
      static_cast<mode_t>(mode)));
  if (!file.Valid()) return file;
  const int current = ::fcntl(file.fd, F_GETFL);
  if (current < 0 || ::fcntl(file.fd, F_SETFL, current & ~O_NONBLOCK) != 0) return UniqueFd();
  return file;
}

}  // namespace

UniqueFd CreateForWriting(const std::string& path, unsigned mode) {
  return OpenWritableNoFollow(path, O_CREAT | O_TRUNC, mode);
}

UniqueFd OpenForAppending(const std::string& path, unsigned mode) {
  return OpenWritableNoFollow(path, O_CREAT | O_APPEND, mode);
}

bool WriteAll(const UniqueFd& file, const void* data, size_t size) {
  if (!file.Valid()) return false;
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t written = ActiveFileSystemCalls().write(file.fd, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) return false;
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool CloseChecked(UniqueFd& file) {
  if (!file.Valid()) return false;
  const int fd = file.fd;
  file.fd = -1;
  return ActiveFileSystemCalls().close(fd) == 0;
}

bool ReadFileBytes(const std::string& path, std::string& content, std::uint64_t limitBytes) {
  content.clear();
  UniqueFd file = OpenForReading(path);
  if (!file.Valid()) return false;
  struct stat info{};
  if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  if (static_cast<std::uint64_t>(info.st_size) > limitBytes) return false;
  content.reserve(static_cast<size_t>(info.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(file.fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      content.clear();
      return false;
    }
    if (got == 0) break;
    if (content.size() + static_cast<size_t>(got) > limitBytes) {
      content.clear();
      return false;
    }
    content.append(buffer, static_cast<size_t>(got));
  }
  return true;
}

bool WriteFileAtomically(const std::string& path, const void* data, size_t size, unsigned mode) {
  std::string temporary;
  UniqueFd file = CreateTemporarySibling(path, mode, temporary);
  if (!file.Valid()) return false;
  const bool written = WriteAll(file, data, size);
  return CommitTemporary(file, written, temporary, path);
}

bool PathExists(const std::string& path) {
  struct stat info{};
  return StatPath(path, info, false);
}

bool IsDirectory(const std::string& path) {
  struct stat info{};
  return StatPath(path, info, true) && S_ISDIR(info.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat info{};
  return StatPath(path, info, true) && S_ISREG(info.st_mode);
}

bool IsSymbolicLink(const std::string& path) {
  struct stat info{};
  return StatPath(path, info, false) && S_ISLNK(info.st_mode);
}

bool TryFileSize(const std::string& path, std::uint64_t& size) {
  size = 0;
  struct stat info{};
  if (!StatPath(path, info, true) || !S_ISREG(info.st_mode)) return false;
  size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

std::uint64_t FileSize(const std::string& path) {
  std::uint64_t size = 0;
  TryFileSize(path, size);
  return size;
}

bool CopyFileBytes(const std::string& from, const std::string& to) {
  return PublishStaged(StageCopy(from, to, nullptr, AttributeRule::kPreserve), to);
}

bool ReadFileAttributes(const std::string& path, FileAttributes& attributes) {
  struct stat info{};
  if (!StatPath(path, info, true)) return false;
  attributes.accessed = info.st_atim;
  attributes.modified = info.st_mtim;
  attributes.mode = info.st_mode;
  attributes.owner = info.st_uid;
  attributes.group = info.st_gid;
  attributes.device = info.st_dev;
  attributes.inode = info.st_ino;
  attributes.bytes = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool CopyFileBytesWithAttributes(const std::string& from, const std::string& to,
                                 const FileAttributes& attributes, AttributeRule rule) {
  return PublishStaged(StageCopy(from, to, &attributes, rule), to);
}

std::string StageCopyBeside(const std::string& from, const std::string& to,
                            const FileAttributes& attributes, AttributeRule rule) {
  return StageCopy(from, to, &attributes, rule);
}

bool LinkPath(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return false;
  return ActiveFileSystemCalls().link(from.c_str(), to.c_str()) == 0;
}

void SyncFolderOf(const std::string& path) {
  const std::string folder = ParentFolder(path);
  const UniqueFd handle(::open(folder.empty() ? "." : folder.c_str(),
                               O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (handle.Valid()) ActiveFileSystemCalls().fsync(handle.fd);
}

bool DeleteFileAt(const std::string& path) {
  if (path.empty()) return false;
  if (ActiveFileSystemCalls().unlink(path.c_str()) == 0) return true;
  return errno == ENOENT;
}

bool RenamePath(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return false;
  return ActiveFileSystemCalls().rename(from.c_str(), to.c_str()) == 0;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  std::string result(folder);
  if (result.back() != '/' && result.back() != '\\') result.push_back('/');
  result.append(name);
  return result;
}

std::string NormalisedAbsolutePath(const std::string& path, const std::string& currentFolder,
                                   ParentSteps parentSteps) {
  namespace fs = std::filesystem;
  fs::path absolute(path);
  if (absolute.is_relative()) {
    std::error_code error;
    const fs::path base = currentFolder.empty() ? fs::current_path(error) : fs::path(currentFolder);
    absolute = base / absolute;
  }
  // Component by component, as lexically_normal leaves a root of several
  // separators ("///") as it is.
  fs::path cleaned = absolute.has_root_directory() ? "/" : "";
  for (const fs::path& part : absolute.relative_path()) {
    if (!part.empty() && part != ".") cleaned /= part;
  }
  if (parentSteps == ParentSteps::kResolve) cleaned = cleaned.lexically_normal();
  if (!cleaned.has_filename() && cleaned.has_relative_path()) cleaned = cleaned.parent_path();
  return cleaned.string();
}

std::string ParentFolder(std::string_view path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string_view::npos) return std::string();
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

std::string FileNamePart(std::string_view path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string_view::npos || slash + 1 == path.size()) return std::string(path);
  return std::string(path.substr(slash + 1));
}

std::string BaseNamePart(std::string_view path) {
  const std::string name = FileNamePart(path);
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return name;
  return name.substr(0, dot);
}

std::string ExtensionPart(std::string_view path) {
  const std::string name = FileNamePart(path);
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return std::string();
  return name.substr(dot);
}

bool EnsureFolder(const std::string& path, unsigned mode) {
  if (path.empty()) return false;
  if (IsDirectory(path)) return true;
  const std::string parent = ParentFolder(path);
  if (!parent.empty() && parent != path && !IsDirectory(parent)) {
    EnsureFolder(parent, mode);
  }
  ActiveFileSystemCalls().mkdir(path.c_str(), static_cast<mode_t>(mode));
  return IsDirectory(path);
}

namespace {

// The next component below `parent`: opened as a folder without following a
// link, after making it when `create` asks for it.
SubfolderWalk OpenSubfolder(const UniqueFd& parent, const std::string& name, bool create,
                            UniqueFd& next) {
  if (create && ::mkdirat(parent.fd, name.c_str(), 0777) != 0 && errno != EEXIST) {
    return SubfolderWalk::kRefused;
  }
  next = UniqueFd(::openat(parent.fd, name.c_str(),
                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (next.Valid()) return SubfolderWalk::kReady;
  return errno == ENOENT && !create ? SubfolderWalk::kMissing : SubfolderWalk::kRefused;
}

}  // namespace

SubfolderWalk WalkSubfolders(const std::string& base, const std::string& relative, bool create) {
  UniqueFd folder(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.Valid()) return SubfolderWalk::kRefused;
  size_t start = 0;
  while (start < relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string name = relative.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;
    if (name == "." || name == "..") return SubfolderWalk::kRefused;
    UniqueFd next;
    const SubfolderWalk step = OpenSubfolder(folder, name, create, next);
    if (step != SubfolderWalk::kReady) return step;
    folder = std::move(next);
  }
  return SubfolderWalk::kReady;
}

std::string ProgramFolder() {
  std::vector<char> buffer(32768);
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) return ".";
  return ParentFolder(std::string_view(buffer.data(), static_cast<size_t>(length)));
}

bool RemoveFolderTree(const std::string& path) {
  struct stat info{};
  // lstat: a link to a folder is not a folder here, so it is never descended.
  if (!StatPath(path, info, false) || !S_ISDIR(info.st_mode)) return true;
  // The counterpart of clearing read-only attributes: a folder we own but
  // cannot write or list would otherwise keep its entries.
  if (info.st_uid == ::geteuid() && (info.st_mode & S_IRWXU) != S_IRWXU) {
    ::chmod(path.c_str(), (info.st_mode & 07777) | S_IRWXU);
  }
  const int folderFd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folderFd >= 0) {
    DIR* listing = ::fdopendir(folderFd);
    if (listing == nullptr) {
      ::close(folderFd);
    } else {
      std::vector<std::string> subfolders;
      while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat child{};
        if (::fstatat(folderFd, name.c_str(), &child, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(child.st_mode)) {
          subfolders.push_back(name);
        } else {
          ::unlinkat(folderFd, name.c_str(), 0);
        }
      }
      ::closedir(listing);
      for (const std::string& name : subfolders) RemoveFolderTree(JoinPath(path, name));
    }
  }
  return ::rmdir(path.c_str()) == 0;
}

std::string TempFolder() {
  const char* value = ::getenv("TMPDIR");
  if (value != nullptr && value[0] == '/') return value;
  return "/tmp";
}

std::string CreateUniqueFolder(const std::string& parent, const std::string& prefix) {
  if (parent.empty()) return std::string();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = JoinPath(parent, prefix + RandomNamePart());
    if (ActiveFileSystemCalls().mkdir(path.c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      return std::string();
    }
    const UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.Valid() && ::fchmod(folder.fd, 0700) == 0) return path;
    ::rmdir(path.c_str());
    return std::string();
  }
  return std::string();
}
