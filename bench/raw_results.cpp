// The run folder, the raw row format and the image lists; see raw_results.h.
// Neighbours: session (whole-file writers, SaveSession), platform/text
// (locale-free numbers), core/profiles (engine names).
#include "bench/raw_results.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string_view>

#include "core/profiles.h"
#include "platform/files.h"
#include "platform/text.h"

const char* const kRawHeader =
    "image;relative_path;width;height;original_bytes;candidate;engine;quality;distance;"
    "progressive;trellis;chroma444;encoded_bytes;ratio_to_original;global;worst5;worst;color;"
    "edge;ringing;banding;composite;encode_ms\r\n";

namespace {

// Enough for any number of runs started within one second.
constexpr int kRunFolderAttempts = 10000;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Equal ignoring the case of A-Z. On UTF-8 this matches comparing the UTF-16
// code units with A-Z folded, since every other byte must match exactly.
bool StartsWithIgnoringAsciiCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
  }
  return true;
}

std::string Flag(bool value) { return value ? "1" : "0"; }

void AppendField(std::string& row, const std::string& field) {
  row += field;
  row += ';';
}

// Moves the images whose path holds a line break out of `images`, in order.
std::vector<std::string> TakeOutUnlistableImages(std::vector<std::string>& images) {
  std::vector<std::string> unlistable;
  std::vector<std::string> kept;
  kept.reserve(images.size());
  for (std::string& path : images) {
    (HasLineBreak(path) ? unlistable : kept).push_back(std::move(path));
  }
  images = std::move(kept);
  return unlistable;
}

std::string ComposeImageList(const std::vector<std::string>& images) {
  std::string list;
  for (const std::string& path : images) {
    list += path;
    list += '\n';
  }
  return list;
}

}  // namespace

bool HasLineBreak(const std::string& path) {
  return path.find_first_of("\r\n") != std::string::npos;
}

std::string SkippedImageLine(const std::string& path) {
  if (!HasLineBreak(path)) return path + "\r\n";
  std::string line;
  for (const char c : path) {
    if (c == '\n') {
      line += "\\n";
    } else if (c == '\r') {
      line += "\\r";
    } else {
      line += c;
    }
  }
  return line + "\tZeilenumbruch im Dateinamen \u2013 nicht gemessen\r\n";
}

bool ReserveRunFolder(const std::string& runsFolder, const std::string& stamp, std::string& folder) {
  folder.clear();
  const std::string base = JoinPath(runsFolder, "Run_" + stamp);
  for (int attempt = 1; attempt <= kRunFolderAttempts; ++attempt) {
    const std::string candidate = attempt == 1 ? base : base + "_" + FormatInteger(attempt);
    if (ActiveFileSystemCalls().mkdir(candidate.c_str(), 0777) == 0) {
      folder = candidate;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

std::string LocalTimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04u%02u%02u-%02u%02u%02u",
                static_cast<unsigned>(local.tm_year + 1900), static_cast<unsigned>(local.tm_mon + 1),
                static_cast<unsigned>(local.tm_mday), static_cast<unsigned>(local.tm_hour),
                static_cast<unsigned>(local.tm_min), static_cast<unsigned>(local.tm_sec));
  return stamp;
}

bool CreateBenchmarkRun(BenchmarkSession& session) {
  if (HasLineBreak(session.root)) return false;
  const std::string stamp = LocalTimeStamp();
  const std::string runsFolder = BenchmarkRunsFolder();
  if (!EnsureFolder(runsFolder)) return false;
  std::string folder;
  if (!ReserveRunFolder(runsFolder, stamp, folder)) return false;
  session.sessionDir = folder;
  session.csvPath = JoinPath(folder, kRawFileName);
  session.imageListPath = JoinPath(folder, kSelectedImagesFileName);
  session.sessionFilePath = SessionFilePath();
  const std::vector<std::string> unlistable = TakeOutUnlistableImages(session.images);
  std::string skipped;
  for (const std::string& path : unlistable) skipped += SkippedImageLine(path);
  // skipped_images.txt exists only once an image was skipped.
  if (!skipped.empty() && !AppendToFile(JoinPath(folder, kSkippedImagesFileName), skipped)) {
    return false;
  }
  if (session.images.empty()) return false;
  if (!WriteWholeFile(session.imageListPath, ComposeImageList(session.images), true)) return false;
  if (!WriteWholeFile(session.csvPath, kRawHeader, true)) return false;
  SaveSession(session);
  return true;
}

std::string QuoteCsvText(const std::string& text) {
  std::string quoted = "\"";
  // A spreadsheet reads a cell that begins so as a formula, even quoted; the
  // apostrophe makes it text there (the usual defence for CSV exports).
  if (!text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos) {
    quoted += '\'';
  }
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string ImageFileName(const std::string& path) { return FileNamePart(path); }

std::string RelativeImagePath(const std::string& root, const std::string& imagePath) {
  if (root.empty() || imagePath.size() <= root.size() ||
      !StartsWithIgnoringAsciiCase(imagePath, root)) {
    return ImageFileName(imagePath);
  }
  const size_t rest = imagePath.find_first_not_of('/', root.size());
  return rest == std::string::npos ? std::string() : imagePath.substr(rest);
}

std::string RawEngineName(std::int32_t engine) {
  const std::string name = EngineName(engine);
  return name.empty() ? "Unbekannt" : name;
}

std::string FormatRawRow(const std::string& root, const std::string& imagePath, std::uint32_t width,
                         std::uint32_t height, const EncoderCandidate& candidate,
                         std::uint64_t encodedBytes, const QualityReport& report, double encodeMs) {
  return FormatRawRowWithSize(root, imagePath, width, height, FileSize(imagePath), candidate,
                              encodedBytes, report, encodeMs);
}

std::string FormatRawRowWithSize(const std::string& root, const std::string& imagePath,
                                 std::uint32_t width, std::uint32_t height,
                                 std::uint64_t originalBytes, const EncoderCandidate& candidate,
                                 std::uint64_t encodedBytes, const QualityReport& report,
                                 double encodeMs) {
  const double ratio = originalBytes == 0 ? 0.0
                                          : static_cast<double>(encodedBytes) /
                                                static_cast<double>(originalBytes);
  std::string row;
  row.reserve(320);
  AppendField(row, QuoteCsvText(ImageFileName(imagePath)));
  AppendField(row, QuoteCsvText(RelativeImagePath(root, imagePath)));
  AppendField(row, std::to_string(width));
  AppendField(row, std::to_string(height));
  AppendField(row, std::to_string(originalBytes));
  AppendField(row, QuoteCsvText(candidate.label));
  AppendField(row, QuoteCsvText(RawEngineName(candidate.engine)));
  AppendField(row, FormatInteger(candidate.quality));
  AppendField(row, candidate.useDistance ? FormatFixed(candidate.distance, 3) : std::string());
  AppendField(row, Flag(candidate.progressive));
  AppendField(row, Flag(candidate.trellis));
  AppendField(row, Flag(candidate.chroma444));
  AppendField(row, std::to_string(encodedBytes));
  AppendField(row, FormatFixed(ratio, 6));
  for (const double figure : {report.global, report.worst5, report.worst, report.color,
                              report.edge, report.ringing, report.banding, report.composite}) {
    AppendField(row, FormatFixed(figure, 6));
  }
  row += FormatFixed(encodeMs, 2);
  row += "\r\n";
  return row;
}
