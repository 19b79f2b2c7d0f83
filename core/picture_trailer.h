// Carrying everything after a JPEG source's primary picture into its outputs.
//
// Phones and cameras store more than one picture in a JPEG file: an APP2
// "MPF" index in the primary picture's header lists further pictures that
// follow its end-of-image marker (stereo pairs, gain maps, depth maps), and
// motion photos append a video described by XMP. The encoders write only the
// primary picture, so after a candidate is encoded (and its metadata carried
// by jpeg_metadata.h) the source's trailing bytes are appended unchanged and
// the MPF index is rewritten: its entry offsets count from the TIFF header
// inside the index segment, so they move by however much the primary picture
// grew or shrank. XMP is never rewritten; data described from the end of the
// file stays valid because the trailing bytes are appended as they are.
//
// A source whose structure cannot be carried safely (an index that does not
// parse, entries outside the file or overlapping, a first entry that is not
// the primary picture, a header the metadata carrier cannot walk) is kept by
// the pipeline with `keepReason`, so no output lists a picture it lacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern const char* const kVerdictMetadataNotCarried;
extern const char* const kVerdictPicturesNotCarried;

// One picture listed by an MPF index.
struct MpfEntry {
  std::uint32_t size = 0;    // bytes of the picture
  std::uint32_t offset = 0;  // from the index's TIFF header; 0 for the primary picture
  size_t fieldPos = 0;       // file position of this entry's size field
};

struct MpfIndex {
  bool found = false;        // the primary's header holds an MPF APP2 segment
  bool littleEndian = false; // byte order of the index ("II")
  size_t tiffStart = 0;      // file position of the index's TIFF header
  std::vector<MpfEntry> entries;
};

// What the pipeline carries from the source besides its header segments.
struct SourceStructure {
  std::string metadata;      // carried header segments (jpeg_metadata.h)
  std::string trailer;       // bytes after the primary picture's end-of-image marker
  bool hasMpf = false;       // the primary's header holds an MPF index to rewrite
  std::vector<size_t> picturePositions;  // per index entry after the first: its start in `trailer`
  std::string keepReason;    // non-empty: the source must be kept, with this verdict
};

// The position just past the primary picture's end-of-image marker, walking
// the scans and the segments between them; 0 when the data ends first.
size_t FindPrimaryPictureEnd(const std::uint8_t* data, size_t size);

// Parses the MPF index of the header segments up to `headerEnd`. False when
// an index is present but does not parse; `index.found` false when none.
bool ParseMpfIndex(const std::uint8_t* data, size_t headerEnd, MpfIndex& index);

// Reads a JPEG source's carried segments, trailer and index. A source that is
// not a JPEG file gives an empty structure; one that cannot be carried gives
// a keepReason. False only when the file cannot be read.
bool ReadSourceStructure(const std::string& path, SourceStructure& structure);

// Appends the trailer to an encoded primary picture and rewrites the MPF
// index the picture carries. False when the picture has no end-of-image
// marker, or when it must hold an index and holds none or a different one.
bool AttachTrailer(std::string& picture, const SourceStructure& structure);

// The same for a candidate file, written to `temporaryPath` and renamed over
// `candidatePath`; nothing is done when the trailer is empty.
bool AttachTrailerToFile(const std::string& candidatePath, const SourceStructure& structure,
                         const std::string& temporaryPath);
