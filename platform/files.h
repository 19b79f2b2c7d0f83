// Files, folders and paths of the Linux layer.
//
// Paths are native UTF-8 byte strings with "/" as separator. Every descriptor
// opened here is close-on-exec, so encoder processes started concurrently from
// other threads never inherit each other's files.
//
// The system calls that write or move data go through a swappable table
// (`FileSystemCalls`), the way SQLite swaps its VFS in tests: fault-injection
// tests install a table that fails a write with ENOSPC, a rename with EIO or
// a delete with EROFS, and every writer of the program sees the fault.
#pragma once

#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// --- Fault-injection seam -------------------------------------------------

struct FileSystemCalls {
  int (*open)(const char* path, int flags, mode_t mode);
  ssize_t (*write)(int fd, const void* data, size_t size);
  int (*close)(int fd);
  int (*rename)(const char* from, const char* to);
  int (*mkdir)(const char* path, mode_t mode);
  // Default to the real calls, so a table that names only the five above
  // still deletes and syncs for real.
  int (*unlink)(const char* path) = ::unlink;
  int (*fsync)(int fd) = ::fsync;
  // Hard links keep an original in the trash while its name still holds it.
  int (*link)(const char* from, const char* to) = ::link;
};

// The table in force; the real system calls unless a test swapped it.
const FileSystemCalls& ActiveFileSystemCalls();

// Installs a table (nullptr restores the real calls). Tests only; not thread-safe
// against concurrent file operations.
void SetFileSystemCalls(const FileSystemCalls* calls);

// --- Descriptors -----------------------------------------------------------

// An owned file descriptor; closes on destruction.
struct UniqueFd {
  int fd = -1;  // -1 when nothing is owned
  UniqueFd() = default;
  explicit UniqueFd(int value) : fd(value) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd(other.fd) { other.fd = -1; }
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  ~UniqueFd();
  bool Valid() const { return fd >= 0; }
};

// Opens a regular file for reading (close-on-exec, links followed). Invalid
// on failure and for anything else: a named pipe, a device or a folder is
// refused at once, never waited on.
UniqueFd OpenForReading(const std::string& path);

// An exclusive flock on the folder itself (its directory descriptor), held
// while the returned descriptor lives; nothing is written into the folder.
// `busy` is true when another process holds it. Invalid with `busy` false:
// the folder cannot be opened or its file system does not lock folders (NFS
// maps flock to byte-range locks that need a file open for writing).
UniqueFd LockFolderExclusively(const std::string& folder, bool& busy);

// Creates or truncates a file for writing with the given permission bits
// (masked by the umask). Invalid on failure, and when the name is a symbolic
// link (never written through) or a named pipe nobody reads.
UniqueFd CreateForWriting(const std::string& path, unsigned mode = 0666);

// Opens a file for appending, creating it with the given permission bits
// (masked by the umask); refused like CreateForWriting for a link or a pipe.
UniqueFd OpenForAppending(const std::string& path, unsigned mode = 0666);

// Writes every byte, retrying short writes and EINTR. False on any error.
bool WriteAll(const UniqueFd& file, const void* data, size_t size);

// Closes now and reports a delayed write error (NFS, full disk) that close()
// may return. The descriptor is released either way.
bool CloseChecked(UniqueFd& file);

// --- Whole files -----------------------------------------------------------

// Reads a whole file into `content`; false when it cannot be opened or read, or
// is larger than `limitBytes`.
bool ReadFileBytes(const std::string& path, std::string& content,
                   std::uint64_t limitBytes = UINT64_MAX);

// Writes `size` bytes to a temporary name beside `path` and renames it over
// `path`, so the final name never holds a partial file. The temporary file is
// created exclusively under a short unpredictable name (never through a
// link) and removed on failure; its data and then the folder are synced, so
// a power cut leaves either the old or the complete new file.
bool WriteFileAtomically(const std::string& path, const void* data, size_t size,
                         unsigned mode = 0666);

// --- Queries and simple operations ----------------------------------------

bool PathExists(const std::string& path);       // anything, links not followed
bool IsDirectory(const std::string& path);      // follows links
bool IsRegularFile(const std::string& path);    // follows links
bool IsSymbolicLink(const std::string& path);

// Size in bytes of a regular file; 0 when it cannot be read.
std::uint64_t FileSize(const std::string& path);
// Same, telling failure apart from an empty file.
bool TryFileSize(const std::string& path, std::uint64_t& size);

// Copies bytes, replacing `to`, as safely and durably as WriteFileAtomically:
// `to` is never left half-written, and on failure whatever was at `to` stays.
// Permissions: 0666 masked by the umask. A link at `to` is replaced, never
// written through.
bool CopyFileBytes(const std::string& from, const std::string& to);

