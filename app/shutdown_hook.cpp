// The shutdown stop hook for background workers; see shutdown_hook.h.
// Set by the profile-development window, run by application.cpp.
#include "app/shutdown_hook.h"

#include <utility>

namespace {

std::function<void()>& InstalledHook() {
  static std::function<void()> hook;
  return hook;
}

}  // namespace

void SetShutdownWorkerHook(std::function<void()> hook) { InstalledHook() = std::move(hook); }

void RunShutdownWorkerHook() {
  if (InstalledHook()) InstalledHook()();
}
