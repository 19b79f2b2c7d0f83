// The main window: construction, menus, layout, command dispatch, keys and
// close handling; see main_window.h. The image lists are in
// main_image_list.cpp, the batch and the live status in main_batch.cpp, the
// drawing in main_painting.cpp.
#include "ui/main/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollArea>
#include <QStyle>
#include <QStatusBar>
#include <QTextDocument>
#include <algorithm>
#include <QThread>

#include "engines/engine_store.h"
#include "core/live_status.h"
#include "core/profiles.h"
#include "platform/files.h"
#include "ui/main/app_icon.h"
#include "ui/main/fonts.h"
#include "ui/main/live_status_text.h"
#include "ui/main/main_commands.h"
#include "ui/main/main_layout.h"
#include "ui/main/main_painting.h"
#include "ui/main/main_texts.h"
#include "ui/main/main_window_state.h"
#include "ui/main/qt_helpers.h"
#include "ui/main/results_table.h"
#include "ui/main/window_names.h"

// The client area: paints the decoration and lays out the controls whenever
// its size changes. Takes the keyboard focus when its background is clicked.
class MainClientArea : public QWidget {
 public:
  explicit MainClientArea(MainWindow* window) : QWidget(window), window_(window) {
    setFocusPolicy(Qt::ClickFocus);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    PaintMainWindow(painter, width(), height(), window_->liveStatusGrowth_);
  }
  void resizeEvent(QResizeEvent*) override {
    window_->LayoutControls();
    update();
  }

 private:
  MainWindow* window_;
};

// The central widget: the client area in a scroll area, and the status bar
// at the foot, placed by PlaceMainContent whenever the size changes.
class MainFrame : public QWidget {
 public:
  explicit MainFrame(MainWindow* window) : QWidget(window), window_(window) {}

 protected:
  void resizeEvent(QResizeEvent*) override { window_->PlaceClientArea(); }

 private:
  MainWindow* window_;
};

namespace {

// A menu text with its "&" shown as such rather than read as a mnemonic.
QString MenuText(const std::string& text) { return Text(text).replace(u'&', QStringLiteral("&&")); }

// The key of a menu label's shortcut part ("Strg+O", "F5"); none without one.
QKeySequence MenuShortcut(const std::string& text) {
  const std::size_t tab = text.find('\t');
  if (tab == std::string::npos) return QKeySequence();
  QString label = Text(text.substr(tab + 1));
  label.replace(QStringLiteral("Strg"), QStringLiteral("Ctrl"));
  return QKeySequence::fromString(label, QKeySequence::PortableText);
}

struct ChoiceGroups {
  QActionGroup* profiles;
  QActionGroup* modes;
};

// The exclusive group of a profile or mode item; none for other items.
QActionGroup* ChoiceGroupFor(int id, const ChoiceGroups& groups) {
  if (id >= kCmdFirstProfile && id < kCmdFirstProfile + kProfileCount) return groups.profiles;
  if (id >= kCmdFirstMode && id < kCmdFirstMode + kComputeModeCount) return groups.modes;
  return nullptr;
}
bool OnUiThread() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QString::fromUtf8(kMainWindowName));
  setWindowTitle(QString::fromUtf8(kMainWindowTitle));
  setWindowIcon(ApplicationIcon());
  // Qt sizes the window without its frame; the window manager adds that.
  // On a small screen the window opens at what fits, and may be made as
  // small as that.
  const QSize opened = ResizeToFitScreen(this, kMainWindowWidth, kMainWindowHeight);
  setMinimumSize(std::min(kMainWindowMinimumWidth, opened.width()),
                 std::min(kMainWindowMinimumHeight, opened.height()));
  setAcceptDrops(true);

  ResetMainState();
  RefreshEngineAvailability();
  BuildMenuBar();
  CreateControls();
  // The pipeline calls the hooks on whatever thread runs it; only the UI
  // thread may touch the widgets (a batch's worker threads leave it to the
  // batch's own pumping).
  SetFrontEndHooks(FrontEndHooks{[this](bool force) {
                                   if (OnUiThread()) RefreshLiveStatusDisplay(force);
                                 },
                                 []() {
                                   if (OnUiThread()) QCoreApplication::processEvents(QEventLoop::AllEvents);
                                 }});
  UpdateSelectionMarks();
  LayoutControls();
  clientArea_->setFocus();
}

MainWindow::~MainWindow() { SetFrontEndHooks(FrontEndHooks{}); }

