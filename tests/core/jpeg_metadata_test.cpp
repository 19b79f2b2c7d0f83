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

namespace {

const std::string kSoi("\xFF\xD8", 2);
const std::string kEoi("\xFF\xD9", 2);

// A start-of-frame segment with `components` components (8-bit, 16x16).
std::string Frame(int components) {
  std::string payload("\x08\x00\x10\x00\x10", 5);
  payload += static_cast<char>(components);
  for (int c = 0; c < components; ++c) payload += std::string{static_cast<char>(c + 1), '\x11', '\x00'};
  return MakeSegment(0xC0, payload);
}

// The start of a scan and some entropy-coded bytes (with a stuffed 0xFF00 and
// an APP1-looking pair that must not be taken for a marker), then EOI.
std::string ScanAndTail() {
  return MakeSegment(0xDA, std::string("\x01\x01\x00\x00\x3F\x00", 6)) +
         std::string("\x12\x34\xFF\x00\x56\xFF\xE1\x00\x04", 9) + kEoi;
}

const std::string kApp0 = MakeSegment(0xE0, std::string("JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 14));
const std::string kApp14 = MakeSegment(0xEE, std::string("Adobe\0\x64\0\0\0\0\x01", 12));
const std::string kExif = MakeExifOrientationSegment(6);
const std::string kIcc = MakeSegment(0xE2, std::string("ICC_PROFILE\0\x01\x01", 14) + std::string(40, 'p'));
const std::string kComment = MakeSegment(0xFE, "Turm im Nebel");
const std::string kXmp = MakeSegment(0xE1, "http://ns.adobe.com/xap/1.0/\0<x/>");
const std::string kApp15 = MakeSegment(0xEF, "fifteen");
const std::string kDqt = MakeSegment(0xDB, std::string(65, '\x01'));

std::string Extract(const std::string& bytes, JpegScanStatus expected = JpegScanStatus::kComplete) {
  std::string segments;
  EXPECT_EQ(ExtractJpegMetadata(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                bytes.size(), segments),
            expected);
  return segments;
}

std::string Rewrite(const std::string& candidate, const std::string& segments) {
  std::string out;
  EXPECT_TRUE(ReplaceJpegMetadata(reinterpret_cast<const std::uint8_t*>(candidate.data()),
                                  candidate.size(), segments, out));
  return out;
}

}  // namespace

TEST(JpegMetadataTest, ExtractsCarriedSegmentsInSourceOrder) {
  const std::string source = kSoi + kApp0 + kExif + kDqt + kIcc + kComment + kApp14 + kXmp +
                             kApp15 + Frame(3) + ScanAndTail();
  EXPECT_EQ(Extract(source), kExif + kIcc + kComment + kXmp + kApp15);
}

TEST(JpegMetadataTest, NoSegmentsNotJpegAndEmptyInput) {
  EXPECT_EQ(Extract(kSoi + kApp0 + kDqt + Frame(3) + ScanAndTail()), "");
  Extract("GIF89a....", JpegScanStatus::kNotJpeg);
  Extract("", JpegScanStatus::kNotJpeg);
  std::string segments;
  EXPECT_EQ(ExtractJpegMetadata(nullptr, 0, segments), JpegScanStatus::kNotJpeg);
}

TEST(JpegMetadataTest, IccProfileOnlyFromThreeComponentSources) {
  EXPECT_EQ(Extract(kSoi + kIcc + kComment + Frame(1) + ScanAndTail()), kComment);
  EXPECT_EQ(Extract(kSoi + kIcc + kComment + Frame(4) + ScanAndTail()), kComment);
  EXPECT_EQ(Extract(kSoi + kIcc + kComment + Frame(3) + ScanAndTail()), kIcc + kComment);
}

TEST(JpegMetadataTest, FillBytesAndStandaloneMarkersAreSkipped) {
  const std::string fill("\xFF\xFF\xFF", 3);
  const std::string restart("\xFF\xD0", 2);
  const std::string source = kSoi + fill + kComment + restart + kDqt + Frame(3) + ScanAndTail();
  EXPECT_EQ(Extract(source), kComment);
}

TEST(JpegMetadataTest, MalformedAndTruncatedHeaders) {
  Extract(kSoi + std::string("\x12\x34", 2) + Frame(3), JpegScanStatus::kMalformed);
  Extract(kSoi + std::string("\xFF\xE1\x00\x01", 4) + Frame(3), JpegScanStatus::kMalformed);
  Extract(kSoi + std::string("\xFF\x00", 2), JpegScanStatus::kMalformed);
  Extract(kSoi + kSoi, JpegScanStatus::kMalformed);
  Extract(kSoi + kExif.substr(0, 10), JpegScanStatus::kTruncated);
  Extract(kSoi + kApp0, JpegScanStatus::kTruncated);
}

TEST(JpegMetadataTest, RewriteKeepsApp0FirstAndApp14AndReplacesTheRest) {
  const std::string candidate = kSoi + kApp0 + kComment + kApp14 + kDqt + Frame(3) +
                                MakeSegment(0xE5, "own") + ScanAndTail();
  const std::string carried = kExif + kIcc;
  EXPECT_EQ(Rewrite(candidate, carried),
            kSoi + kApp0 + kExif + kIcc + kApp14 + kDqt + Frame(3) + ScanAndTail());
}

TEST(JpegMetadataTest, RewriteWithoutApp0PutsSegmentsRightAfterSoi) {
  const std::string candidate = kSoi + kDqt + Frame(3) + ScanAndTail();
  EXPECT_EQ(Rewrite(candidate, kComment), kSoi + kComment + kDqt + Frame(3) + ScanAndTail());
}

TEST(JpegMetadataTest, RewriteRefusesIncompleteCandidates) {
  std::string out;
  const std::string truncated = kSoi + kApp0 + kDqt.substr(0, 20);
  EXPECT_FALSE(ReplaceJpegMetadata(reinterpret_cast<const std::uint8_t*>(truncated.data()),
                                   truncated.size(), kComment, out));
  const std::string text = "not a jpeg";
  EXPECT_FALSE(ReplaceJpegMetadata(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                                   kComment, out));
}

// Every prefix of a valid file: the parser must stop inside the bytes.
TEST(JpegMetadataTest, EveryPrefixIsHandled) {
  const std::string source = kSoi + kApp0 + kExif + kIcc + kComment + kDqt + Frame(3) + ScanAndTail();
  for (size_t length = 0; length <= source.size(); ++length) {
    // An exactly sized buffer, so any overread is caught.
    std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[length]);
    std::memcpy(bytes.get(), source.data(), length);
    std::string segments;
    const JpegScanStatus status = ExtractJpegMetadata(bytes.get(), length, segments);
    EXPECT_NE(status, JpegScanStatus::kMalformed) << length;
    std::string out;
    ReplaceJpegMetadata(bytes.get(), length, kComment, out);
  }
}

// Deterministic mutations of a valid file: any outcome but a crash or overread.
TEST(JpegMetadataTest, MutatedHeadersNeverReadOutOfBounds) {
  const std::string source = kSoi + kApp0 + kExif + kIcc + kComment + kApp14 + kDqt + Frame(3) +
                             ScanAndTail();
  std::uint32_t state = 12345;
  auto next = [&state] { state = state * 1664525u + 1013904223u; return state >> 8; };
  int complete = 0;
  for (int round = 0; round < 4000; ++round) {
    std::string mutated = source;
    const int edits = 1 + static_cast<int>(next() % 4);
    for (int e = 0; e < edits; ++e) {
      const size_t at = next() % mutated.size();
      switch (next() % 3) {
        case 0: mutated[at] = static_cast<char>(next()); break;
        case 1: mutated[at] = '\xFF'; break;
        default: mutated.resize(at == 0 ? 1 : at); break;
      }
    }
    std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[mutated.size()]);
    std::memcpy(bytes.get(), mutated.data(), mutated.size());
    std::string segments;
    if (ExtractJpegMetadata(bytes.get(), mutated.size(), segments) == JpegScanStatus::kComplete) {
      ++complete;
      EXPECT_LE(segments.size(), mutated.size());
    }
    std::string out;
    if (ReplaceJpegMetadata(bytes.get(), mutated.size(), segments, out)) {
      EXPECT_LE(out.size(), 2 * mutated.size());
    }
  }
  EXPECT_GT(complete, 0);
}

