// Shared pieces of the window tests: one QApplication with the shared fonts
// for the whole program, a recorder standing in for message boxes, choosers,
// the file manager, the beep and the other windows' hooks, and the fixture
// with a shown main window.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "tests/core/core_test_support.h"
#include "ui/main/main_window.h"
#include "ui/main/main_window_hooks.h"

struct RecordedMessage {
  std::string title;
  std::string text;
  MessageIcon icon = MessageIcon::Information;
};

// Installs itself as the dialogs and hooks; restores the defaults when it goes.
struct DialogRecorder {
  std::vector<RecordedMessage> messages;
  std::deque<std::vector<std::string>> fileAnswers;  // one per chooser call; empty = cancel
  std::deque<std::string> folderAnswers;             // one per call; empty = cancel
  int fileChooserCalls = 0;
  int folderChooserCalls = 0;
  std::vector<std::string> openedFolders;
  int beeps = 0;
  std::vector<int> compareOpens;              // indexes handed to the compare window
  int guideOpens = 0;
  std::vector<bool> profileDevelopmentOpens;  // the resume flags
  int benchmarkRunsOpens = 0;
  bool benchmarkRunActive = false;
  bool benchmarkRunPaused = false;

  DialogRecorder();
  ~DialogRecorder();
  DialogRecorder(const DialogRecorder&) = delete;
  DialogRecorder& operator=(const DialogRecorder&) = delete;
};

// The text of a label, line edit or plain-text box; "" for other widgets.
std::string ControlText(const QWidget* control);

// A private TMPDIR (no work folder may be left behind), the recorder and a
// shown, active main window; the default profile and mode.
class MainWindowTest : public CoreTest {
 protected:
  std::unique_ptr<DialogRecorder> recorder;
  std::unique_ptr<MainWindow> window;

  void SetUp() override;
  void TearDown() override;

  // Adds files through the image chooser (command 2001).
  void AddFiles(const std::vector<std::string>& paths);
  // Drops the paths as file URLs onto the window; true when it took them.
  bool DropPaths(const std::vector<std::string>& paths);
  std::vector<std::string> ListLines(int controlId) const;  // 1001 or 1002
  std::string Text(int controlId) const { return ControlText(window->ControlById(controlId)); }
  void SetOutputEditText(const std::string& text);
  void FocusWidget(QWidget* widget);
  // A key press and release through Qt's own routing (focus, shortcuts).
  void PressKey(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
  // Copies a photo of the test set; empty when the set is missing.
  std::string CopyTestPhoto(const std::string& name, const std::string& targetPath);
};
