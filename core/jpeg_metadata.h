// Carrying a JPEG source's metadata over to the lossy candidates.
//
// The lossy encoders (WIC, MozJPEG, Jpegli) work from decoded pixels, so their
// files would lose the source's EXIF (orientation, date taken, camera), ICC
// profile, XMP, IPTC and comments, while the jpegtran candidate keeps them all.
// Right after a lossy candidate is encoded, its own APP1..APP13, APP15 and COM
// segments are replaced by byte copies of the source's, in source order. APP0
// and APP14 stay the candidate's own: APP14 describes the candidate's colour
// transform. The quality analysis reads pixels only and is unaffected.
//
// The marker parser works on bytes in memory, never reads outside them, and
// walks the header as libjpeg does: fill bytes, stray bytes between segments
// and 0xFF 0x00 pairs are skipped to the next marker. It gives up on anything
// else it does not understand (the pipeline then keeps the source). Only the header up to the first start-of-scan is parsed; the
// scan data and everything after it are copied unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class JpegScanStatus {
  kComplete,   // the header ended at a start-of-scan or end-of-image marker
  kTruncated,  // the bytes end inside the header; more bytes may complete it
  kMalformed,  // a marker or length that no JPEG header holds
  kNotJpeg,    // no start-of-image marker at offset 0
};

// One marker segment of the header: marker byte, and where its bytes lie
// (from the 0xFF of the marker to the end of its payload).
struct JpegSegment {
  std::uint8_t marker = 0;  // second marker byte, e.g. 0xE1 for APP1
  size_t offset = 0;        // bytes from the start of the data
  size_t size = 0;          // whole segment: 2 marker bytes + length field + payload
};

struct JpegHeaderScan {
  JpegScanStatus status = JpegScanStatus::kNotJpeg;
  std::vector<JpegSegment> segments;  // header segments with a length, in file order
  size_t tailOffset = 0;              // offset of the SOS or EOI marker; 0 unless complete
  int frameComponents = 0;            // component count of the frame header; 0 when none
};

// Walks the marker segments from the start-of-image marker to the first
// start-of-scan (or end-of-image) marker.
JpegHeaderScan ScanJpegHeader(const std::uint8_t* data, size_t size);

// True for the markers that are carried over: APP1..APP13, APP15 and COM.
bool IsCarriedMetadataMarker(std::uint8_t marker);

// Appends to `segments` the bytes of every carried segment of the source's
// header, in source order (nothing on any status but kComplete). An ICC
// profile (APP2 "ICC_PROFILE") is carried only from a three-component source,
// because the candidates are always three-component colour images.
JpegScanStatus ExtractJpegMetadata(const std::uint8_t* data, size_t size, std::string& segments);

// The same for a file, reading only as much of it as the header needs. False
// (and `segments` empty) when the file cannot be read or is not a complete
// JPEG header.
bool ReadJpegMetadataFile(const std::string& path, std::string& segments);

// Rewrites a candidate JPEG: its start-of-image marker, its leading APP0
// segments, then `segments`, then its other header segments without the
// carried kinds, then everything from its start-of-scan on. False when the
// candidate's header is not complete.
bool ReplaceJpegMetadata(const std::uint8_t* candidate, size_t size, std::string_view segments,
                         std::string& rewritten);

// The same for a candidate file: the rewrite goes to `temporaryPath` and is
// renamed over `candidatePath`. On failure the temporary file is removed and
// the candidate is left as it was (or, if only the rename failed, unchanged).
bool ReplaceJpegMetadataInFile(const std::string& candidatePath, std::string_view segments,
                               const std::string& temporaryPath);

// Writes `bytes` to `temporaryPath` and renames it over `candidatePath` (a
// work file: no sync). On failure the temporary file is removed.
bool ReplaceCandidateFile(const std::string& candidatePath, std::string_view bytes,
                          const std::string& temporaryPath);