void MainWindow::BuildMenuBar() {
  QMenuBar* bar = menuBar();
  ChoiceGroups groups{new QActionGroup(this), new QActionGroup(this)};
  for (const MenuEntry& entry : BuildMenuBarTable()) {
    QMenu* menu = bar->addMenu(MenuText(entry.title));
    for (const MenuItemEntry& item : entry.items) {
      if (item.id == 0) {
        menu->addSeparator();
        continue;
      }
      // The part after "\t" is drawn in the shortcut column and bound as the
      // item's key, so it works wherever the focus is inside the window.
      QAction* action = menu->addAction(MenuText(item.text));
      // The profiles are one choice among six, the modes one among three.
      if (QActionGroup* group = ChoiceGroupFor(item.id, groups)) group->addAction(action);
      action->setShortcut(MenuShortcut(item.text));
      action->setShortcutContext(Qt::WindowShortcut);
      action->setData(item.id);
      action->setCheckable(item.checkable);
      const int id = item.id;
      connect(action, &QAction::triggered, this, [this, id]() {
        DispatchCommand(id);
        // Qt toggles a checkable item by itself; the marks follow the
        // selection, also when the command was ignored.
        ApplyCheckMarks();
      });
      actions_[id] = action;
    }
  }
  actions_[kCmdStopBatch]->setEnabled(false);  // until a batch runs
}

void MainWindow::CreateControls() {
  frame_ = new MainFrame(this);
  setCentralWidget(frame_);
  scrollArea_ = new QScrollArea(frame_);
  scrollArea_->setFrameShape(QFrame::NoFrame);
  scrollArea_->setWidgetResizable(false);
  scrollArea_->setFocusPolicy(Qt::NoFocus);  // the keys stay with the controls
  clientArea_ = new MainClientArea(this);
  scrollArea_->setWidget(clientArea_);
  const SharedFonts& fonts = Fonts();

  imageList_ = new QListWidget(clientArea_);
  imageList_->setSelectionMode(QAbstractItemView::SingleSelection);
  imageList_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  imageList_->setUniformItemSizes(true);
  previewPane_ = new PreviewPane(clientArea_);
  liveStatusText_ = new QPlainTextEdit(clientArea_);
  liveStatusText_->setReadOnly(true);
  liveStatusText_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  progressBar_ = new QProgressBar(clientArea_);
  progressBar_->setTextVisible(false);
  progressBar_->setRange(0, 1000);
  progressBar_->setValue(0);
  outputFolderEdit_ = new QLineEdit(clientArea_);
  chooseButton_ = new ActionButton(kIdChooseButton, clientArea_);
  startButton_ = new ActionButton(kIdStartButton, clientArea_);
  resultsList_ = new ResultsTable(clientArea_);
  statusBar_ = new QStatusBar(frame_);
  statusBar_->setSizeGripEnabled(false);
  // A status bar of the system's colour, not the window's tint.
  statusBar_->setAutoFillBackground(true);
  statusBar_->showMessage(QString::fromUtf8(kStatusReady));
  selectionLabel_ = new QLabel(statusBar_);
  statusBar_->addPermanentWidget(selectionLabel_);

  imageList_->setFont(fonts.bodyFont);
  resultsList_->setFont(fonts.bodyFont);
  QFont headerFont = fonts.smallFont;
  headerFont.setWeight(QFont::DemiBold);
  resultsList_->horizontalHeader()->setFont(headerFont);
  liveStatusText_->setFont(fonts.smallFont);
  outputFolderEdit_->setFont(fonts.bodyFont);
  chooseButton_->setFont(fonts.emphasisFont);
  startButton_->setFont(fonts.emphasisFont);
  statusBar_->setFont(fonts.smallFont);
  selectionLabel_->setFont(fonts.smallFont);

  controls_ = {{kIdImageList, imageList_},         {kIdResultsList, resultsList_},
               {kIdOutputFolderEdit, outputFolderEdit_}, {kIdStatusBar, statusBar_},
               {kIdStartButton, startButton_},     {kIdChooseButton, chooseButton_},
               {kIdLiveStatusText, liveStatusText_}};
  for (const auto& [id, widget] : controls_) widget->setProperty("controlId", id);

  connect(imageList_, &QListWidget::itemSelectionChanged, this, [this]() {
    const QList<QListWidgetItem*> selected = imageList_->selectedItems();
    MainState().selectedImageRow = selected.isEmpty() ? -1 : imageList_->row(selected.front());
    DispatchCommand(kIdImageList, kNotifySelectionChanged);
  });
  // The results list issues no command; its selection is only recorded (the
  // first selected row, which the compare window opens on).
  connect(resultsList_, &QTableWidget::itemSelectionChanged, this, [this]() {
    const std::vector<int> selected = resultsList_->SelectedRows();
    MainState().selectedResultRow = selected.empty() ? -1 : selected.front();
  });
  // A double-click compares that image, as "Bildvergleich öffnen" would.
  connect(resultsList_, &QTableWidget::itemDoubleClicked, this, [this](QTableWidgetItem* item) {
    if (!MainState().batchRunning) InvokeCompareWindowOpener(item->row());
  });
  connect(startButton_, &QAbstractButton::clicked, this, [this]() { DispatchCommand(kIdStartButton); });
  connect(chooseButton_, &QAbstractButton::clicked, this, [this]() { DispatchCommand(kIdChooseButton); });
}

