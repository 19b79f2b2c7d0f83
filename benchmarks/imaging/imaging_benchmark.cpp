// orvel-imaging-benchmark FILE...
//
// Prints, per image file and in total: DecodeImageFile throughput and its ratio
// to a plain libjpeg-turbo decode of the same file (jpeg_read_scanlines into
// RGB, nothing else), AnalyzeQuality throughput on the source against its WIC
// encoding at quality 0.84, WritePpm throughput, and the peak resident memory.
// A second table sets the WIC encoder (progressive, optimised Huffman tables)
// against a plain libjpeg-turbo baseline encode with the standard tables at the
// same quality: bytes saved at the profiles' and the bench grid's qualities
// 96, 92, ..., 56, the encode time ratio at 84, and whether both decode to the
// same pixels. Each time is the best of several runs, so a busy machine shows
// less noise.
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "imaging/decode.h"
#include "imaging/ppm.h"
#include "imaging/quality.h"
#include "imaging/wic_encoder.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

constexpr int kMinRuns = 3;
constexpr double kMinSeconds = 0.4;

double Now() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// Best time in seconds of `run` over at least kMinRuns runs and kMinSeconds;
// negative when a run fails.
template <typename Run>
double BestSeconds(Run run) {
  double best = 1e300, spent = 0;
  for (int i = 0; i < kMinRuns || spent < kMinSeconds; ++i) {
    const double start = Now();
    if (!run()) return -1;
    const double took = Now() - start;
    best = std::min(best, took);
    spent += took;
  }
  return best;
}

// --- The plain libjpeg decode to compare with --------------------------------

struct PlainDecode {
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  std::jmp_buf jump{};
  FILE* file = nullptr;
  std::vector<unsigned char> rgb;
};

// libjpeg's client_data of both adapters points at their jump buffer.
void JumpBack(j_common_ptr info) {
  std::longjmp(*static_cast<std::jmp_buf*>(info->client_data), 1);
}

bool RunPlainDecode(PlainDecode* d) {
  if (setjmp(d->jump) != 0) {
    jpeg_destroy_decompress(&d->info);
    return false;
  }
  d->info.err = jpeg_std_error(&d->errors);
  d->errors.error_exit = JumpBack;
  d->info.client_data = &d->jump;
  jpeg_create_decompress(&d->info);
  jpeg_stdio_src(&d->info, d->file);
  jpeg_read_header(&d->info, TRUE);
  d->info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&d->info);
  const size_t stride = static_cast<size_t>(d->info.output_width) * 3;
  d->rgb.assign(stride * d->info.output_height, 0);
  while (d->info.output_scanline < d->info.output_height) {
    JSAMPROW row = d->rgb.data() + d->info.output_scanline * stride;
    jpeg_read_scanlines(&d->info, &row, 1);
  }
  jpeg_finish_decompress(&d->info);
  jpeg_destroy_decompress(&d->info);
  return true;
}

bool DecodeWithLibjpeg(const std::string& path) {
  PlainDecode decode;
  decode.file = std::fopen(path.c_str(), "rbe");
  if (decode.file == nullptr) return false;
  const bool decoded = RunPlainDecode(&decode);
  std::fclose(decode.file);
  return decoded;
}

// --- The plain libjpeg baseline encode to compare the WIC encoder with ----------

// libjpeg-turbo's defaults: 4:2:0, baseline, the standard Huffman tables.
struct PlainEncode {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  std::jmp_buf jump{};
  const PixelImage* image = nullptr;  // BGRA pixels to encode
  int quality = 0;                    // libjpeg quality 1..100
  unsigned char* buffer = nullptr;    // jpeg_mem_dest's output, freed by the owner
  unsigned long size = 0;             // bytes at buffer
  ~PlainEncode() { std::free(buffer); }
};

