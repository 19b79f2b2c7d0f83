// The guide window's widgets; see guide_window.h. Text and geometry come from
// guide_text.h, the font from ui/main/fonts.h.
#include "ui/guide/guide_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextFrame>

#include "ui/guide/guide_text.h"
#include "ui/main/qt_helpers.h"
#include "ui/main/app_icon.h"
#include "ui/main/fonts.h"
#include "ui/main/window_names.h"

namespace {

// The one guide window; cleared as soon as it closes, before Qt deletes it.
QPointer<GuideWindow>& Current() {
  static QPointer<GuideWindow> window;
  return window;
}

// The text with the line breaks a text widget expects ("\n").
QString DisplayText() {
  QString text = QString::fromUtf8(kGuideText);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return text;
}

void SetInnerMargins(QTextEdit* text) {
  QTextFrame* root = text->document()->rootFrame();
  QTextFrameFormat format = root->frameFormat();
  format.setLeftMargin(kGuideTextInnerMargin);
  format.setRightMargin(kGuideTextInnerMargin);
  root->setFrameFormat(format);
}

}  // namespace

GuideWindow::GuideWindow(QWidget* owner) : QWidget(owner, Qt::Window) {
  setObjectName(QString::fromUtf8(kGuideWindowName));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowIcon(ApplicationIcon());
  setWindowTitle(QString::fromUtf8(kGuideWindowTitle));
  ResizeToFitScreen(this, kGuideWindowWidth, kGuideWindowHeight);

  text_ = new QTextEdit(this);
  text_->setAcceptRichText(false);
  text_->setFont(Fonts().guideFont);
  text_->setPlainText(DisplayText());
  text_->setReadOnly(true);
  // Read-only, yet selectable and copyable with the mouse and the keyboard.
  text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  text_->setLineWrapMode(QTextEdit::WidgetWidth);
  text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  text_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  SetInnerMargins(text_);
  text_->setGeometry(kGuideTextMargin, kGuideTextMargin, kGuideTextInitialWidth,
                     kGuideTextInitialHeight);
  setFocusProxy(text_);
}

GuideWindow::~GuideWindow() {
  if (Current() == this) Current() = nullptr;
}

void GuideWindow::resizeEvent(QResizeEvent*) {
  const GuideTextPlace place = PlaceGuideText(width(), height());
  text_->setGeometry(place.left, place.top, place.width, place.height);
}

void GuideWindow::closeEvent(QCloseEvent* event) {
  // Forgotten at once, so a request before the deferred deletion opens a
  // new window rather than raising this one.
  if (Current() == this) Current() = nullptr;
  event->accept();
}

void GuideWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

GuideWindow* ActiveGuideWindow() { return Current().data(); }

void OpenGuideWindow(QWidget* owner) {
  if (GuideWindow* window = ActiveGuideWindow()) {
    if (window->isMinimized()) window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->raise();
    window->activateWindow();
    return;
  }
  auto* window = new GuideWindow(owner);
  Current() = window;
  window->show();
}
