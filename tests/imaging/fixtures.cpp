// Builders of the imaging tests' inputs; see fixtures.h.
#include "tests/imaging/fixtures.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "imaging/decode.h"

// --- Pixel images ---------------------------------------------------------

PixelImage MakeSolidImage(std::uint32_t width, std::uint32_t height, std::uint8_t blue,
                          std::uint8_t green, std::uint8_t red, std::uint8_t alpha) {
  PixelImage image;
  image.width = width;
  image.height = height;
  image.pixels.resize(static_cast<size_t>(width) * height * 4);
  for (size_t i = 0; i < image.pixels.size(); i += 4) {
    image.pixels[i] = blue;
    image.pixels[i + 1] = green;
    image.pixels[i + 2] = red;
    image.pixels[i + 3] = alpha;
  }
  return image;
}

PixelImage MakeGradientImage(std::uint32_t width, std::uint32_t height) {
  PixelImage image = MakeSolidImage(width, height, 0, 0, 0);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      SetPixel(image, x, y, static_cast<std::uint8_t>((x * 255) / (width > 1 ? width - 1 : 1)),
               static_cast<std::uint8_t>((y * 255) / (height > 1 ? height - 1 : 1)),
               static_cast<std::uint8_t>(((x + y) * 127) / (width + height)));
    }
  }
  return image;
}

PixelImage MakeNoiseImage(std::uint32_t width, std::uint32_t height, std::uint32_t seed) {
  PixelImage image = MakeSolidImage(width, height, 0, 0, 0);
  std::uint32_t state = seed * 2654435761u + 1;
  for (size_t i = 0; i < image.pixels.size(); i += 4) {
    for (size_t c = 0; c < 3; ++c) {
      state = state * 1664525u + 1013904223u;
      image.pixels[i + c] = static_cast<std::uint8_t>(state >> 24);
    }
  }
  return image;
}

void SetPixel(PixelImage& image, std::uint32_t x, std::uint32_t y, std::uint8_t blue,
              std::uint8_t green, std::uint8_t red) {
  std::uint8_t* p = image.pixels.data() + (static_cast<size_t>(y) * image.width + x) * 4;
  p[0] = blue;
  p[1] = green;
  p[2] = red;
}

