// Builders of the hardening suites' sample files; see sample_files.h.
#include "tests/hardening/sample_files.h"

#include <algorithm>

#include "platform/files.h"

namespace {

std::uint8_t Byte(int value) { return static_cast<std::uint8_t>(value); }
std::uint8_t Grey(int r, int g, int b) { return Byte((r * 77 + g * 150 + b * 29) >> 8); }

// The picture's pixels in the layout a file stores: 1 (grey), 3 (RGB) or 4
// (CMYK, computed from RGB) samples per pixel.
std::vector<std::uint8_t> Samples(const PixelImage& image, int components) {
  std::vector<std::uint8_t> samples;
  samples.reserve(image.pixels.size());
  for (size_t i = 0; i < image.pixels.size(); i += 4) {
    const int b = image.pixels[i], g = image.pixels[i + 1], r = image.pixels[i + 2], k = 255 - std::max({r, g, b});
    if (components == 1) samples.push_back(Grey(r, g, b));
    if (components == 3) samples.insert(samples.end(), {Byte(r), Byte(g), Byte(b)});
    if (components == 4) samples.insert(samples.end(), {Byte(255 - r - k + k / 2), Byte(255 - g - k + k / 2),
                                                        Byte(255 - b - k + k / 2), Byte(k)});
  }
  return samples;
}

// LZW data of a four-colour image without compression: a clear code (4)
// before every second pixel keeps the code width at three bits; 5 ends it.
std::string GifImageData(const std::vector<std::uint8_t>& indices) {
  std::string data;
  std::uint32_t pending = 0;
  int count = 0;
  const auto put = [&](std::uint32_t code) {  // three bits, least significant first
    pending |= code << count;
    for (count += 3; count >= 8; count -= 8, pending >>= 8) data += static_cast<char>(pending & 0xFF);
  };
  for (size_t i = 0; i < indices.size(); ++i) {
    if (i % 2 == 0) put(4);
    put(indices[i] & 3);
  }
  put(5);
  if (count > 0) data += static_cast<char>(pending & 0xFF);
  std::string blocks(1, '\x02');  // minimum code size
  for (size_t at = 0; at < data.size(); at += 255) {
    const size_t length = std::min<size_t>(255, data.size() - at);
    blocks += static_cast<char>(length) + data.substr(at, length);
  }
  return blocks + std::string(1, '\0');
}

std::vector<std::vector<std::uint8_t>> PngRows(const PixelImage& image, PngKind kind) {
  std::vector<std::vector<std::uint8_t>> rows(image.height);
  for (std::uint32_t y = 0; y < image.height; ++y) {
    std::vector<std::uint8_t>& row = rows[y];
    for (std::uint32_t x = 0; x < image.width; ++x) {
      const std::uint8_t* p = image.pixels.data() + (static_cast<size_t>(y) * image.width + x) * 4;
      const std::uint8_t r = p[2], g = p[1], b = p[0], grey = Grey(r, g, b);
      switch (kind) {
        case PngKind::Rgb8:
        case PngKind::Interlaced: row.insert(row.end(), {r, g, b}); break;
        case PngKind::Rgb16: row.insert(row.end(), {r, Byte(x), g, 0x80, b, 0x01}); break;
        case PngKind::Palette:
        case PngKind::PaletteWithAlpha: row.push_back(Byte(grey >> 4)); break;
        case PngKind::Rgba8: row.insert(row.end(), {r, g, b, Byte(x * 7 + y)}); break;
        case PngKind::Gray16: row.insert(row.end(), {grey, Byte(y)}); break;
        case PngKind::GrayAlpha8: row.insert(row.end(), {grey, Byte(255 - x)}); break;
        case PngKind::Gray1:
          if (x % 8 == 0) row.push_back(0);
          if (grey > 127) row.back() |= Byte(0x80 >> (x % 8));
          break;
      }
    }
  }
  return rows;
}

// Colour type and bit depth per kind, in the order of PngKind.
constexpr int kPngColorTypes[] = {2, 2, 3, 3, 6, 0, 4, 0, 2}, kPngBitDepths[] = {8, 16, 8, 8, 8, 16, 8, 1, 8};

PngRecipe PngRecipeFor(PngKind kind) {
  const auto index = static_cast<size_t>(kind);
  PngRecipe recipe{.colorType = kPngColorTypes[index], .bitDepth = kPngBitDepths[index],
                   .interlaced = kind == PngKind::Interlaced};
  for (int i = 0; recipe.colorType == 3 && i < 16; ++i) {
    recipe.palette.insert(recipe.palette.end(), {Byte(i * 17), Byte(255 - i * 9), Byte(i * 5)});
  }
  if (kind == PngKind::PaletteWithAlpha) recipe.alphas = {0, 64, 128, 192, 255};
  return recipe;
}

}  // namespace

PixelImage SamplePicture(std::uint32_t width, std::uint32_t height, std::uint32_t seed) {
  PixelImage image = MakeGradientImage(width, height);
  std::uint32_t state = seed * 2654435761u + 7;
  for (size_t i = 0; i < image.pixels.size(); i += 4) {
    for (size_t c = 0; c < 3; ++c) {
      state = state * 1664525u + 1013904223u;
      const int noise = static_cast<int>((state >> 24) % 13) - 6;
      image.pixels[i + c] = Byte(std::clamp(image.pixels[i + c] + noise, 0, 255));
    }
  }
  return image;
}

