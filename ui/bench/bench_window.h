// The profile-development window: the control panel of the offline benchmark.
//
// The user picks the image collection, sets the two sampling limits and the
// test depth, starts the analysis and can pause, continue or cancel it; the
// window shows progress, the current image and candidate, counts and run
// time, and at the end where the raw data lie. At most one exists; it is a
// top-level window owned by the main window. It holds no state of its own:
// every refresh derives what it shows from the process-wide
// BenchmarkSession (bench/session.h) through bench_window_logic.h.
//
// The measuring runs on the benchmark worker (bench/worker.h). Its two
// notifications arrive here as queued calls on the UI thread: progress
// refreshes, the end of a run joins the ended thread (the only time this
// window waits for the worker) and shows the final message. A 300 ms timer
// refreshes as well, for the run time.
//
// Every button ends in DispatchCommand with the control's id, so tests press
// buttons without a mouse. Closing is refused while a run is active, also
// while it is paused.
//
// InstallProfileDevelopmentWindow connects the window to the main window:
// its commands 2250 (new), 2251 (resume) and 2252 (open the runs folder)
// through main_window_hooks.h, the question whether a run is active (the main
// window refuses closing and batches then), the worker's notifications, and
// the shortcuts Ctrl+Shift+P, Ctrl+Shift+R and Ctrl+Shift+B that issue the
// three commands through the main window's dispatch.
#pragma once

#include <QWidget>
#include <cstdint>
#include <map>
#include <string>

#include "bench/worker.h"
#include "ui/bench/bench_window_logic.h"

class MainWindow;
class QCloseEvent;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

class ProfileDevelopmentWindow : public QWidget {
 public:
  explicit ProfileDevelopmentWindow(QWidget* owner);
  ~ProfileDevelopmentWindow() override;

  // The buttons' commands (4102, 4106 to 4109); a command of a disabled
  // button does nothing.
  void DispatchCommand(int id);

  // Brings every display element up to date from the session.
  void RefreshBenchWindow();

  // The worker's thread has reported its end.
  void HandleRunEnded(bool complete);

  // Puts a loaded session's root, limits and depth into the fields.
  void ShowLoadedSession(const BenchmarkSession& session);

  // The controls with an id, for tests and the render program.
  QWidget* ControlById(int id) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  void LayoutControls();
  void ChooseRootFolder();
  void StartProfileTest();
  void PauseRun();
  void ContinueRun();
  void CancelRun();
  void ShowMessage(const std::string& text, BenchMessageIcon icon);
  bool AskYesNo(const std::string& text);

  QLineEdit* rootField_ = nullptr;
  QPushButton* folderButton_ = nullptr;
  QLineEdit* perFolderField_ = nullptr;
  QLineEdit* totalField_ = nullptr;
  QComboBox* depthBox_ = nullptr;
  QPushButton* startButton_ = nullptr;
  QPushButton* pauseButton_ = nullptr;
  QPushButton* continueButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QLabel* statusLine_ = nullptr;
  QLabel* progressLine_ = nullptr;
  QLabel* countsLine_ = nullptr;
  QTimer* refreshTimer_ = nullptr;
  std::map<int, QWidget*> controls_;  // control id -> widget
};

// The window when it exists, else nullptr.
ProfileDevelopmentWindow* CurrentBenchWindow();

// Raises the existing window, or creates it; with `resume` the saved session
// is loaded first and shown in the fields. Owned by the installed main window.
void OpenProfileDevelopmentWindow(bool resume);

// Starts the worker for the window's session (a new run or a continued one)
// and notes which run the next end report belongs to. False when the worker
// did not start.
bool StartBenchmarkRunFromWindow();

// The end of a run, on the UI thread: joins the ended thread, refreshes the
// main window's resume shortcut and lets the window (when it exists) refresh
// and show the final message. `run` is the run the report belongs to; a
// report of an older run only refreshes.
void HandleBenchmarkRunEnded(bool complete, std::uint64_t run);

// Opens the folder of the runs in the desktop's file manager (through the
// main window's folder seam when one is installed).
void OpenBenchmarkRunsFolder();

// Enables the main window's resume shortcut exactly while a session file
// exists. Called after a run is created or ends and when the main window
// becomes active.
void RefreshResumeCommand();

// The worker notifications this module uses: each posts a queued call to
// the UI thread.
BenchmarkNotifications MakeBenchWindowNotifications();

// Connects the window to the main window (see the top of this file).
void InstallProfileDevelopmentWindow(MainWindow& mainWindow);

// Removes what Install added: hooks, notifications and shortcuts, and closes
// a window that exists (tests; no run may be active).
void UninstallProfileDevelopmentWindow();