int MainWindow::LiveStatusTextWidth(int boxWidth) const {
  const int margin = static_cast<int>(liveStatusText_->document()->documentMargin());
  return boxWidth - 2 * liveStatusText_->frameWidth() - 2 * margin;
}

QString MainWindow::WrapLiveStatus(const std::string& text) const {
  const QFontMetrics metrics(liveStatusText_->font());
  const std::vector<std::string> lines = WrapLiveStatusLines(
      text, "\n", LiveStatusTextWidth(liveStatusText_->width()),
      [&metrics](const std::string& part) { return metrics.horizontalAdvance(QString::fromUtf8(part)); });
  QStringList shown;
  for (const std::string& line : lines) shown << QString::fromUtf8(KeepFiguresTogether(line));
  return shown.join(u'\n');
}

void MainWindow::LayoutControls() {
  if (!clientArea_) return;
  // The live-status box grows, where the results list can spare it, until a
  // batch's longest text fits it whole at this width.
  const int width = clientArea_->width();
  const int height = clientArea_->height();
  const int boxWidth = LayoutMainWindow(width, height).liveStatusText.width;
  const QFontMetrics metrics(liveStatusText_->font());
  const std::size_t lines =
      WrapLiveStatusLines(LongestLiveStatusText("\n"), "\n", LiveStatusTextWidth(boxWidth),
                          [&metrics](const std::string& part) {
                            return metrics.horizontalAdvance(QString::fromUtf8(part));
                          })
          .size();
  const int wanted = static_cast<int>(lines) * metrics.lineSpacing() + boxWidth -
                     LiveStatusTextWidth(boxWidth) + 2;
  liveStatusGrowth_ = LiveStatusGrowth(height, wanted);
  const MainWindowLayout layout = LayoutMainWindow(width, height, liveStatusGrowth_);
  PlaceWidget(imageList_, layout.imageList);
  PlaceWidget(previewPane_, layout.previewPane);
  PlaceWidget(outputFolderEdit_, layout.outputFolderEdit);
  PlaceWidget(chooseButton_, layout.chooseButton);
  PlaceWidget(startButton_, layout.startButton);
  PlaceWidget(liveStatusText_, layout.liveStatusText);
  PlaceWidget(progressBar_, layout.progressBar);
  PlaceWidget(resultsList_, layout.resultsList);
  FitImageListLines();
}

void MainWindow::PlaceClientArea() {
  if (!frame_) return;
  const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scrollArea_);
  const MainContentPlacement placement =
      PlaceMainContent(PixelSize{frame_->width(), frame_->height()}, extent);
  const Qt::ScrollBarPolicy policy = placement.scrolls ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
  scrollArea_->setHorizontalScrollBarPolicy(policy);
  scrollArea_->setVerticalScrollBarPolicy(policy);
  PlaceWidget(scrollArea_, placement.scrollArea);
  clientArea_->resize(placement.content.width, placement.content.height);
  PlaceWidget(statusBar_, placement.statusBar);
  statusBar_->raise();
}

