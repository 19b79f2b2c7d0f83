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

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/imaging/fixtures.h"

namespace {

struct Settings {
  int quality = 90;
  bool progressive = false, chroma444 = false;
  std::string input, output;  // output empty: standard output
};

struct RgbImage {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
};

void Log(const std::string& tool, const char* what, int argc, char** argv) {
  const char* path = std::getenv("ORVEL_TEST_ENCODER_LOG");
  if (!path || !*path) return;
  std::string line = tool + " " + what;
  for (int i = 1; i < argc; ++i) line += std::string(" ") + argv[i];
  line += "\n";
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd >= 0 && ::write(fd, line.data(), line.size()) < 0) {}
  if (fd >= 0) ::close(fd);
}

// The words of ORVEL_TEST_<TOOL>; a "sleep:MS" word also sets `sleepMs`.
std::set<std::string> ReadBehaviour(bool jpegli, int& sleepMs) {
  const char* value = std::getenv(jpegli ? "ORVEL_TEST_CJPEGLI" : "ORVEL_TEST_CJPEG_STATIC");
  std::set<std::string> words;
  std::stringstream list(value ? value : "");
  for (std::string word; std::getline(list, word, ',');) {
    if (word.rfind("sleep:", 0) == 0) sleepMs = std::atoi(word.c_str() + 6);
    words.insert(word);
  }
  return words;
}

bool QualityInRange(const std::ssub_match& text, Settings& s) {
  s.quality = std::atoi(text.str().c_str());
  return s.quality >= 1 && s.quality <= 100;
}

// cjpegli: -q Q|-d D.DD --chroma_subsampling 420|444 -p 0|2 --quiet IN OUT
// cjpeg:   -quality Q -optimize [-progressive] [-notrellis] -sample S IN
bool ParseArguments(bool jpegli, const std::vector<std::string>& arguments, Settings& s) {
  static const std::regex kJpegli(
      "(?:-q\n([0-9]{1,3})|-d\n([0-9]+\\.[0-9]{2}))\n--chroma_subsampling\n(420|444)\n-p\n([02])\n"
      "--quiet\n([^\n]+)\n([^\n]+)\n");
  static const std::regex kCjpeg(
      "-quality\n([0-9]{1,3})\n-optimize\n(-progressive\n)?(?:-notrellis\n)?-sample\n"
      "(2x2,1x1,1x1|1x1,1x1,1x1)\n([^\n]+)\n");
  std::string joined;
  for (const std::string& argument : arguments) joined += argument + "\n";
  std::smatch m;
  if (!std::regex_match(joined, m, jpegli ? kJpegli : kCjpeg)) return false;
  if (!jpegli) {
    s.progressive = m[2].matched;
    s.chroma444 = m[3] == "1x1,1x1,1x1";
    s.input = m[4];
    return QualityInRange(m[1], s);
  }
  s.chroma444 = m[3] == "444";
  s.progressive = m[4] == "2";
  s.input = m[5];
  s.output = m[6];
  if (m[1].matched) return QualityInRange(m[1], s);
  s.quality = std::max(1, static_cast<int>(100.0 - 10.0 * std::atof(m[2].str().c_str()) + 0.5));
  return true;
}

bool ReadPpm(const std::string& path, RgbImage& image) {
  FILE* file = std::fopen(path.c_str(), "rbe");
  if (!file) return false;
  int maxValue = 0;
  char space = 0;
  bool ok = std::fscanf(file, "P6 %d %d %d%c", &image.width, &image.height, &maxValue, &space) == 4 &&
            maxValue == 255 && image.width > 0 && image.height > 0;
  if (ok) {
    image.rgb.resize(static_cast<size_t>(image.width) * image.height * 3);
    ok = std::fread(image.rgb.data(), 1, image.rgb.size(), file) == image.rgb.size();
  }
  std::fclose(file);
  return ok;
}

RgbImage HalveImage(const RgbImage& image) {
  RgbImage half{std::max(1, image.width / 2), std::max(1, image.height / 2), {}};
  for (int y = 0; y < half.height; ++y) {
    for (int x = 0; x < half.width; ++x) {
      const auto* from = &image.rgb[(static_cast<size_t>(y * 2) * image.width + x * 2) * 3];
      half.rgb.insert(half.rgb.end(), from, from + 3);
    }
  }
  return half;
}

}  // namespace

int main(int argc, char** argv) {
  const char* slash = std::strrchr(argv[0], '/');
  const std::string tool = slash ? slash + 1 : argv[0];
  const bool jpegli = tool.rfind("cjpegli", 0) == 0;
  Settings settings;
  if ((!jpegli && tool.rfind("cjpeg-static", 0) != 0) ||
      !ParseArguments(jpegli, std::vector<std::string>(argv + 1, argv + argc), settings)) {
    Log(tool, "badargs", argc, argv);
    std::fprintf(stderr, "%s: unexpected arguments\n", tool.c_str());
    return 64;
  }
  Log(tool, "start", argc, argv);
  int sleepMs = 0;
  const std::set<std::string> behaviour = ReadBehaviour(jpegli, sleepMs);
  if (sleepMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs));
  if (behaviour.count("hang")) {
    std::string pidText = std::to_string(::getpid());
    char* pidArgument[] = {argv[0], pidText.data()};
    Log(tool, "hang", 2, pidArgument);
    for (;;) ::pause();
  }
  if (behaviour.count("crash")) {
    ::signal(SIGSEGV, SIG_DFL);
    ::raise(SIGSEGV);
  }
  FILE* out = jpegli ? std::fopen(settings.output.c_str(), "wbe") : stdout;
  if (!out) return 2;
  if (behaviour.count("fail")) {
    std::fputs("partial", out);
    return 1;
  }
  if (behaviour.count("garbage")) {
    std::fputs("this is not a JPEG file, only a few bytes of text", out);
  } else if (!behaviour.count("empty")) {
    RgbImage image;
    if (!ReadPpm(settings.input, image)) return 3;
    if (behaviour.count("halfsize")) image = HalveImage(image);
    const bool large = behaviour.count("large") > 0;
    if (large) {
      settings.quality = 100;
      settings.chroma444 = true;
    }
    // libjpeg's default error handler ends this process, as a failing tool would.
    JpegRecipe recipe{JpegLayout::Rgb, settings.quality, settings.progressive};
    recipe.chroma444 = settings.chroma444;
    recipe.optimize = true;
    recipe.comment = jpegli ? "orvel-test-encoder:JPEGLI" : "orvel-test-encoder:MOZJPG";
    const std::string jpeg = EncodeJpegBytes(static_cast<std::uint32_t>(image.width),
                                             static_cast<std::uint32_t>(image.height), image.rgb, recipe);
    std::fwrite(jpeg.data(), 1, jpeg.size(), out);
    if (large) {
      const std::vector<char> padding(image.rgb.size() + 1024, 0);
      std::fwrite(padding.data(), 1, padding.size(), out);
    }
  }
  const int status = std::fflush(out) != 0 ? 4 : 0;
  if (jpegli) std::fclose(out);
  Log(tool, "done", argc, argv);
  return status;
}
