// The fuzz targets; see fuzz_targets.h. Neighbours: fuzz_main.cpp (the
// libFuzzer entry), tests/hardening (corpus and regression replay), and the
// parsers under test in imaging/, core/jpeg_metadata and bench/.
#include "fuzz/fuzz_targets.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "bench/session.h"
#include "bench/summary.h"
#include "core/jpeg_metadata.h"
#include "imaging/decode.h"

namespace {

// What every decoder promises about its output.
bool DecodedImageIsConsistent(bool decoded, const PixelImage& image) {
  if (!decoded) return image.width == 0 && image.height == 0 && image.pixels.empty();
  return IsUsableImage(image);
}

// libjpeg's BGRA output and the CMYK conversion always give opaque pixels.
bool EveryPixelIsOpaque(const PixelImage& image) {
  for (size_t i = 3; i < image.pixels.size(); i += 4) {
    if (image.pixels[i] != 0xFF) return false;
  }
  return true;
}

using Decoder = bool (*)(const std::uint8_t*, size_t, PixelImage&, DecodeFailure*);

bool RunDecoder(Decoder decoder, const std::uint8_t* data, size_t size) {
  PixelImage image;
  const bool decoded = decoder(data, size, image, nullptr);
  if (!DecodedImageIsConsistent(decoded, image)) return false;
  // The dispatcher must agree with the format's own decoder.
  if (decoder != DecodeImageMemory) return true;
  PixelImage again;
  switch (DetectImageFormat(data, size)) {
    case ImageFormat::Jpeg: return DecodeJpegMemory(data, size, again) == decoded;
    case ImageFormat::Unknown: return !decoded;
    default: return true;
  }
}

std::uint32_t Crc32(const std::uint8_t* data, size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return crc ^ 0xFFFFFFFFu;
}

// The input with the checksum of every complete chunk recomputed, so
// mutations reach the chunk parsers instead of stopping at libpng's CRC check.
std::vector<std::uint8_t> WithPngChunkCrcsFixed(const std::uint8_t* data, size_t size) {
  std::vector<std::uint8_t> fixed(data, data + size);
  size_t at = 8;
  while (at + 12 <= fixed.size()) {
    const std::uint64_t length = (static_cast<std::uint64_t>(fixed[at]) << 24) | (fixed[at + 1] << 16) |
                                 (fixed[at + 2] << 8) | fixed[at + 3];
    if (length > fixed.size() - at - 12) break;
    const std::uint32_t crc = Crc32(fixed.data() + at + 4, static_cast<size_t>(length) + 4);
    const size_t crcAt = at + 8 + static_cast<size_t>(length);
    for (int i = 0; i < 4; ++i) fixed[crcAt + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    at = crcAt + 4;
  }
  return fixed;
}

struct MetadataInput {
  const std::uint8_t* source = nullptr;
  size_t sourceSize = 0;
  const std::uint8_t* candidate = nullptr;
  size_t candidateSize = 0;
};

MetadataInput SplitMetadataInput(const std::uint8_t* data, size_t size) {
  MetadataInput input;
  if (size < 2) {
    input.source = data;
    input.sourceSize = size;
    return input;
  }
  const size_t declared = (static_cast<size_t>(data[0]) << 8) | data[1];
  input.source = data + 2;
  input.sourceSize = declared < size - 2 ? declared : size - 2;
  input.candidate = input.source + input.sourceSize;
  input.candidateSize = size - 2 - input.sourceSize;
  return input;
}

// Segments lie inside the data, in order, each starting with 0xFF; a complete
// header ends at a marker inside the data.
bool ScanIsConsistent(const JpegHeaderScan& scan, const std::uint8_t* data, size_t size) {
  size_t previousEnd = 2;
  for (const JpegSegment& segment : scan.segments) {
    if (segment.offset < previousEnd || segment.size < 4 || segment.offset > size ||
        segment.size > size - segment.offset || data[segment.offset] != 0xFF) {
      return false;
    }
    previousEnd = segment.offset + segment.size;
  }
  if (scan.status != JpegScanStatus::kComplete) return scan.tailOffset == 0;
  return scan.tailOffset >= previousEnd && scan.tailOffset + 1 < size &&
         data[scan.tailOffset] == 0xFF;
}

// The carried segments wrapped into a header of their own: SOI, the
// segments, EOI.
std::string WrapSegments(std::string_view segments) {
  return std::string("\xFF\xD8", 2) + std::string(segments) + std::string("\xFF\xD9", 2);
}

// Every carried segment is a whole segment of a carried kind.
bool CarriedSegmentsAreWellFormed(const std::string& carried) {
  const std::string wrapped = WrapSegments(carried);
  const JpegHeaderScan scan =
      ScanJpegHeader(reinterpret_cast<const std::uint8_t*>(wrapped.data()), wrapped.size());
  if (scan.status != JpegScanStatus::kComplete || scan.tailOffset != wrapped.size() - 2) return false;
  for (const JpegSegment& segment : scan.segments) {
    if (!IsCarriedMetadataMarker(segment.marker)) return false;
  }
  return true;
}

// The carried segments without ICC profiles (what a grey or CMYK frame keeps).
std::string WithoutIccProfiles(const std::string& carried) {
  const std::string wrapped = WrapSegments(carried);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(wrapped.data());
  std::string kept;
  for (const JpegSegment& segment : ScanJpegHeader(bytes, wrapped.size()).segments) {
    const bool icc = segment.marker == 0xE2 && segment.size >= 16 &&
                     std::memcmp(bytes + segment.offset + 4, "ICC_PROFILE", 12) == 0;
    if (!icc) kept.append(wrapped, segment.offset, segment.size);
  }
  return kept;
}

bool RewriteIsConsistent(const MetadataInput& input, const std::string& carried) {
  std::string rewritten;
  const JpegHeaderScan candidateScan = ScanJpegHeader(input.candidate, input.candidateSize);
  const bool replaced = ReplaceJpegMetadata(input.candidate, input.candidateSize, carried, rewritten);
  if (replaced != (candidateScan.status == JpegScanStatus::kComplete)) return false;
  if (!replaced) return rewritten.empty();
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(rewritten.data());
  const JpegHeaderScan rewrittenScan = ScanJpegHeader(bytes, rewritten.size());
  if (rewrittenScan.status != JpegScanStatus::kComplete) return false;
  // Everything from the candidate's start-of-scan on is copied unchanged.
  const size_t tailSize = input.candidateSize - candidateScan.tailOffset;
  if (rewritten.size() - rewrittenScan.tailOffset != tailSize ||
      std::memcmp(bytes + rewrittenScan.tailOffset, input.candidate + candidateScan.tailOffset,
                  tailSize) != 0) {
    return false;
  }
  // Carried out of the rewritten file: exactly the source's segments (an ICC
  // profile only survives into a three-component candidate).
  std::string again;
  if (ExtractJpegMetadata(bytes, rewritten.size(), again) != JpegScanStatus::kComplete) return false;
  return again == (rewrittenScan.frameComponents == 3 ? carried : WithoutIccProfiles(carried));
}

bool SameSessionFields(const BenchmarkSession& a, const BenchmarkSession& b) {
  return a.root == b.root && a.sessionDir == b.sessionDir && a.csvPath == b.csvPath &&
         a.imageListPath == b.imageListPath && a.maxPerFolder == b.maxPerFolder &&
         a.maxTotal == b.maxTotal && a.depth == b.depth && a.foldersFound == b.foldersFound &&
         a.imagesFound == b.imagesFound && a.nextIndex.load() == b.nextIndex.load() &&
         a.completed.load() == b.completed.load();
}

bool EndsInCarriageReturn(const std::string& value) {
  return !value.empty() && value.back() == '\r';
}

std::vector<std::string_view> SplitAtLineFeeds(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string QuoteField(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

// Fields hold no carriage return and never more bytes than the line; quoting
// every field again and splitting gives the same fields back.
bool SplitIsConsistent(std::string_view line) {
  const std::vector<std::string> fields = SplitCsvLine(line);
  if (fields.empty()) return false;
  size_t total = 0;
  std::string joined;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].find('\r') != std::string::npos) return false;
    total += fields[i].size();
    if (i > 0) joined += ';';
    joined += QuoteField(fields[i]);
  }
  return total <= line.size() && SplitCsvLine(joined) == fields;
}

// One summary row per group, in key order, whose first field reads back as
// the group's key.
bool SummaryIsConsistent(CandidateGroups& groups) {
  std::vector<std::string> keys;
  std::uint64_t largest = 0;
  for (const auto& [key, group] : groups) {
    keys.push_back(key);
    if (group.tests > largest) largest = group.tests;
    if (group.encodedOk > group.tests || group.smaller > group.encodedOk ||
        group.successful.size() != group.encodedOk) {
      return false;
    }
  }
  std::uint64_t processed = 0;
  const std::string summary = ComposeCandidateSummary(groups, processed);
  if (processed != largest) return false;
  std::vector<std::string_view> rows;
  size_t start = 0;
  while (start < summary.size()) {
    const size_t end = summary.find("\r\n", start);
    if (end == std::string::npos) return false;
    rows.push_back(std::string_view(summary).substr(start, end - start));
    start = end + 2;
  }
  if (rows.size() != keys.size() + 1) return false;
  for (size_t i = 0; i < keys.size(); ++i) {
    const std::vector<std::string> fields = SplitCsvLine(rows[i + 1]);
    if (fields.size() != 18 || fields[0] != keys[i]) return false;
  }
  return true;
}

}  // namespace

