// Hands the compare and guide windows to the main window's hooks
// (ui/main/main_window_hooks.h); see InstallCompareAndGuideWindows in
// compare_window.h. Called once at start-up, after the main window exists.
#include <QPointer>

#include "ui/compare/compare_window.h"
#include "ui/guide/guide_window.h"
#include "ui/main/main_window_hooks.h"

void InstallCompareAndGuideWindows(QWidget* mainWindow) {
  const QPointer<QWidget> owner(mainWindow);
  SetCompareWindowOpener([owner](int index) { OpenCompareWindow(owner.data(), index); });
  SetGuideWindowOpener([owner]() { OpenGuideWindow(owner.data()); });
}
