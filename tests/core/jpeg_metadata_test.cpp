// The JPEG header parser and the metadata rewrite, on crafted bytes. The
// truncation and mutation cases run under the sanitizer build to prove that
// no input makes the parser read outside its bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "core/jpeg_metadata.h"
#include "tests/core/core_test_support.h"
#include "tests/support/file_system.h"

namespace {

const std::string kSoi("\xFF\xD8", 2);
const std::string kApp0 = MakeSegment(0xE0, std::string("JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 14));
const std::string kApp14 = MakeSegment(0xEE, std::string("Adobe\0\x64\0\0\0\0\x01", 12));
const std::string kExif = MakeExifOrientationSegment(6);
const std::string kIcc = MakeSegment(0xE2, std::string("ICC_PROFILE\0\x01\x01", 14) + std::string(40, 'p'));
const std::string kComment = MakeSegment(0xFE, "Turm im Nebel");
const std::string kXmp = MakeSegment(0xE1, "http://ns.adobe.com/xap/1.0/\0<x/>");
const std::string kApp15 = MakeSegment(0xEF, "fifteen");
const std::string kDqt = MakeSegment(0xDB, std::string(65, '\x01'));

// A start-of-frame segment with `components` components (8-bit, 16x16).
std::string Frame(int components) {
  std::string payload("\x08\x00\x10\x00\x10", 5);
  payload += static_cast<char>(components);
  for (int c = 0; c < components; ++c) payload += std::string{static_cast<char>(c + 1), '\x11', '\x00'};
  return MakeSegment(0xC0, payload);
}

// The start of a scan and some entropy-coded bytes (with a stuffed 0xFF00 and
// an APP1-looking pair that must not be taken for a marker), then EOI.
const std::string kScanAndTail = MakeSegment(0xDA, std::string("\x01\x01\x00\x00\x3F\x00", 6)) +
                                 std::string("\x12\x34\xFF\x00\x56\xFF\xE1\x00\x04\xFF\xD9", 11);

const std::uint8_t* Data(const std::string& bytes) { return reinterpret_cast<const std::uint8_t*>(bytes.data()); }

std::string Extract(const std::string& bytes, JpegScanStatus expected = JpegScanStatus::kComplete) {
  std::string segments;
  EXPECT_EQ(ExtractJpegMetadata(Data(bytes), bytes.size(), segments), expected) << bytes.size();
  return segments;
}

std::string Rewrite(const std::string& candidate, const std::string& segments) {
  std::string out;
  EXPECT_TRUE(ReplaceJpegMetadata(Data(candidate), candidate.size(), segments, out));
  return out;
}

// An exactly sized copy, so any overread is caught by the sanitizers.
std::unique_ptr<std::uint8_t[]> ExactCopy(const std::string& bytes) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes.size()]);
  std::memcpy(copy.get(), bytes.data(), bytes.size());
  return copy;
}

}  // namespace

TEST(JpegMetadataTest, ExtractsCarriedSegmentsInSourceOrder) {
  EXPECT_EQ(Extract(kSoi + kApp0 + kExif + kDqt + kIcc + kComment + kApp14 + kXmp + kApp15 + Frame(3) + kScanAndTail),
            kExif + kIcc + kComment + kXmp + kApp15);
  EXPECT_EQ(Extract(kSoi + kApp0 + kDqt + Frame(3) + kScanAndTail), "");
  // Fill bytes and standalone markers are skipped.
  EXPECT_EQ(Extract(kSoi + "\xFF\xFF\xFF" + kComment + "\xFF\xD0" + kDqt + Frame(3) + kScanAndTail), kComment);
  // An ICC profile only from three-component sources.
  EXPECT_EQ(Extract(kSoi + kIcc + kComment + Frame(1) + kScanAndTail), kComment);
  EXPECT_EQ(Extract(kSoi + kIcc + kComment + Frame(4) + kScanAndTail), kComment);
  EXPECT_EQ(Extract(kSoi + kIcc + kComment + Frame(3) + kScanAndTail), kIcc + kComment);
}

TEST(JpegMetadataTest, NotJpegMalformedAndTruncatedHeaders) {
  const std::pair<std::string, JpegScanStatus> cases[] = {
      {"GIF89a....", JpegScanStatus::kNotJpeg},
      {"", JpegScanStatus::kNotJpeg},
      {kSoi + std::string("\x12\x34", 2) + Frame(3), JpegScanStatus::kMalformed},
      {kSoi + std::string("\xFF\xE1\x00\x01", 4) + Frame(3), JpegScanStatus::kMalformed},
      {kSoi + std::string("\xFF\x00", 2), JpegScanStatus::kMalformed},
      {kSoi + kSoi, JpegScanStatus::kMalformed},
      {kSoi + kExif.substr(0, 10), JpegScanStatus::kTruncated},
      {kSoi + kApp0, JpegScanStatus::kTruncated}};
  for (const auto& [bytes, status] : cases) Extract(bytes, status);
  std::string segments;
  EXPECT_EQ(ExtractJpegMetadata(nullptr, 0, segments), JpegScanStatus::kNotJpeg);
}

