// Shared pieces of the profile-development tests: a private temporary and
// local data folder per test, and the rows of a raw file. The engine store,
// the test photos and the work-folder listing come from the core tests.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/core/core_test_support.h"
#include "tests/support/file_system.h"
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

// The fields of every row of a raw file after its header.
std::vector<std::vector<std::string>> RawRows(const std::string& csvPath);
// Field `field` of those rows (0: image name, 1: relative path) -> its rows.
std::map<std::string, int> RowsPerImage(const std::string& csvPath, size_t field = 0);
