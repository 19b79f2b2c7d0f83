// Small Qt pieces shared by the windows; see qt_helpers.h.
#include "ui/main/qt_helpers.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QScreen>
#include <QWidget>
#include <QUrl>

#include "ui/main/main_layout.h"
#include "ui/main/main_window_hooks.h"

QString Text(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QString PathText(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string NativePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QRect ToQRect(const PixelRect& rect) { return QRect(rect.x, rect.y, rect.width, rect.height); }

void PlaceWidget(QWidget* widget, const PixelRect& rect) { widget->setGeometry(ToQRect(rect)); }

QSize ResizeToFitScreen(QWidget* window, int designedWidth, int designedHeight) {
  QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  PixelSize size{designedWidth, designedHeight};
  if (screen) {
    const QRect area = screen->availableGeometry();
    // A usual title bar and border; the offscreen platform draws no frames.
    const bool framed = QGuiApplication::platformName() != QStringLiteral("offscreen");
    const PixelSize frame = framed ? PixelSize{8, 38} : PixelSize{};
    size = FitWindowSize(size, PixelSize{area.width(), area.height()}, frame);
  }
  window->resize(size.width, size.height);
  return QSize(size.width, size.height);
}

WaitCursor::WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

WaitCursor::~WaitCursor() { QApplication::restoreOverrideCursor(); }

QMessageBox::StandardButton ExecPlainMessageBox(QMessageBox::Icon icon, const QString& title,
                                                const QString& text,
                                                QMessageBox::StandardButtons buttons,
                                                QWidget* parent) {
  QMessageBox box(icon, title, text, buttons, parent);
  box.setTextFormat(Qt::PlainText);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void OpenFolderInFileManager(const std::string& folder) {
  if (const auto& open = ActiveMainWindowDialogs().openFolder) {
    open(folder);
    return;
  }
  QDesktopServices::openUrl(QUrl::fromLocalFile(PathText(folder)));
}
