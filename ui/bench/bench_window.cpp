// The profile-development window's widgets: creation, layout, painting, the
// buttons, the refresh and the close refusal; see bench_window.h. The rules
// it applies are in bench_window_logic.cpp, its connection to the main
// window in bench_window_install.cpp.
#include "ui/bench/bench_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTimer>
#include <algorithm>

#include "bench/raw_results.h"
#include "bench/sampling.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"
#include "ui/main/fonts.h"
#include "ui/main/main_texts.h"
#include "ui/main/qt_helpers.h"
#include "ui/main/window_names.h"

namespace {

// Longest root folder text a start reads, in characters.
constexpr int kRootFieldLimit = 32767;

QPointer<ProfileDevelopmentWindow>& WindowPointer() {
  static QPointer<ProfileDevelopmentWindow> window;
  return window;
}

std::string FieldText(const QLineEdit* field) { return field->text().toStdString(); }

QColor ToColor(const BenchColor& color) { return QColor(color.red, color.green, color.blue); }

QLabel* MakeLine(QWidget* parent) {
  auto* line = new QLabel(parent);
  line->setTextFormat(Qt::PlainText);  // file names are shown as they are
  line->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  line->setWordWrap(true);
  return line;
}

QLineEdit* MakeNumberField(QWidget* parent, const char* initial) {
  auto* field = new QLineEdit(QString::fromUtf8(initial), parent);
  // Digits only; an emptied field is allowed and reads as the default.
  field->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), field));
  return field;
}

}  // namespace

ProfileDevelopmentWindow::ProfileDevelopmentWindow(QWidget* owner) : QWidget(owner, Qt::Window) {
  setObjectName(QString::fromUtf8(kBenchWindowName));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(Text(kBenchWindowTitle));
  // Qt sizes the window without its frame; the window manager adds that.
  ResizeToFitScreen(this, kBenchWindowWidth, kBenchWindowHeight);
  WindowPointer() = this;
  CreateControls();
  LayoutControls();
  refreshTimer_ = new QTimer(this);
  refreshTimer_->setInterval(kBenchRefreshPeriodMs);
  connect(refreshTimer_, &QTimer::timeout, this, [this]() { RefreshBenchWindow(); });
  refreshTimer_->start();
  RefreshBenchWindow();
}

ProfileDevelopmentWindow::~ProfileDevelopmentWindow() {
  if (WindowPointer() == this) WindowPointer() = nullptr;
}

void ProfileDevelopmentWindow::CreateControls() {
  for (const BenchLabel& label : kBenchLabels) {
    auto* widget = new QLabel(Text(label.text), this);
    PlaceWidget(widget, label.rect);
  }
  rootField_ = new QLineEdit(this);
  rootField_->setReadOnly(true);
  folderButton_ = new QPushButton(Text(kBenchFolderButtonText), this);
  perFolderField_ = MakeNumberField(this, kBenchPerFolderInitial);
  totalField_ = MakeNumberField(this, kBenchTotalInitial);
  depthBox_ = new QComboBox(this);
  for (const char* item : kBenchDepthItems) depthBox_->addItem(Text(item));
  depthBox_->setCurrentIndex(kBenchDefaultDepth);
  startButton_ = new QPushButton(Text(kBenchStartButtonText), this);
  pauseButton_ = new QPushButton(Text(kBenchPauseButtonText), this);
  continueButton_ = new QPushButton(Text(kBenchContinueButtonText), this);
  cancelButton_ = new QPushButton(Text(kBenchCancelButtonText), this);
  progressBar_ = new QProgressBar(this);
  progressBar_->setTextVisible(false);
  statusLine_ = MakeLine(this);
  progressLine_ = MakeLine(this);
  countsLine_ = MakeLine(this);

  controls_ = {{kBenchIdRootField, rootField_},          {kBenchIdFolderButton, folderButton_},
               {kBenchIdPerFolderField, perFolderField_}, {kBenchIdTotalField, totalField_},
               {kBenchIdDepthBox, depthBox_},            {kBenchIdStartButton, startButton_},
               {kBenchIdPauseButton, pauseButton_},      {kBenchIdContinueButton, continueButton_},
               {kBenchIdCancelButton, cancelButton_},    {kBenchIdProgressBar, progressBar_},
               {kBenchIdStatusLine, statusLine_},        {kBenchIdProgressLine, progressLine_},
               {kBenchIdCountsLine, countsLine_}};
  const SharedFonts& fonts = Fonts();
  for (const auto& [id, widget] : controls_) {
    widget->setProperty("controlId", id);
    // The labels keep the system font, as does the progress bar.
    if (fonts.created && id != kBenchIdProgressBar) widget->setFont(fonts.bodyFont);
  }
  if (fonts.created) startButton_->setFont(fonts.emphasisFont);

  for (QPushButton* button : {folderButton_, startButton_, pauseButton_, continueButton_, cancelButton_}) {
    const int id = button->property("controlId").toInt();
    connect(button, &QPushButton::clicked, this, [this, id]() { DispatchCommand(id); });
  }
}

