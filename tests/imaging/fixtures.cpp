// Builders of the imaging tests' inputs; see fixtures.h.
#include "tests/imaging/fixtures.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

PixelImage MakeSolidImage(std::uint32_t width, std::uint32_t height, std::uint8_t blue,
                          std::uint8_t green, std::uint8_t red, std::uint8_t alpha) {
  PixelImage image;
  image.width = width;
  image.height = height;
  for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
    image.pixels.insert(image.pixels.end(), {blue, green, red, alpha});
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
  for (size_t i = 0; i < image.pixels.size(); ++i) {
    if (i % 4 == 3) continue;
    state = state * 1664525u + 1013904223u;
    image.pixels[i] = static_cast<std::uint8_t>(state >> 24);
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

// A grey progressive script: one DC scan, one first scan per AC coefficient,
// and successive-approximation refinements until `total` scans (at most 694).
static std::vector<jpeg_scan_info> ScanScript(int total) {
  std::vector<jpeg_scan_info> scans{{1, {0}, 0, 0, 0, 0}};
  int extra = total - 64;
  for (int k = 1; k < 64; ++k) {
    const int al = extra > 10 ? 10 : (extra > 0 ? extra : 0);
    extra -= al;
    scans.push_back({1, {0}, k, k, 0, al});
    for (int ah = al; ah > 0; --ah) scans.push_back({1, {0}, k, k, ah, ah - 1});
  }
  return scans;
}

// The codec libraries' default error handlers end the test program, which
// only a fixture asked for something impossible can make them do.
std::string EncodeJpegBytes(std::uint32_t width, std::uint32_t height,
                            const std::vector<std::uint8_t>& samples, const JpegRecipe& recipe) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = width;
  info.image_height = height;
  const bool grey = recipe.layout == JpegLayout::Gray, rgb = recipe.layout == JpegLayout::Rgb;
  info.input_components = grey ? 1 : (rgb ? 3 : 4);
  info.in_color_space = grey ? JCS_GRAYSCALE : (rgb ? JCS_RGB : JCS_CMYK);
  jpeg_set_defaults(&info);
  if (recipe.layout == JpegLayout::YcckAdobe) jpeg_set_colorspace(&info, JCS_YCCK);
  if (recipe.layout == JpegLayout::CmykPlain) info.write_Adobe_marker = FALSE;
  jpeg_set_quality(&info, recipe.quality, TRUE);
  if (recipe.chroma444) info.comp_info[0].h_samp_factor = info.comp_info[0].v_samp_factor = 1;
  info.optimize_coding = recipe.optimize ? TRUE : FALSE;
  if (recipe.progressive) jpeg_simple_progression(&info);
  const std::vector<jpeg_scan_info> scans = ScanScript(recipe.scanCount);
  if (recipe.scanCount > 0) {
    info.scan_info = scans.data();
    info.num_scans = static_cast<int>(scans.size());
  }
  jpeg_start_compress(&info, TRUE);
  for (const auto& [marker, payload] :
       {std::pair{JPEG_APP0 + 1, &recipe.app1}, std::pair{JPEG_COM, &recipe.comment}}) {
    if (payload->empty()) continue;
    jpeg_write_marker(&info, marker, reinterpret_cast<const JOCTET*>(payload->data()),
                      static_cast<unsigned>(payload->size()));
  }
  const size_t stride = static_cast<size_t>(width) * info.input_components;
  while (info.next_scanline < height) {
    JSAMPROW row = const_cast<JSAMPLE*>(samples.data() + info.next_scanline * stride);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  const std::string bytes(reinterpret_cast<const char*>(buffer), size);
  std::free(buffer);
  return bytes;
}

std::string EncodeJpegOf(const PixelImage& image, const JpegRecipe& recipe) {
  std::vector<std::uint8_t> rgb;
  for (size_t i = 0; i < image.pixels.size(); i += 4) {
    rgb.insert(rgb.end(), {image.pixels[i + 2], image.pixels[i + 1], image.pixels[i]});
  }
  JpegRecipe rgbRecipe = recipe;
  rgbRecipe.layout = JpegLayout::Rgb;
  return EncodeJpegBytes(image.width, image.height, rgb, rgbRecipe);
}

std::vector<JpegMarker> ListJpegMarkers(const std::string& jpeg) {
  std::vector<JpegMarker> markers;
  const auto* d = reinterpret_cast<const std::uint8_t*>(jpeg.data());
  for (size_t i = 2; i + 3 < jpeg.size();) {
    const std::uint8_t code = d[i + 1];
    if (d[i] != 0xFF || code == 0x00 || code == 0xFF || (code >= 0xD0 && code <= 0xD7)) {
      i += d[i] == 0xFF && code != 0xFF ? 2 : 1;  // entropy-coded data, fill and restarts
      continue;
    }
    markers.push_back({i, code});
    if (code == 0xD9) break;
    i += 2 + ((d[i + 2] << 8) | d[i + 3]);
  }
  return markers;
}

std::string WithJpegFrameSize(std::string jpeg, std::uint16_t width, std::uint16_t height) {
  for (const JpegMarker& marker : ListJpegMarkers(jpeg)) {
    if (marker.code < 0xC0 || marker.code > 0xC2) continue;
    jpeg.replace(marker.offset + 5, 4, std::string{static_cast<char>(height >> 8), static_cast<char>(height & 0xFF),
                                                   static_cast<char>(width >> 8), static_cast<char>(width & 0xFF)});
    break;
  }
  return jpeg;
}

std::string Le16(std::uint32_t value) { return {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF)}; }
std::string Le32(std::uint32_t value) { return Le16(value & 0xFFFF) + Le16(value >> 16); }
std::uint32_t ReadLe(const std::string& bytes, size_t at, int count) {
  std::uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

static void AppendPngBytes(png_structp png, png_bytep data, png_size_t size) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), size);
}

