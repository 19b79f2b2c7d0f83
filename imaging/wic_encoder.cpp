// The in-process JPEG encoder behind the engine named "WIC": libjpeg-turbo with
// its default 4:2:0 subsampling and scaled standard quantisation tables, coded
// progressively with libjpeg's standard scan script and Huffman tables
// optimised for the image, and the JFIF header libjpeg writes by default (no
// Exif, no colour profile). Progression and optimised tables change only the
// entropy coding: the coefficients, and so the decoded pixels, are those of a
// baseline encoding at the same quality, in a smaller file.
// Neighbours: the encoder invocation in core/ calls it for WIC candidates;
// decode_jpeg.cpp is the decoding counterpart.
//
// The JPEG is built in memory first and only then written to the file through
// the platform's write seam, so an encoder failure creates no file at all.
// The one adapter function RunJpegEncode owns libjpeg's setjmp.
#include "imaging/wic_encoder.h"

#include <algorithm>
#include <csetjmp>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>
#include <jerror.h>

#include "platform/files.h"

namespace {

constexpr std::uint64_t kMaxRgbBytes = 4294967295ull;
constexpr JDIMENSION kRowsPerWrite = 16;

struct JpegEncodeContext {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  jpeg_destination_mgr destination{};
  std::jmp_buf jump{};
  const PixelImage* image = nullptr;  // the pixels to encode
  int quality = 0;                    // libjpeg quality 1..100
  unsigned char* buffer = nullptr;    // malloc'd output, grows by doubling
  size_t capacity = 0;                // bytes allocated at buffer
  size_t used = 0;                    // bytes of finished JPEG at buffer
  JpegEncodeContext() = default;
  JpegEncodeContext(const JpegEncodeContext&) = delete;
  JpegEncodeContext& operator=(const JpegEncodeContext&) = delete;
  ~JpegEncodeContext() { std::free(buffer); }
};

JpegEncodeContext& ContextOf(j_compress_ptr info) {
  return *static_cast<JpegEncodeContext*>(info->client_data);
}

void GiveUp(j_common_ptr info) {
  std::longjmp(static_cast<JpegEncodeContext*>(info->client_data)->jump, 1);
}

void IgnoreMessage(j_common_ptr, int) {}

// A first guess of one byte per pixel covers most photos at usual qualities.
void InitDestination(j_compress_ptr info) {
  JpegEncodeContext& c = ContextOf(info);
  const std::uint64_t guess = static_cast<std::uint64_t>(c.image->width) * c.image->height;
  c.capacity = static_cast<size_t>(std::max<std::uint64_t>(guess, 65536));
  c.buffer = static_cast<unsigned char*>(std::malloc(c.capacity));
  if (c.buffer == nullptr) ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
  info->dest->next_output_byte = c.buffer;
  info->dest->free_in_buffer = c.capacity;
}

boolean GrowDestination(j_compress_ptr info) {
  JpegEncodeContext& c = ContextOf(info);
  const size_t grown = c.capacity * 2;
  auto* buffer = static_cast<unsigned char*>(std::realloc(c.buffer, grown));
  if (buffer == nullptr) ERREXIT1(info, JERR_OUT_OF_MEMORY, 1);
  c.buffer = buffer;
  info->dest->next_output_byte = buffer + c.capacity;
  info->dest->free_in_buffer = grown - c.capacity;
  c.capacity = grown;
  return TRUE;
}

void TermDestination(j_compress_ptr info) {
  JpegEncodeContext& c = ContextOf(info);
  c.used = c.capacity - info->dest->free_in_buffer;
}

void InstallCallbacks(JpegEncodeContext* c) {
  c->info.err = jpeg_std_error(&c->errors);
  c->errors.error_exit = GiveUp;
  c->errors.emit_message = IgnoreMessage;
  c->info.client_data = c;
  c->destination.init_destination = InitDestination;
  c->destination.empty_output_buffer = GrowDestination;
  c->destination.term_destination = TermDestination;
}

void SetParameters(JpegEncodeContext* c) {
  c->info.image_width = c->image->width;
  c->info.image_height = c->image->height;
  c->info.input_components = 4;  // BGRA rows are read as is; alpha is dropped
  c->info.in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(&c->info);
  jpeg_set_quality(&c->info, c->quality, TRUE);
  c->info.comp_info[0].h_samp_factor = 2;  // 4:2:0
  c->info.comp_info[0].v_samp_factor = 2;
  jpeg_simple_progression(&c->info);
  c->info.optimize_coding = TRUE;  // libjpeg forces it for progressive scans anyway
  c->info.dest = &c->destination;
}

void WriteRows(JpegEncodeContext* c) {
  const PixelImage& image = *c->image;
  const size_t stride = static_cast<size_t>(image.width) * 4;
  JSAMPROW rows[kRowsPerWrite];
  while (c->info.next_scanline < c->info.image_height) {
    const JDIMENSION first = c->info.next_scanline;
    const JDIMENSION count = std::min<JDIMENSION>(kRowsPerWrite, image.height - first);
    for (JDIMENSION i = 0; i < count; ++i) {
      // libjpeg only reads the rows; its API just lacks the const.
      rows[i] = const_cast<JSAMPLE*>(image.pixels.data() + (first + i) * stride);
    }
    jpeg_write_scanlines(&c->info, rows, count);
  }
}

// The adapter: every libjpeg call of an encode happens here, under one setjmp.
bool RunJpegEncode(JpegEncodeContext* c) {
  if (setjmp(c->jump) != 0) {
    jpeg_destroy_compress(&c->info);
    return false;
  }
  InstallCallbacks(c);
  jpeg_create_compress(&c->info);
  SetParameters(c);
  jpeg_start_compress(&c->info, TRUE);
  WriteRows(c);
  jpeg_finish_compress(&c->info);
  jpeg_destroy_compress(&c->info);
  return true;
}

}  // namespace

int WicQualityFromFactor(float quality) {
  // Written so that NaN falls to the lower bound.
  const float clamped = quality >= 0.01f ? (quality > 1.0f ? 1.0f : quality) : 0.01f;
  return static_cast<int>(std::lround(static_cast<double>(clamped) * 100.0));
}

bool EncodeJpegWic(const PixelImage& image, const std::string& path, float quality) {
  if (!IsUsableImage(image)) return false;
  if (static_cast<std::uint64_t>(image.width) * image.height * 3 > kMaxRgbBytes) return false;
  JpegEncodeContext context;
  context.image = &image;
  context.quality = WicQualityFromFactor(quality);
  if (!RunJpegEncode(&context)) return false;
  UniqueFd file = CreateForWriting(path);
  if (!file.Valid()) return false;
  const bool written = WriteAll(file, context.buffer, context.used);
  const bool closed = CloseChecked(file);
  return written && closed;
}
