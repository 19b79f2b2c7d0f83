// A private temporary folder per test, so tests never touch the shared
// "<tmp>/OrvelJpegOptimizer" of real program runs.
#pragma once

#include <optional>
#include <string>

// Sets an environment variable for the lifetime of the object (unset when
// `value` is empty) and restores the earlier value afterwards.
struct ScopedEnvironment {
  std::string name;
  std::optional<std::string> previous;
  ScopedEnvironment(std::string variable, const std::optional<std::string>& value);
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment();
};

// A fresh mkdtemp folder (mode 0700) that TMPDIR points at while the object
// lives; removed with everything in it afterwards.
struct PrivateTemporaryFolder {
  std::string path;  // empty when it could not be made
  std::optional<ScopedEnvironment> tmpdir;
  PrivateTemporaryFolder();
  PrivateTemporaryFolder(const PrivateTemporaryFolder&) = delete;
  PrivateTemporaryFolder& operator=(const PrivateTemporaryFolder&) = delete;
  ~PrivateTemporaryFolder();
};

// A fresh mkdtemp folder below `base`; empty on failure.
std::string MakeTemporaryFolderIn(const std::string& base);

// Permission bits (07777) of a path, links not followed; -1 when absent.
int ModeBits(const std::string& path);
