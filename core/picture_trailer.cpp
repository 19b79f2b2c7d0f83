// Trailer and MPF index carrying; see picture_trailer.h. Neighbours:
// jpeg_metadata.cpp walks the header; parallel_encoding.cpp attaches the
// trailer to each candidate; pipeline.cpp reads the source's structure once.
#include "core/picture_trailer.h"

#include <algorithm>
#include <cstring>

#include "core/jpeg_metadata.h"
#include "platform/files.h"

const char* const kVerdictMetadataNotCarried =
    "Metadaten können nicht übernommen werden \u2013 Original behalten";
const char* const kVerdictPicturesNotCarried =
    "Weitere Bilder der Datei können nicht übernommen werden \u2013 Original behalten";

namespace {

constexpr std::uint8_t kEoi = 0xD9;
constexpr std::uint8_t kSos = 0xDA;
constexpr std::uint16_t kTagMpEntry = 0xB002;
constexpr size_t kMpEntryBytes = 16;

const std::uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

std::uint32_t Read(const std::uint8_t* p, int count, bool little) {
  std::uint32_t value = 0;
  for (int i = 0; i < count; ++i) {
    const std::uint32_t byte = little ? p[count - 1 - i] : p[i];
    value = (value << 8) | byte;
  }
  return value;
}

void Write32(std::uint8_t* p, std::uint32_t value, bool little) {
  for (int i = 0; i < 4; ++i) {
    const auto byte = static_cast<std::uint8_t>(value >> (8 * (3 - i)));
    p[little ? 3 - i : i] = byte;
  }
}

// Skips the entropy-coded data of a scan starting at `pos`: stuffed zeros,
// restart markers and fill bytes belong to it. Returns the position of the
// next marker's 0xFF, or `size` when the data ends.
size_t SkipEntropyData(const std::uint8_t* data, size_t size, size_t pos) {
  while (pos + 1 < size) {
    if (data[pos] != 0xFF) { ++pos; continue; }
    const std::uint8_t next = data[pos + 1];
    if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) { pos += 2; continue; }
    if (next == 0xFF) { ++pos; continue; }
    return pos;
  }
  return size;
}

// The MPF segment's TIFF header position, or 0 when `segment` is no index.
size_t MpfTiffStart(const std::uint8_t* data, const JpegSegment& segment) {
  if (segment.marker != 0xE2 || segment.size < 8 + 8) return 0;
  return std::memcmp(data + segment.offset + 4, "MPF\0", 4) == 0 ? segment.offset + 8 : 0;
}

bool ParseMpfSegment(const std::uint8_t* data, const JpegSegment& segment, MpfIndex& index) {
  const size_t tiff = MpfTiffStart(data, segment);
  const size_t end = segment.offset + segment.size;
  const std::uint8_t* t = data + tiff;
  const size_t length = end - tiff;
  index.found = true;
  index.tiffStart = tiff;
  if (std::memcmp(t, "II*\0", 4) == 0) index.littleEndian = true;
  else if (std::memcmp(t, "MM\0*", 4) != 0) return false;
  const bool le = index.littleEndian;
  const size_t ifd = Read(t + 4, 4, le);
  if (ifd + 2 > length) return false;
  const size_t count = Read(t + ifd, 2, le);
  if (ifd + 2 + count * 12 > length) return false;
  for (size_t i = 0; i < count; ++i) {
    const std::uint8_t* field = t + ifd + 2 + i * 12;
    if (Read(field, 2, le) != kTagMpEntry) continue;
    const size_t bytes = Read(field + 4, 4, le);
    const size_t at = Read(field + 8, 4, le);
    if (bytes == 0 || bytes % kMpEntryBytes != 0 || at > length || bytes > length - at) {
      return false;
    }
    for (size_t e = 0; e < bytes / kMpEntryBytes; ++e) {
      const size_t entry = at + e * kMpEntryBytes;
      index.entries.push_back(MpfEntry{Read(t + entry + 4, 4, le), Read(t + entry + 8, 4, le),
                                       tiff + entry + 4});
    }
    return true;
  }
  return false;  // an index without its entry list
}

// Checks the source's index against the file and notes where each further
// picture starts in the trailer. False: the index cannot be carried.
bool LocatePictures(const MpfIndex& index, size_t primaryEnd, size_t fileSize,
                    std::vector<size_t>& positions) {
  if (index.entries.empty() || index.entries[0].offset != 0) return false;
  size_t previousEnd = primaryEnd;
  std::vector<MpfEntry> rest(index.entries.begin() + 1, index.entries.end());
  std::sort(rest.begin(), rest.end(),
            [](const MpfEntry& a, const MpfEntry& b) { return a.offset < b.offset; });
  for (const MpfEntry& entry : rest) {
    const size_t start = index.tiffStart + entry.offset;
    if (entry.offset == 0 || start < previousEnd || entry.size > fileSize ||
        start > fileSize - entry.size) {
      return false;
    }
    previousEnd = start + entry.size;
  }
  for (size_t i = 1; i < index.entries.size(); ++i) {
    positions.push_back(index.tiffStart + index.entries[i].offset - primaryEnd);
  }
  return true;
}