QWidget* MainWindow::ControlById(int id) const {
  const auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

QAction* MainWindow::MenuAction(int id) const {
  const auto found = actions_.find(id);
  return found == actions_.end() ? nullptr : found->second;
}

QString MainWindow::SelectionText() const {
  return Text(SelectionStatus(ProfileAt(currentProfile.load()).label,
                              ComputeModeName(currentMode.load())));
}

QString MainWindow::StatusText() const { return statusBar_->currentMessage(); }

void MainWindow::SetStatusText(const std::string& text) { statusBar_->showMessage(Text(text)); }

void MainWindow::ApplyCheckMarks() {
  for (int k = 0; k < kProfileCount; ++k) {
    actions_[kCmdFirstProfile + k]->setChecked(k == currentProfile.load());
  }
  for (int k = 0; k < kComputeModeCount; ++k) {
    actions_[kCmdFirstMode + k]->setChecked(k == currentMode.load());
  }
}

void MainWindow::UpdateSelectionMarks() {
  // Out-of-range selections fall back to the recommended profile.
  if (currentProfile.load() < 0 || currentProfile.load() >= kProfileCount) {
    currentProfile.store(kDefaultProfile);
  }
  ApplyCheckMarks();
  selectionLabel_->setText(SelectionText());
  if (!MainState().batchRunning) RefreshLiveStatus(true);
  menuBar()->update();
  clientArea_->update();
}

void MainWindow::DispatchCommand(int id, int notification) {
  if (id == kCmdStopBatch) {
    StopBatch();
    return;
  }
  if (MainState().batchRunning) return;
  if (id >= kCmdFirstProfile && id < kCmdFirstProfile + kProfileCount) {
    currentProfile.store(id - kCmdFirstProfile);
    UpdateSelectionMarks();
    return;
  }
  if (id >= kCmdFirstMode && id < kCmdFirstMode + kComputeModeCount) {
    currentMode.store(id - kCmdFirstMode);
    UpdateSelectionMarks();
    return;
  }
  switch (id) {
    case kIdImageList:
      if (notification == kNotifySelectionChanged) ShowSelectedPreview();
      return;
    case kIdStartButton:
    case kCmdStartBatch:
      RunBatch();
      return;
    case kIdChooseButton:
    case kCmdChooseOutputFolder: {
      std::string folder;
      if (ChooseOutputFolder(folder)) {
        MainState().outputFolder = folder;
        outputFolderEdit_->setText(PathText(folder));
      }
      return;
    }
    case kCmdAddImages:
      AddImages();
      return;
    case kCmdClearImageList:
      ClearImageList();
      return;
    case kCmdExit:
      // Posted, as a close request from the menu arrives after the menu has gone.
      QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
      return;
    case kCmdOpenCompareWindow:
      InvokeCompareWindowOpener(-1);
      return;
    case kCmdOpenOutputFolder:
      OpenOutputFolder();
      return;
    case kCmdOpenEngineFolder:
      OpenEngineFolder();
      return;
    case kCmdOpenGuide:
      InvokeGuideWindowOpener();
      return;
    case kCmdAbout:
      ShowMessage(kTitleAbout, AboutText(), MessageIcon::Information);
      return;
    case kCmdEncoderStatus:
      RefreshEngineAvailability();
      UpdateSelectionMarks();
      ShowMessage(kTitleEncoderStatus, BuildEncoderStatusReport(), MessageIcon::Information);
      return;
    case kCmdProfileDevelopment:
      InvokeProfileDevelopmentOpener(false);
      return;
    case kCmdProfileDevelopmentResume:
      InvokeProfileDevelopmentOpener(true);
      return;
    case kCmdOpenBenchmarkRuns:
      InvokeBenchmarkRunsOpener();
      return;
    default:
      return;
  }
}

void MainWindow::OpenOutputFolder() {
  const std::string folder = NativePath(outputFolderEdit_->text());
  if (!folder.empty()) OpenFolderInFileManager(folder);
}

void MainWindow::OpenEngineFolder() {
  const std::string& folder = Engines().engineFolder;
  if (!folder.empty() && IsDirectory(folder)) {
    OpenFolderInFileManager(folder);
    return;
  }
  ShowMessage(kTitleEncoder, kMessageEnginesMissing, MessageIcon::Warning);
}

void MainWindow::ShowMessage(const std::string& title, const std::string& text, MessageIcon icon) {
  if (const auto& show = ActiveMainWindowDialogs().showMessage) {
    show(title, text, icon);
    return;
  }
  const bool warning = icon == MessageIcon::Warning;
  ExecPlainMessageBox(warning ? QMessageBox::Warning : QMessageBox::Information, Text(title),
                      Text(ToDisplayLineEnds(text)), QMessageBox::Ok, this);
}

void MainWindow::RefuseWhileBatchRuns() {
  if (const auto& beep = ActiveMainWindowDialogs().beep) beep();
  else QApplication::beep();
  SetStatusText(kStatusWaitForBatch);
}

bool MainWindow::AskYesNo(const std::string& title, const std::string& text) {
  if (const auto& ask = ActiveMainWindowDialogs().askYesNo) return ask(title, text);
  return ExecPlainMessageBox(QMessageBox::Question, Text(title), Text(text),
                             QMessageBox::Yes | QMessageBox::No, this) == QMessageBox::Yes;
}

void MainWindow::CloseForTermination() {
  if (!MainState().batchRunning) {
    close();
    return;
  }
  closeAfterBatch_ = true;
  StopBatch();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (MainState().batchRunning) {
    event->ignore();
    // A stop already under way ends in the close that was asked for.
    if (MainState().batchStopRequested && closeAfterBatch_) return;
    if (AskYesNo(kProductName, kQuestionStopBatchAndClose) && MainState().batchRunning) {
      closeAfterBatch_ = true;
      StopBatch();
    }
    return;
  }
  if (IsBenchmarkRunActive()) {
    ShowMessage(kProductName,
                IsBenchmarkRunPaused() ? kMessagePausedBenchmarkBlocksClose : kMessageBenchmarkBlocksClose,
                MessageIcon::Information);
    event->ignore();
    return;
  }
  event->accept();
  emit closed();
}
