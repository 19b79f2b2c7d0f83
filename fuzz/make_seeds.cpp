// Writes the seed corpora of the fuzz targets: small valid (and a few
// slightly damaged) inputs of each parser, one folder per target:
//
//   orvel_fuzz_seeds <corpus folder>
//
// The files are committed under fuzz/corpus/; run this again after changing
// what a target reads. Every seed stays at a few KiB so the fuzzer mutates
// quickly. Neighbours: tests/hardening/sample_files (the image builders),
// fuzz_targets.h (the input format of each target).
#include <cstdio>
#include <string>
#include <vector>

#include "bench/raw_results.h"
#include "bench/session.h"
#include "fuzz/fuzz_targets.h"
#include "platform/files.h"
#include "tests/hardening/sample_files.h"

namespace {

struct Seed {
  std::string name;
  std::string bytes;
};

std::vector<Seed> JpegSeeds() {
  JpegRecipe progressive;
  progressive.progressive = true;
  JpegRecipe withExif;
  withExif.app1 = ExifWithOrientation(6);
  return {{"baseline.jpg", SampleJpeg(16, 16, JpegRecipe{JpegLayout::Rgb, 75})},
          {"progressive.jpg", SampleJpeg(16, 16, progressive)},
          {"exif.jpg", SampleJpeg(8, 8, withExif)},
          {"grey.jpg", SampleLayoutJpeg(16, 16, JpegLayout::Gray)},
          {"cmyk_adobe.jpg", SampleLayoutJpeg(8, 8, JpegLayout::CmykAdobe)},
          {"ycck.jpg", SampleLayoutJpeg(8, 8, JpegLayout::YcckAdobe)},
          {"cmyk_plain.jpg", SampleLayoutJpeg(8, 8, JpegLayout::CmykPlain, true)},
          {"one_pixel.jpg", SampleJpeg(1, 1)},
          {"seventy_scans.jpg", SampleManyScanJpeg(8, 8, 70)}};
}

std::vector<Seed> PngSeeds() {
  const std::pair<const char*, PngKind> kinds[] = {
      {"rgb8.png", PngKind::Rgb8},         {"rgb16.png", PngKind::Rgb16},
      {"palette.png", PngKind::Palette},   {"palette_alpha.png", PngKind::PaletteWithAlpha},
      {"rgba8.png", PngKind::Rgba8},       {"grey16.png", PngKind::Gray16},
      {"grey_alpha.png", PngKind::GrayAlpha8}, {"grey1.png", PngKind::Gray1},
      {"interlaced.png", PngKind::Interlaced}};
  std::vector<Seed> seeds;
  for (const auto& [name, kind] : kinds) seeds.push_back({name, SamplePng(8, 6, kind)});
  return seeds;
}

std::vector<Seed> TiffSeeds(const std::string& scratch) {
  return {{"one_page.tif", SampleTiff({{8, 6}}, scratch)},
          {"two_pages.tif", SampleTiff({{8, 6}, {4, 3}}, scratch)}};
}

std::vector<Seed> BmpGifSeeds() {
  return {{"rgb24_bottom_up.bmp", SampleBmp(8, 6, 24, false)},
          {"rgb32_top_down.bmp", SampleBmp(5, 3, 32, true)},
          {"grey8_palette.bmp", SampleBmp(7, 5, 8, false)},
          {"one_frame.gif", SampleGif(8, 6, 1)},
          {"two_frames.gif", SampleGif(6, 4, 2)}};
}

std::vector<Seed> ImageSeeds(const std::string& scratch) {
  return {{"baseline.jpg", SampleJpeg(16, 16, JpegRecipe{JpegLayout::Rgb, 75})},
          {"rgb8.png", SamplePng(8, 6, PngKind::Rgb8)},
          {"one_page.tif", SampleTiff({{8, 6}}, scratch)},
          {"rgb24.bmp", SampleBmp(8, 6, 24, false)},
          {"one_frame.gif", SampleGif(8, 6, 1)}};
}

std::vector<Seed> MetadataSeeds() {
  const std::string exif = JpegSegmentBytes(0xE1, ExifWithOrientation(6));
  const std::string icc = JpegSegmentBytes(0xE2, std::string("ICC_PROFILE\0\x01\x01", 14) + std::string(40, 'p'));
  const std::string comment = JpegSegmentBytes(0xFE, "Aufgenommen am Turm");
  const std::string xmp = JpegSegmentBytes(0xE1, "http://ns.adobe.com/xap/1.0/\0<x:xmpmeta/>");
  const std::string candidate = SampleJpeg(8, 8, JpegRecipe{JpegLayout::Rgb, 60});
  const std::string colourSource = WithSegmentsAfterSoi(SampleJpeg(8, 8), exif + icc + comment);
  const std::string greySource =
      WithSegmentsAfterSoi(SampleLayoutJpeg(8, 8, JpegLayout::Gray), icc + xmp);
  // Fill bytes before a marker and a restart interval segment.
  const std::string oddSource = WithSegmentsAfterSoi(
      SampleJpeg(8, 8), std::string("\xFF\xFF\xFF", 3) + comment.substr(1) +
                            JpegSegmentBytes(0xDD, std::string("\x00\x01", 2)));
  const std::string candidateWithOwn = WithSegmentsAfterSoi(candidate, comment + exif);
  return {{"colour_source.bin", JoinMetadataInput(colourSource, candidate)},
          {"grey_source_icc.bin", JoinMetadataInput(greySource, candidate)},
          {"odd_markers.bin", JoinMetadataInput(oddSource, candidateWithOwn)},
          {"no_source_metadata.bin", JoinMetadataInput(SampleJpeg(8, 8), candidateWithOwn)},
          {"truncated_source.bin", JoinMetadataInput(colourSource.substr(0, 30), candidate)}};
}

std::vector<Seed> SessionSeeds() {
  BenchmarkSession session;
  session.root = "/home/anna/Bilder/Urlaub Süd";
  session.sessionDir = "/home/anna/.local/share/OrvelJpegOptimizer/BenchmarkRuns/Run_20260101-120000";
  session.csvPath = session.sessionDir + "/quality_profile_raw.csv";
  session.imageListPath = session.sessionDir + "/selected_images.txt";
  session.maxPerFolder = 5;
  session.maxTotal = 5000;
  session.depth = 2;
  session.foldersFound = 12;
  session.imagesFound = 345;
  session.nextIndex.store(7);
  session.completed.store(7);
  const std::string text = ComposeSessionFile(session);
  std::string crlf;
  for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  std::string badDepth = text;
  badDepth.replace(badDepth.find("Depth=2"), 7, "Depth=abc");
  return {{"canonical.ini", text},
          {"crlf.ini", crlf},
          {"byte_order_mark.ini", "\xEF\xBB\xBF" + text},
          {"bad_depth.ini", badDepth},
          {"no_root.ini", "Root\nImageListPath=/x\nMaxPerFolder=-3\nMaxTotal=+9\nDepth= 7\n"
                          "FoldersFound=18446744073709551615\nImagesFound=0\nNextIndex=99\nCompleted=1\n"}};
}

std::vector<Seed> CsvSeeds() {
  EncoderCandidate candidate;
  candidate.id = 3;
  candidate.engine = 2;
  candidate.quality = 88;
  candidate.progressive = true;
  candidate.useDistance = true;
  candidate.distance = 1.5;
  candidate.label = "Jpegli \"d1.5\"; 420";
  QualityReport report;
  report.global = 0.987654;
  report.worst5 = 0.91;
  report.worst = 0.88;
  report.composite = 0.95;
  std::string rows = kRawHeader;
  rows += FormatRawRowWithSize("/root", "/root/a/b.jpg", 640, 480, 120000, candidate, 80000, report, 12.5);
  candidate.engine = 0;
  candidate.label = "WIC Q84";
  rows += FormatRawRowWithSize("/root", "/root/c.jpg", 16, 16, 900, candidate, 0, QualityReport{}, 0.25);
  std::string bad = rows;
  bad += "\"x\";\"y\";1;2;3;\"L\";\"E\";9;;0;0;0;12;nan;abc;1e400;-0;0;0;0;0;0.5;7\r\n";
  return {{"rows.csv", rows}, {"header_only.csv", kRawHeader}, {"bad_numbers.csv", bad}};
}

bool WriteSeeds(const std::string& folder, const std::vector<Seed>& seeds) {
  if (!EnsureFolder(folder)) return false;
  for (const Seed& seed : seeds) {
    if (seed.bytes.empty() && seed.name.find("empty") == std::string::npos) {
      std::fprintf(stderr, "seed %s came out empty\n", seed.name.c_str());
      return false;
    }
    if (!WriteFileAtomically(JoinPath(folder, seed.name), seed.bytes.data(), seed.bytes.size(), 0644)) {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: orvel_fuzz_seeds <corpus folder>\n");
    return 2;
  }
  const std::string corpus = argv[1];
  const std::string scratch = JoinPath(corpus, ".scratch");
  if (!EnsureFolder(scratch)) return 1;
  const bool ok = WriteSeeds(JoinPath(corpus, "decode_image"), ImageSeeds(scratch)) &&
                  WriteSeeds(JoinPath(corpus, "decode_jpeg"), JpegSeeds()) &&
                  WriteSeeds(JoinPath(corpus, "decode_png"), PngSeeds()) &&
                  WriteSeeds(JoinPath(corpus, "decode_tiff"), TiffSeeds(scratch)) &&
                  WriteSeeds(JoinPath(corpus, "decode_bmp_gif"), BmpGifSeeds()) &&
                  WriteSeeds(JoinPath(corpus, "jpeg_metadata"), MetadataSeeds()) &&
                  WriteSeeds(JoinPath(corpus, "session_file"), SessionSeeds()) &&
                  WriteSeeds(JoinPath(corpus, "csv_lines"), CsvSeeds());
  RemoveFolderTree(scratch);
  return ok ? 0 : 1;
}