std::uint32_t PixelAt(const PixelImage& image, std::uint32_t x, std::uint32_t y) {
  const std::uint8_t* p = image.pixels.data() + (static_cast<size_t>(y) * image.width + x) * 4;
  return (static_cast<std::uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

bool NearlyEqual(const PixelImage& a, const PixelImage& b, int tolerance) {
  if (a.width != b.width || a.height != b.height || a.pixels.size() != b.pixels.size()) {
    return false;
  }
  for (size_t i = 0; i < a.pixels.size(); ++i) {
    if (std::abs(a.pixels[i] - b.pixels[i]) > tolerance) return false;
  }
  return true;
}

// --- JPEG -------------------------------------------------------------------

namespace {

struct JpegWriter {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  std::jmp_buf jump{};
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  std::vector<jpeg_scan_info> scans;
};

void JumpBack(j_common_ptr info) {
  std::longjmp(static_cast<JpegWriter*>(info->client_data)->jump, 1);
}

// A grey progressive script: one DC scan, one first scan per AC coefficient,
// and successive-approximation refinements until `total` scans are reached
// (at most 694).
std::vector<jpeg_scan_info> ScanScript(int total) {
  std::vector<jpeg_scan_info> scans;
  scans.push_back({1, {0}, 0, 0, 0, 0});
  int extra = total - 64;
  for (int k = 1; k < 64; ++k) {
    const int al = extra > 10 ? 10 : (extra > 0 ? extra : 0);
    extra -= al;
    scans.push_back({1, {0}, k, k, 0, al});
    for (int ah = al; ah > 0; --ah) scans.push_back({1, {0}, k, k, ah, ah - 1});
  }
  return scans;
}

void ConfigureJpeg(JpegWriter& w, std::uint32_t width, std::uint32_t height,
                   const JpegRecipe& recipe) {
  w.info.image_width = width;
  w.info.image_height = height;
  switch (recipe.layout) {
    case JpegLayout::Gray: w.info.input_components = 1; w.info.in_color_space = JCS_GRAYSCALE; break;
    case JpegLayout::Rgb: w.info.input_components = 3; w.info.in_color_space = JCS_RGB; break;
    default: w.info.input_components = 4; w.info.in_color_space = JCS_CMYK; break;
  }
  jpeg_set_defaults(&w.info);
  if (recipe.layout == JpegLayout::YcckAdobe) jpeg_set_colorspace(&w.info, JCS_YCCK);
  if (recipe.layout == JpegLayout::CmykPlain) w.info.write_Adobe_marker = FALSE;
  jpeg_set_quality(&w.info, recipe.quality, TRUE);
  if (recipe.progressive) jpeg_simple_progression(&w.info);
  if (recipe.scanCount > 0) {
    w.scans = ScanScript(recipe.scanCount);
    w.info.scan_info = w.scans.data();
    w.info.num_scans = static_cast<int>(w.scans.size());
  }
}

bool RunJpegWriter(JpegWriter* w, std::uint32_t width, std::uint32_t height,
                   const std::vector<std::uint8_t>& samples, const JpegRecipe& recipe) {
  if (setjmp(w->jump) != 0) {
    jpeg_destroy_compress(&w->info);
    return false;
  }
  w->info.err = jpeg_std_error(&w->errors);
  w->errors.error_exit = JumpBack;
  w->info.client_data = w;
  jpeg_create_compress(&w->info);
  jpeg_mem_dest(&w->info, &w->buffer, &w->size);
  ConfigureJpeg(*w, width, height, recipe);
  jpeg_start_compress(&w->info, TRUE);
  if (!recipe.app1.empty()) {
    jpeg_write_marker(&w->info, JPEG_APP0 + 1,
                      reinterpret_cast<const JOCTET*>(recipe.app1.data()),
                      static_cast<unsigned>(recipe.app1.size()));
  }
  const size_t stride = static_cast<size_t>(width) * w->info.input_components;
  while (w->info.next_scanline < height) {
    JSAMPROW row = const_cast<JSAMPLE*>(samples.data() + w->info.next_scanline * stride);
    jpeg_write_scanlines(&w->info, &row, 1);
  }
  jpeg_finish_compress(&w->info);
  jpeg_destroy_compress(&w->info);
  return true;
}

}  // namespace

std::string EncodeJpegBytes(std::uint32_t width, std::uint32_t height,
                            const std::vector<std::uint8_t>& samples, const JpegRecipe& recipe) {
  JpegWriter writer;
  std::string bytes;
  if (RunJpegWriter(&writer, width, height, samples, recipe)) {
    bytes.assign(reinterpret_cast<const char*>(writer.buffer), writer.size);
  }
  std::free(writer.buffer);
  return bytes;
}

std::string EncodeJpegOf(const PixelImage& image, const JpegRecipe& recipe) {
  std::vector<std::uint8_t> rgb;
  for (size_t i = 0; i < image.pixels.size(); i += 4) {
    rgb.push_back(image.pixels[i + 2]);
    rgb.push_back(image.pixels[i + 1]);
    rgb.push_back(image.pixels[i]);
  }
  JpegRecipe rgbRecipe = recipe;
  rgbRecipe.layout = JpegLayout::Rgb;
  return EncodeJpegBytes(image.width, image.height, rgb, rgbRecipe);
}

std::vector<JpegMarker> ListJpegMarkers(const std::string& jpeg) {
  std::vector<JpegMarker> markers;
  const auto* d = reinterpret_cast<const std::uint8_t*>(jpeg.data());
  for (size_t i = 2; i + 3 < jpeg.size();) {
    if (d[i] != 0xFF) {
      ++i;  // entropy-coded data: look for the next real marker
      continue;
    }
    const std::uint8_t code = d[i + 1];
    if (code == 0x00 || code == 0xFF || (code >= 0xD0 && code <= 0xD7)) {
      i += code == 0xFF ? 1 : 2;
      continue;
    }
    markers.push_back({i, code});
    if (code == 0xD9) break;
    i += 2 + ((d[i + 2] << 8) | d[i + 3]);
  }
  return markers;
}

std::string ExifWithOrientation(int orientation) {
  std::string exif("Exif\0\0", 6);
  const unsigned char tiff[] = {'I', 'I', 42, 0, 8, 0, 0, 0,   // header, IFD at 8
                                1, 0,                          // one entry
                                0x12, 0x01, 3, 0, 1, 0, 0, 0,  // Orientation, SHORT, 1
                                static_cast<unsigned char>(orientation), 0, 0, 0,
                                0, 0, 0, 0};                   // no next IFD
  exif.append(reinterpret_cast<const char*>(tiff), sizeof tiff);
  return exif;
}

// --- PNG --------------------------------------------------------------------

namespace {

void AppendPngBytes(png_structp png, png_bytep data, png_size_t size) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), size);
}
void FlushPng(png_structp) {}

