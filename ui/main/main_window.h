// The main window: menu bar, image list, preview pane, output folder, start
// button, live status with progress bar, results list and status bar.
//
// Every menu item, button, list notification and key ends in
// DispatchCommand, which takes the numeric command id (main_commands.h) and
// ignores everything but the stop while a batch runs. The batch runs its
// images on worker threads while the UI thread pumps events (main_batch.cpp); the
// image list and the results list live in main_image_list.cpp; drawing in
// main_painting.cpp. The state other windows read is the Qt-free
// MainWindowState (main_window_state.h); outside calls (other windows,
// dialogs, beep) go through main_window_hooks.h.
//
// Photos and folders dropped on the window join the image list as the
// chooser's files do (folders searched for JPEG files); while a batch runs a
// drop is refused with the beep and the waiting text, as a close is.
//
// Every way of closing the window, the title bar's button as well as
// "Beenden" and SIGTERM/SIGINT (application.cpp), runs through closeEvent.
// While a batch runs it asks whether to stop it and close; "Ja" stops the
// batch and closes once the images in flight have ended. It refuses while a
// profile-development run is active. An accepted close emits `closed`, which
// ends the event loop.
//
// Keys: every shortcut a menu item shows ("Strg+O", "F5", "F6", "Esc") is bound to
// that item for the whole window, whichever control holds the focus, and runs
// through DispatchCommand like a click on the item, with the same refusals.
#pragma once

#include <QMainWindow>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ui/main/main_window_hooks.h"

class ActionButton;
struct BatchOutcome;
struct QualityProfile;
class PreviewPane;
class QAction;
class QActionGroup;
class QLabel;
class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QScrollArea;
class QStatusBar;
class ResultsTable;

constexpr int kMainWindowWidth = 1380;   // pixels
constexpr int kMainWindowHeight = 820;   // pixels
constexpr int kMainWindowMinimumWidth = 1120;
constexpr int kMainWindowMinimumHeight = 720;
constexpr const char* kMainWindowTitle = "Orvel JPEG Optimizer";

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // The one entry of every command; `notification` tells the image list's
  // notifications apart (kNotifySelectionChanged).
  void DispatchCommand(int id, int notification = 0);

  // Check marks, live status and repaint after a profile or mode change.
  void UpdateSelectionMarks();

  // The batch over the image list (main_batch.cpp).
  void RunBatch();
  // Asks a running batch to stop: no further image starts, the tools of the
  // images in flight are killed. Returns at once; RunBatch ends when the
  // images in flight have.
  void StopBatch();
  // A termination signal (SIGTERM, SIGINT): a running batch stops without
  // asking, as a session ending cannot wait for an answer, and the window
  // closes once the images in flight have ended; otherwise an ordinary close.
  void CloseForTermination();

  // Files and folders given on the command line, added as a drop adds them.
  void AddStartImages(const std::vector<std::string>& paths) { AddImagePathsToList(paths); }

  // Rebuilds the live-status text and progress bar; not forced, at most
  // every 250 ms. Installed as the core's status hook.
  void RefreshLiveStatusDisplay(bool force);

  // The profile and mode the status bar shows beside its message.
  QString SelectionText() const;

  // The widgets, for the window's own modules and for tests.
  QWidget* ClientArea() const { return clientArea_; }
  QWidget* ControlById(int id) const;
  QAction* MenuAction(int id) const;
  PreviewPane* Preview() const { return previewPane_; }
  QProgressBar* ProgressBar() const { return progressBar_; }
  QString StatusText() const;
  void SetStatusText(const std::string& text);

 signals:
  // The window accepted a close request; the program ends.
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  friend class MainClientArea;
  friend class MainFrame;

  void BuildMenuBar();
  void CreateControls();
  void LayoutControls();
  // The scroll area, the client area's size and the status bar for the
  // central widget's size.
  void PlaceClientArea();
  // The live-status text as its box shows it: broken at separators only.
  QString WrapLiveStatus(const std::string& text) const;
  int LiveStatusTextWidth(int boxWidth) const;
  void ApplyCheckMarks();
  void ShowMessage(const std::string& title, const std::string& text, MessageIcon icon);
  bool AskYesNo(const std::string& title, const std::string& text);
  void OpenOutputFolder();
  void OpenEngineFolder();
  // Beep and "Bitte warten …" in the status bar: the answer to a close or a
  // drop while a batch runs.
  void RefuseWhileBatchRuns();

  // Image list and results list (main_image_list.cpp).
  void AddImages();
  // Files and folders from the chooser or a drop into the list; refreshes the
  // list, the output folder edit and the status bar.
  void AddImagePathsToList(const std::vector<std::string>& paths);
  bool ChooseImageFiles(std::vector<std::string>& paths);
  bool ChooseOutputFolder(std::string& folder);
  void ClearImageList();
  void RefreshImageList();
  void FitImageListLines();
  void ShowSelectedPreview();
  void RefreshResultList();
  void SetPreviewEmpty();

  // Batch steps (main_batch.cpp).
  bool ValidateBatchStart();
  // The start button, the stop item and the flags for a batch starting or ended.
  void SetBatchRunning(bool running);
  // Live status and status bar for the image the record shows (UI thread).
  void ShowBatchProgress(const std::vector<std::string>& sources);
  void RecordBatchResult(const std::vector<std::string>& sources, std::size_t index,
                         BatchOutcome& outcome, const QualityProfile& profile);

  QWidget* frame_ = nullptr;            // central widget: scroll area and status bar
  QScrollArea* scrollArea_ = nullptr;
  QWidget* clientArea_ = nullptr;       // the content: decoration and controls
  QListWidget* imageList_ = nullptr;
  PreviewPane* previewPane_ = nullptr;
  QPlainTextEdit* liveStatusText_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QLineEdit* outputFolderEdit_ = nullptr;
  ActionButton* chooseButton_ = nullptr;
  ActionButton* startButton_ = nullptr;
  ResultsTable* resultsList_ = nullptr;
  QStatusBar* statusBar_ = nullptr;
  QLabel* selectionLabel_ = nullptr;   // the profile and mode, on the status bar's right
  std::pair<std::uint64_t, std::uint64_t> shownBatchImage_;  // shownImage, imageIndex in the status bar
  bool closeAfterBatch_ = false;        // a close was confirmed while the batch ran
  int liveStatusGrowth_ = 0;            // pixels the live-status box is taller than designed
  std::map<int, QWidget*> controls_;   // control id -> widget
  std::map<int, QAction*> actions_;    // menu command id -> item
};
