// Shared pieces of the core tests; see core_test_support.h.
#include "tests/core/core_test_support.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>

#include "engines/engine_store.h"
#include "core/live_status.h"
#include "core/parallel_encoding.h"
#include "core/profiles.h"
#include "platform/files.h"
#include "tests/imaging/fixtures.h"

namespace {

void ClearEngineStore() {
  EngineStore& store = Engines();
  store.jpegliAvailable = false;
  store.mozjpegAvailable = false;
  store.jpegtranAvailable = false;
  store.allAvailable = false;
  store.jpegliPath.clear();
  store.mozjpegPath.clear();
  store.jpegtranPath.clear();
}

}  // namespace

std::string JpegtranProgram() { return ORVEL_TEST_JPEGTRAN; }

TestEngineStore::TestEngineStore(const TestTools& tools) {
  EngineStore& store = Engines();
  store.jpegliPath = folder.Join("cjpegli");
  store.mozjpegPath = folder.Join("cjpeg-static");
  store.jpegtranPath = JpegtranProgram();
  EXPECT_EQ(::symlink(ORVEL_TEST_ENCODER, store.jpegliPath.c_str()), 0);
  EXPECT_EQ(::symlink(ORVEL_TEST_ENCODER, store.mozjpegPath.c_str()), 0);
  store.jpegliAvailable = tools.jpegli;
  store.mozjpegAvailable = tools.mozjpeg;
  store.jpegtranAvailable = tools.jpegtran && !store.jpegtranPath.empty();
  store.allAvailable = store.jpegliAvailable && store.mozjpegAvailable && store.jpegtranAvailable;
}

TestEngineStore::~TestEngineStore() { ClearEngineStore(); }

PixelImage MakeTestPicture(std::uint32_t width, std::uint32_t height, std::uint32_t seed) {
  PixelImage image;
  image.width = width;
  image.height = height;
  image.pixels.resize(static_cast<size_t>(width) * height * 4);
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      const int noise = static_cast<int>((state >> 24) % 9) - 4;
      const bool disc = (x - width / 2.0) * (x - width / 2.0) + (y - height / 3.0) * (y - height / 3.0) <
                        (height / 5.0) * (height / 5.0);
      int r = static_cast<int>(40 + 160 * x / width) + noise;
      int g = static_cast<int>(60 + 120 * y / height) + noise;
      int b = disc ? 200 + noise : static_cast<int>(90 + 60 * (x + y) / (width + height)) + noise;
      uint8_t* p = &image.pixels[(static_cast<size_t>(y) * width + x) * 4];
      p[0] = static_cast<std::uint8_t>(std::clamp(b, 0, 255));
      p[1] = static_cast<std::uint8_t>(std::clamp(g, 0, 255));
      p[2] = static_cast<std::uint8_t>(std::clamp(r, 0, 255));
      p[3] = 255;
    }
  }
  return image;
}

// A plain libjpeg encode, as cameras write them: the in-process encoder's
// progressive, optimised files would leave the lossless transcoder nothing to gain.
bool WriteTestJpeg(const std::string& path, const PixelImage& image, int quality) {
  const std::string jpeg = EncodeJpegOf(image, JpegRecipe{JpegLayout::Rgb, quality});
  return !jpeg.empty() && WriteFileAtomically(path, jpeg.data(), jpeg.size());
}

std::vector<std::string> WorkFoldersIn(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::string(entry->d_name).rfind("TALV_", 0) == 0) names.push_back(entry->d_name);
  }
  ::closedir(dir);
  return names;
}

std::string MakeSegment(std::uint8_t marker, const std::string& payload) {
  const size_t length = payload.size() + 2;
  std::string segment;
  segment += '\xFF';
  segment += static_cast<char>(marker);
  segment += static_cast<char>(length >> 8);
  segment += static_cast<char>(length & 0xFF);
  return segment + payload;
}

std::string MakeExifOrientationSegment(std::uint16_t orientation) {
  // "Exif\0\0", a big-endian TIFF header, one IFD with the Orientation tag.
  std::string payload("Exif\0\0", 6);
  payload += std::string("MM\0\x2A\0\0\0\x08", 8);
  payload += std::string("\0\x01", 2);                       // one entry
  payload += std::string("\x01\x12\0\x03\0\0\0\x01", 8);     // tag 0x0112, SHORT, count 1
  payload += static_cast<char>(orientation >> 8);
  payload += static_cast<char>(orientation & 0xFF);
  payload += std::string("\0\0", 2);
  payload += std::string("\0\0\0\0", 4);                     // no next IFD
  return MakeSegment(0xE1, payload);
}

bool InsertSegmentsIntoJpeg(const std::string& path, const std::string& segments) {
  std::string bytes;
  if (!ReadFileBytes(path, bytes) || bytes.size() < 20) return false;
  if (bytes.compare(0, 4, "\xFF\xD8\xFF\xE0", 4) != 0 || bytes[4] != 0 || bytes[5] != 16) {
    return false;
  }
  bytes.insert(20, segments);
  return WriteFileAtomically(path, bytes.data(), bytes.size());
}

void CoreTest::SetUp() {
  ASSERT_FALSE(temp.path.empty());
  tmpdir = temp.Join("tmp");
  ASSERT_TRUE(EnsureFolder(tmpdir, 0700));
  tmpdirEnv.emplace("TMPDIR", tmpdir.c_str());
  currentMode = kDefaultComputeMode;
  currentProfile = kDefaultProfile;
  SetFrontEndHooks(FrontEndHooks{});
}

void CoreTest::TearDown() {
  EXPECT_TRUE(WorkFoldersIn(tmpdir).empty()) << "a work folder was left behind";
  SetWorkerStartProbe(nullptr);
  SetFileSystemCalls(nullptr);
  SetFrontEndHooks(FrontEndHooks{});
  currentMode = kDefaultComputeMode;
}
