// PNG decoding through libpng, for the PNG sources of the profile development.
// Neighbours: decode.cpp dispatches here.
//
// Pixels come out as stored: palette and low bit depths expanded, grey
// replicated, transparency as alpha, 16-bit samples scaled to 8 bits; gamma and
// colour-profile chunks are ignored. The one adapter function RunPngDecode owns
// libpng's setjmp; the error callback jumps back to it through libpng's frames.
#include <png.h>

#include <algorithm>
#include <cstring>

#include "imaging/decode.h"

namespace {

// libpng's per-side limit; the product is checked against kMaxPixelBytes.
constexpr png_uint_32 kMaxSide = static_cast<png_uint_32>(kMaxPixelBytes / 4);

struct PngDecodeContext {
  png_structp png = nullptr;
  png_infop info = nullptr;
  const std::uint8_t* data = nullptr;  // the whole file
  size_t size = 0;                     // bytes at data
  size_t offset = 0;                   // next byte libpng reads
  int passes = 1;                      // 7 for an interlaced image
  PixelImage* image = nullptr;         // receives the pixels
  DecodeFailure* failure = nullptr;    // told when the size is refused; may be null
};

void ReadBytes(png_structp png, png_bytep out, png_size_t count) {
  auto* c = static_cast<PngDecodeContext*>(png_get_io_ptr(png));
  if (count > c->size - c->offset) png_error(png, "truncated");
  std::memcpy(out, c->data + c->offset, count);
  c->offset += count;
}

// Bytes in the IDAT chunks up to IEND (a chunk running past the end counts
// what the file holds of it).
std::uint64_t ImageDataBytes(const std::uint8_t* data, size_t size) {
  std::uint64_t total = 0;
  size_t at = 8;
  while (at <= size && size - at >= 8) {
    const std::uint64_t length = (static_cast<std::uint64_t>(data[at]) << 24) | (data[at + 1] << 16) |
                                 (data[at + 2] << 8) | data[at + 3];
    const bool idat = std::memcmp(data + at + 4, "IDAT", 4) == 0;
    if (std::memcmp(data + at + 4, "IEND", 4) == 0) break;
    const std::uint64_t held = std::min<std::uint64_t>(length, size - at - 8);
    if (idat) total += held;
    if (length + 12 > size - at) break;
    at += static_cast<size_t>(length) + 12;
  }
  return total;
}

// Deflate expands at most 1032-fold, so image data smaller than the pixel
// data / 1032 cannot hold the image and its decode must fail. It is refused
// before the buffer is touched: the passes of an interlaced image need the
// whole buffer at once, which a 41-byte file claiming 24640 x 32687 pixels
// would otherwise make the program clear, 3 GB of it.
bool DataCanHoldImage(const PngDecodeContext* c) {
  const std::uint64_t bitsPerPixel = static_cast<std::uint64_t>(png_get_bit_depth(c->png, c->info)) *
                                     png_get_channels(c->png, c->info);
  const std::uint64_t pixelBytes =
      static_cast<std::uint64_t>(c->image->width) * c->image->height * bitsPerPixel / 8;
  return ImageDataBytes(c->data, c->size) >= pixelBytes / 1032;
}

void GiveUp(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void IgnoreWarning(png_structp, png_const_charp) {}

void RequestBgra(png_structp png) {
  png_set_expand(png);
  png_set_scale_16(png);
  png_set_gray_to_rgb(png);
  png_set_bgr(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
}

// Non-interlaced rows are read one by one into a buffer that grows with them;
// the passes of an interlaced image revisit every row, so it needs all at once.
void ReadRows(PngDecodeContext* c) {
  PixelImage& image = *c->image;
  const size_t stride = static_cast<size_t>(image.width) * 4;
  if (c->passes > 1) ExtendToRows(image, image.height);
  for (int pass = 0; pass < c->passes; ++pass) {
    for (std::uint32_t row = 0; row < image.height; ++row) {
      ExtendToRows(image, row + 1);
      png_read_row(c->png, image.pixels.data() + row * stride, nullptr);
    }
  }
}

// The adapter: every libpng call of a decode happens here, under one setjmp.
bool RunPngDecode(PngDecodeContext* c) {
  c->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, c, GiveUp, IgnoreWarning);
  if (c->png == nullptr) return false;
  c->info = png_create_info_struct(c->png);
  if (c->info == nullptr || setjmp(png_jmpbuf(c->png)) != 0) {
    png_destroy_read_struct(&c->png, &c->info, nullptr);
    return false;
  }
  png_set_read_fn(c->png, c, ReadBytes);
  png_set_user_limits(c->png, kMaxSide, kMaxSide);
  png_read_info(c->png, c->info);
  if (!ReserveDecodedPixels(*c->image, png_get_image_width(c->png, c->info),
                            png_get_image_height(c->png, c->info), c->failure)) {
    png_error(c->png, "too large");
  }
  if (!DataCanHoldImage(c)) png_error(c->png, "image data too short");
  RequestBgra(c->png);
  c->passes = png_set_interlace_handling(c->png);
  png_read_update_info(c->png, c->info);
  if (png_get_rowbytes(c->png, c->info) != static_cast<size_t>(c->image->width) * 4) {
    png_error(c->png, "unexpected row layout");
  }
  ReadRows(c);
  png_read_end(c->png, nullptr);
  png_destroy_read_struct(&c->png, &c->info, nullptr);
  return true;
}

}  // namespace

bool DecodePngMemory(const std::uint8_t* data, size_t size, PixelImage& image,
                     DecodeFailure* failure) {
  ClearImage(image);
  if (DetectImageFormat(data, size) != ImageFormat::Png) return false;
  PngDecodeContext context;
  context.data = data;
  context.size = size;
  context.image = &image;
  context.failure = failure;
  if (!RunPngDecode(&context) || !IsUsableImage(image)) {
    ClearImage(image);
    return false;
  }
  return true;
}
