// Test inputs for the imaging tests (and the core, hardening and fuzzing
// ones): small images in memory, and JPEG, PNG and TIFF files written with the
// codec libraries (BMP by hand), so each test states exactly the variant it needs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/pixel_image.h"

// Every pixel the same colour.
PixelImage MakeSolidImage(std::uint32_t width, std::uint32_t height, std::uint8_t blue,
                          std::uint8_t green, std::uint8_t red, std::uint8_t alpha = 255);
// Smooth diagonal gradients in all three channels.
PixelImage MakeGradientImage(std::uint32_t width, std::uint32_t height);
// Pseudo-random pixels from a fixed seed.
PixelImage MakeNoiseImage(std::uint32_t width, std::uint32_t height, std::uint32_t seed);
void SetPixel(PixelImage& image, std::uint32_t x, std::uint32_t y, std::uint8_t blue,
              std::uint8_t green, std::uint8_t red);

enum class JpegLayout { Gray, Rgb, CmykAdobe, YcckAdobe, CmykPlain };

struct JpegRecipe {
  JpegLayout layout = JpegLayout::Rgb;  // colour space written
  int quality = 90;                     // libjpeg quality
  bool progressive = false;             // libjpeg's standard progression
  int scanCount = 0;                    // > 0: a grey progressive file with exactly this many scans
  std::string app1;                     // payload of one APP1 marker, none when empty
  bool chroma444 = false;               // no chroma subsampling (default 4:2:0)
  bool optimize = false;                // Huffman tables optimised for the image
  std::string comment;                  // text of one COM marker, none when empty
};

// Encodes `samples` (1, 3 or 4 bytes per pixel matching the layout: grey, RGB,
// or CMYK as stored in the file) with libjpeg; empty on failure.
std::string EncodeJpegBytes(std::uint32_t width, std::uint32_t height,
                            const std::vector<std::uint8_t>& samples, const JpegRecipe& recipe);
// RGB JPEG of a PixelImage.
std::string EncodeJpegOf(const PixelImage& image, const JpegRecipe& recipe = {});

struct JpegMarker {
  size_t offset = 0;      // of the 0xFF byte
  std::uint8_t code = 0;  // the marker byte after 0xFF
};
// Every marker segment before the first scan, and every SOS.
std::vector<JpegMarker> ListJpegMarkers(const std::string& jpeg);
// The same file with the frame header's size replaced.
std::string WithJpegFrameSize(std::string jpeg, std::uint16_t width, std::uint16_t height);

// Little-endian bytes of a number, as BMP, GIF, TIFF and MPF store them, and
// a `count`-byte one read back from `at`.
std::string Le16(std::uint32_t value);
std::string Le32(std::uint32_t value);
std::uint32_t ReadLe(const std::string& bytes, size_t at, int count);

struct PngRecipe {
  int colorType = 2;                  // PNG_COLOR_TYPE_*
  int bitDepth = 8;                   // 1..16
  bool interlaced = false;            // Adam7
  std::vector<std::uint8_t> palette;  // RGB triples for colour type 3
  std::vector<std::uint8_t> alphas;   // tRNS entries for colour type 3
  double gamma = 0;                   // gAMA chunk when > 0
};

// `rows` holds the packed samples of each row as PNG stores them (16-bit
// samples big-endian, low bit depths packed).
std::string EncodePngBytes(std::uint32_t width, std::uint32_t height,
                           const std::vector<std::vector<std::uint8_t>>& rows,
                           const PngRecipe& recipe);

struct TiffPage {
  std::uint32_t width = 0, height = 0;  // pixels
  std::vector<std::uint8_t> rgb;        // width * height * 3 bytes
  std::uint32_t rowsPerStrip = 0;       // 0: libtiff's default
};
// Writes the pages as one uncompressed RGB TIFF.
bool WriteTiffFile(const std::string& path, const std::vector<TiffPage>& pages);
// An uncompressed BMP of `image`: 24 or 32 bits per pixel, or 8 with a grey
// palette (the green channel); rows bottom-up unless `topDown`.
std::string EncodeBmp(const PixelImage& image, int bitsPerPixel, bool topDown);