std::string SampleJpeg(std::uint32_t width, std::uint32_t height, const JpegRecipe& recipe) {
  return EncodeJpegOf(SamplePicture(width, height, 3), recipe);
}

std::string SampleLayoutJpeg(std::uint32_t width, std::uint32_t height, JpegLayout layout, bool progressive) {
  const int components = layout == JpegLayout::Gray ? 1 : layout == JpegLayout::Rgb ? 3 : 4;
  return EncodeJpegBytes(width, height, Samples(SamplePicture(width, height, 5), components),
                         JpegRecipe{.layout = layout, .progressive = progressive});
}

std::string SampleManyScanJpeg(std::uint32_t width, std::uint32_t height, int scans) {
  return EncodeJpegBytes(width, height, Samples(SamplePicture(width, height, 6), 1),
                         JpegRecipe{.layout = JpegLayout::Gray, .scanCount = scans});
}

std::string WithSegmentsAfterSoi(const std::string& jpeg, const std::string& segments) {
  return jpeg.substr(0, 2) + segments + jpeg.substr(2);
}

std::string JpegSegmentBytes(std::uint8_t marker, const std::string& payload) {
  const size_t length = payload.size() + 2;
  return std::string{'\xFF', static_cast<char>(marker), static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)} +
         payload;
}

std::string SamplePng(std::uint32_t width, std::uint32_t height, PngKind kind) {
  return EncodePngBytes(width, height, PngRows(SamplePicture(width, height, 8), kind), PngRecipeFor(kind));
}

std::string SampleTiff(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& pageSizes,
                       const std::string& scratchFolder) {
  std::vector<TiffPage> pages;
  for (const auto& [width, height] : pageSizes) {
    const std::uint32_t seed = static_cast<std::uint32_t>(pages.size()) + 9;
    pages.push_back(TiffPage{width, height, Samples(SamplePicture(width, height, seed), 3), 8});
  }
  const std::string path = JoinPath(scratchFolder, "sample.tif");
  std::string bytes;
  if (WriteTiffFile(path, pages)) ReadFileBytes(path, bytes);
  DeleteFileAt(path);
  return bytes;
}

std::string SampleBmp(std::uint32_t width, std::uint32_t height, int bitsPerPixel, bool topDown) {
  return EncodeBmp(SamplePicture(width, height, 11), bitsPerPixel, topDown);
}

std::string SampleGif(std::uint32_t width, std::uint32_t height, int frames) {
  std::string gif = "GIF89a" + Le16(width) + Le16(height) + std::string("\x81\x00\x00", 3) +
                    std::string("\x10\x20\x30\xF0\xE0\xD0\x80\x40\x20\x20\x90\xC0", 12);
  for (int frame = 0; frame < frames; ++frame) {
    gif += std::string("\x21\xF9\x04\x00\x05\x00\x00\x00", 8);  // 50 ms, no transparency
    gif += "\x2C" + Le32(0) + Le16(width) + Le16(height) + std::string(1, '\0');
    std::vector<std::uint8_t> indices;
    for (std::uint32_t y = 0; y < height; ++y) {
      for (std::uint32_t x = 0; x < width; ++x) indices.push_back(Byte((x / 2 + y / 3 + static_cast<std::uint32_t>(frame)) & 3));
    }
    gif += GifImageData(indices);
  }
  return gif + ";";
}

std::vector<BadInput> MakeBadInputs(const std::string& scratchFolder) {
  const std::string baseline = SampleJpeg(256, 192);
  const std::string progressive = SampleJpeg(256, 192, JpegRecipe{.progressive = true});
  const auto error = ExpectedEnd::kError, verdict = ExpectedEnd::kVerdict;
  return {
      {"leer.jpg", "", error},
      {"text.jpg", "Dies ist kein Bild, nur Text mit der Endung .jpg.\n", error},
      {"nur_kopf.jpg", baseline.substr(0, 120), error},
      {"abgeschnitten.jpg", baseline.substr(0, baseline.size() * 11 / 20), error},
      {"abgeschnitten_progressiv.jpg", progressive.substr(0, progressive.size() * 11 / 20), error},
      {"riesig_60000.jpg", WithJpegFrameSize(SampleJpeg(64, 48), 60000, 60000), error},
      {"viele_scans.jpg", SampleManyScanJpeg(64, 48, 520), error},
      {"cmyk.jpg", SampleLayoutJpeg(256, 192, JpegLayout::CmykAdobe), verdict},
      {"ycck.jpg", SampleLayoutJpeg(128, 96, JpegLayout::YcckAdobe), verdict},
      {"grau.jpg", SampleLayoutJpeg(256, 192, JpegLayout::Gray), verdict},
      {"tief_16bit.png", SamplePng(256, 192, PngKind::Rgb16), verdict},
      {"palette.png", SamplePng(256, 192, PngKind::Palette), verdict},
      {"alpha.png", SamplePng(256, 192, PngKind::Rgba8), verdict},
      {"bild.bmp", SampleBmp(256, 192, 24, false), verdict},
      {"seiten.tif", SampleTiff({{256, 192}, {64, 48}}, scratchFolder), verdict},
      {"animiert.gif", SampleGif(64, 48, 2), verdict},
      {"winzig_1x1.jpg", SampleJpeg(1, 1), verdict},
      {"Foto \"Süd\" 'Bergblick' Ä ö ü ß.jpg", SampleJpeg(256, 192, JpegRecipe{JpegLayout::Rgb, 97}), verdict},
  };
}
