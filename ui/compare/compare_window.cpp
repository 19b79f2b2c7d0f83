// The compare window's widgets and events; see compare_window.h. The rules
// are in compare_view.h, the drawing in compare_painting.h.
#include "ui/compare/compare_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QWheelEvent>

#include "ui/compare/compare_painting.h"
#include "ui/compare/compare_view.h"
#include "ui/main/app_icon.h"
#include "ui/main/fonts.h"
#include "ui/main/main_painting.h"
#include "ui/main/main_window_state.h"
#include "ui/main/qt_helpers.h"
#include "ui/main/window_names.h"

namespace {

using MessageSink =
    std::function<void(const std::string& title, const std::string& text, CompareMessageIcon icon)>;

MessageSink& Sink() {
  static MessageSink sink;
  return sink;
}

// The one compare window; cleared as soon as it closes, before Qt deletes it.
QPointer<CompareWindow>& Current() {
  static QPointer<CompareWindow> window;
  return window;
}

void Place(QWidget* widget, const ControlPlace& place) {
  widget->setGeometry(place.left, place.top, place.width, place.height);
}

void ShowCompareMessage(QWidget* owner, const char* text, CompareMessageIcon icon) {
  if (const MessageSink sink = Sink()) {
    sink(kCompareMessageTitle, text, icon);
    return;
  }
  const bool error = icon == CompareMessageIcon::Error;
  ExecPlainMessageBox(error ? QMessageBox::Critical : QMessageBox::Information,
                      QString::fromUtf8(kCompareMessageTitle), QString::fromUtf8(text), QMessageBox::Ok,
                      owner);
}

// The zoom slider hands the wheel to the window, which steps by 25 %
// wherever the pointer is (a slider would step by three of its lines).
class ZoomTrackbar : public QSlider {
 public:
  ZoomTrackbar(QWidget* parent, std::function<bool(int delta)> onWheel)
      : QSlider(Qt::Horizontal, parent), onWheel_(std::move(onWheel)) {}

 protected:
  void wheelEvent(QWheelEvent* event) override {
    event->setAccepted(onWheel_(event->angleDelta().y()));
  }

 private:
  std::function<bool(int)> onWheel_;
};

QPushButton* MakeButton(const char* text, QWidget* parent) {
  auto* button = new QPushButton(QString::fromUtf8(text), parent);
  button->setFocusPolicy(Qt::NoFocus);
  button->setAutoDefault(false);
  button->setFont(Fonts().emphasisFont);
  return button;
}

QLabel* MakeLabel(const QFont& font, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  label->setFont(font);
  label->setFocusPolicy(Qt::NoFocus);
  return label;
}

}  // namespace

void SetCompareMessageSink(MessageSink sink) { Sink() = std::move(sink); }

CompareWindow::CompareWindow(QWidget* owner) : QWidget(owner, Qt::Window) {
  setObjectName(QString::fromUtf8(kCompareWindowName));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowIcon(ApplicationIcon());
  setWindowTitle(Text(CompareWindowTitle("")));
  setFocusPolicy(Qt::StrongFocus);
  // At the designed size, or at what the screen holds.
  ResizeToFitScreen(this, kCompareWindowWidth, kCompareWindowHeight);

  previousButton_ = MakeButton(kComparePreviousText, this);
  nextButton_ = MakeButton(kCompareNextText, this);
  positionLabel_ = MakeLabel(Fonts().emphasisFont, this);
  zoomLabel_ = MakeLabel(Fonts().smallFont, this);
  zoomTrackbar_ = new ZoomTrackbar(this, [this](int delta) { return ApplyWheel(delta); });
  zoomTrackbar_->setFocusPolicy(Qt::NoFocus);
  zoomTrackbar_->setFont(Fonts().smallFont);
  zoomTrackbar_->setRange(kCompareMinZoom, kCompareMaxZoom);
  zoomTrackbar_->setTickPosition(QSlider::TicksBelow);
  zoomTrackbar_->setTickInterval(kCompareZoomPageStep);
  zoomTrackbar_->setSingleStep(kCompareWheelStep);
  zoomTrackbar_->setPageStep(kCompareZoomPageStep);
  zoomTrackbar_->setValue(CompareViewState().zoom);
  zoomLabel_->setText(Text(CompareZoomText(CompareViewState().zoom)));
  fitButton_ = MakeButton(kCompareFitText, this);
  fitButton_->setFont(Fonts().smallFont);
  fitButton_->setCheckable(true);
  fitButton_->setToolTip(QString::fromUtf8("Ganzes Bild zeigen (Taste 0)"));

  controls_ = {{kIdComparePrevious, previousButton_}, {kIdCompareNext, nextButton_},
               {kIdCompareTrackbar, zoomTrackbar_},   {kIdCompareZoomLabel, zoomLabel_},
               {kIdComparePosition, positionLabel_},  {kIdCompareFit, fitButton_}};
  for (const auto& [id, widget] : controls_) widget->setProperty("controlId", id);

  connect(previousButton_, &QPushButton::clicked, this, [this]() { DispatchCommand(kIdComparePrevious); });
  connect(nextButton_, &QPushButton::clicked, this, [this]() { DispatchCommand(kIdCompareNext); });
  connect(zoomTrackbar_, &QSlider::valueChanged, this, [this]() { DispatchCommand(kIdCompareTrackbar); });
  connect(fitButton_, &QPushButton::clicked, this, [this]() { DispatchCommand(kIdCompareFit); });

  LayoutControls();
  RefreshControls();
}

