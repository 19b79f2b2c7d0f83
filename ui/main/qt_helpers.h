// Small Qt pieces that every window uses alike: text and path conversion,
// layout rectangles, the wait cursor, plain-text message boxes and opening a folder in the file
// manager. Part of the main window module because every other window module
// builds on it already (see its CMakeLists.txt).
#pragma once

#include <QMessageBox>
#include <QRect>
#include <QSize>
#include <QString>
#include <string>

class QWidget;
struct PixelRect;

// UTF-8 text (every text of the program) as a QString.
QString Text(const std::string& utf8);

// A native path (bytes, as the file system has them) as shown in a widget,
// and back.
QString PathText(const std::string& path);
std::string NativePath(const QString& path);

// A layout rectangle (main_layout.h) as Qt's, and a widget placed on it.
QRect ToQRect(const PixelRect& rect);
void PlaceWidget(QWidget* widget, const PixelRect& rect);

// Resizes a window not yet shown to its designed client size, or to the
// largest size its screen's available area holds with a frame (FitWindowSize).
// The frame is not known before the window manager adds it, so an allowance
// for a usual title bar and border stands in for it. Returns the size given.
QSize ResizeToFitScreen(QWidget* window, int designedWidth, int designedHeight);

// The wait cursor for as long as it lives.
struct WaitCursor {
  WaitCursor();
  ~WaitCursor();
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

// A modal message box that shows `text` as plain text (file names as they
// are, never read as markup); the button pressed.
QMessageBox::StandardButton ExecPlainMessageBox(QMessageBox::Icon icon, const QString& title,
                                                const QString& text,
                                                QMessageBox::StandardButtons buttons,
                                                QWidget* parent);

// Hands the folder to the desktop's file manager, or to the openFolder hook
// (main_window_hooks.h) when one is installed; what the file manager makes of
// it is not reported.
void OpenFolderInFileManager(const std::string& folder);