std::string EncodePngBytes(std::uint32_t width, std::uint32_t height,
                           const std::vector<std::vector<std::uint8_t>>& rows, const PngRecipe& recipe) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::string out;
  png_set_write_fn(png, &out, AppendPngBytes, nullptr);
  png_set_IHDR(png, info, width, height, recipe.bitDepth, recipe.colorType,
               recipe.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> colours;
  for (size_t i = 0; i + 2 < recipe.palette.size(); i += 3) {
    colours.push_back({recipe.palette[i], recipe.palette[i + 1], recipe.palette[i + 2]});
  }
  if (!colours.empty()) png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
  if (!recipe.alphas.empty()) {
    png_set_tRNS(png, info, recipe.alphas.data(), static_cast<int>(recipe.alphas.size()), nullptr);
  }
  if (recipe.gamma > 0) png_set_gAMA(png, info, recipe.gamma);
  png_write_info(png, info);
  std::vector<png_bytep> pointers;
  for (const auto& row : rows) pointers.push_back(const_cast<png_bytep>(row.data()));
  png_write_image(png, pointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

bool WriteTiffFile(const std::string& path, const std::vector<TiffPage>& pages) {
  // libtiff reads back earlier directories while linking pages: read-write.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  TIFF* tiff = fd < 0 ? nullptr : TIFFFdOpen(fd, path.c_str(), "w");
  if (tiff == nullptr) {
    if (fd >= 0) ::close(fd);
    return false;
  }
  bool written = true;
  for (const TiffPage& page : pages) {
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, page.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, page.height);
    for (const auto& [tag, value] : {std::pair{TIFFTAG_SAMPLESPERPIXEL, 3}, {TIFFTAG_BITSPERSAMPLE, 8},
                                     {TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB}, {TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG},
                                     {TIFFTAG_COMPRESSION, COMPRESSION_NONE}}) {
      TIFFSetField(tiff, tag, value);
    }
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP,
                 page.rowsPerStrip > 0 ? page.rowsPerStrip : TIFFDefaultStripSize(tiff, 0));
    for (std::uint32_t y = 0; y < page.height; ++y) {
      auto* row = const_cast<std::uint8_t*>(page.rgb.data() + static_cast<size_t>(y) * page.width * 3);
      written = written && TIFFWriteScanline(tiff, row, y, 0) >= 0;
    }
    written = written && TIFFWriteDirectory(tiff) != 0;
  }
  TIFFClose(tiff);  // closes fd too
  return written;
}

std::string EncodeBmp(const PixelImage& picture, int bitsPerPixel, bool topDown) {
  const std::uint32_t width = picture.width, height = picture.height;
  const std::uint32_t bytesPerPixel = static_cast<std::uint32_t>(bitsPerPixel) / 8;
  const std::uint32_t rowBytes = (width * bytesPerPixel + 3) / 4 * 4, paletteBytes = bitsPerPixel == 8 ? 1024 : 0;
  const std::uint32_t pixelOffset = 54 + paletteBytes;
  std::string bmp = "BM" + Le32(pixelOffset + rowBytes * height) + Le32(0) + Le32(pixelOffset) + Le32(40) + Le32(width) +
                    Le32(topDown ? static_cast<std::uint32_t>(-static_cast<std::int32_t>(height)) : height) + Le16(1) +
                    Le16(static_cast<std::uint32_t>(bitsPerPixel)) + Le32(0) + Le32(rowBytes * height) + Le32(2835) +
                    Le32(2835) + Le32(bitsPerPixel == 8 ? 256 : 0) + Le32(0);
  for (std::uint32_t i = 0; i < paletteBytes / 4; ++i) bmp += std::string{char(i), char(i), char(i), '\0'};
  for (std::uint32_t row = 0; row < height; ++row) {
    const std::uint32_t y = topDown ? row : height - 1 - row;
    std::string line;
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::uint8_t* p = picture.pixels.data() + (static_cast<size_t>(y) * width + x) * 4;
      line += bitsPerPixel == 8 ? std::string(1, static_cast<char>(p[1]))
                                : std::string(reinterpret_cast<const char*>(p), bytesPerPixel);
    }
    line.resize(rowBytes, '\0');
    bmp += line;
  }
  return bmp;
}
