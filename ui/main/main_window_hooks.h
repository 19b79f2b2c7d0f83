// What the main window reaches outside itself, as replaceable functions:
//
//   - the windows other modules own: the compare window (F6, "Bildvergleich
//     öffnen", the end of a batch), the guide window, the profile-development
//     window and its runs folder, and the question whether a
//     profile-development run is active (it refuses closing and batches);
//     until those modules install their functions, the calls do nothing and
//     no run is active;
//   - the user-facing system calls: message boxes, the file and folder
//     choosers, opening a folder in the desktop's file manager and the beep.
//     Tests install recorders here instead of real dialogs; an empty
//     function means the Qt default, owned by the main window.
//
// Qt-free; installed and read on the UI thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

// --- Other windows -----------------------------------------------------------

// Opens the compare window on a result index; -1 picks the selected result
// or image.
void SetCompareWindowOpener(std::function<void(int index)> opener);
void SetGuideWindowOpener(std::function<void()> opener);
// Opens the profile-development window, resuming the saved session or not.
void SetProfileDevelopmentOpener(std::function<void(bool resume)> opener);
// Opens the folder of the profile-development runs.
void SetBenchmarkRunsOpener(std::function<void()> opener);
// True while a profile-development run is active; paused counts as active.
void SetBenchmarkRunActiveQuery(std::function<bool()> query);
// True while the active profile-development run is paused (the refusals then
// ask to continue it rather than to pause it).
void SetBenchmarkRunPausedQuery(std::function<bool()> query);

void InvokeCompareWindowOpener(int index);
void InvokeGuideWindowOpener();
void InvokeProfileDevelopmentOpener(bool resume);
void InvokeBenchmarkRunsOpener();
bool IsBenchmarkRunActive();
bool IsBenchmarkRunPaused();

// --- Dialogs and system calls ------------------------------------------------

enum class MessageIcon { Information, Warning };

struct MainWindowDialogs {
  // A message box with an OK button.
  std::function<void(const std::string& title, const std::string& text, MessageIcon icon)>
      showMessage;
  // The multi-file chooser; fills `paths` with full paths and returns true,
  // or returns false when cancelled.
  std::function<bool(std::vector<std::string>& paths)> chooseImageFiles;
  // The folder chooser titled "Ausgabepfad auswählen"; false when cancelled.
  std::function<bool(std::string& folder)> chooseFolder;
  // Opens a folder in the desktop's file manager; the outcome is not reported.
  std::function<void(const std::string& folder)> openFolder;
  // The information beep.
  std::function<void()> beep;
  // A question with the buttons "Ja" and "Nein"; true for "Ja".
  std::function<bool(const std::string& title, const std::string& text)> askYesNo;
};

// Installs the functions (a default-constructed record restores the Qt
// defaults).
void SetMainWindowDialogs(MainWindowDialogs dialogs);
const MainWindowDialogs& ActiveMainWindowDialogs();
