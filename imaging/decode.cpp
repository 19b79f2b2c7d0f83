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

bool ReadJpegFrameSize(const std::uint8_t* data, size_t size, std::uint32_t& width,
                       std::uint32_t& height) {
  if (DetectImageFormat(data, size) != ImageFormat::Jpeg) return false;
  size_t at = 2;
  while (size - at >= 4) {
    if (data[at] != 0xFF) return false;
    const std::uint8_t marker = data[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      at += 2;  // markers without a length
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) return false;
    const size_t length = (static_cast<size_t>(data[at + 2]) << 8) | data[at + 3];
    // SOF0 to SOF15; C4, C8 and CC are other segments in that range.
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                       marker != 0xCC;
    if (frame) {
      if (length < 7 || size - at < 9) return false;
      height = (static_cast<std::uint32_t>(data[at + 5]) << 8) | data[at + 6];
      width = (static_cast<std::uint32_t>(data[at + 7]) << 8) | data[at + 8];
      return true;
    }
    if (length < 2) return false;
    at += 2 + length;
    if (at > size) return false;
  }
  return false;
}

bool ReserveDecodedPixels(PixelImage& image, std::uint32_t width, std::uint32_t height,
                          DecodeFailure* failure) {
  if (ReservePixels(image, width, height)) return true;
  if (failure && PixelBufferBytes(width, height) != 0) *failure = DecodeFailure::TooLarge;
  return false;
}

bool DecodeImageMemory(const std::uint8_t* data, size_t size, PixelImage& image,
                       DecodeFailure* failure) {
  ClearImage(image);
  DecodeFailure reason = DecodeFailure::None;
  bool decoded = false;
  switch (DetectImageFormat(data, size)) {
    case ImageFormat::Jpeg: decoded = DecodeJpegMemory(data, size, image, &reason); break;
    case ImageFormat::Png: decoded = DecodePngMemory(data, size, image, &reason); break;
    case ImageFormat::Tiff: decoded = DecodeTiffMemory(data, size, image, &reason); break;
    case ImageFormat::Bmp:
    case ImageFormat::Gif: decoded = DecodeBmpGifMemory(data, size, image, &reason); break;
    case ImageFormat::Unknown: reason = DecodeFailure::UnknownFormat; break;
  }
  if (decoded && IsUsableImage(image)) return true;
  ClearImage(image);
  if (failure) *failure = reason == DecodeFailure::None ? DecodeFailure::Corrupt : reason;
  return false;
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
    case DecodeFailure::HighPrecision: return "12-Bit-JPEG wird nicht unterstützt";
    case DecodeFailure::UnsupportedKind:
      return "verlustfreies oder hierarchisches JPEG wird nicht unterstützt";
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
    } else {
      DecodeImageMemory(data, bytes.size(), image, &reason);
    }
  }
  if (failure) *failure = reason;
  return reason == DecodeFailure::None;
}
