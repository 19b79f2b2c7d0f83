// The guide window: the built-in user documentation (guide_text.h) in a
// read-only text control whose text can still be selected, copied and
// scrolled.
//
// At most one exists: a top-level window owned by the main window (command
// 2201, "Anleitung & Erklärung"), destroyed when closed, also with Escape. A
// second request restores and raises the existing window. The window passes
// the keyboard focus on to its text control, which leaves Escape to it.
#pragma once

#include <QWidget>

class QTextEdit;

class GuideWindow : public QWidget {
 public:
  explicit GuideWindow(QWidget* owner);
  ~GuideWindow() override;

  QTextEdit* TextControl() const { return text_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QTextEdit* text_ = nullptr;
};

// Opens the guide window owned by `owner`, or restores and raises the one
// that exists.
void OpenGuideWindow(QWidget* owner);

// The window, or null when none exists.
GuideWindow* ActiveGuideWindow();
