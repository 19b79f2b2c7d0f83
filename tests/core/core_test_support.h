// Shared pieces of the core tests (also used by the hardening, bench and UI
// suites): a private temporary folder that TMPDIR points at (so every TALV_
// work folder a test leaves behind is seen), an engine store aimed at the test
// encoder and the real jpegtran, and small synthetic photos.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "imaging/pixel_image.h"
#include "tests/support/scoped_temp.h"

// Which tools the engine store offers in a test.
struct TestTools {
  bool jpegli = false, mozjpeg = false, jpegtran = false;
};

// Points Engines() at "cjpegli" and "cjpeg-static" links to the test encoder
// and at the real jpegtran, with the chosen availability flags; clears the
// store again afterwards.
struct TestEngineStore {
  ScopedTempFolder folder;
  explicit TestEngineStore(const TestTools& tools);
  ~TestEngineStore();
  TestEngineStore(const TestEngineStore&) = delete;
  TestEngineStore& operator=(const TestEngineStore&) = delete;
};

// The jpegtran program the tests use; empty when the build found none.
std::string JpegtranProgram();
// A smooth synthetic photo with a little texture: good candidates pass the
// quality gate of the default profile.
PixelImage MakeTestPicture(std::uint32_t width, std::uint32_t height, std::uint32_t seed);
// Writes `image` as a baseline 4:2:0 JPEG with libjpeg's standard Huffman
// tables at `quality` (1..100).
bool WriteTestJpeg(const std::string& path, const PixelImage& image, int quality);
// Names in `folder` that begin with "TALV_".
std::vector<std::string> WorkFoldersIn(const std::string& folder);
// Inserts raw segment bytes right after the JFIF APP0 segment of a JPEG file
// written by WriteTestJpeg (which always begins SOI, APP0 of 16 bytes).
bool InsertSegmentsIntoJpeg(const std::string& path, const std::string& segments);
// One marker segment: 0xFF, marker, big-endian length, payload.
std::string MakeSegment(std::uint8_t marker, const std::string& payload);
// An APP1 Exif segment with one IFD entry: Orientation = `orientation`.
std::string MakeExifOrientationSegment(std::uint16_t orientation);

// Base fixture: private TMPDIR, default mode and hooks, and after every test
// no TALV_ folder left behind.
class CoreTest : public ::testing::Test {
 protected:
  ScopedTempFolder temp;
  std::string tmpdir;  // what TMPDIR points at
  std::optional<ScopedEnv> tmpdirEnv;

  void SetUp() override;
  void TearDown() override;
  std::string Path(const std::string& name) const { return temp.Join(name); }
};
