// Entry points of decoding: reads the file, recognises the container by its
// first bytes and hands the bytes to one of the format decoders
// (decode_jpeg.cpp, decode_png.cpp, decode_tiff.cpp, decode_stb.cpp). The
// extension is never consulted, so a text file named ".jpg" is simply refused.
#include "imaging/decode.h"

#include <sys/stat.h>

#include <cstring>

#include "platform/files.h"

namespace {

bool StartsWith(const std::uint8_t* data, size_t size, const char* magic, size_t length) {
  return size >= length && std::memcmp(data, magic, length) == 0;
}

}  // namespace

ImageFormat DetectImageFormat(const std::uint8_t* data, size_t size) {
  if (data == nullptr) return ImageFormat::Unknown;
  if (StartsWith(data, size, "\xFF\xD8\xFF", 3)) return ImageFormat::Jpeg;
  if (StartsWith(data, size, "\x89PNG\r\n\x1A\n", 8)) return ImageFormat::Png;
  // Classic TIFF ("*", 42) and BigTIFF ("+", 43), either byte order.
  if (StartsWith(data, size, "II*\0", 4) || StartsWith(data, size, "MM\0*", 4) ||
      StartsWith(data, size, "II+\0", 4) || StartsWith(data, size, "MM\0+", 4)) {
    return ImageFormat::Tiff;
  }
  if (StartsWith(data, size, "BM", 2)) return ImageFormat::Bmp;
  if (StartsWith(data, size, "GIF87a", 6) || StartsWith(data, size, "GIF89a", 6)) {
    return ImageFormat::Gif;
  }
  return ImageFormat::Unknown;
}

bool DecodeImageMemory(const std::uint8_t* data, size_t size, PixelImage& image) {
  ClearImage(image);
  bool decoded = false;
  switch (DetectImageFormat(data, size)) {
    case ImageFormat::Jpeg: decoded = DecodeJpegMemory(data, size, image); break;
    case ImageFormat::Png: decoded = DecodePngMemory(data, size, image); break;
    case ImageFormat::Tiff: decoded = DecodeTiffMemory(data, size, image); break;
    case ImageFormat::Bmp:
    case ImageFormat::Gif: decoded = DecodeBmpGifMemory(data, size, image); break;
    case ImageFormat::Unknown: break;
  }
  if (!decoded || !IsUsableImage(image)) {
    ClearImage(image);
    return false;
  }
  return true;
}

const char* DecodeFailureText(DecodeFailure failure) {
  switch (failure) {
    case DecodeFailure::None: return "";
    case DecodeFailure::CannotRead: return "Datei kann nicht gelesen werden";
    case DecodeFailure::NotAFile: return "keine reguläre Datei";
    case DecodeFailure::Empty: return "Datei ist leer";
    case DecodeFailure::UnknownFormat: return "kein Bild oder unbekanntes Format";
    case DecodeFailure::TooLarge: return "Bild ist zu groß";
    case DecodeFailure::Corrupt: return "Bilddaten sind abgeschnitten oder beschädigt";
  }
  return "";
}

namespace {

// Why the file at `path` cannot even be read as bytes; None when it can.
DecodeFailure CheckReadableFile(const std::string& path) {
  struct stat info{};
  if (::stat(path.c_str(), &info) != 0) return DecodeFailure::CannotRead;
  if (!S_ISREG(info.st_mode)) return DecodeFailure::NotAFile;
  if (info.st_size == 0) return DecodeFailure::Empty;
  if (static_cast<std::uint64_t>(info.st_size) > kMaxPixelBytes) return DecodeFailure::TooLarge;
  return DecodeFailure::None;
}

}  // namespace

bool DecodeImageFile(const std::string& path, PixelImage& image, DecodeFailure* failure) {
  ClearImage(image);
  DecodeFailure reason = CheckReadableFile(path);
  // A file larger than the largest pixel buffer allowed is refused unread, so
  // a huge non-image file never lands in memory whole.
  std::string bytes;
  if (reason == DecodeFailure::None && !ReadFileBytes(path, bytes, kMaxPixelBytes)) {
    reason = DecodeFailure::CannotRead;
  }
  if (reason == DecodeFailure::None) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    if (bytes.empty()) {
      reason = DecodeFailure::Empty;
    } else if (DetectImageFormat(data, bytes.size()) == ImageFormat::Unknown) {
      reason = DecodeFailure::UnknownFormat;
    } else if (!DecodeImageMemory(data, bytes.size(), image)) {
      reason = DecodeFailure::Corrupt;
    }
  }
  if (failure) *failure = reason;
  return reason == DecodeFailure::None;
}