// What an output takes over from its source: times, permission bits and owner,
// as read before the source was first opened, since reading may move its
// access time.
struct FileAttributes {
  struct timespec accessed {};  // access time
  struct timespec modified {};  // modification time
  mode_t mode = 0;              // the file's type and permission bits (st_mode)
  uid_t owner = 0;
  gid_t group = 0;
  dev_t device = 0;             // identity, to see whether the file was replaced meanwhile
  ino_t inode = 0;
  std::uint64_t bytes = 0;      // size
};

// The attributes of the file at `path` (links followed); false when it
// cannot be read.
bool ReadFileAttributes(const std::string& path, FileAttributes& attributes);

// How CopyFileBytesWithAttributes treats the attributes it is given.
enum class AttributeRule {
  kPreserve,  // times; permission bits never wider than the source's and the
              // umask allow; the owner stays the user's
  kReplace,   // times, the exact permission bits and, where the system allows,
              // owner and group: the file stands in for the source itself
};

// CopyFileBytes, with `attributes` applied to the new file before it is
// synced and renamed, so its final name never holds it with other times or
// wider permissions. `to` is never left half-written.
bool CopyFileBytesWithAttributes(const std::string& from, const std::string& to,
                                 const FileAttributes& attributes, AttributeRule rule);

// The finished copy of CopyFileBytesWithAttributes, still under a hidden
// temporary name beside `to` and synced, for callers that must do more
// before it takes `to`'s name (RenamePath). Empty on failure, with nothing
// left behind.
std::string StageCopyBeside(const std::string& from, const std::string& to,
                            const FileAttributes& attributes, AttributeRule rule);

// Makes a hard link through the seam; false with errno set on failure.
bool LinkPath(const std::string& from, const std::string& to);

// Makes renames and links in the folder of `path` survive a power cut; a
// folder that cannot be synced (some file systems refuse) changes nothing.
void SyncFolderOf(const std::string& path);

// Deletes a file (not a folder). True when it is gone afterwards.
bool DeleteFileAt(const std::string& path);

// Renames through the seam; replaces an existing target atomically.
bool RenamePath(const std::string& from, const std::string& to);

// --- Paths and folders -----------------------------------------------------

// The name alone when the folder is empty; folder + name when the folder ends
// in "/" or "\"; otherwise folder + "/" + name.
std::string JoinPath(std::string_view folder, std::string_view name);

// What NormalisedAbsolutePath does with "..".
enum class ParentSteps {
  kResolve,  // "a/../b" becomes "b", on the text alone
  kKeep,     // kept: behind a symbolic link to a folder, "link/.." is not the
             // folder that holds the link, so only this names the same file
};

// `path` made absolute against `currentFolder` (the process's current folder
// when empty) and cleaned on its text: "." components and repeated or trailing
// separators dropped, ".." as `parentSteps` says ("/.." is "/"). Nothing is
// looked up on disk.
std::string NormalisedAbsolutePath(const std::string& path, const std::string& currentFolder = {},
                                   ParentSteps parentSteps = ParentSteps::kResolve);

// The path with its last component removed: "/a/b/c.jpg" gives "/a/b", "/a"
// gives "/", "name" gives "".
std::string ParentFolder(std::string_view path);

// File-name part after the last "/"; the whole path when there is none.
std::string FileNamePart(std::string_view path);

// File-name part without its last extension ("a.b.jpg" gives "a.b").
std::string BaseNamePart(std::string_view path);

// Extension including the dot ("x.JPG" gives ".JPG"), empty when none.
std::string ExtensionPart(std::string_view path);

// False for an empty path; true when a directory exists there afterwards,
// creating missing parents with the given mode.
bool EnsureFolder(const std::string& path, unsigned mode = 0777);

// What WalkSubfolders found on the way from a base folder down a relative path.
enum class SubfolderWalk {
  kReady,    // every component is a real folder (created where it was missing)
  kMissing,  // a component does not exist (only when nothing is to be created)
  kRefused,  // a component is a symbolic link or no folder, or could not be made
};

// Walks `relative` ("2023/Urlaub", components separated by "/", no "." or
// "..") below the existing folder `base`, one component at a time, never
// following a link: a link there might lead out of the output tree. With
// `create`, missing components are made with mode 0777 masked by the umask.
SubfolderWalk WalkSubfolders(const std::string& base, const std::string& relative, bool create);

// Folder of the running executable (from /proc/self/exe); "." when unknown.
std::string ProgramFolder();

// Removes a folder with everything in it. Never follows a symbolic link: a link
// inside is removed as a link, and a path that is itself a link is not a
// folder. True when the path does not exist, is not a directory, or the folder
// itself was removed; failures of single entries are ignored.
bool RemoveFolderTree(const std::string& path);

// Creates "<parent>/<prefix><twelve unpredictable characters>" exclusively,
// with mode exactly 0700 whatever the umask; the new folder's path, or empty
// when none could be made. Nobody can take or prepare the name in advance.
std::string CreateUniqueFolder(const std::string& parent, const std::string& prefix);

// $TMPDIR when it is set to an absolute path, else "/tmp".
std::string TempFolder();
