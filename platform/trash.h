// The user's trash, in the freedesktop.org layout file managers read,
// and replacing a file in place with its original kept there.
//
// A trash is a folder with files/ (the trashed files) and info/ (one
// NAME.trashinfo per files/NAME, with the original path and the deletion
// date), from which file managers and `gio trash --restore` put a file back.
// The home trash lies under $XDG_DATA_HOME/Trash (~/.local/share/Trash); a
// file on another file system goes to that mount's own trash,
// $topdir/.Trash/$uid (when .Trash is a sticky folder, not a link) or else
// $topdir/.Trash-$uid. Only a trash on the file's own file system is used:
// the original is hard-linked there, never copied, so it is in the trash
// before its name is given to the new file.
//
// Every step that writes goes through the file-system seam of files.h, so
// tests can fail or kill the process at any single call. Neighbours:
// files.h (the copy with attributes, the seam), core/pipeline (the caller
// under --replace).
#pragma once

#include <ctime>
#include <string>

#include "platform/files.h"

struct TrashFolder {
  std::string root;         // the trash folder itself (holds files/ and info/)
  std::string filesFolder;  // root + "/files"
  std::string infoFolder;   // root + "/info"
  // The folder a relative Path in an info file starts from: the mount's top
  // folder for a trash on it; empty for the home trash (absolute paths).
  std::string pathBase;
};

// The home trash folder: $XDG_DATA_HOME/Trash when XDG_DATA_HOME is an
// absolute path, else $HOME/.local/share/Trash; empty without either.
std::string HomeTrashFolder();

// The trash that can take `path` by hard link, its folders created (mode
// 0700) as needed: the home trash when it lies on `path`'s file system,
// else the mount's .Trash/$uid, else .Trash-$uid. False when none is usable
// (no place on that file system, no permission, a link planted there).
bool FindTrashFor(const std::string& path, TrashFolder& trash);

// A path in an info file: every byte but letters, digits and "-._~/" as %XX.
std::string PercentEncodePath(const std::string& path);

// The content of an info file for `originalPath` (absolute), deleted at
// `deletedAt` (written in local time, which is what file managers expect).
std::string TrashInfoText(const std::string& originalPath, const TrashFolder& trash,
                          std::time_t deletedAt);

enum class ReplaceOutcome {
  kReplaced,       // the new file stands under the source's name, the original in the trash
  kNoTrash,        // no usable trash: the source is untouched
  kSourceChanged,  // the source is no longer the file that was read (or is a link): untouched
  kFailed,         // the new file could not be written: the source is untouched
};

// Puts a copy of `newFile` under `sourcePath`, the original going to the
// trash. `sourceAttributes` are the source's, as read before it was first
// opened: the new file takes its times, exact permission bits and (where
// allowed) owner, and a source whose identity, size or modification time
// differs from them is left alone.
//
// Order, so that at every moment the source's name holds either the
// original or the complete new file, and the original is at its place or
// in the trash (also when the process is killed between any two calls):
// (1) the copy is written, given its attributes and synced under a hidden
// name beside the source; (2) info/NAME.trashinfo is created exclusively and
// synced; (3) the source is hard-linked to files/NAME (a name taken there
// removes the info and tries the next); (4) both trash folders are synced;
// (5) the copy is renamed over the source and its folder synced. A failed
// step removes what the earlier ones made. `trashedAs` receives files/NAME.
ReplaceOutcome ReplaceKeepingOriginalInTrash(const std::string& sourcePath,
                                             const std::string& newFile,
                                             const FileAttributes& sourceAttributes,
                                             std::string* trashedAs = nullptr);
