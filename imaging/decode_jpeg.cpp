// JPEG decoding through libjpeg-turbo, the decoder behind most of the program's
// images (sources, winners, compare panes). Neighbours: decode.cpp dispatches
// here; wic_encoder.cpp is the encoding counterpart.
//
// libjpeg reports fatal errors by calling error_exit, which must not return;
// the one adapter function RunJpegDecode owns the setjmp, and every callback
// that gives up jumps back to it through libjpeg's C frames only.
//
// Soundness rules beyond libjpeg's defaults:
// - a header whose size exceeds kMaxPixelBytes is refused before any buffer
//   exists, and the pixel buffer is only reserved, so rows are touched as they
//   are decoded;
// - a file with more than 500 scans is refused while its input is consumed,
//   before a crafted progressive file can take minutes;
// - corrupt or missing entropy-coded data (libjpeg's "corrupt data" and
//   "premature end" warnings) fails the decode instead of yielding an image
//   with grey blocks; harmless warnings seen in real camera files still decode.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

#include "imaging/decode.h"

namespace {

constexpr int kMaxScans = 500;
constexpr JDIMENSION kRowsPerRead = 16;
const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

struct JpegDecodeContext {
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  jpeg_source_mgr source{};
  jpeg_progress_mgr progress{};
  std::jmp_buf jump{};
  const std::uint8_t* data = nullptr;  // the whole file
  size_t size = 0;                     // bytes at data
  bool ranOut = false;                 // input ended before an EOI marker
  bool cmyk = false;                   // rows arrive as CMYK and need converting
  PixelImage* image = nullptr;         // receives the pixels
  DecodeFailure* failure = nullptr;    // told when the size is refused; may be null
};

JpegDecodeContext& ContextOf(j_common_ptr info) {
  return *static_cast<JpegDecodeContext*>(info->client_data);
}

// Files that are sound but of a kind this decoder lacks say so instead of
// being called corrupt.
void GiveUp(j_common_ptr info) {
  JpegDecodeContext& context = ContextOf(info);
  const int code = info->err->msg_code;
  if (context.failure && code == JERR_BAD_PRECISION) *context.failure = DecodeFailure::HighPrecision;
  if (context.failure && code == JERR_SOF_UNSUPPORTED) {
    *context.failure = DecodeFailure::UnsupportedKind;
  }
  std::longjmp(context.jump, 1);
}

// Warnings that real files carry without damage to the pixels.
bool IsHarmlessWarning(int code) {
  return code == JWRN_EXTRANEOUS_DATA || code == JWRN_JFIF_MAJOR ||
         code == JWRN_ADOBE_XFORM || code == JWRN_BOGUS_ICC || code == JWRN_NOT_SEQUENTIAL ||
         code == JWRN_BOGUS_PROGRESSION;
}

// Level -1 is a warning; levels 0 and up are trace output.
void FilterMessage(j_common_ptr info, int level) {
  if (level >= 0) return;
  if (!IsHarmlessWarning(info->err->msg_code)) GiveUp(info);
  info->err->num_warnings++;
}

void WatchScanCount(j_common_ptr info) {
  if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kMaxScans) GiveUp(info);
}

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

// At the end of the data an EOI marker is supplied, as libjpeg's own memory
// source does, but silently: whether the missing bytes mattered is judged by
// the entropy decoder (a short scan warns) and by LacksScans below.
boolean SupplyEndOfImage(j_decompress_ptr info) {
  ContextOf(reinterpret_cast<j_common_ptr>(info)).ranOut = true;
  info->src->next_input_byte = kEndOfImage;
  info->src->bytes_in_buffer = sizeof kEndOfImage;
  return TRUE;
}

void SkipInput(j_decompress_ptr info, long count) {
  if (count <= 0) return;
  if (static_cast<unsigned long>(count) >= info->src->bytes_in_buffer) {
    SupplyEndOfImage(info);
    return;
  }
  info->src->next_input_byte += count;
  info->src->bytes_in_buffer -= static_cast<size_t>(count);
}

void InstallCallbacks(JpegDecodeContext* c) {
  c->info.err = jpeg_std_error(&c->errors);
  c->errors.error_exit = GiveUp;
  c->errors.emit_message = FilterMessage;
  c->info.client_data = c;
}

void InstallSource(JpegDecodeContext* c) {
  c->source.next_input_byte = c->data;
  c->source.bytes_in_buffer = c->size;
  c->source.init_source = InitSource;
  c->source.fill_input_buffer = SupplyEndOfImage;
  c->source.skip_input_data = SkipInput;
  c->source.resync_to_restart = jpeg_resync_to_restart;
  c->source.term_source = TermSource;
  c->info.src = &c->source;
  c->progress.progress_monitor = WatchScanCount;
  c->info.progress = &c->progress;
}

