// Shared fixtures of the profile-development tests; see bench_test_support.h.
#include "tests/bench/bench_test_support.h"

#include <dirent.h>

#include "engines/engine_store.h"
#include "bench/summary.h"
#include "imaging/wic_encoder.h"
#include "platform/files.h"

BenchTestFolders::BenchTestFolders()
    : tmp(temp.Join("tmp")),
      data(temp.Join("data")),
      images(temp.Join("images")),
      tmpdir("TMPDIR", (EnsureFolder(tmp), tmp.c_str())),
      localAppData("LOCALAPPDATA", (EnsureFolder(data), data.c_str())) {
  EnsureFolder(images);
}

ScopedEngines::ScopedEngines(const std::string& jpegtranPath, const std::string& mozjpegPath) {
  EngineStore& store = Engines();
  store.jpegtranPath = jpegtranPath;
  store.mozjpegPath = mozjpegPath;
  store.jpegliPath.clear();
  store.jpegtranAvailable.store(!jpegtranPath.empty());
  store.mozjpegAvailable.store(!mozjpegPath.empty());
  store.jpegliAvailable.store(false);
  store.allAvailable.store(false);
}

ScopedEngines::~ScopedEngines() {
  EngineStore& store = Engines();
  store.jpegtranAvailable.store(false);
  store.mozjpegAvailable.store(false);
  store.jpegliAvailable.store(false);
  store.jpegtranPath.clear();
  store.mozjpegPath.clear();
}

namespace {

PixelImage MakeTestPicture(std::uint32_t width, std::uint32_t height, int seed) {
  PixelImage image{width, height, std::vector<std::uint8_t>(static_cast<size_t>(width) * height * 4)};
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      std::uint8_t* p = &image.pixels[(static_cast<size_t>(y) * width + x) * 4];
      const bool block = ((x / 8) + (y / 8) + static_cast<std::uint32_t>(seed)) % 3 == 0;
      p[0] = static_cast<std::uint8_t>((x * 255) / (width > 1 ? width - 1 : 1));
      p[1] = static_cast<std::uint8_t>((y * 255) / (height > 1 ? height - 1 : 1));
      p[2] = static_cast<std::uint8_t>(block ? 230 : (seed * 37) % 200);
      p[3] = 255;
    }
  }
  return image;
}

}  // namespace

bool WriteTestJpeg(const std::string& path, std::uint32_t width, std::uint32_t height, int seed) {
  return EncodeJpegWic(MakeTestPicture(width, height, seed), path, 0.92f);
}

bool MakeFolder(const std::string& path) { return EnsureFolder(path); }

std::vector<std::string> FolderEntries(const std::string& folder, const std::string& prefix) {
  std::vector<std::string> names;
  DIR* listing = ::opendir(folder.c_str());
  if (listing == nullptr) return names;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name.rfind(prefix, 0) == 0 && name != "." && name != "..") names.push_back(name);
  }
  ::closedir(listing);
  return names;
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
