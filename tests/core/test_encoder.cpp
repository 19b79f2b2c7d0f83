// Stand-in for the cjpegli and MozJPEG cjpeg encoder tools in tests.
//
// Installed (copied or linked) under the name "cjpegli" or "cjpeg-static", it
// checks that it received exactly the argument list the optimiser documents
// for that tool, reads the PPM input and writes a JPEG with libjpeg-turbo:
// to the output path argument for cjpegli, to standard output for cjpeg. Every
// JPEG carries a comment "orvel-test-encoder:JPEGLI" or "...:MOZJPG" (equal
// lengths, so both tools give equal sizes for equal settings).
//
// Behaviour per tool, from ORVEL_TEST_CJPEGLI or ORVEL_TEST_CJPEG_STATIC, a
// comma-separated list of:
//   ok (default)  encode normally
//   fail          exit status 1 (cjpeg writes a few bytes to stdout first)
//   empty         exit status 0 without any output bytes
//   large         quality 100, 4:4:4, padded past the PPM's size
//   garbage       a small file that is not a JPEG
//   halfsize      encode the image at half width and height
//   sleep:MS      wait MS milliseconds first
//   crash         die from SIGSEGV
//   hang          log "<tool> hang <pid>", then wait for a signal for ever
// ORVEL_TEST_ENCODER_LOG names a file that gets one line per call, appended:
//   "<tool> start|done|badargs <argument list joined by spaces>".
// Bad arguments exit with status 64.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <jpeglib.h>  // after <cstdio>: it uses FILE without including it

namespace {

struct Settings {
  int quality = 90;
  bool progressive = false;
  bool chroma444 = false;
  std::string input;
  std::string output;  // empty: standard output
};

struct Behaviour {
  bool fail = false, empty = false, large = false, garbage = false, halfsize = false,
       crash = false, hang = false;
  int sleepMs = 0;
};

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;
};

std::string ToolName(const char* argv0) {
  const char* slash = std::strrchr(argv0, '/');
  return slash ? slash + 1 : argv0;
}

void Log(const std::string& tool, const char* what, int argc, char** argv) {
  const char* path = std::getenv("ORVEL_TEST_ENCODER_LOG");
  if (!path || !*path) return;
  std::string line = tool + " " + what;
  for (int i = 1; i < argc; ++i) line += std::string(" ") + argv[i];
  line += "\n";
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  if (::write(fd, line.data(), line.size()) < 0) {}
  ::close(fd);
}

Behaviour ReadBehaviour(const std::string& tool) {
  std::string variable = "ORVEL_TEST_";
  for (char c : tool) variable += c == '-' ? '_' : static_cast<char>(std::toupper(c));
  Behaviour behaviour;
  const char* value = std::getenv(variable.c_str());
  std::string text = value ? value : "";
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    if (word == "fail") behaviour.fail = true;
    if (word == "empty") behaviour.empty = true;
    if (word == "large") behaviour.large = true;
    if (word == "garbage") behaviour.garbage = true;
    if (word == "halfsize") behaviour.halfsize = true;
    if (word == "crash") behaviour.crash = true;
    if (word == "hang") behaviour.hang = true;
    if (word.rfind("sleep:", 0) == 0) behaviour.sleepMs = std::atoi(word.c_str() + 6);
    start = end + 1;
  }
  return behaviour;
}

bool IsInteger(const std::string& text) {
  if (text.empty() || text.size() > 3) return false;
  for (char c : text) if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  const int value = std::atoi(text.c_str());
  return value >= 1 && value <= 100;
}

