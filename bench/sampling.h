// Image sampling for profile development: walks a folder tree, collects every
// accepted image file and forms a balanced, deterministic sample (at most a
// fixed number per folder, taken in a stable pseudo-random order, interleaved
// across folders up to a total limit). The same tree with the same limits
// always yields the same list in the same order, so runs can be repeated.
//
// Neighbours: the profile-development window and the command line call
// SelectBalancedSample; raw_results writes the list to selected_images.txt;
// the worker processes it image by image.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/image_list.h"

// Limits of the sample (field default, minimum, maximum).
constexpr int kPerFolderDefault = 5;
constexpr int kPerFolderMinimum = 1;
constexpr int kPerFolderMaximum = 50;
constexpr int kTotalDefault = 5000;
constexpr int kTotalMinimum = 10;
constexpr int kTotalMaximum = 50000;

struct ImageSample {
  std::vector<std::string> images;  // full paths in processing order
  std::uint64_t foldersFound = 0;   // folders taken off the scan stack, root included
  std::uint64_t imagesFound = 0;    // accepted image files in the whole tree, before limits
};

// Orders folder paths by their UTF-16 code units (no case folding); texts that
// convert alike (invalid UTF-8) fall back to their bytes so the order is total.
struct OrdinalUtf16Less {
  bool operator()(const std::string& left, const std::string& right) const;
};

// Folder path exactly as the scan built it -> accepted files directly in it.
using FolderGroups = std::map<std::string, std::vector<std::string>, OrdinalUtf16Less>;

// Reads a limit from a field's text: at most its first 63 characters, parsed
// as a base-10 integer (leading white space and a sign accepted, parsing stops
// at the first non-digit). No digits or a value beyond 32 bits give
// `fallback`; otherwise the value clamped to minimum..maximum.
std::int32_t ReadClampedInteger(const std::string& text, std::int32_t fallback,
                                std::int32_t minimum, std::int32_t maximum);

// .jpg .jpeg .jpe .png .bmp .tif .tiff, in any letter case.
bool IsBenchmarkImageFile(const std::string& path);

// IsJpegSourceFile and FindPathExtension (core/image_list.h): the sources
// that get the jpegtran rows.

// Walks the tree below `root` with an explicit stack. Every folder taken off
// the stack counts in `foldersFound`, also one that cannot be listed.
// Subfolders reached through a symbolic link are neither entered nor counted.
// Regular files (also through a link) with an accepted extension are added to
// the group of their folder and counted in `imagesFound`. The caller zeroes
// the counters.
void ScanImageTree(const std::string& root, FolderGroups& groups, std::uint64_t& foldersFound,
                   std::uint64_t& imagesFound);

// FNV-1a (prime 0x100000001B3, start 0x14650FB0739D0383) over the UTF-16
// little-endian bytes of the path with A-Z lower-cased.
std::uint64_t SampleOrderKey(const std::string& path);

// True when `left` comes before `right` within a folder: smaller order key,
// or equal keys and the ordinally smaller path.
bool SampleOrderLess(const std::string& left, const std::string& right);

// Scans the tree and forms the balanced sample; both caps are clamped again
// (1..50 per folder, 10..50000 in total).
ImageSample SelectBalancedSample(const std::string& root, std::int32_t perFolderCap,
                                 std::int32_t totalCap);
