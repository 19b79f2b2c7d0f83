// JPEG header marker parser and the metadata rewrite; see jpeg_metadata.h.
// Neighbours: parallel_encoding.cpp applies the rewrite to each lossy
// candidate; pipeline.cpp reads the source's segments once per image.
#include "core/jpeg_metadata.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files.h"

namespace {

constexpr std::uint8_t kSoi = 0xD8;
constexpr std::uint8_t kEoi = 0xD9;
constexpr std::uint8_t kSos = 0xDA;
constexpr std::uint8_t kApp0 = 0xE0;
constexpr std::uint8_t kApp2 = 0xE2;

bool IsStandaloneMarker(std::uint8_t marker) {
  return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7);
}

// Start-of-frame markers: C0..CF without DHT (C4), JPG (C8) and DAC (CC).
bool IsFrameMarker(std::uint8_t marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
         marker != 0xCC;
}

bool IsIccProfileSegment(const std::uint8_t* data, const JpegSegment& segment) {
  static const char kTag[] = "ICC_PROFILE";  // 11 letters and the terminating zero
  return segment.marker == kApp2 && segment.size >= 4 + sizeof kTag &&
         std::memcmp(data + segment.offset + 4, kTag, sizeof kTag) == 0;
}

}  // namespace

bool IsCarriedMetadataMarker(std::uint8_t marker) {
  return (marker >= 0xE1 && marker <= 0xED) || marker == 0xEF || marker == 0xFE;
}

JpegHeaderScan ScanJpegHeader(const std::uint8_t* data, size_t size) {
  JpegHeaderScan scan;
  if (data == nullptr || size < 2 || data[0] != 0xFF || data[1] != kSoi) return scan;
  size_t pos = 2;
  for (;;) {
    if (pos >= size) { scan.status = JpegScanStatus::kTruncated; return scan; }
    // Stray bytes between segments are skipped to the next 0xFF, as libjpeg
    // does (with a warning that viewers ignore).
    if (data[pos] != 0xFF) { ++pos; continue; }
    // Any number of 0xFF fill bytes may precede the marker byte.
    size_t markerPos = pos;
    while (markerPos + 1 < size && data[markerPos + 1] == 0xFF) ++markerPos;
    if (markerPos + 1 >= size) { scan.status = JpegScanStatus::kTruncated; return scan; }
    const std::uint8_t marker = data[markerPos + 1];
    if (marker == kSoi) { scan.status = JpegScanStatus::kMalformed; return scan; }
    // 0xFF 0x00 is no marker: libjpeg skips it with the stray bytes.
    if (marker == 0x00) { pos = markerPos + 2; continue; }
    if (marker == kSos || marker == kEoi) {
      scan.status = JpegScanStatus::kComplete;
      scan.tailOffset = markerPos;
      return scan;
    }
    if (IsStandaloneMarker(marker)) { pos = markerPos + 2; continue; }

    if (size - markerPos < 4) { scan.status = JpegScanStatus::kTruncated; return scan; }
    const size_t length = (static_cast<size_t>(data[markerPos + 2]) << 8) | data[markerPos + 3];
    if (length < 2) { scan.status = JpegScanStatus::kMalformed; return scan; }
    if (size - markerPos - 2 < length) { scan.status = JpegScanStatus::kTruncated; return scan; }
    if (IsFrameMarker(marker) && length >= 8) scan.frameComponents = data[markerPos + 9];
    scan.segments.push_back(JpegSegment{marker, markerPos, length + 2});
    pos = markerPos + 2 + length;
  }
}

JpegScanStatus ExtractJpegMetadata(const std::uint8_t* data, size_t size, std::string& segments) {
  const JpegHeaderScan scan = ScanJpegHeader(data, size);
  if (scan.status != JpegScanStatus::kComplete) return scan.status;
  for (const JpegSegment& segment : scan.segments) {
    if (!IsCarriedMetadataMarker(segment.marker)) continue;
    // A grey or CMYK profile would misdescribe the candidates' RGB pixels.
    if (scan.frameComponents != 3 && IsIccProfileSegment(data, segment)) continue;
    segments.append(reinterpret_cast<const char*>(data + segment.offset), segment.size);
  }
  return JpegScanStatus::kComplete;
}

bool ReadJpegMetadataFile(const std::string& path, std::string& segments) {
  segments.clear();
  UniqueFd file = OpenForReading(path);
  if (!file.Valid()) return false;
  // Most headers fit in the first 64 KiB; read on only while the header does.
  std::string bytes;
  size_t wanted = 64 * 1024;
  bool atEnd = false;
  for (;;) {
    while (bytes.size() < wanted && !atEnd) {
      char buffer[65536];
      const ssize_t got = ::read(file.fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return false;
      if (got == 0) atEnd = true;
      bytes.append(buffer, static_cast<size_t>(got));
    }
    std::string found;
    const JpegScanStatus status = ExtractJpegMetadata(
        reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), found);
    if (status == JpegScanStatus::kComplete) {
      segments = std::move(found);
      return true;
    }
    if (status != JpegScanStatus::kTruncated || atEnd) return false;
    wanted = bytes.size() * 2;
  }
}

bool ReplaceJpegMetadata(const std::uint8_t* candidate, size_t size, std::string_view segments,
                         std::string& rewritten) {
  rewritten.clear();
  const JpegHeaderScan scan = ScanJpegHeader(candidate, size);
  if (scan.status != JpegScanStatus::kComplete) return false;
  const auto* bytes = reinterpret_cast<const char*>(candidate);
  rewritten.reserve(size + segments.size());
  rewritten.append(bytes, 2);
  size_t index = 0;
  // The candidate's JFIF header stays first, where readers look for it.
  for (; index < scan.segments.size() && scan.segments[index].marker == kApp0; ++index) {
    rewritten.append(bytes + scan.segments[index].offset, scan.segments[index].size);
  }
  rewritten.append(segments);
  for (; index < scan.segments.size(); ++index) {
    const JpegSegment& segment = scan.segments[index];
    if (IsCarriedMetadataMarker(segment.marker)) continue;
    rewritten.append(bytes + segment.offset, segment.size);
  }
  rewritten.append(bytes + scan.tailOffset, size - scan.tailOffset);
  return true;
}

bool ReplaceJpegMetadataInFile(const std::string& candidatePath, std::string_view segments,
                               const std::string& temporaryPath) {
  std::string original;
  if (!ReadFileBytes(candidatePath, original)) return false;
  std::string rewritten;
  if (!ReplaceJpegMetadata(reinterpret_cast<const std::uint8_t*>(original.data()),
                           original.size(), segments, rewritten)) {
    return false;
  }
  std::string().swap(original);
  return ReplaceCandidateFile(candidatePath, rewritten, temporaryPath);
}

bool ReplaceCandidateFile(const std::string& candidatePath, std::string_view bytes,
                          const std::string& temporaryPath) {
  UniqueFd file = CreateForWriting(temporaryPath, 0600);
  if (!file.Valid()) return false;
  const bool written = WriteAll(file, bytes.data(), bytes.size());
  if (!CloseChecked(file) || !written || !RenamePath(temporaryPath, candidatePath)) {
    ::unlink(temporaryPath.c_str());
    return false;
  }
  return true;
}
