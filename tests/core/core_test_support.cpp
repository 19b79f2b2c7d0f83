// Shared pieces of the core tests; see core_test_support.h.
#include "tests/core/core_test_support.h"

#include <unistd.h>

#include <algorithm>

#include "engines/engine_store.h"
#include "core/live_status.h"
#include "core/parallel_encoding.h"
#include "core/profiles.h"
#include "platform/files.h"
#include "tests/imaging/fixtures.h"
#include "tests/support/file_system.h"

std::string JpegtranProgram() { return ORVEL_TEST_JPEGTRAN; }

TestEngineStore::TestEngineStore(const TestTools& tools) {
  EngineStore& store = Engines();
  store.jpegliPath = folder.Join("cjpegli");
  store.mozjpegPath = folder.Join("cjpeg-static");
  store.jpegtranPath = JpegtranProgram();
  for (const std::string& link : {store.jpegliPath, store.mozjpegPath}) {
    EXPECT_EQ(::symlink(ORVEL_TEST_ENCODER, link.c_str()), 0);
  }
  store.jpegliAvailable = tools.jpegli;
  store.mozjpegAvailable = tools.mozjpeg;
  store.jpegtranAvailable = tools.jpegtran && !store.jpegtranPath.empty();
  store.allAvailable = store.jpegliAvailable && store.mozjpegAvailable && store.jpegtranAvailable;
}

TestEngineStore::~TestEngineStore() {
  EngineStore& store = Engines();
  store.jpegliAvailable = store.mozjpegAvailable = store.jpegtranAvailable = store.allAvailable = false;
  store.jpegliPath = store.mozjpegPath = store.jpegtranPath = "";
}

PixelImage MakeTestPicture(std::uint32_t width, std::uint32_t height, std::uint32_t seed) {
  PixelImage image;
  image.width = width;
  image.height = height;
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      const int noise = static_cast<int>((state >> 24) % 9) - 4;
      const double dx = x - width / 2.0, dy = y - height / 3.0;
      const bool disc = dx * dx + dy * dy < (height / 5.0) * (height / 5.0);
      const int r = static_cast<int>(40 + 160 * x / width) + noise;
      const int g = static_cast<int>(60 + 120 * y / height) + noise;
      const int b = disc ? 200 + noise : static_cast<int>(90 + 60 * (x + y) / (width + height)) + noise;
      for (int channel : {b, g, r, 255}) {
        image.pixels.push_back(static_cast<std::uint8_t>(std::clamp(channel, 0, 255)));
      }
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
  std::vector<std::string> names = FolderEntries(folder);
  std::erase_if(names, [](const std::string& name) { return name.rfind("TALV_", 0) != 0; });
  return names;
}

std::string MakeSegment(std::uint8_t marker, const std::string& payload) {
  const size_t length = payload.size() + 2;
  return std::string{'\xFF', static_cast<char>(marker), static_cast<char>(length >> 8),
                     static_cast<char>(length & 0xFF)} + payload;
}

std::string MakeExifOrientationSegment(std::uint16_t orientation) {
  const unsigned char tiff[] = {'I', 'I', 42, 0, 8, 0, 0, 0,   // header, IFD at 8
                                1, 0,                          // one entry
                                0x12, 0x01, 3, 0, 1, 0, 0, 0,  // Orientation, SHORT, 1
                                static_cast<unsigned char>(orientation), 0, 0, 0,
                                0, 0, 0, 0};                   // no next IFD
  return MakeSegment(0xE1, std::string("Exif\0\0", 6) + std::string(reinterpret_cast<const char*>(tiff), sizeof tiff));
}

bool InsertSegmentsIntoJpeg(const std::string& path, const std::string& segments) {
  std::string bytes;
  if (!ReadFileBytes(path, bytes) || bytes.size() < 20 ||
      bytes.compare(0, 6, std::string("\xFF\xD8\xFF\xE0\0\x10", 6)) != 0) {
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