CompareWindow::~CompareWindow() {
  if (Current() == this) Current() = nullptr;
  // The images and the zoom stay for the next window.
  EndPanDrag(CompareViewState());
}

QWidget* CompareWindow::ControlById(int id) const {
  const auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

void CompareWindow::DispatchCommand(int id) {
  switch (id) {
    case kIdComparePrevious:
      NavigateCompare(-1);
      return;
    case kIdCompareNext:
      NavigateCompare(+1);
      return;
    case kIdCompareTrackbar:
      if (zoomTrackbar_->value() != CompareViewState().zoom || CompareViewState().fitZoom) {
        SetZoom(zoomTrackbar_->value());
      }
      return;
    case kIdCompareFit:
      ToggleFitZoom(CompareViewState());
      break;
    case kIdCompareQualityMap:
      if (ToggleQualityMap(CompareViewState())) update();
      return;
    case kIdCompareWorstWindow:
      StepWorstWindow(CompareViewState(), ComputeComparePaintLayout(width(), height()).rightPane,
                      devicePixelRatioF());
      break;
    default:
      return;
  }
  // A changed zoom: controls and the whole window follow (a refused key
  // leaves the state as it was, and redrawing it changes nothing).
  RefreshControls();
  update();
}

int CompareWindow::ShownZoom() const {
  const ComparePaintLayout layout = ComputeComparePaintLayout(width(), height());
  const double ratio = devicePixelRatioF();
  return ShownZoomPercent(ComparePanesScale(CompareViewState(), layout, ratio), ratio);
}

void CompareWindow::RefreshControls() {
  const CompareControlsView view =
      ComputeCompareControls(CompareViewState(), BrowsedCount(MainState()), ShownZoom());
  previousButton_->setEnabled(view.previousEnabled);
  nextButton_->setEnabled(view.nextEnabled);
  const QString position = Text(view.positionText);
  // The label's width was measured for Segoe UI; a wider fallback face is
  // narrowed rather than cut.
  positionLabel_->setFont(FittedFont(Fonts().emphasisFont, position, positionLabel_->width()));
  positionLabel_->setText(position);
  const QString zoomText = Text(view.zoomText);
  zoomLabel_->setFont(FittedFont(Fonts().smallFont, zoomText, zoomLabel_->width()));
  zoomLabel_->setText(zoomText);
  {
    // Showing the state must not read back as a request to change it.
    const QSignalBlocker blockSlider(zoomTrackbar_);
    const QSignalBlocker blockFit(fitButton_);
    zoomTrackbar_->setValue(view.trackbarPosition);
    fitButton_->setChecked(view.fitChecked);
  }
  setWindowTitle(Text(view.title));
}

void CompareWindow::LayoutControls() {
  const CompareControlLayout layout = LayoutCompareControls(width());
  Place(previousButton_, layout.previousButton);
  Place(positionLabel_, layout.positionLabel);
  Place(nextButton_, layout.nextButton);
  Place(zoomLabel_, layout.zoomLabel);
  Place(zoomTrackbar_, layout.zoomTrackbar);
  Place(fitButton_, layout.fitButton);
}

void CompareWindow::SetZoom(int zoom) {
  SetFixedZoom(CompareViewState(), zoom);
  RefreshControls();
  update();
}

void CompareWindow::StopDragging() {
  if (EndPanDrag(CompareViewState())) setCursor(Qt::ArrowCursor);
}

void CompareWindow::UpdatePanes() {
  const ComparePaintLayout layout = ComputeComparePaintLayout(width(), height());
  update(ToQRect(layout.leftPane));
  update(ToQRect(layout.rightPane));
}

void CompareWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintCompareWindow(painter, width(), height(), CompareViewState(), BrowsesResults(MainState()));
}