bool FuzzDecodeImage(const std::uint8_t* data, size_t size) {
  return RunDecoder(DecodeImageMemory, data, size);
}

bool FuzzDecodeJpeg(const std::uint8_t* data, size_t size) {
  PixelImage image;
  const bool decoded = DecodeJpegMemory(data, size, image);
  return DecodedImageIsConsistent(decoded, image) && EveryPixelIsOpaque(image);
}

bool FuzzDecodePng(const std::uint8_t* data, size_t size) {
  if (!RunDecoder(DecodePngMemory, data, size)) return false;
  const std::vector<std::uint8_t> fixed = WithPngChunkCrcsFixed(data, size);
  return RunDecoder(DecodePngMemory, fixed.data(), fixed.size());
}

bool FuzzDecodeTiff(const std::uint8_t* data, size_t size) {
  return RunDecoder(DecodeTiffMemory, data, size);
}

bool FuzzDecodeBmpGif(const std::uint8_t* data, size_t size) {
  return RunDecoder(DecodeBmpGifMemory, data, size);
}

bool FuzzJpegMetadata(const std::uint8_t* data, size_t size) {
  const MetadataInput input = SplitMetadataInput(data, size);
  const JpegHeaderScan sourceScan = ScanJpegHeader(input.source, input.sourceSize);
  if (!ScanIsConsistent(sourceScan, input.source, input.sourceSize)) return false;
  std::string carried;
  const JpegScanStatus status = ExtractJpegMetadata(input.source, input.sourceSize, carried);
  if (status != sourceScan.status) return false;
  // Nothing is carried from an incomplete header; the candidate is still
  // rewritten then, with no segments.
  if (status != JpegScanStatus::kComplete && !carried.empty()) return false;
  if (!CarriedSegmentsAreWellFormed(carried)) return false;
  const JpegHeaderScan candidateScan = ScanJpegHeader(input.candidate, input.candidateSize);
  if (!ScanIsConsistent(candidateScan, input.candidate, input.candidateSize)) return false;
  return RewriteIsConsistent(input, carried);
}