// Grey, YCbCr and RGB go straight to BGRA; CMYK and YCCK come out as CMYK and
// are converted afterwards. Anything else is refused.
bool ChooseOutput(JpegDecodeContext* c) {
  switch (c->info.jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB:
      c->info.out_color_space = JCS_EXT_BGRA;
      return true;
    case JCS_CMYK:
    case JCS_YCCK:
      c->info.out_color_space = JCS_CMYK;
      c->cmyk = true;
      return true;
    default:
      return false;
  }
}

// Photoshop (recognised by its Adobe marker) stores CMYK inverted, 255 meaning
// no ink; other writers store ink amounts. Either way the colour is the naive
// product of the complements, without a colour profile.
void ConvertCmykRows(std::uint8_t* row, size_t pixels, bool inverted) {
  for (size_t i = 0; i < pixels; ++i, row += 4) {
    unsigned c = row[0], m = row[1], y = row[2], k = row[3];
    if (!inverted) {
      c = 255 - c; m = 255 - m; y = 255 - y; k = 255 - k;
    }
    row[0] = static_cast<std::uint8_t>((y * k + 127) / 255);
    row[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
    row[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
    row[3] = 255;
  }
}

void ReadRows(JpegDecodeContext* c) {
  PixelImage& image = *c->image;
  const size_t stride = static_cast<size_t>(image.width) * 4;
  const JDIMENSION first = c->info.output_scanline;
  const JDIMENSION count = std::min<JDIMENSION>(kRowsPerRead, image.height - first);
  ExtendToRows(image, first + count);
  JSAMPROW rows[kRowsPerRead];
  for (JDIMENSION i = 0; i < count; ++i) rows[i] = image.pixels.data() + (first + i) * stride;
  const JDIMENSION got = jpeg_read_scanlines(&c->info, rows, count);
  if (c->cmyk) {
    ConvertCmykRows(rows[0], static_cast<size_t>(got) * image.width,
                    c->info.saw_Adobe_marker != 0);
  }
}

// After the input ran out without an EOI marker: true when scans may be
// missing. A progressive file is complete when every coefficient of every
// component has been refined to its last bit; a sequential file whose last scan
// held fewer than all components may lack the scans of the others.
bool LacksScans(const jpeg_decompress_struct& info) {
  if (info.progressive_mode) {
    for (int component = 0; component < info.num_components; ++component) {
      for (int k = 0; k < DCTSIZE2; ++k) {
        if (info.coef_bits[component][k] != 0) return true;
      }
    }
    return false;
  }
  return info.comps_in_scan < info.num_components;
}

bool HasExpectedOutput(const JpegDecodeContext* c) {
  return c->info.output_width == c->image->width && c->info.output_height == c->image->height &&
         c->info.output_components == 4;
}

// The adapter: every libjpeg call of a decode happens here, under one setjmp.
// All state lives in *c, so nothing local is clobbered by the jump.
bool RunJpegDecode(JpegDecodeContext* c) {
  if (setjmp(c->jump) != 0) {
    jpeg_destroy_decompress(&c->info);
    return false;
  }
  InstallCallbacks(c);
  jpeg_create_decompress(&c->info);
  InstallSource(c);
  jpeg_read_header(&c->info, TRUE);
  if (!ChooseOutput(c) || !ReserveDecodedPixels(*c->image, c->info.image_width, c->info.image_height,
                                              c->failure)) {
    jpeg_destroy_decompress(&c->info);
    return false;
  }
  jpeg_start_decompress(&c->info);
  if (!HasExpectedOutput(c)) GiveUp(reinterpret_cast<j_common_ptr>(&c->info));
  while (c->info.output_scanline < c->info.output_height) ReadRows(c);
  if (c->ranOut && LacksScans(c->info)) GiveUp(reinterpret_cast<j_common_ptr>(&c->info));
  jpeg_finish_decompress(&c->info);
  jpeg_destroy_decompress(&c->info);
  return true;
}

}  // namespace

bool DecodeJpegMemory(const std::uint8_t* data, size_t size, PixelImage& image,
                      DecodeFailure* failure) {
  ClearImage(image);
  if (DetectImageFormat(data, size) != ImageFormat::Jpeg) return false;
  JpegDecodeContext context;
  context.data = data;
  context.size = size;
  context.image = &image;
  context.failure = failure;
  if (!RunJpegDecode(&context) || !IsUsableImage(image)) {
    ClearImage(image);
    return false;
  }
  return true;
}
