// Scanning an image tree and forming the balanced sample; see sampling.h.
// Neighbours: platform/text (UTF-16 conversion and ordinal order),
// platform/files (JoinPath), leading_numbers (the field parser).
#include "bench/sampling.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "bench/leading_numbers.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

constexpr std::uint64_t kOrderKeyStart = 0x14650FB0739D0383ull;
constexpr std::uint64_t kFnvPrime = 0x100000001B3ull;
constexpr size_t kFieldCharacterLimit = 63;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string LowerAsciiCopy(std::string text) {
  for (char& c : text) c = LowerAscii(c);
  return text;
}

bool ExtensionIsOneOf(const std::string& path, std::initializer_list<const char*> accepted) {
  const std::string extension = LowerAsciiCopy(FindPathExtension(path));
  if (extension.empty()) return false;
  for (const char* candidate : accepted) {
    if (extension == candidate) return true;
  }
  return false;
}

// What the scan does with one directory entry.
enum class EntryKind { kSkip, kFolder, kFile };

// Folders are entered only when they are real folders, never through a link.
// Files count when they are regular files, also through a link; a device, a
// pipe or a dangling link is left alone, so the worker never blocks opening it.
EntryKind ClassifyEntry(int folderFd, const dirent& entry) {
  struct stat info{};
  unsigned char type = entry.d_type;
  if (type == DT_UNKNOWN) {
    if (::fstatat(folderFd, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::kSkip;
    type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISLNK(info.st_mode) ? DT_LNK
                                 : S_ISREG(info.st_mode)           ? DT_REG
                                                                   : DT_FIFO;
  }
  if (type == DT_DIR) return EntryKind::kFolder;
  if (type == DT_REG) return EntryKind::kFile;
  if (type != DT_LNK) return EntryKind::kSkip;
  if (::fstatat(folderFd, entry.d_name, &info, 0) != 0) return EntryKind::kSkip;
  return S_ISREG(info.st_mode) ? EntryKind::kFile : EntryKind::kSkip;
}

// Lists one folder: pushes its subfolders and returns its accepted files.
std::vector<std::string> ListFolder(const std::string& folder, std::vector<std::string>& stack) {
  std::vector<std::string> files;
  const std::string listed = folder.empty() ? "." : folder;
  const int folderFd = ::open(listed.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) return files;
  DIR* listing = ::fdopendir(folderFd);
  if (listing == nullptr) {
    ::close(folderFd);
    return files;
  }
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const EntryKind kind = ClassifyEntry(folderFd, *entry);
    if (kind == EntryKind::kFolder) {
      stack.push_back(JoinPath(folder, name));
    } else if (kind == EntryKind::kFile) {
      std::string path = JoinPath(folder, name);
      if (IsBenchmarkImageFile(path)) files.push_back(std::move(path));
    }
  }
  ::closedir(listing);
  return files;
}

// Sorts one folder's paths by SampleOrderLess, hashing every path once.
void SortByOrderKey(std::vector<std::string>& paths) {
  std::vector<std::pair<std::uint64_t, std::string>> keyed;
  keyed.reserve(paths.size());
  for (std::string& path : paths) keyed.emplace_back(SampleOrderKey(path), std::move(path));
  std::sort(keyed.begin(), keyed.end(), [](const auto& left, const auto& right) {
    if (left.first != right.first) return left.first < right.first;
    return OrdinalUtf16Less{}(left.second, right.second);
  });
  for (size_t i = 0; i < keyed.size(); ++i) paths[i] = std::move(keyed[i].second);
}

// The groups in map order, each sorted by the order key and cut to the cap.
std::vector<std::vector<std::string>> KeepGroups(FolderGroups& groups, std::int32_t perFolderCap) {
  std::vector<std::vector<std::string>> kept;
  for (auto& [folder, paths] : groups) {
    SortByOrderKey(paths);
    if (paths.size() > static_cast<size_t>(perFolderCap)) paths.resize(perFolderCap);
    if (!paths.empty()) kept.push_back(std::move(paths));
  }
  return kept;
}

// Round-robin over the kept groups until the total cap is reached or a pass
// adds nothing.
void InterleaveGroups(const std::vector<std::vector<std::string>>& kept, size_t totalCap,
                      std::vector<std::string>& result) {
  for (size_t pass = 0;; ++pass) {
    bool appended = false;
    for (const std::vector<std::string>& group : kept) {
      if (group.size() <= pass) continue;
      result.push_back(group[pass]);
      appended = true;
      if (result.size() >= totalCap) return;
    }
    if (!appended) return;
  }
}

}  // namespace

bool OrdinalUtf16Less::operator()(const std::string& left, const std::string& right) const {
  const int order = CompareOrdinalUtf16(left, right);
  if (order != 0) return order < 0;
  return left < right;
}

std::int32_t ReadClampedInteger(const std::string& text, std::int32_t fallback,
                                std::int32_t minimum, std::int32_t maximum) {
  std::u16string field = Utf8ToUtf16(text);
  if (field.size() > kFieldCharacterLimit) field.resize(kFieldCharacterLimit);
  std::int32_t value = 0;
  if (!ParseLeadingInt32(Utf16ToUtf8(field), value)) return fallback;
  if (value > maximum) return maximum;
  if (value < minimum) return minimum;
  return value;
}

bool IsBenchmarkImageFile(const std::string& path) {
  return ExtensionIsOneOf(path, {".jpg", ".jpeg", ".jpe", ".png", ".bmp", ".tif", ".tiff"});
}

void ScanImageTree(const std::string& root, FolderGroups& groups, std::uint64_t& foldersFound,
                   std::uint64_t& imagesFound) {
  std::vector<std::string> stack{root};
  while (!stack.empty()) {
    const std::string folder = std::move(stack.back());
    stack.pop_back();
    ++foldersFound;
    std::vector<std::string> files = ListFolder(folder, stack);
    if (files.empty()) continue;
    imagesFound += files.size();
    std::vector<std::string>& group = groups[folder];
    group.insert(group.end(), std::make_move_iterator(files.begin()),
                 std::make_move_iterator(files.end()));
  }
}

std::uint64_t SampleOrderKey(const std::string& path) {
  std::uint64_t hash = kOrderKeyStart;
  for (char16_t unit : Utf8ToUtf16(path)) {
    if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit + 32);
    hash = (hash ^ (unit & 0xFFu)) * kFnvPrime;
    hash = (hash ^ (unit >> 8)) * kFnvPrime;
  }
  return hash;
}

bool SampleOrderLess(const std::string& left, const std::string& right) {
  const std::uint64_t leftKey = SampleOrderKey(left);
  const std::uint64_t rightKey = SampleOrderKey(right);
  if (leftKey != rightKey) return leftKey < rightKey;
  return OrdinalUtf16Less{}(left, right);
}

ImageSample SelectBalancedSample(const std::string& root, std::int32_t perFolderCap,
                                 std::int32_t totalCap) {
  ImageSample sample;
  FolderGroups groups;
  ScanImageTree(root, groups, sample.foldersFound, sample.imagesFound);
  perFolderCap = std::clamp(perFolderCap, kPerFolderMinimum, kPerFolderMaximum);
  totalCap = std::clamp(totalCap, kTotalMinimum, kTotalMaximum);
  const std::vector<std::vector<std::string>> kept = KeepGroups(groups, perFolderCap);
  sample.images.reserve(std::min<std::uint64_t>(sample.imagesFound, totalCap));
  InterleaveGroups(kept, static_cast<size_t>(totalCap), sample.images);
  return sample;
}
