// The stop hook for background work that must end before the engine folder
// goes away.
//
// Shutdown (application.cpp) runs the hook after the event loop has ended and
// before it removes the engine folder, so a profile-development worker that is
// still encoding never loses its tools mid-run. The profile-development
// window installs a hook that requests cancellation, wakes a paused worker and
// joins its thread; until then the hook does nothing. Qt-free so the worker's
// own module can install it.
#pragma once

#include <functional>

// Installs the hook (an empty function restores the default, which does
// nothing). UI thread only.
void SetShutdownWorkerHook(std::function<void()> hook);

// Runs the installed hook once; called by shutdown only.
void RunShutdownWorkerHook();
