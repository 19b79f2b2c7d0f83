// Where each image of a batch writes its output, decided before the batch
// runs and shared by both front-ends (and by any later way of writing).
//
// Flat layout: every output goes into the output folder itself as
// "<base name>_<profile key>.jpg". Mirrored layout (orvel-cli's
// --keep-structure): an image found under a named folder goes into the
// subfolder of the output folder that has its path relative to that named
// folder; an image named one by one still goes into the output folder itself.
// When named folders nest, the outermost one decides, so an image has one
// relative path whichever way it was found. The subfolders are made only when
// an output is written (platform/files' WalkSubfolders, links never followed).
//
// Incremental runs (--update): an image whose output exists and is not older
// than the source is skipped with kVerdictUpToDate.
//
// Neighbours: core/pipeline (writes to the target), core/parallel_batch (runs
// the batch over the targets), core/image_list (the list the targets follow).
#pragma once

#include <string>
#include <vector>

#include "core/profiles.h"

// One image's output.
struct OutputTarget {
  std::string path;           // the output file
  std::string folder;         // the output folder the user chose (exists)
  std::string subfolder;      // below `folder`, holding `path`; empty in the flat layout
  bool skipUpToDate = false;  // --update: skip when `path` is not older than the source
};

// How a batch lays out its outputs.
struct OutputLayout {
  std::string folder;          // the output folder
  bool keepStructure = false;  // mirror the named folders' subfolders
  bool skipUpToDate = false;   // --update
};

// The verdict of an image skipped by --update; the dash is an en dash.
extern const char* const kVerdictUpToDate;

// Why a batch does not start while another batch (another window, orvel-cli)
// holds the output folder's lock: two batches into one folder would replace
// each other's outputs (a.jpg and a.jpeg both give a_hoch.jpg).
extern const char* const kMessageOutputFolderBusy;

// The named entries (made absolute against `currentFolder` as the image list
// does) that are folders: the roots that mirrored paths are relative to.
std::vector<std::string> ScanRootsOf(const std::vector<std::string>& named,
                                     const std::string& currentFolder);

// The target of one source; `scanRoots` as ScanRootsOf gives them (unused in
// the flat layout).
OutputTarget OutputTargetFor(const std::string& sourcePath, const OutputLayout& layout,
                             const std::vector<std::string>& scanRoots,
                             const QualityProfile& profile);

// The targets of a whole list, in its order.
std::vector<OutputTarget> BatchOutputTargets(const std::vector<std::string>& sources,
                                             const OutputLayout& layout,
                                             const std::vector<std::string>& scanRoots,
                                             const QualityProfile& profile);

// The output paths of `targets`, in order.
std::vector<std::string> OutputPathsOf(const std::vector<OutputTarget>& targets);

// True when the target's output exists as a regular file (links followed)
// whose modification time is not earlier than the source's.
bool OutputIsUpToDate(const OutputTarget& target, const std::string& sourcePath);

// Makes the target's subfolders before its output is written. False when a
// component is a link or no folder, or cannot be made.
bool PrepareOutputSubfolders(const OutputTarget& target);

// False when a component of the target's subfolder is a link or no folder:
// a stale output behind it is not ours to delete.
bool MayDeleteAtTarget(const OutputTarget& target);
