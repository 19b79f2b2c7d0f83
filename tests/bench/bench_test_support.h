// Shared fixtures of the profile-development tests: a private temporary and
// local data folder per test, an engine store set up by hand, tiny generated
// images and the rows of a raw file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "imaging/pixel_image.h"
#include "tests/support/scoped_temp.h"
#include "tests/support/text_lines.h"

// TMPDIR and LOCALAPPDATA point into one private folder while it lives, so no
// test touches the user's real temporary or data folders.
struct BenchTestFolders {
  ScopedTempFolder temp;
  std::string tmp;    // temp/tmp: work folders
  std::string data;   // temp/data: LOCALAPPDATA
  std::string images; // temp/images: the image collection
  ScopedEnv tmpdir;
  ScopedEnv localAppData;
  BenchTestFolders();
};

// Sets the engine store: the tools given by path (empty: unavailable), all
// cleared again on destruction.
struct ScopedEngines {
  ScopedEngines(const std::string& jpegtranPath, const std::string& mozjpegPath);
  ~ScopedEngines();
  ScopedEngines(const ScopedEngines&) = delete;
  ScopedEngines& operator=(const ScopedEngines&) = delete;
};

// A small deterministic picture with gradients and a few edges, written as a
// JPEG with the in-process encoder.
bool WriteTestJpeg(const std::string& path, std::uint32_t width, std::uint32_t height, int seed);

// Creates the folder with all missing parents; false on failure.
bool MakeFolder(const std::string& path);

// Names of the entries of a folder starting with `prefix`.
std::vector<std::string> FolderEntries(const std::string& folder, const std::string& prefix);

// The fields of every row of a raw file after its header.
std::vector<std::vector<std::string>> RawRows(const std::string& csvPath);
// Field `field` of those rows (0: image name, 1: relative path) -> its rows.
std::map<std::string, int> RowsPerImage(const std::string& csvPath, size_t field = 0);