bool FuzzSessionFile(const std::uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  BenchmarkSession session;
  if (!ParseSessionText(text, session)) return true;
  for (const std::string* value :
       {&session.root, &session.sessionDir, &session.csvPath, &session.imageListPath}) {
    if (value->find('\n') != std::string::npos) return false;
    // A value ending in a carriage return loses it when written and read
    // again, like any line of a file saved with CR LF line ends.
    if (EndsInCarriageReturn(*value)) return true;
  }
  BenchmarkSession again;
  if (!ParseSessionText(ComposeSessionFile(session), again)) return false;
  return SameSessionFields(session, again);
}

bool FuzzCsvLines(const std::uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CandidateGroups groups;
  for (const std::string_view line : SplitAtLineFeeds(text)) {
    if (!SplitIsConsistent(line)) return false;
    AddRawLine(line, groups);
  }
  return SummaryIsConsistent(groups);
}

std::string JoinMetadataInput(const std::string& source, const std::string& candidate) {
  std::string joined;
  joined += static_cast<char>((source.size() >> 8) & 0xFF);
  joined += static_cast<char>(source.size() & 0xFF);
  return joined + source + candidate;
}

const char* const kFuzzTargetNames[] = {"decode_image", "decode_jpeg",    "decode_png",
                                        "decode_tiff",  "decode_bmp_gif", "jpeg_metadata",
                                        "session_file", "csv_lines"};
const size_t kFuzzTargetCount = sizeof kFuzzTargetNames / sizeof kFuzzTargetNames[0];

FuzzTarget FindFuzzTarget(const std::string& name) {
  static const FuzzTarget kTargets[] = {FuzzDecodeImage, FuzzDecodeJpeg,    FuzzDecodePng,
                                        FuzzDecodeTiff,  FuzzDecodeBmpGif,  FuzzJpegMetadata,
                                        FuzzSessionFile, FuzzCsvLines};
  static_assert(sizeof kTargets / sizeof kTargets[0] == sizeof kFuzzTargetNames / sizeof kFuzzTargetNames[0]);
  for (size_t i = 0; i < kFuzzTargetCount; ++i) {
    if (name == kFuzzTargetNames[i]) return kTargets[i];
  }
  return nullptr;
}