TEST(JpegMetadataTest, FileRewriteReplacesTheCandidateAndLeavesNoTemporaryFile) {
  ScopedTempFolder temp;
  const std::string path = temp.Join("full_0001.jpg");
  const std::string candidate = kSoi + kApp0 + kDqt + Frame(3) + ScanAndTail();
  ASSERT_TRUE(WriteTextFile(path, candidate));
  ASSERT_TRUE(ReplaceJpegMetadataInFile(path, kExif, path + ".meta"));
  EXPECT_EQ(ReadTextFile(path), kSoi + kApp0 + kExif + kDqt + Frame(3) + ScanAndTail());
  EXPECT_FALSE(PathExists(path + ".meta"));

  ASSERT_TRUE(WriteTextFile(path, "garbage"));
  EXPECT_FALSE(ReplaceJpegMetadataInFile(path, kExif, path + ".meta"));
  EXPECT_EQ(ReadTextFile(path), "garbage");
  EXPECT_FALSE(PathExists(path + ".meta"));
}

TEST(JpegMetadataTest, FileReaderFollowsLargeHeaders) {
  ScopedTempFolder temp;
  const std::string path = temp.Join("big.jpg");
  // More than the first read (64 KiB) of metadata before the frame.
  std::string many;
  for (int i = 0; i < 5; ++i) many += MakeSegment(0xED, std::string(60000, static_cast<char>('a' + i)));
  ASSERT_TRUE(WriteTextFile(path, kSoi + kApp0 + many + kDqt + Frame(3) + ScanAndTail()));
  std::string segments;
  ASSERT_TRUE(ReadJpegMetadataFile(path, segments));
  EXPECT_EQ(segments, many);
  ASSERT_TRUE(WriteTextFile(path, kSoi + kApp0 + many.substr(0, 100000)));
  EXPECT_FALSE(ReadJpegMetadataFile(path, segments));
  EXPECT_TRUE(segments.empty());
  EXPECT_FALSE(ReadJpegMetadataFile(temp.Join("missing.jpg"), segments));
}
