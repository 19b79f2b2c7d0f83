// Buffer preparation shared by the decoders (decode_*.cpp); see pixel_image.h.
// Allocation failures become a false result here, so no decoder has to let an
// exception pass through a codec library's C frames.
#include "imaging/pixel_image.h"

#include <new>
#include <stdexcept>

#include "platform/memory.h"

bool ReservePixels(PixelImage& image, std::uint32_t width, std::uint32_t height) {
  ClearImage(image);
  const std::uint64_t bytes = PixelBufferBytes(width, height);
  if (bytes == 0 || bytes > kMaxPixelBytes) return false;
  try {
    image.pixels.reserve(static_cast<size_t>(bytes));
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  // Reserved, not yet touched: the advice takes effect as rows are decoded.
  AdviseHugePages(image.pixels.data(), image.pixels.capacity());
  image.width = width;
  image.height = height;
  return true;
}

void ExtendToRows(PixelImage& image, std::uint32_t rows) {
  const std::uint64_t bytes = static_cast<std::uint64_t>(rows) * image.width * 4;
  if (bytes > image.pixels.size() && bytes <= image.pixels.capacity()) {
    image.pixels.resize(static_cast<size_t>(bytes));
  }
}