// "D.DD": digits, a full stop, exactly two decimals.
bool IsTwoDecimalNumber(const std::string& text) {
  const size_t dot = text.find('.');
  if (dot == std::string::npos || dot == 0 || text.size() - dot != 3) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i != dot && !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

// -q Q|-d D.DD --chroma_subsampling 420|444 -p 0|2 --quiet IN OUT
bool ParseJpegliArguments(const std::vector<std::string>& a, Settings& s) {
  if (a.size() != 9) return false;
  if (a[0] == "-q" && IsInteger(a[1])) {
    s.quality = std::atoi(a[1].c_str());
  } else if (a[0] == "-d" && IsTwoDecimalNumber(a[1])) {
    const int quality = static_cast<int>(100.0 - 10.0 * std::atof(a[1].c_str()) + 0.5);
    s.quality = quality < 1 ? 1 : quality;
  } else {
    return false;
  }
  if (a[2] != "--chroma_subsampling" || (a[3] != "420" && a[3] != "444")) return false;
  if (a[4] != "-p" || (a[5] != "0" && a[5] != "2") || a[6] != "--quiet") return false;
  s.chroma444 = a[3] == "444";
  s.progressive = a[5] == "2";
  s.input = a[7];
  s.output = a[8];
  return !s.input.empty() && !s.output.empty();
}

// -quality Q -optimize [-progressive] [-notrellis] -sample S IN
bool ParseCjpegArguments(const std::vector<std::string>& a, Settings& s) {
  size_t i = 0;
  auto next = [&](const char* expected) { return i < a.size() && a[i] == expected && ++i; };
  if (!next("-quality") || i >= a.size() || !IsInteger(a[i])) return false;
  s.quality = std::atoi(a[i++].c_str());
  if (!next("-optimize")) return false;
  if (next("-progressive")) s.progressive = true;
  next("-notrellis");
  if (!next("-sample") || i >= a.size()) return false;
  if (a[i] != "2x2,1x1,1x1" && a[i] != "1x1,1x1,1x1") return false;
  s.chroma444 = a[i++] == "1x1,1x1,1x1";
  if (i + 1 != a.size() || a[i].empty()) return false;
  s.input = a[i];
  return true;
}

bool ReadNumber(FILE* file, int& value) {
  int c = std::fgetc(file);
  while (c == '#' || std::isspace(c)) {
    if (c == '#') while (c != '\n' && c != EOF) c = std::fgetc(file);
    c = std::fgetc(file);
  }
  if (!std::isdigit(c)) return false;
  value = 0;
  while (std::isdigit(c)) { value = value * 10 + (c - '0'); c = std::fgetc(file); }
  return true;  // the single whitespace after the number is consumed
}

bool ReadPpm(const std::string& path, RgbImage& image) {
  FILE* file = std::fopen(path.c_str(), "rbe");
  if (!file) return false;
  int maxValue = 0;
  const bool header = std::fgetc(file) == 'P' && std::fgetc(file) == '6' &&
                      ReadNumber(file, image.width) && ReadNumber(file, image.height) &&
                      ReadNumber(file, maxValue) && maxValue == 255 && image.width > 0 &&
                      image.height > 0;
  bool ok = header;
  if (ok) {
    image.rgb.resize(static_cast<size_t>(image.width) * image.height * 3);
    ok = std::fread(image.rgb.data(), 1, image.rgb.size(), file) == image.rgb.size();
  }
  std::fclose(file);
  return ok;
}

RgbImage HalveImage(const RgbImage& image) {
  RgbImage half;
  half.width = image.width / 2 > 0 ? image.width / 2 : 1;
  half.height = image.height / 2 > 0 ? image.height / 2 : 1;
  half.rgb.resize(static_cast<size_t>(half.width) * half.height * 3);
  for (int y = 0; y < half.height; ++y) {
    for (int x = 0; x < half.width; ++x) {
      const size_t from = (static_cast<size_t>(y * 2) * image.width + x * 2) * 3;
      std::memcpy(&half.rgb[(static_cast<size_t>(y) * half.width + x) * 3], &image.rgb[from], 3);
    }
  }
  return half;
}

// libjpeg's default error handler ends this process, which is what a failing
// tool does anyway.
void WriteJpeg(FILE* out, const RgbImage& image, const Settings& s, const char* tag) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, out);
  cinfo.image_width = static_cast<JDIMENSION>(image.width);
  cinfo.image_height = static_cast<JDIMENSION>(image.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, s.quality, TRUE);
  cinfo.optimize_coding = TRUE;
  const int h = s.chroma444 ? 1 : 2;
  cinfo.comp_info[0].h_samp_factor = h;
  cinfo.comp_info[0].v_samp_factor = h;
  if (s.progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  jpeg_write_marker(&cinfo, JPEG_COM, reinterpret_cast<const JOCTET*>(tag),
                    static_cast<unsigned>(std::strlen(tag)));
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&image.rgb[static_cast<size_t>(cinfo.next_scanline) *
                                                   image.width * 3]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string tool = ToolName(argv[0]);
  const bool jpegli = tool.rfind("cjpegli", 0) == 0;
  const bool cjpeg = tool.rfind("cjpeg-static", 0) == 0;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  Settings settings;
  const bool argumentsOk = (jpegli && ParseJpegliArguments(arguments, settings)) ||
                           (cjpeg && ParseCjpegArguments(arguments, settings));
  if (!argumentsOk) {
    Log(tool, "badargs", argc, argv);
    std::fprintf(stderr, "%s: unexpected arguments\n", tool.c_str());
    return 64;
  }
  Log(tool, "start", argc, argv);
  const Behaviour behaviour = ReadBehaviour(jpegli ? "cjpegli" : "cjpeg-static");
  if (behaviour.sleepMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(behaviour.sleepMs));
  if (behaviour.hang) {
    std::string pidText = std::to_string(::getpid());
    char* pidArgument[] = {argv[0], pidText.data()};
    Log(tool, "hang", 2, pidArgument);
    for (;;) ::pause();
  }
  if (behaviour.crash) {
    ::signal(SIGSEGV, SIG_DFL);
    ::raise(SIGSEGV);
  }
  FILE* out = stdout;
  if (jpegli) {
    out = std::fopen(settings.output.c_str(), "wbe");
    if (!out) return 2;
  }
  if (behaviour.fail) {
    std::fputs("partial", out);
    return 1;
  }
  int status = 0;
  if (behaviour.garbage) {
    std::fputs("this is not a JPEG file, only a few bytes of text", out);
  } else if (!behaviour.empty) {
    RgbImage image;
    if (!ReadPpm(settings.input, image)) return 3;
    if (behaviour.halfsize) image = HalveImage(image);
    if (behaviour.large) { settings.quality = 100; settings.chroma444 = true; }
    WriteJpeg(out, image, settings, jpegli ? "orvel-test-encoder:JPEGLI" : "orvel-test-encoder:MOZJPG");
    if (behaviour.large) {
      const std::vector<char> padding(image.rgb.size() + 1024, 0);
      std::fwrite(padding.data(), 1, padding.size(), out);
    }
  }
  if (std::fflush(out) != 0) status = 4;
  if (jpegli) std::fclose(out);
  Log(tool, "done", argc, argv);
  return status;
}
