// orvel-imaging-benchmark FILE...
//
// Prints, per image file and in total: DecodeImageFile throughput and its ratio
// to a plain libjpeg-turbo decode of the same file (jpeg_read_scanlines into
// RGB, nothing else), AnalyzeQuality throughput on the source against its WIC
// encoding at quality 0.84, WritePpm throughput, and the peak resident memory.
// Each figure is the best of several runs, so a busy machine shows less noise.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdio>
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

void JumpBack(j_common_ptr info) {
  std::longjmp(static_cast<PlainDecode*>(info->client_data)->jump, 1);
}

bool RunPlainDecode(PlainDecode* d) {
  if (setjmp(d->jump) != 0) {
    jpeg_destroy_decompress(&d->info);
    return false;
  }
  d->info.err = jpeg_std_error(&d->errors);
  d->errors.error_exit = JumpBack;
  d->info.client_data = d;
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
  return measured == 0 ? 1 : 0;
}
