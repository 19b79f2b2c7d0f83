// The compare window: source and optimised image side by side at one zoom
// (100 to 800 %, or fitted whole) and one pan offset, with "◀" / "▶" to step
// through the last batch's results (or the image list), a position label, a
// zoom label, a zoom slider and the "Einpassen" button. Keys: the arrows,
// 0 (fit), Q (the quality map over the result pane), W (to the worst
// analysis window, then the next-worst), Escape.
//
// At most one exists. It is a top-level window owned by the main window
// (it stays above it and goes with it) and is destroyed when closed; what it
// shows lives on in the process-wide CompareState (compare_view.h), which
// holds the logic. Buttons and keys end in CompareWindow::DispatchCommand,
// which takes the numeric control id, so tests drive the window without a
// mouse. The controls take no keyboard focus: the arrow keys and Escape
// always reach the window itself.
//
// The two refusals of OpenCompareWindow are message boxes; tests replace
// them through SetCompareMessageSink.
#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <string>

class QLabel;
class QPushButton;
class QSlider;

enum class CompareMessageIcon { Information, Error };

// Replaces the message boxes (an empty function restores them).
void SetCompareMessageSink(
    std::function<void(const std::string& title, const std::string& text, CompareMessageIcon icon)>
        sink);

class CompareWindow : public QWidget {
 public:
  explicit CompareWindow(QWidget* owner);
  ~CompareWindow() override;

  // 3001 previous, 3002 next, 3003 the slider moved (its position is read),
  // 3006 fitting on or off (key 0), 3007 the quality map on or off (key Q),
  // 3008 to the worst window, then the next-worst (key W).
  void DispatchCommand(int id);

  // The control with that id (3001 to 3006), or null.
  QWidget* ControlById(int id) const;

  // Applies ComputeCompareControls to the controls and the title.
  void RefreshControls();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void LayoutControls();
  void SetZoom(int zoom);
  // One wheel event's zoom step; false (not used) for a sideways wheel.
  bool ApplyWheel(int delta);
  void StopDragging();
  // The zoom the panes show, per cent of device pixels (the fitted one too).
  int ShownZoom() const;
  // Repaints the two panes only (a pan step changes nothing else).
  void UpdatePanes();

  QPushButton* previousButton_ = nullptr;
  QPushButton* nextButton_ = nullptr;
  QLabel* positionLabel_ = nullptr;
  QLabel* zoomLabel_ = nullptr;
  QSlider* zoomTrackbar_ = nullptr;
  QPushButton* fitButton_ = nullptr;
  std::map<int, QWidget*> controls_;  // control id -> widget
};

// Opens the window on entry `index` of the browsed list; -1 picks the
// selected result or image. Shows a message instead when there is nothing to
// browse or the image cannot be decoded. Zoom and pan start from 100 % and 0.
// An existing window is refreshed, restored and raised instead of a second
// one being created. `owner` is the main window.
void OpenCompareWindow(QWidget* owner, int index);

// Steps -1 or +1 through the browsed list.
void NavigateCompare(int step);

// Refreshes buttons, labels, slider and title while the window exists.
void UpdateCompareControls();

// The window, or null when none exists.
CompareWindow* ActiveCompareWindow();

// Installs the compare and guide windows as the main window's openers (F6,
// "Bildvergleich öffnen", the end of a batch, "Anleitung & Erklärung").
void InstallCompareAndGuideWindows(QWidget* mainWindow);