void ProfileDevelopmentWindow::LayoutControls() {
  if (!rootField_) return;
  const BenchWindowLayout layout = LayoutBenchWindow(width());
  PlaceWidget(rootField_, layout.rootField);
  PlaceWidget(folderButton_, layout.folderButton);
  PlaceWidget(perFolderField_, layout.perFolderField);
  PlaceWidget(totalField_, layout.totalField);
  // The rectangle holds the opened list too; the closed box keeps its own
  // height and Qt opens the list below it.
  PixelRect depth = layout.depthBox;
  depth.height = std::min(depth.height, depthBox_->sizeHint().height());
  PlaceWidget(depthBox_, depth);
  PlaceWidget(startButton_, layout.startButton);
  PlaceWidget(pauseButton_, layout.pauseButton);
  PlaceWidget(continueButton_, layout.continueButton);
  PlaceWidget(cancelButton_, layout.cancelButton);
  PlaceWidget(progressBar_, layout.progressBar);
  PlaceWidget(statusLine_, layout.statusLine);
  PlaceWidget(progressLine_, layout.progressLine);
  PlaceWidget(countsLine_, layout.countsLine);
}

QWidget* ProfileDevelopmentWindow::ControlById(int id) const {
  const auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

void ProfileDevelopmentWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), ToColor(kBenchBackground));
  painter.fillRect(0, 0, width(), kBenchBandHeight, ToColor(kBenchBand));
  const PixelRect heading = BenchHeadingRect(width());
  painter.setPen(Qt::white);
  if (Fonts().created) painter.setFont(Fonts().emphasisFont);
  painter.drawText(ToQRect(heading),
                   Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, Text(kBenchHeading));
}

void ProfileDevelopmentWindow::resizeEvent(QResizeEvent*) {
  LayoutControls();
  update();
}

void ProfileDevelopmentWindow::closeEvent(QCloseEvent* event) {
  const BenchmarkSession& session = CurrentBenchmarkSession();
  if (session.running.load()) {
    ShowMessage(session.paused.load() ? kBenchMessageCloseRefusedPaused : kBenchMessageCloseRefused,
                BenchMessageIcon::Information);
    event->ignore();
    return;
  }
  // An interrupted session stays on disk for a later resume.
  refreshTimer_->stop();
  event->accept();
}

void ProfileDevelopmentWindow::DispatchCommand(int id) {
  QWidget* control = ControlById(id);
  if (control == nullptr || !control->isEnabled()) return;
  switch (id) {
    case kBenchIdFolderButton:
      ChooseRootFolder();
      return;
    case kBenchIdStartButton:
      StartProfileTest();
      return;
    case kBenchIdPauseButton:
      PauseRun();
      return;
    case kBenchIdContinueButton:
      ContinueRun();
      return;
    case kBenchIdCancelButton:
      CancelRun();
      return;
    default:
      return;
  }
}

void ProfileDevelopmentWindow::ChooseRootFolder() {
  std::string folder;
  bool chosen = false;
  if (const auto& choose = ActiveBenchWindowDialogs().chooseFolder) {
    chosen = choose(kBenchFolderDialogTitle, folder);
  } else {
    const QString picked = QFileDialog::getExistingDirectory(this, Text(kBenchFolderDialogTitle));
    folder = NativePath(picked);
    chosen = !picked.isEmpty();
  }
  if (chosen && !folder.empty()) rootField_->setText(PathText(folder));
}