bool RunPlainEncode(PlainEncode* e) {
  if (setjmp(e->jump) != 0) {
    jpeg_destroy_compress(&e->info);
    return false;
  }
  e->info.err = jpeg_std_error(&e->errors);
  e->errors.error_exit = JumpBack;
  e->info.client_data = &e->jump;
  jpeg_create_compress(&e->info);
  jpeg_mem_dest(&e->info, &e->buffer, &e->size);
  e->info.image_width = e->image->width;
  e->info.image_height = e->image->height;
  e->info.input_components = 4;
  e->info.in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(&e->info);
  jpeg_set_quality(&e->info, e->quality, TRUE);
  jpeg_start_compress(&e->info, TRUE);
  const size_t stride = static_cast<size_t>(e->image->width) * 4;
  while (e->info.next_scanline < e->info.image_height) {
    JSAMPROW row = const_cast<JSAMPLE*>(e->image->pixels.data() + e->info.next_scanline * stride);
    jpeg_write_scanlines(&e->info, &row, 1);
  }
  jpeg_finish_compress(&e->info);
  jpeg_destroy_compress(&e->info);
  return true;
}

bool EncodeBaseline(const PixelImage& image, int quality, std::string& jpeg) {
  PlainEncode encode;
  encode.image = &image;
  encode.quality = quality;
  if (!RunPlainEncode(&encode)) return false;
  jpeg.assign(reinterpret_cast<const char*>(encode.buffer), encode.size);
  return true;
}

// --- Figures ------------------------------------------------------------------

struct Figures {
  double megapixels = 0;       // of the image
  double decodeSeconds = -1;   // DecodeImageFile
  double libjpegSeconds = -1;  // plain libjpeg; negative for other formats
  double analyzeSeconds = -1;  // AnalyzeQuality against the WIC encoding
  double ppmSeconds = -1;      // WritePpm
  double ppmMegabytes = 0;     // bytes of the PPM file / 1e6
};

// A private temporary folder for the written files, removed at the end.
struct BenchFolder {
  std::string path;
  BenchFolder() {
    std::string pattern = JoinPath(TempFolder(), "orvel-imaging-bench-XXXXXX");
    if (::mkdtemp(pattern.data()) != nullptr) path = pattern;
  }
  ~BenchFolder() {
    if (!path.empty()) RemoveFolderTree(path);
  }
};

Figures Measure(const std::string& file, const BenchFolder& folder) {
  Figures f;
  PixelImage source;
  if (!DecodeImageFile(file, source)) return f;
  f.megapixels = static_cast<double>(source.width) * source.height / 1e6;
  f.decodeSeconds = BestSeconds([&] {
    PixelImage image;
    return DecodeImageFile(file, image);
  });
  std::string bytes;
  ReadFileBytes(file, bytes);
  if (DetectImageFormat(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()) ==
      ImageFormat::Jpeg) {
    f.libjpegSeconds = BestSeconds([&] { return DecodeWithLibjpeg(file); });
  }
  const std::string encodedPath = JoinPath(folder.path, "wic.jpg");
  PixelImage encoded;
  if (EncodeJpegWic(source, encodedPath, 0.84f) && DecodeImageFile(encodedPath, encoded)) {
    f.analyzeSeconds = BestSeconds([&] {
      return !AnalyzeQuality(source, encoded).windowScores.empty();
    });
  }
  DeleteFileAt(encodedPath);
  const std::string ppmPath = JoinPath(folder.path, "full.ppm");
  f.ppmSeconds = BestSeconds([&] { return WritePpm(source, ppmPath); });
  f.ppmMegabytes = static_cast<double>(FileSize(ppmPath)) / 1e6;
  DeleteFileAt(ppmPath);
  return f;
}

std::string Rate(double amount, double seconds) {
  return seconds > 0 ? FormatFixed(amount / seconds, 1) : "-";
}

// Sums over the files that have each figure.
struct Totals {
  double megapixels = 0, decodeSeconds = 0;
  double jpegMegapixels = 0, jpegDecodeSeconds = 0, libjpegSeconds = 0;
  double analyzedMegapixels = 0, analyzeSeconds = 0;
  double ppmMegabytes = 0, ppmSeconds = 0;
};

void Add(Totals& t, const Figures& f) {
  t.megapixels += f.megapixels;
  t.decodeSeconds += f.decodeSeconds;
  if (f.libjpegSeconds > 0) {
    t.jpegMegapixels += f.megapixels;
    t.jpegDecodeSeconds += f.decodeSeconds;
    t.libjpegSeconds += f.libjpegSeconds;
  }
  if (f.analyzeSeconds > 0) {
    t.analyzedMegapixels += f.megapixels;
    t.analyzeSeconds += f.analyzeSeconds;
  }
  if (f.ppmSeconds > 0) {
    t.ppmMegabytes += f.ppmMegabytes;
    t.ppmSeconds += f.ppmSeconds;
  }
}