// The index of the header of `data`, which ends at its first scan.
bool HeaderIndex(const std::uint8_t* data, size_t size, MpfIndex& index, bool& complete) {
  const JpegHeaderScan scan = ScanJpegHeader(data, size);
  complete = scan.status == JpegScanStatus::kComplete;
  return complete && ParseMpfIndex(data, scan.tailOffset, index);
}

bool DescribeSource(const std::string& bytes, SourceStructure& structure) {
  const std::uint8_t* data = Bytes(bytes);
  const JpegScanStatus status = ExtractJpegMetadata(data, bytes.size(), structure.metadata);
  if (status == JpegScanStatus::kNotJpeg) return true;
  if (status != JpegScanStatus::kComplete) {
    structure.keepReason = kVerdictMetadataNotCarried;
    return true;
  }
  const size_t primaryEnd = FindPrimaryPictureEnd(data, bytes.size());
  if (primaryEnd != 0) structure.trailer = bytes.substr(primaryEnd);
  MpfIndex index;
  bool complete = false;
  if (!HeaderIndex(data, bytes.size(), index, complete)) {
    structure.keepReason = kVerdictPicturesNotCarried;
    return true;
  }
  if (!index.found) return true;
  structure.hasMpf = true;
  if (primaryEnd == 0 ||
      !LocatePictures(index, primaryEnd, bytes.size(), structure.picturePositions)) {
    structure.keepReason = kVerdictPicturesNotCarried;
  }
  return true;
}

}  // namespace

size_t FindPrimaryPictureEnd(const std::uint8_t* data, size_t size) {
  const JpegHeaderScan scan = ScanJpegHeader(data, size);
  if (scan.status != JpegScanStatus::kComplete) return 0;
  size_t pos = scan.tailOffset;
  while (pos + 1 < size) {
    if (data[pos] != 0xFF) return 0;
    const std::uint8_t marker = data[pos + 1];
    if (marker == kEoi) return pos + 2;
    if (marker == 0xFF) { ++pos; continue; }
    if (pos + 4 > size) return 0;
    const size_t length = Read(data + pos + 2, 2, false);
    if (length < 2 || length > size - pos - 2) return 0;
    pos += 2 + length;
    if (marker == kSos) pos = SkipEntropyData(data, size, pos);
  }
  return 0;
}

bool ParseMpfIndex(const std::uint8_t* data, size_t headerEnd, MpfIndex& index) {
  index = MpfIndex{};
  const JpegHeaderScan scan = ScanJpegHeader(data, headerEnd + 2);
  for (const JpegSegment& segment : scan.segments) {
    if (MpfTiffStart(data, segment) == 0) continue;
    return ParseMpfSegment(data, segment, index);
  }
  return true;
}

bool ReadSourceStructure(const std::string& path, SourceStructure& structure) {
  structure = SourceStructure{};
  std::string bytes;
  if (!ReadFileBytes(path, bytes)) return false;
  return DescribeSource(bytes, structure);
}

bool AttachTrailer(std::string& picture, const SourceStructure& structure) {
  const size_t primaryEnd = FindPrimaryPictureEnd(Bytes(picture), picture.size());
  if (primaryEnd == 0) return false;
  picture.resize(primaryEnd);
  MpfIndex index;
  bool complete = false;
  if (!HeaderIndex(Bytes(picture), picture.size(), index, complete)) return false;
  if (index.found != structure.hasMpf) return false;
  if (index.found) {
    if (index.entries.size() != structure.picturePositions.size() + 1) return false;
    auto* data = reinterpret_cast<std::uint8_t*>(picture.data());
    const bool le = index.littleEndian;
    Write32(data + index.entries[0].fieldPos, static_cast<std::uint32_t>(primaryEnd), le);
    for (size_t i = 1; i < index.entries.size(); ++i) {
      const size_t offset = primaryEnd + structure.picturePositions[i - 1] - index.tiffStart;
      if (offset > UINT32_MAX) return false;
      Write32(data + index.entries[i].fieldPos + 4, static_cast<std::uint32_t>(offset), le);
    }
  }
  picture += structure.trailer;
  return true;
}

bool AttachTrailerToFile(const std::string& candidatePath, const SourceStructure& structure,
                         const std::string& temporaryPath) {
  if (structure.trailer.empty() && !structure.hasMpf) return true;
  std::string picture;
  return ReadFileBytes(candidatePath, picture) && AttachTrailer(picture, structure) &&
         ReplaceCandidateFile(candidatePath, picture, temporaryPath);
}