bool RunPngWriter(png_structp png, png_infop info, std::string* out, std::uint32_t width,
                  std::uint32_t height, const std::vector<std::vector<std::uint8_t>>* rows,
                  const PngRecipe* recipe) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_set_write_fn(png, out, AppendPngBytes, FlushPng);
  png_set_IHDR(png, info, width, height, recipe->bitDepth, recipe->colorType,
               recipe->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!recipe->palette.empty()) {
    std::vector<png_color> colours;
    for (size_t i = 0; i + 2 < recipe->palette.size(); i += 3) {
      colours.push_back({recipe->palette[i], recipe->palette[i + 1], recipe->palette[i + 2]});
    }
    png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
  }
  if (!recipe->alphas.empty()) {
    png_set_tRNS(png, info, recipe->alphas.data(), static_cast<int>(recipe->alphas.size()),
                 nullptr);
  }
  if (recipe->gamma > 0) png_set_gAMA(png, info, recipe->gamma);
  png_write_info(png, info);
  std::vector<png_bytep> pointers;
  for (const auto& row : *rows) pointers.push_back(const_cast<png_bytep>(row.data()));
  png_write_image(png, pointers.data());
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

std::string EncodePngBytes(std::uint32_t width, std::uint32_t height,
                           const std::vector<std::vector<std::uint8_t>>& rows,
                           const PngRecipe& recipe) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::string out;
  if (!RunPngWriter(png, info, &out, width, height, &rows, &recipe)) out.clear();
  png_destroy_write_struct(&png, &info);
  return out;
}

void FixPngChunkCrc(std::string& png, size_t offset) {
  const auto* d = reinterpret_cast<const std::uint8_t*>(png.data());
  const std::uint32_t length = (d[offset] << 24) | (d[offset + 1] << 16) | (d[offset + 2] << 8) |
                               d[offset + 3];
  std::uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = offset + 4; i < offset + 8 + length; ++i) {
    crc ^= d[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  crc ^= 0xFFFFFFFFu;
  const size_t at = offset + 8 + length;
  for (int i = 0; i < 4; ++i) png[at + i] = static_cast<char>(crc >> (24 - 8 * i));
}

// --- TIFF -------------------------------------------------------------------

namespace {

bool WriteTiffPage(TIFF* tiff, const TiffPage& page) {
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, page.width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, page.height);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP,
               page.rowsPerStrip > 0 ? page.rowsPerStrip : TIFFDefaultStripSize(tiff, 0));
  for (std::uint32_t y = 0; y < page.height; ++y) {
    auto* row = const_cast<std::uint8_t*>(page.rgb.data() + static_cast<size_t>(y) * page.width * 3);
    if (TIFFWriteScanline(tiff, row, y, 0) < 0) return false;
  }
  return TIFFWriteDirectory(tiff) != 0;
}

}  // namespace

bool WriteTiffFile(const std::string& path, const std::vector<TiffPage>& pages) {
  // libtiff reads back earlier directories while linking pages: read-write.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  TIFF* tiff = TIFFFdOpen(fd, path.c_str(), "w");
  if (tiff == nullptr) {
    ::close(fd);
    return false;
  }
  bool written = true;
  for (const TiffPage& page : pages) written = written && WriteTiffPage(tiff, page);
  TIFFClose(tiff);  // closes fd too
  return written;
}

// --- Decoding helpers -------------------------------------------------------

bool DecodeBytes(const std::string& bytes, PixelImage& image) {
  return DecodeImageMemory(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                           image);
}

long MinorPageFaults() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}