void ProfileDevelopmentWindow::StartProfileTest() {
  BenchmarkSession& session = CurrentBenchmarkSession();
  // The start button is disabled then; the session's list must not change
  // under a running worker.
  if (session.running.load()) return;
  const std::string root = NativePath(rootField_->text().left(kRootFieldLimit));
  if (root.empty() || !IsDirectory(root)) {
    ShowMessage(kBenchMessageNoFolder, BenchMessageIcon::Information);
    return;
  }
  if (SessionFileExists() && !AskYesNo(kBenchQuestionReplaceSession)) return;

  const ProfileTestLimits limits = ReadProfileTestLimits(
      FieldText(perFolderField_), FieldText(totalField_), depthBox_->currentIndex());
  session.root = root;
  session.maxPerFolder = limits.maxPerFolder;
  session.maxTotal = limits.maxTotal;
  session.depth = limits.depth;
  statusLine_->setText(Text(kBenchStatusScanning));
  statusLine_->repaint();
  {
    WaitCursor waitCursor;
    ImageSample sample = SelectBalancedSample(session.root, session.maxPerFolder, session.maxTotal);
    session.images = std::move(sample.images);
    session.foldersFound = sample.foldersFound;
    session.imagesFound = sample.imagesFound;
  }
  if (session.images.empty()) {
    ShowMessage(kBenchMessageNoImages, BenchMessageIcon::Information);
  } else {
    session.nextIndex.store(0);
    session.completed.store(0);
    session.cancelRequested.store(false);
    session.paused.store(false);
    if (!CreateBenchmarkRun(session)) {
      ShowMessage(kBenchMessageRunNotCreated, BenchMessageIcon::Error);
      return;
    }
    RefreshResumeCommand();
    StartBenchmarkRunFromWindow();
  }
  RefreshBenchWindow();
}

void ProfileDevelopmentWindow::PauseRun() {
  PauseBenchmarkWorker(CurrentBenchmarkSession());
  RefreshBenchWindow();
}

void ProfileDevelopmentWindow::ContinueRun() {
  BenchmarkSession& session = CurrentBenchmarkSession();
  if (session.running.load()) {
    ContinueBenchmarkWorker(session, CurrentBenchmarkWorker());
  } else if (!session.images.empty() && session.completed.load() < session.images.size()) {
    StartBenchmarkRunFromWindow();  // continues at `nextIndex`
  }
  RefreshBenchWindow();
}

void ProfileDevelopmentWindow::CancelRun() {
  CancelBenchmarkWorker(CurrentBenchmarkSession(), CurrentBenchmarkWorker());
  // Stays until the next refresh shows the worker's state again.
  statusLine_->setText(Text(kBenchStatusCancelRequested));
}

void ProfileDevelopmentWindow::RefreshBenchWindow() {
  const BenchSnapshot snapshot =
      TakeBenchSnapshot(CurrentBenchmarkSession(), TickCountMs(), SessionFileExists());
  const BenchWindowView view = ComposeBenchWindowView(snapshot);
  progressBar_->setRange(0, view.progressMaximum);
  progressBar_->setValue(view.progressValue);
  statusLine_->setText(Text(view.statusText));
  progressLine_->setText(Text(view.progressText));
  countsLine_->setText(Text(view.countsText));
  pauseButton_->setEnabled(view.pauseEnabled);
  continueButton_->setEnabled(view.continueEnabled);
  cancelButton_->setEnabled(view.cancelEnabled);
  startButton_->setEnabled(view.startEnabled);
  folderButton_->setEnabled(view.folderEnabled);
}

void ProfileDevelopmentWindow::HandleRunEnded(bool complete) {
  RefreshBenchWindow();
  if (complete) {
    ShowMessage(RunFinishedMessage(CurrentBenchmarkSession().csvPath), BenchMessageIcon::Information);
  }
}

void ProfileDevelopmentWindow::ShowLoadedSession(const BenchmarkSession& session) {
  rootField_->setText(PathText(session.root));
  perFolderField_->setText(Text(FormatInteger(session.maxPerFolder)));
  totalField_->setText(Text(FormatInteger(session.maxTotal)));
  depthBox_->setCurrentIndex(DepthBoxIndex(session.depth));
  RefreshBenchWindow();
}

void ProfileDevelopmentWindow::ShowMessage(const std::string& text, BenchMessageIcon icon) {
  if (const auto& show = ActiveBenchWindowDialogs().showMessage) {
    show(kBenchMessageTitle, text, icon);
    return;
  }
  const bool error = icon == BenchMessageIcon::Error;
  ExecPlainMessageBox(error ? QMessageBox::Critical : QMessageBox::Information,
                      Text(kBenchMessageTitle), Text(ToDisplayLineEnds(text)), QMessageBox::Ok, this);
}

bool ProfileDevelopmentWindow::AskYesNo(const std::string& text) {
  if (const auto& ask = ActiveBenchWindowDialogs().askYesNo) return ask(kBenchMessageTitle, text);
  return ExecPlainMessageBox(QMessageBox::Question, Text(kBenchMessageTitle), Text(text),
                             QMessageBox::Yes | QMessageBox::No, this) == QMessageBox::Yes;
}

ProfileDevelopmentWindow* CurrentBenchWindow() { return WindowPointer().data(); }