constexpr char kRowFormat[] = "%-28s %7s %9s %9s %6s %10s %9s\n";

// The ratio is DecodeImageFile's speed over libjpeg's on the same pixels.
void PrintRow(const std::string& name, const Totals& t) {
  const std::string ratio =
      t.libjpegSeconds > 0 ? FormatFixed(t.libjpegSeconds / t.jpegDecodeSeconds, 2) : "-";
  std::printf(kRowFormat, name.c_str(), FormatFixed(t.megapixels, 2).c_str(),
              Rate(t.megapixels, t.decodeSeconds).c_str(),
              Rate(t.jpegMegapixels, t.libjpegSeconds).c_str(), ratio.c_str(),
              Rate(t.analyzedMegapixels, t.analyzeSeconds).c_str(),
              Rate(t.ppmMegabytes, t.ppmSeconds).c_str());
}

std::string PeakResidentMegabytes() {
  std::string status;
  if (!ReadFileBytes("/proc/self/status", status)) return "?";
  const size_t at = status.find("VmHWM:");
  if (at == std::string::npos) return "?";
  return FormatFixed(std::strtod(status.c_str() + at + 6, nullptr) / 1024.0, 1);
}

// --- The WIC encoder against the baseline encode --------------------------------

constexpr int kSizeQualities[] = {96, 92, 88, 84, 80, 76, 72, 68, 64, 60, 56};
constexpr size_t kQualityCount = std::size(kSizeQualities);
constexpr int kTimedQuality = 84;

struct SizeFigures {
  double megapixels = 0;                                 // 0: not decodable
  std::array<std::uint64_t, kQualityCount> baseline{};  // bytes per quality
  std::array<std::uint64_t, kQualityCount> wic{};       // bytes per quality
  bool samePixels = true;                                // at every quality
  double baselineSeconds = -1;                           // encode at kTimedQuality
  double wicSeconds = -1;                                // encode at kTimedQuality
};

bool DecodesAlike(const std::string& a, const std::string& b) {
  PixelImage first, second;
  return DecodeJpegMemory(reinterpret_cast<const std::uint8_t*>(a.data()), a.size(), first) &&
         DecodeJpegMemory(reinterpret_cast<const std::uint8_t*>(b.data()), b.size(), second) &&
         first.pixels == second.pixels;
}

SizeFigures MeasureSizes(const std::string& file, const BenchFolder& folder) {
  SizeFigures f;
  PixelImage source;
  if (!DecodeImageFile(file, source)) return f;
  const std::string path = JoinPath(folder.path, "wic.jpg");
  for (size_t i = 0; i < kQualityCount; ++i) {
    const float factor = static_cast<float>(kSizeQualities[i]) / 100.0f;
    std::string baseline, wic;
    if (!EncodeBaseline(source, kSizeQualities[i], baseline) ||
        !EncodeJpegWic(source, path, factor) || !ReadFileBytes(path, wic)) {
      return f;
    }
    f.baseline[i] = baseline.size();
    f.wic[i] = wic.size();
    f.samePixels = f.samePixels && DecodesAlike(baseline, wic);
  }
  std::string scratch;
  f.baselineSeconds = BestSeconds([&] { return EncodeBaseline(source, kTimedQuality, scratch); });
  f.wicSeconds = BestSeconds([&] { return EncodeJpegWic(source, path, kTimedQuality / 100.0f); });
  DeleteFileAt(path);
  f.megapixels = static_cast<double>(source.width) * source.height / 1e6;
  return f;
}

std::string SavedPercent(std::uint64_t baseline, std::uint64_t wic) {
  return baseline > 0 ? FormatFixed(100.0 * (1.0 - static_cast<double>(wic) / baseline), 1) : "-";
}

std::uint64_t Sum(const std::array<std::uint64_t, kQualityCount>& bytes) {
  std::uint64_t sum = 0;
  for (const std::uint64_t b : bytes) sum += b;
  return sum;
}

constexpr char kSizeRowFormat[] = "%-28s %6s %10s %10s %6s %9s %6s %6s\n";