TEST(JpegMetadataTest, RewriteKeepsApp0FirstAndApp14AndReplacesTheRest) {
  EXPECT_EQ(Rewrite(kSoi + kApp0 + kComment + kApp14 + kDqt + Frame(3) + MakeSegment(0xE5, "own") + kScanAndTail,
                    kExif + kIcc),
            kSoi + kApp0 + kExif + kIcc + kApp14 + kDqt + Frame(3) + kScanAndTail);
  // Without APP0 the segments go right after SOI.
  EXPECT_EQ(Rewrite(kSoi + kDqt + Frame(3) + kScanAndTail, kComment), kSoi + kComment + kDqt + Frame(3) + kScanAndTail);
  std::string out;
  for (const std::string& incomplete : {kSoi + kApp0 + kDqt.substr(0, 20), std::string("not a jpeg")}) {
    EXPECT_FALSE(ReplaceJpegMetadata(Data(incomplete), incomplete.size(), kComment, out));
  }
}

// Every prefix of a valid file, and deterministic mutations of it: any
// outcome but a crash or an overread.
TEST(JpegMetadataTest, PrefixesAndMutatedHeadersNeverReadOutOfBounds) {
  const std::string source = kSoi + kApp0 + kExif + kIcc + kComment + kApp14 + kDqt + Frame(3) + kScanAndTail;
  std::string segments, out;
  for (size_t length = 0; length <= source.size(); ++length) {
    const auto bytes = ExactCopy(source.substr(0, length));
    EXPECT_NE(ExtractJpegMetadata(bytes.get(), length, segments), JpegScanStatus::kMalformed) << length;
    ReplaceJpegMetadata(bytes.get(), length, kComment, out);
  }
  std::uint32_t state = 12345;
  auto next = [&state] { state = state * 1664525u + 1013904223u; return state >> 8; };
  int complete = 0;
  for (int round = 0; round < 4000; ++round) {
    std::string mutated = source;
    for (int e = 0, edits = 1 + static_cast<int>(next() % 4); e < edits; ++e) {
      const size_t at = next() % mutated.size();
      switch (next() % 3) {
        case 0: mutated[at] = static_cast<char>(next()); break;
        case 1: mutated[at] = '\xFF'; break;
        default: mutated.resize(at == 0 ? 1 : at); break;
      }
    }
    const auto bytes = ExactCopy(mutated);
    segments.clear();
    if (ExtractJpegMetadata(bytes.get(), mutated.size(), segments) == JpegScanStatus::kComplete) {
      ++complete;
      EXPECT_LE(segments.size(), mutated.size());
    }
    if (ReplaceJpegMetadata(bytes.get(), mutated.size(), segments, out)) {
      EXPECT_LE(out.size(), 2 * mutated.size());
    }
  }
  EXPECT_GT(complete, 0);
}

TEST(JpegMetadataTest, FilesAreRewrittenInPlaceAndReadPastTheFirstBlock) {
  ScopedTempFolder temp;
  const std::string path = temp.Join("full_0001.jpg");
  ASSERT_TRUE(WriteTextFile(path, kSoi + kApp0 + kDqt + Frame(3) + kScanAndTail));
  ASSERT_TRUE(ReplaceJpegMetadataInFile(path, kExif, path + ".meta"));
  EXPECT_EQ(ReadTextFile(path), kSoi + kApp0 + kExif + kDqt + Frame(3) + kScanAndTail);
  ASSERT_TRUE(WriteTextFile(path, "garbage"));
  EXPECT_FALSE(ReplaceJpegMetadataInFile(path, kExif, path + ".meta"));
  EXPECT_EQ(ReadTextFile(path), "garbage");
  EXPECT_EQ(FolderEntries(temp.path), std::vector<std::string>{"full_0001.jpg"});  // no temporary file
  // More than the first read (64 KiB) of metadata before the frame.
  std::string many;
  for (int i = 0; i < 5; ++i) many += MakeSegment(0xED, std::string(60000, static_cast<char>('a' + i)));
  ASSERT_TRUE(WriteTextFile(path, kSoi + kApp0 + many + kDqt + Frame(3) + kScanAndTail));
  std::string segments;
  ASSERT_TRUE(ReadJpegMetadataFile(path, segments));
  EXPECT_EQ(segments, many);
  ASSERT_TRUE(WriteTextFile(path, kSoi + kApp0 + many.substr(0, 100000)));
  EXPECT_FALSE(ReadJpegMetadataFile(path, segments));
  EXPECT_TRUE(segments.empty());
  EXPECT_FALSE(ReadJpegMetadataFile(temp.Join("missing.jpg"), segments));
}
