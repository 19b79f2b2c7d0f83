// Test support: a private temporary folder per test, removed afterwards, and a
// scoped environment variable. Tests point TMPDIR (and the data folders) at
// such a folder so they never touch the user's real temporary or data folders.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <optional>
#include <string>

#include "platform/files.h"

struct ScopedTempFolder {
  std::string path;
  ScopedTempFolder() {
    std::string pattern = JoinPath(TempFolder(), "orvel-test-XXXXXX");
    const char* made = ::mkdtemp(pattern.data());
    path = made ? made : "";
  }
  ~ScopedTempFolder() {
    if (!path.empty()) RemoveFolderTree(path);
  }
  ScopedTempFolder(const ScopedTempFolder&) = delete;
  ScopedTempFolder& operator=(const ScopedTempFolder&) = delete;
  std::string Join(const std::string& name) const { return JoinPath(path, name); }
};

struct ScopedEnv {
  std::string name;
  std::optional<std::string> previous;
  ScopedEnv(const std::string& key, const char* value) : name(key) {
    if (const char* old = ::getenv(key.c_str())) previous = old;
    if (value) ::setenv(key.c_str(), value, 1); else ::unsetenv(key.c_str());
  }
  ~ScopedEnv() {
    if (previous) ::setenv(name.c_str(), previous->c_str(), 1); else ::unsetenv(name.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
};

inline bool WriteTextFile(const std::string& path, const std::string& text) {
  UniqueFd file = CreateForWriting(path);
  return WriteAll(file, text.data(), text.size()) && CloseChecked(file);
}

inline std::string ReadTextFile(const std::string& path) {
  std::string content;
  ReadFileBytes(path, content);
  return content;
}
