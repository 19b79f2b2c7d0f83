// The main window's replaceable outside calls; see main_window_hooks.h.
#include "ui/main/main_window_hooks.h"

#include <utility>

namespace {

struct OtherWindows {
  std::function<void(int)> openCompareWindow;
  std::function<void()> openGuideWindow;
  std::function<void(bool)> openProfileDevelopment;
  std::function<void()> openBenchmarkRuns;
  std::function<bool()> benchmarkRunActive;
  std::function<bool()> benchmarkRunPaused;
};

OtherWindows& Windows() {
  static OtherWindows windows;
  return windows;
}

MainWindowDialogs& Dialogs() {
  static MainWindowDialogs dialogs;
  return dialogs;
}

}  // namespace

void SetCompareWindowOpener(std::function<void(int)> opener) {
  Windows().openCompareWindow = std::move(opener);
}
void SetGuideWindowOpener(std::function<void()> opener) {
  Windows().openGuideWindow = std::move(opener);
}
void SetProfileDevelopmentOpener(std::function<void(bool)> opener) {
  Windows().openProfileDevelopment = std::move(opener);
}
void SetBenchmarkRunsOpener(std::function<void()> opener) {
  Windows().openBenchmarkRuns = std::move(opener);
}
void SetBenchmarkRunActiveQuery(std::function<bool()> query) {
  Windows().benchmarkRunActive = std::move(query);
}
void SetBenchmarkRunPausedQuery(std::function<bool()> query) {
  Windows().benchmarkRunPaused = std::move(query);
}

// Each call copies the function first, so an opener may replace itself.
void InvokeCompareWindowOpener(int index) {
  if (auto opener = Windows().openCompareWindow) opener(index);
}
void InvokeGuideWindowOpener() {
  if (auto opener = Windows().openGuideWindow) opener();
}
void InvokeProfileDevelopmentOpener(bool resume) {
  if (auto opener = Windows().openProfileDevelopment) opener(resume);
}
void InvokeBenchmarkRunsOpener() {
  if (auto opener = Windows().openBenchmarkRuns) opener();
}
bool IsBenchmarkRunActive() {
  auto query = Windows().benchmarkRunActive;
  return query && query();
}
bool IsBenchmarkRunPaused() {
  auto query = Windows().benchmarkRunPaused;
  return IsBenchmarkRunActive() && query && query();
}

void SetMainWindowDialogs(MainWindowDialogs dialogs) { Dialogs() = std::move(dialogs); }
const MainWindowDialogs& ActiveMainWindowDialogs() { return Dialogs(); }