void PrintSizeRow(const std::string& name, const SizeFigures& f, size_t timed) {
  const std::string ratio =
      f.baselineSeconds > 0 ? FormatFixed(f.wicSeconds / f.baselineSeconds, 2) : "-";
  std::printf(kSizeRowFormat, name.c_str(), FormatFixed(f.megapixels, 2).c_str(),
              FormatInteger(static_cast<std::int64_t>(f.baseline[timed])).c_str(),
              FormatInteger(static_cast<std::int64_t>(f.wic[timed])).c_str(),
              SavedPercent(f.baseline[timed], f.wic[timed]).c_str(),
              SavedPercent(Sum(f.baseline), Sum(f.wic)).c_str(), ratio.c_str(),
              f.samePixels ? "same" : "DIFFER");
}

void Accumulate(SizeFigures& total, const SizeFigures& f) {
  total.megapixels += f.megapixels;
  for (size_t i = 0; i < kQualityCount; ++i) {
    total.baseline[i] += f.baseline[i];
    total.wic[i] += f.wic[i];
  }
  total.samePixels = total.samePixels && f.samePixels;
  total.baselineSeconds += f.baselineSeconds;
  total.wicSeconds += f.wicSeconds;
}

// Returns false when some file gave different pixels.
bool CompareWicWithBaseline(int argc, char** argv, const BenchFolder& folder) {
  const size_t timed = static_cast<size_t>(
      std::find(std::begin(kSizeQualities), std::end(kSizeQualities), kTimedQuality) -
      std::begin(kSizeQualities));
  std::printf("\nWIC encoder against a libjpeg-turbo baseline encode with standard tables\n");
  std::printf(kSizeRowFormat, "file", "MP", "base Q84", "WIC Q84", "saved", "saved all", "time", "pixels");
  std::printf(kSizeRowFormat, "", "", "bytes", "bytes", "%", "Q96..56 %", "ratio", "");
  SizeFigures total;
  total.baselineSeconds = 0;
  total.wicSeconds = 0;
  for (int i = 1; i < argc; ++i) {
    const SizeFigures f = MeasureSizes(argv[i], folder);
    if (f.megapixels <= 0) continue;
    Accumulate(total, f);
    PrintSizeRow(FileNamePart(argv[i]), f, timed);
  }
  PrintSizeRow("total", total, timed);
  std::printf("%-8s %12s %12s %6s\n", "quality", "base bytes", "WIC bytes", "saved");
  for (size_t i = 0; i < kQualityCount; ++i) {
    std::printf("%-8d %12s %12s %6s\n", kSizeQualities[i],
                FormatInteger(static_cast<std::int64_t>(total.baseline[i])).c_str(),
                FormatInteger(static_cast<std::int64_t>(total.wic[i])).c_str(),
                SavedPercent(total.baseline[i], total.wic[i]).c_str());
  }
  std::printf("time ratio: WIC encode time (with writing its file) over baseline encode time at Q84\n");
  return total.samePixels;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: orvel-imaging-benchmark IMAGE...\n");
    return 2;
  }
  BenchFolder folder;
  if (folder.path.empty()) {
    std::fprintf(stderr, "cannot create a temporary folder\n");
    return 1;
  }
  std::printf(kRowFormat, "file", "MP", "decode", "libjpeg", "ratio", "analyze", "ppm");
  std::printf(kRowFormat, "", "", "MP/s", "MP/s", "", "MP/s", "MB/s");
  Totals total;
  int measured = 0;
  for (int i = 1; i < argc; ++i) {
    const Figures f = Measure(argv[i], folder);
    if (f.decodeSeconds < 0) {
      std::printf("%-28s not decodable\n", FileNamePart(argv[i]).c_str());
      continue;
    }
    Totals one;
    Add(one, f);
    Add(total, f);
    ++measured;
    PrintRow(FileNamePart(argv[i]), one);
  }
  PrintRow("total", total);
  std::printf("ratio: DecodeImageFile speed over plain libjpeg speed on the same JPEG files\n");
  std::printf("peak resident memory: %s MB\n", PeakResidentMegabytes().c_str());
  if (measured == 0) return 1;
  return CompareWicWithBaseline(argc, argv, folder) ? 0 : 1;
}
