// BMP and GIF (first frame) decoding through stb_image, for the BMP sources of
// the profile development. Neighbours: decode.cpp dispatches here.
//
// stb_image fills missing bytes with zeros rather than failing, so a truncated
// file is recognised here first: an uncompressed BMP must hold all its rows,
// and a GIF must hold the complete data of its first image. The size is checked
// from the header before stb_image allocates anything.
#include <climits>
#include <cstdlib>
#include <memory>

#include <stb_image.h>

#include "imaging/decode.h"

namespace {

std::uint32_t ReadLe16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
std::uint32_t ReadLe32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// True when the BMP is uncompressed (BI_RGB or BI_BITFIELDS, the only kinds
// stb_image decodes) and holds every row its header promises. Other
// compression values are refused here: stb_image rejects the known ones, but
// reads a value above 2^31 (negative to its range check) as uncompressed rows
// and fills the missing ones with zeros.
bool BmpHoldsAllRows(const std::uint8_t* data, size_t size) {
  if (size < 26) return false;
  const std::uint64_t pixelOffset = ReadLe32(data + 10);
  const std::uint32_t headerSize = ReadLe32(data + 14);
  std::int64_t width = 0, height = 0;
  std::uint32_t bitsPerPixel = 0, compression = 0;
  if (headerSize == 12) {  // OS/2 core header
    width = ReadLe16(data + 18);
    height = ReadLe16(data + 20);
    bitsPerPixel = ReadLe16(data + 24);
  } else if (headerSize >= 40 && size >= 34) {
    width = static_cast<std::int32_t>(ReadLe32(data + 18));
    height = static_cast<std::int32_t>(ReadLe32(data + 22));
    bitsPerPixel = ReadLe16(data + 28);
    compression = ReadLe32(data + 30);
  } else {
    return false;
  }
  if (compression != 0 && compression != 3) return false;
  if (width <= 0 || height == 0) return false;
  const std::uint64_t rowBytes = (static_cast<std::uint64_t>(width) * bitsPerPixel + 31) / 32 * 4;
  const std::uint64_t rows = static_cast<std::uint64_t>(height < 0 ? -height : height);
  return pixelOffset <= size && rowBytes * rows <= size - pixelOffset;
}

// Skips a chain of GIF data sub-blocks, counting their payload bytes; false
// when the file ends inside it.
bool SkipSubBlocks(const std::uint8_t* data, size_t size, size_t& pos, std::uint64_t& payload) {
  while (pos < size) {
    const size_t length = data[pos++];
    if (length == 0) return true;
    if (length > size - pos) return false;
    pos += length;
    payload += length;
  }
  return false;
}

bool SkipSubBlocks(const std::uint8_t* data, size_t size, size_t& pos) {
  std::uint64_t ignored = 0;
  return SkipSubBlocks(data, size, pos, ignored);
}

// stb_image allocates and clears its whole canvas (nine bytes a pixel) before
// it decodes the first code, so a 60-byte file claiming a 32768 x 8192 screen
// would cost gigabytes. A canvas larger than the first image's data could
// ever fill is refused: every LZW code takes at least three bits and yields
// at most 4,096 pixels.
bool GifDataCanFillCanvas(const std::uint8_t* data, std::uint64_t payloadBytes) {
  const std::uint64_t canvas = static_cast<std::uint64_t>(ReadLe16(data + 6)) * ReadLe16(data + 8);
  return canvas <= payloadBytes * 8 / 3 * 4096;
}

// True when the file holds the whole first image: header, colour tables,
// extensions and the image's terminated data blocks, with enough data for
// its canvas.
bool GifHoldsFirstImage(const std::uint8_t* data, size_t size) {
  if (size < 13) return false;
  size_t pos = 13;
  if (data[10] & 0x80) pos += 3u * (2u << (data[10] & 7));
  while (pos < size) {
    const std::uint8_t block = data[pos++];
    if (block == 0x21) {  // extension: label, then sub-blocks
      if (pos >= size) return false;
      ++pos;
      if (!SkipSubBlocks(data, size, pos)) return false;
    } else if (block == 0x2C) {  // image descriptor, local table, code size, data
      if (size - pos < 9) return false;
      const std::uint8_t flags = data[pos + 8];
      pos += 9;
      if (flags & 0x80) pos += 3u * (2u << (flags & 7));
      if (pos >= size) return false;
      ++pos;
      std::uint64_t payload = 0;
      return SkipSubBlocks(data, size, pos, payload) && GifDataCanFillCanvas(data, payload);
    } else {
      return false;  // trailer or garbage before any image
    }
  }
  return false;
}

struct StbFree {
  void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};

}  // namespace

bool DecodeBmpGifMemory(const std::uint8_t* data, size_t size, PixelImage& image,
                        DecodeFailure* failure) {
  ClearImage(image);
  const ImageFormat format = DetectImageFormat(data, size);
  if (format != ImageFormat::Bmp && format != ImageFormat::Gif) return false;
  if (size > static_cast<size_t>(INT_MAX)) return false;
  if (format == ImageFormat::Bmp ? !BmpHoldsAllRows(data, size) : !GifHoldsFirstImage(data, size)) {
    return false;
  }
  const int length = static_cast<int>(size);
  int width = 0, height = 0, channels = 0;
  if (!stbi_info_from_memory(data, length, &width, &height, &channels)) return false;
  // stb_image's header query reports a top-down BMP's height as negative.
  if (height < 0 && height != INT_MIN) height = -height;
  if (width <= 0 || height <= 0) return false;
  if (PixelBufferBytes(width, height) > kMaxPixelBytes) {
    if (failure) *failure = DecodeFailure::TooLarge;
    return false;
  }
  std::unique_ptr<stbi_uc, StbFree> rgba(
      stbi_load_from_memory(data, length, &width, &height, &channels, 4));
  if (!rgba || width <= 0 || height <= 0 || !ReserveDecodedPixels(image, width, height, failure)) {
    ClearImage(image);
    return false;
  }
  ExtendToRows(image, image.height);
  const stbi_uc* from = rgba.get();
  std::uint8_t* to = image.pixels.data();
  for (size_t i = 0, n = image.pixels.size() / 4; i < n; ++i, from += 4, to += 4) {
    to[0] = from[2];
    to[1] = from[1];
    to[2] = from[0];
    to[3] = from[3];
  }
  return true;
}