void CompareWindow::resizeEvent(QResizeEvent*) {
  LayoutControls();
  RefreshControls();  // a fitted zoom follows the panes' size
  update();
}

void CompareWindow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Left:
      NavigateCompare(-1);
      return;
    case Qt::Key_Right:
      NavigateCompare(+1);
      return;
    case Qt::Key_Escape:
      close();
      return;
    case Qt::Key_0:
      DispatchCommand(kIdCompareFit);
      return;
    case Qt::Key_Q:
      DispatchCommand(kIdCompareQualityMap);
      return;
    case Qt::Key_W:
      DispatchCommand(kIdCompareWorstWindow);
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

bool CompareWindow::ApplyWheel(int delta) {
  // Only the vertical wheel zooms; a sideways tilt is not a zoom request.
  if (delta == 0) return false;
  const CompareState& state = CompareViewState();
  if (state.fitZoom) {
    const int zoom = WheelZoomFromFit(ShownZoom(), delta);
    if (zoom != 0) SetZoom(zoom);
    return true;
  }
  SetZoom(WheelZoom(state.zoom, delta));
  return true;
}

void CompareWindow::wheelEvent(QWheelEvent* event) {
  event->setAccepted(ApplyWheel(event->angleDelta().y()));
}

void CompareWindow::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QPoint at = event->position().toPoint();
  // Qt keeps sending the moves to this window while the button is held.
  if (BeginPanDrag(CompareViewState(), ComputeComparePaintLayout(width(), height()), at.x(), at.y())) {
    setCursor(Qt::SizeAllCursor);
  }
}

void CompareWindow::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton)) return;
  const QPoint at = event->position().toPoint();
  if (ContinuePanDrag(CompareViewState(), at.x(), at.y())) UpdatePanes();
}

void CompareWindow::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) StopDragging();
}

void CompareWindow::changeEvent(QEvent* event) {
  // Losing the activation ends a drag as losing the mouse would.
  if (event->type() == QEvent::ActivationChange && !isActiveWindow()) StopDragging();
  QWidget::changeEvent(event);
}

void CompareWindow::closeEvent(QCloseEvent* event) {
  // Forgotten at once, so an open request before the deferred deletion
  // makes a new window rather than raising this one.
  if (Current() == this) Current() = nullptr;
  StopDragging();
  event->accept();
}

// --- Module functions --------------------------------------------------------------

CompareWindow* ActiveCompareWindow() { return Current().data(); }

void UpdateCompareControls() {
  if (CompareWindow* window = ActiveCompareWindow()) window->RefreshControls();
}

void NavigateCompare(int step) {
  CompareState& state = CompareViewState();
  const MainWindowState& main = MainState();
  const int target = NavigationTarget(state.currentIndex, step, BrowsedCount(main));
  if (target < 0) return;
  // A failed load leaves both panes empty and says why in their place; the
  // labels and title still follow the new position.
  LoadCompareImage(state, main, target);
  UpdateCompareControls();
  if (CompareWindow* window = ActiveCompareWindow()) window->update();
}

void OpenCompareWindow(QWidget* owner, int index) {
  const MainWindowState& main = MainState();
  if (BrowsedCount(main) == 0) {
    ShowCompareMessage(owner, kCompareMessageNothingToShow, CompareMessageIcon::Information);
    return;
  }
  CompareState& state = CompareViewState();
  // A batch result that cannot be shown still opens the window, which says
  // why; the batch's other images are a step away.
  if (!LoadCompareImage(state, main, ResolveCompareIndex(main, index)) &&
      !(BrowsesResults(main) && !state.failureText.empty())) {
    // The load has emptied the panes; an open window must not keep labels
    // of the image it no longer shows.
    UpdateCompareControls();
    if (CompareWindow* window = ActiveCompareWindow()) window->update();
    ShowCompareMessage(owner, kCompareMessageLoadFailed, CompareMessageIcon::Error);
    return;
  }
  state.zoom = kCompareMinZoom;
  state.fitZoom = false;
  state.panX = 0;
  state.panY = 0;

  CompareWindow* window = ActiveCompareWindow();
  if (window) {
    window->RefreshControls();
    window->update();
    if (window->isMinimized()) window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->raise();
    window->activateWindow();
    return;
  }
  window = new CompareWindow(owner);
  Current() = window;
  window->show();
  window->raise();
  window->activateWindow();
  window->setFocus(Qt::ActiveWindowFocusReason);
}
