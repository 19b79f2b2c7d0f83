// Private temporary folders for the application tests; see test_temp_folder.h.
#include "test_temp_folder.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <utility>
#include <vector>

#include "platform/files.h"

ScopedEnvironment::ScopedEnvironment(std::string variable, const std::optional<std::string>& value)
    : name(std::move(variable)) {
  if (const char* old = ::getenv(name.c_str())) previous = std::string(old);
  if (value) {
    ::setenv(name.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name.c_str());
  }
}

ScopedEnvironment::~ScopedEnvironment() {
  if (previous) {
    ::setenv(name.c_str(), previous->c_str(), 1);
  } else {
    ::unsetenv(name.c_str());
  }
}

std::string MakeTemporaryFolderIn(const std::string& base) {
  std::string pattern = JoinPath(base, "orvel-app-test-XXXXXX");
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) return std::string();
  return std::string(buffer.data());
}

PrivateTemporaryFolder::PrivateTemporaryFolder() {
  path = MakeTemporaryFolderIn(TempFolder());
  if (!path.empty()) tmpdir.emplace("TMPDIR", path);
}

PrivateTemporaryFolder::~PrivateTemporaryFolder() {
  tmpdir.reset();
  if (!path.empty()) RemoveFolderTree(path);
}

int ModeBits(const std::string& path) {
  struct stat info{};
  if (::lstat(path.c_str(), &info) != 0) return -1;
  return static_cast<int>(info.st_mode & 07777);
}
