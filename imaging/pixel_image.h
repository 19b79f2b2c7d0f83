// The decoded pixel image that every consumer works on: the source before
// encoding, the winner before the quality gate, previews and compare panes.
//
// Layout: 8 bits per channel, four bytes per pixel in the order blue, green,
// red, alpha; rows top to bottom with no gap, so the pixel at (x, y) starts at
// byte (y * width + x) * 4. Alpha is carried but no consumer reads it.
//
// Invariant: a usable image has width > 0, height > 0 and exactly
// width * height * 4 bytes. Consumers check all three (IsUsableImage).
#pragma once

#include <cstdint>
#include <vector>

struct PixelImage {
  std::uint32_t width = 0;            // pixels per row
  std::uint32_t height = 0;           // rows
  std::vector<std::uint8_t> pixels;   // width * height * 4 bytes, BGRA
};

// Largest pixel buffer allowed: width * height * 4 must not exceed it (a
// 32-bit byte count).
constexpr std::uint64_t kMaxPixelBytes = 4294967295ull;

inline bool IsUsableImage(const PixelImage& image) {
  return image.width > 0 && image.height > 0 && !image.pixels.empty() &&
         image.pixels.size() == static_cast<std::uint64_t>(image.width) * image.height * 4;
}

// Bytes of a BGRA buffer of the given size, computed in 64 bits.
inline std::uint64_t PixelBufferBytes(std::uint32_t width, std::uint32_t height) {
  return static_cast<std::uint64_t>(width) * height * 4;
}

// Prepares `image` for a decoder once the header has been read: sets the size
// and reserves, without filling, the whole buffer, so memory is touched only as
// decoded rows arrive (a small file claiming a large size costs nothing). False,
// with the image empty, for a zero size, a buffer beyond kMaxPixelBytes, or
// memory that cannot be had.
bool ReservePixels(PixelImage& image, std::uint32_t width, std::uint32_t height);

// Extends the buffer to hold the first `rows` rows; stays within the reserved
// capacity, so it never allocates.
void ExtendToRows(PixelImage& image, std::uint32_t rows);

// Empties the image and releases its buffer.
inline void ClearImage(PixelImage& image) {
  image.width = 0;
  image.height = 0;
  std::vector<std::uint8_t>().swap(image.pixels);
}
