// The session file and the whole-file helpers; see session.h.
// Neighbours: platform/files (descriptors, atomic replacement, the
// fault-injection seam), leading_numbers (the number rules of the file).
#include "bench/session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string_view>

#include "bench/leading_numbers.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr const char* kVersion = "1.3.3";

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

std::string ProgramDataFolder() { return JoinPath(LocalDataFolder(), "OrvelJpegOptimizer"); }

// Lines split at line feeds; one carriage return at the end of each is
// dropped, so files saved with CRLF line ends read like the originals.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// key -> value of every line holding "="; later lines replace earlier ones.
}  // namespace

std::map<std::string, std::string> ReadKeyValues(std::string_view text) {
  std::map<std::string, std::string> values;
  for (const std::string_view line : SplitLines(text)) {
    const size_t equals = line.find('=');
    if (line.empty() || equals == std::string_view::npos) continue;
    values[std::string(line.substr(0, equals))] = std::string(line.substr(equals + 1));
  }
  return values;
}

bool ReadInt32Value(const std::map<std::string, std::string>& values, const char* key,
                    std::int32_t& field) {
  const auto found = values.find(key);
  return found != values.end() && ParseLeadingInt32(found->second, field);
}

bool ReadUint64Value(const std::map<std::string, std::string>& values, const char* key,
                     std::uint64_t& field) {
  const auto found = values.find(key);
  return found != values.end() && ParseLeadingUint64(found->second, field);
}

namespace {

std::string ValueOf(const std::map<std::string, std::string>& values, const char* key) {
  const auto found = values.find(key);
  return found == values.end() ? std::string() : found->second;
}

bool ReadNumbers(const std::map<std::string, std::string>& values, BenchmarkSession& session) {
  std::uint64_t nextIndex = 0;
  std::uint64_t completed = 0;
  if (!ReadInt32Value(values, "MaxPerFolder", session.maxPerFolder)) return false;
  if (!ReadInt32Value(values, "MaxTotal", session.maxTotal)) return false;
  if (!ReadInt32Value(values, "Depth", session.depth)) return false;
  if (!ReadUint64Value(values, "FoldersFound", session.foldersFound)) return false;
  if (!ReadUint64Value(values, "ImagesFound", session.imagesFound)) return false;
  if (!ReadUint64Value(values, "NextIndex", nextIndex)) return false;
  session.nextIndex.store(nextIndex);
  if (!ReadUint64Value(values, "Completed", completed)) return false;
  session.completed.store(completed);
  return true;
}

std::vector<std::string> ReadImageList(const std::string& path) {
  std::vector<std::string> images;
  const std::string content = ReadWholeFile(path);
  for (const std::string_view line : SplitLines(content)) {
    if (!line.empty()) images.emplace_back(line);
  }
  return images;
}

}  // namespace

BenchmarkSession& CurrentBenchmarkSession() {
  static BenchmarkSession session;
  return session;
}

std::string ReadWholeFile(const std::string& path) {
  std::string content;
  if (!ReadFileBytes(path, content, kWholeFileLimit)) return std::string();
  if (std::string_view(content).substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    content.erase(0, kByteOrderMark.size());
  }
  return content;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, bool withByteOrderMark) {
  if (!withByteOrderMark) return WriteFileAtomically(path, bytes.data(), bytes.size());
  std::string content;
  content.reserve(kByteOrderMark.size() + bytes.size());
  content.append(kByteOrderMark);
  content.append(bytes);
  return WriteFileAtomically(path, content.data(), content.size());
}

bool AppendToFile(const std::string& path, const std::string& bytes) {
  if (path.empty()) return false;
  UniqueFd file = OpenForAppending(path);
  if (!file.Valid()) return false;
  if (bytes.empty()) return true;
  struct stat before{};
  if (::fstat(file.fd, &before) != 0) return false;
  if (WriteAll(file, bytes.data(), bytes.size())) return CloseChecked(file);
  // A partial append would leave half a row (or half an image's rows) behind.
  if (::ftruncate(file.fd, before.st_size) != 0) return false;
  return false;
}

std::string LocalDataFolder() {
  const std::string localAppData = EnvironmentValue("LOCALAPPDATA");
  if (!localAppData.empty()) return localAppData;
  const std::string dataHome = EnvironmentValue("XDG_DATA_HOME");
  if (!dataHome.empty()) return dataHome;
  const std::string home = EnvironmentValue("HOME");
  if (!home.empty()) return JoinPath(JoinPath(home, ".local"), "share");
  return ProgramFolder();
}

std::string SessionFilePath() {
  const std::string folder = ProgramDataFolder();
  EnsureFolder(folder);
  return JoinPath(folder, "benchmark_current.ini");
}

std::string BenchmarkRunsFolder() {
  const std::string folder = JoinPath(ProgramDataFolder(), "BenchmarkRuns");
  EnsureFolder(folder);
  return folder;
}

std::string ComposeSessionFile(const BenchmarkSession& session) {
  std::string text;
  text += "Version=" + std::string(kVersion) + "\n";
  text += "Root=" + session.root + "\n";
  text += "SessionDir=" + session.sessionDir + "\n";
  text += "CsvPath=" + session.csvPath + "\n";
  text += "ImageListPath=" + session.imageListPath + "\n";
  text += "MaxPerFolder=" + FormatInteger(session.maxPerFolder) + "\n";
  text += "MaxTotal=" + FormatInteger(session.maxTotal) + "\n";
  text += "Depth=" + FormatInteger(session.depth) + "\n";
  text += "FoldersFound=" + std::to_string(session.foldersFound) + "\n";
  text += "ImagesFound=" + std::to_string(session.imagesFound) + "\n";
  text += "NextIndex=" + std::to_string(session.nextIndex.load()) + "\n";
  text += "Completed=" + std::to_string(session.completed.load()) + "\n";
  return text;
}

bool SaveSession(BenchmarkSession& session) {
  if (session.sessionFilePath.empty()) session.sessionFilePath = SessionFilePath();
  const std::string text = ComposeSessionFile(session);
  return WriteFileAtomically(session.sessionFilePath, text.data(), text.size());
}

bool ParseSessionText(std::string_view text, BenchmarkSession& session) {
  const std::map<std::string, std::string> values = ReadKeyValues(text);
  if (values.count("Root") == 0 || values.count("ImageListPath") == 0) return false;
  // Without a run folder and raw file a resumed run would measure every image
  // and write nothing, then report success.
  if (ValueOf(values, "SessionDir").empty() || ValueOf(values, "CsvPath").empty()) return false;
  session.root = ValueOf(values, "Root");
  session.sessionDir = ValueOf(values, "SessionDir");
  session.csvPath = ValueOf(values, "CsvPath");
  session.imageListPath = ValueOf(values, "ImageListPath");
  return ReadNumbers(values, session);
}

bool LoadSession(BenchmarkSession& session) {
  const std::string path = SessionFilePath();
  const std::string content = ReadWholeFile(path);
  if (content.empty()) return false;
  if (!ParseSessionText(content, session)) return false;
  session.sessionFilePath = path;
  if (!IsDirectory(session.sessionDir)) return false;
  session.images = ReadImageList(session.imageListPath);
  if (session.images.empty()) return false;
  if (session.nextIndex.load() > session.images.size()) session.nextIndex.store(0);
  return true;
}

bool SessionFileExists() {
  const std::string path = SessionFilePath();
  return PathExists(path) && !IsDirectory(path);
}
