// Decoding image files into a PixelImage. The decoder is chosen by the file's
// content (magic bytes), not by its extension: JPEG (libjpeg-turbo), PNG
// (libpng), TIFF (libtiff, first page), BMP and GIF (stb_image, first frame).
// Pixels come out exactly as stored: no colour-profile conversion, no
// orientation correction, no scaling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/pixel_image.h"

// Why a file could not be decoded. Each has a short German text that the
// results list, orvel-cli and the preview show after their own wording.
enum class DecodeFailure {
  None,           // decoded
  CannotRead,     // missing, no permission, or a read error
  NotAFile,       // a folder, pipe, device or socket
  Empty,          // zero bytes
  UnknownFormat,  // not one of the formats below
  TooLarge,       // beyond kMaxPixelBytes (file or declared pixel buffer)
  Corrupt,        // truncated or corrupt data
  HighPrecision,  // a JPEG with 12-bit (or other than 8-bit) samples
  UnsupportedKind,  // a lossless or hierarchical JPEG
};
const char* DecodeFailureText(DecodeFailure failure);

// Decodes the first frame of the file at `path`. On failure the result is
// false, `*failure` (when given) says why, and `image` is empty (size 0 x 0, no pixels). Refused before any pixel
// buffer exists: a size whose width * height * 4 exceeds kMaxPixelBytes, and a
// file larger than kMaxPixelBytes. Refused while decoding, with the partly
// filled buffer released: JPEGs with more than 500 scans, JPEGs with corrupt
// or missing entropy-coded data (truncated files), and truncated PNG, TIFF,
// BMP and GIF files. A path that names a folder gives false.
bool DecodeImageFile(const std::string& path, PixelImage& image,
                     DecodeFailure* failure = nullptr);

// The same decoders over bytes in memory (tests and fuzzing). On failure
// `*failure` (when given) says UnknownFormat, TooLarge or Corrupt.
bool DecodeImageMemory(const std::uint8_t* data, size_t size, PixelImage& image,
                       DecodeFailure* failure = nullptr);

// The width and height the frame header of the JPEG in `data` declares,
// found by walking its marker segments without decoding anything. False when
// `data` is not a JPEG or ends, or reaches its first scan, before a frame
// header.
bool ReadJpegFrameSize(const std::uint8_t* data, size_t size, std::uint32_t& width,
                       std::uint32_t& height);

// The container a file's first bytes announce.
enum class ImageFormat { Unknown, Jpeg, Png, Tiff, Bmp, Gif };
ImageFormat DetectImageFormat(const std::uint8_t* data, size_t size);

// Decodes a JPEG's first frame with libjpeg-turbo alone (used by benchmarks to
// compare against the decoder library's own speed). Same rules as above.
// The single-format decoders set `*failure` (when given) to TooLarge only, for
// a declared size they refuse before decoding; the caller treats any other
// failure as corrupt data.
bool DecodeJpegMemory(const std::uint8_t* data, size_t size, PixelImage& image,
                      DecodeFailure* failure = nullptr);

// The other single-format decoders behind DecodeImageMemory. Each refuses data
// of another format with false and leaves `image` empty on every failure.
bool DecodePngMemory(const std::uint8_t* data, size_t size, PixelImage& image,
                     DecodeFailure* failure = nullptr);
bool DecodeTiffMemory(const std::uint8_t* data, size_t size, PixelImage& image,
                      DecodeFailure* failure = nullptr);
// BMP and GIF (first frame) through stb_image.
bool DecodeBmpGifMemory(const std::uint8_t* data, size_t size, PixelImage& image,
                        DecodeFailure* failure = nullptr);

// The format decoders' buffer reservation (ReservePixels) once the header is
// read: a size beyond kMaxPixelBytes, or a buffer the memory cannot hold,
// also sets `*failure` (when given) to TooLarge.
bool ReserveDecodedPixels(PixelImage& image, std::uint32_t width, std::uint32_t height,
                          DecodeFailure* failure);
