// Shared pieces of the profile-development tests; see bench_test_support.h.
#include "tests/bench/bench_test_support.h"

#include "bench/summary.h"
#include "platform/files.h"

BenchTestFolders::BenchTestFolders()
    : tmp(temp.Join("tmp")),
      data(temp.Join("data")),
      images(temp.Join("images")),
      tmpdir("TMPDIR", (EnsureFolder(tmp), tmp.c_str())),
      localAppData("LOCALAPPDATA", (EnsureFolder(data), data.c_str())) {
  EnsureFolder(images);
}

std::vector<std::vector<std::string>> RawRows(const std::string& csvPath) {
  std::vector<std::vector<std::string>> rows;
  const std::vector<std::string> lines = SplitLines(ReadTextFile(csvPath));
  for (size_t i = 1; i < lines.size(); ++i) rows.push_back(SplitCsvLine(lines[i]));
  return rows;
}

std::map<std::string, int> RowsPerImage(const std::string& csvPath, size_t field) {
  std::map<std::string, int> rows;
  for (const auto& fields : RawRows(csvPath)) ++rows[fields[field]];
  return rows;
}
