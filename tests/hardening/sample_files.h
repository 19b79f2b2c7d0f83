// Small image files of every kind the program may meet, well-formed and
// damaged, as bytes. The bad-input suite writes them as sources; the fuzz
// seed generator writes them as seed corpora. Built on the imaging tests'
// codec fixtures, plus hand-made BMP and GIF files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/imaging/fixtures.h"

// A smooth photo-like picture with some texture, so encoders have work to do.
PixelImage SamplePicture(std::uint32_t width, std::uint32_t height, std::uint32_t seed);

std::string SampleJpeg(std::uint32_t width, std::uint32_t height, const JpegRecipe& recipe = {});
// Grey, CMYK (Adobe) and YCCK files; the samples are generated.
std::string SampleLayoutJpeg(std::uint32_t width, std::uint32_t height, JpegLayout layout, bool progressive = false);
// A grey progressive file with exactly `scans` scans (64 to 694).
std::string SampleManyScanJpeg(std::uint32_t width, std::uint32_t height, int scans);
// Inserts raw marker segments right after the start-of-image marker.
std::string WithSegmentsAfterSoi(const std::string& jpeg, const std::string& segments);
// 0xFF, marker, big-endian length, payload.
std::string JpegSegmentBytes(std::uint8_t marker, const std::string& payload);

enum class PngKind { Rgb8, Rgb16, Palette, PaletteWithAlpha, Rgba8, Gray16, GrayAlpha8, Gray1, Interlaced };
std::string SamplePng(std::uint32_t width, std::uint32_t height, PngKind kind);

// An uncompressed RGB TIFF with one page per size, written through a
// temporary file in `scratchFolder` (libtiff writes to descriptors only).
std::string SampleTiff(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& pageSizes,
                       const std::string& scratchFolder);
// An uncompressed BMP: 24 or 32 bits per pixel, or 8 with a grey palette.
std::string SampleBmp(std::uint32_t width, std::uint32_t height, int bitsPerPixel, bool topDown);
// A GIF with a four-colour palette and `frames` frames of the same size.
std::string SampleGif(std::uint32_t width, std::uint32_t height, int frames);

// How the pipeline must end for a bad input: OptimizeImage false ("Fehler
// beim Verarbeiten"), or one of the verdicts of a reached result.
enum class ExpectedEnd { kError, kVerdict };

struct BadInput {
  std::string name;      // file name of the source (may hold spaces, quotes, umlauts)
  std::string bytes;     // the file's content
  ExpectedEnd expected;  // what the pipeline must end with
};

// Every bad or unusual source of the suite except the vanishing file, which
// needs a test of its own. `scratchFolder` is used for the TIFF.
std::vector<BadInput> MakeBadInputs(const std::string& scratchFolder);
