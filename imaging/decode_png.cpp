// PNG decoding through libpng, for the PNG sources of the profile development.
// Neighbours: decode.cpp dispatches here.
//
// Pixels come out as stored: palette and low bit depths expanded, grey
// replicated, transparency as alpha, 16-bit samples scaled to 8 bits; gamma and
// colour-profile chunks are ignored. The one adapter function RunPngDecode owns
// libpng's setjmp; the error callback jumps back to it through libpng's frames.
#include <png.h>

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
};

void ReadBytes(png_structp png, png_bytep out, png_size_t count) {
  auto* c = static_cast<PngDecodeContext*>(png_get_io_ptr(png));
  if (count > c->size - c->offset) png_error(png, "truncated");
  std::memcpy(out, c->data + c->offset, count);
  c->offset += count;
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
  if (!ReservePixels(*c->image, png_get_image_width(c->png, c->info),
                     png_get_image_height(c->png, c->info))) {
    png_error(c->png, "too large");
  }
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

bool DecodePngMemory(const std::uint8_t* data, size_t size, PixelImage& image) {
  ClearImage(image);
  if (DetectImageFormat(data, size) != ImageFormat::Png) return false;
  PngDecodeContext context;
  context.data = data;
  context.size = size;
  context.image = &image;
  if (!RunPngDecode(&context) || !IsUsableImage(image)) {
    ClearImage(image);
    return false;
  }
  return true;
}
