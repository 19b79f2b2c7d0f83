// The window tests' QApplication with the shared fonts, and a fixture with a shown main window whose
// dialogs and hooks into the other windows are recorded and answered from queues.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/core/core_test_support.h"
#include "ui/main/main_window.h"
#include "ui/main/main_window_hooks.h"

struct RecordedMessage {
  std::string title;
  std::string text;
  MessageIcon icon = MessageIcon::Information;
};

// The text of a label, line edit or plain-text box; "" for other widgets.
std::string ControlText(const QWidget* control);

// A private TMPDIR (no work folder may be left behind), the default profile and mode.
class MainWindowTest : public CoreTest {
 protected:
  std::unique_ptr<MainWindow> window;
  std::vector<RecordedMessage> messages;
  std::deque<std::vector<std::string>> fileAnswers;  // one per chooser call; empty = cancel
  std::deque<std::string> folderAnswers;             // one per call; empty = cancel
  int fileChooserCalls = 0;
  int folderChooserCalls = 0;
  std::vector<std::string> openedFolders;
  int beeps = 0;
  std::vector<std::string> questions;  // asked Ja/Nein
  std::deque<bool> yesNoAnswers;       // one per question; none left = "Nein"
  std::vector<int> compareOpens;              // indexes handed to the compare window
  int guideOpens = 0;
  std::vector<bool> profileDevelopmentOpens;  // the resume flags
  int benchmarkRunsOpens = 0;
  bool benchmarkRunActive = false;
  bool benchmarkRunPaused = false;

  void SetUp() override;
  void TearDown() override;

  void AddFiles(const std::vector<std::string>& paths) {
    fileAnswers.push_back(paths);
    window->DispatchCommand(2001);
  }
  // Drops the paths as file URLs onto the window; true when it took them.
  bool DropPaths(const std::vector<std::string>& paths);
  std::vector<std::string> ListLines(int controlId) const;  // 1001 or 1002
  std::string Text(int controlId) const { return ControlText(window->ControlById(controlId)); }
  void SetOutputEditText(const std::string& text) {
    qobject_cast<QLineEdit*>(window->ControlById(1005))->setText(QString::fromStdString(text));
  }
  void FocusWidget(QWidget* widget) {
    widget->setFocus(Qt::OtherFocusReason);
    QCoreApplication::processEvents();
    ASSERT_EQ(QApplication::focusWidget(), widget);
  }
  // A key press and release through Qt's own routing (focus, shortcuts).
  void PressKey(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus ? focus : window.get(), static_cast<Qt::Key>(key), modifiers);
  }
  bool CopyTestPhoto(const std::string& targetPath, const std::string& name = "skimage_chelsea_q95.jpg") {
    return CopyFileBytes(JoinPath(ORVEL_TEST_IMAGES, name), targetPath);
  }
  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> texts;
    for (const RecordedMessage& message : messages) texts.push_back(message.text);
    return texts;
  }
};
