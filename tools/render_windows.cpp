// Renders the main window to PNG files, so the window can be looked at
// without a display (scripts/render-windows.sh):
//
//   orvel_render_windows OUTPUT_FOLDER IMAGE_FOLDER [--screen] [--profile N]
//       starts the program as usual, adds every .jpg/.jpeg of IMAGE_FOLDER
//       and two files that cannot be read as images (a text file and an
//       empty file, named to sort last) through the image chooser's seam,
//       chooses a fresh temporary output folder, starts the batch with F5
//       and writes
//         main-empty.png  the window at start, before any image is added,
//         main-idle.png   the window with the images added,
//         main-unreadable.png  the same with the text file selected,
//         main-batch.png  the window while the batch runs (an image after
//           the first is being encoded),
//         main-batch-min.png  the same at the minimum size (the next image),
//         main-after.png  the window after the batch,
//         main-*-min.png  empty, idle and after also at the minimum size,
//         main-after-screen.png  after the batch at the screen's whole size,
//           when that is wider than the window opened,
//         results-scrolled.png  its results list scrolled to the line ends,
//         main-stopped.png  the window after a second batch stopped with Esc,
//         menu-1.png ... menu-5.png  the five menus, opened,
//         dialog-files.png, dialog-message.png  Qt's file dialog and a
//           message box, to see that they speak German,
//         compare-*.png, guide.png  the compare window the batch opened and
//           the guide window (render_compare_scenes.h),
//         bench-idle.png, bench-run.png, bench-paused.png  the
//           profile-development window (render_bench_scenes.h).
//       --screen also writes screen-*.png, grabs of the whole screen, for
//       runs on a real X server. --profile N (0-5) chooses the batch's
//       profile through its menu item first. The output folder of the batch is removed
//       at the end; the images are only read.
//
//   orvel_render_windows --icon OUTPUT.png [SIZE]
//       writes the program's icon at SIZE pixels (default 256).
#include <dirent.h>
#include <stdlib.h>

#include <QApplication>
#include <QFileDialog>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScrollBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/application.h"
#include "core/live_status.h"
#include "platform/files.h"
#include "tools/render_bench_scenes.h"
#include "tools/render_compare_scenes.h"
#include "ui/main/app_icon.h"
#include "ui/main/main_window.h"
#include "ui/main/main_window_hooks.h"
#include "ui/main/main_window_state.h"

namespace {

std::vector<std::string> JpegFilesIn(const std::string& folder) {
  std::vector<std::string> paths;
  DIR* listing = ::opendir(folder.c_str());
  if (!listing) return paths;
  while (const dirent* entry = ::readdir(listing)) {
    std::string extension = ExtensionPart(entry->d_name);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".jpg" || extension == ".jpeg") paths.push_back(JoinPath(folder, entry->d_name));
  }
  ::closedir(listing);
  return paths;
}

struct Renderer {
  std::string outputFolder;
  bool screen = false;
  MainWindow* window = nullptr;

  bool Save(const std::string& name) const {
    QCoreApplication::processEvents();
    const std::string path = JoinPath(outputFolder, "main-" + name + ".png");
    const bool saved = window->grab().save(QString::fromStdString(path));
    std::printf("%s %s\n", saved ? "wrote" : "could not write", path.c_str());
    if (screen && QGuiApplication::primaryScreen()) {
      const std::string screenPath = JoinPath(outputFolder, "screen-" + name + ".png");
      QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromStdString(screenPath));
      std::printf("wrote %s\n", screenPath.c_str());
    }
    return saved;
  }

  // At the size the window opened at (the designed one, or what the screen
  // holds), then at the minimum size ("main-<name>-min.png").
  bool SaveBothSizes(const std::string& name) const {
    bool saved = Save(name);
    const QSize opened = window->size();
    window->resize(window->minimumSize());
    saved = Save(name + "-min") && saved;
    window->resize(opened);
    QCoreApplication::processEvents();
    return saved;
  }

  void PrintState(const char* when) const {
    const auto* live = qobject_cast<QPlainTextEdit*>(window->ControlById(1009));
    std::printf("--- %s\nstatus bar: %s\nlive status:\n%s\n", when,
                window->StatusText().toStdString().c_str(),
                live ? live->toPlainText().toStdString().c_str() : "");
  }
};

// The five menus, opened one after another (menu-1.png ... menu-5.png).
bool SaveMenus(MainWindow& window, const std::string& folder) {
  bool ok = true;
  int number = 0;
  for (QAction* entry : window.menuBar()->actions()) {
    QMenu* menu = entry->menu();
    if (!menu) continue;
    menu->popup(window.mapToGlobal(QPoint(0, 0)));
    QCoreApplication::processEvents();
    const std::string path = JoinPath(folder, "menu-" + std::to_string(++number) + ".png");
    ok = menu->grab().save(QString::fromStdString(path)) && ok;
    menu->hide();
    std::printf("wrote %s\n", path.c_str());
  }
  return ok;
}

// Qt's own dialogs as the program shows them, to check their language:
// the file dialog of "Bilder hinzufügen…" (Qt's widget dialog, as on a
// desktop without a native one) and a message box with its buttons.
bool SaveQtDialogs(MainWindow& window, const std::string& folder) {
  QFileDialog files(&window);
  files.setOption(QFileDialog::DontUseNativeDialog);
  files.setFileMode(QFileDialog::ExistingFiles);
  files.setNameFilters({QString::fromUtf8("JPEG-Bilder (*.jpg *.jpeg *.jpe)"),
                        QString::fromUtf8("Alle Dateien (*)")});
  files.show();
  QMessageBox box(QMessageBox::Information, QString::fromUtf8("Stapelbearbeitung"),
                  QString::fromUtf8("Bitte zuerst mindestens ein JPEG-Bild hinzuf\u00fcgen."),
                  QMessageBox::Ok | QMessageBox::Cancel, &window);
  box.show();
  for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
  bool ok = true;
  for (const auto& [widget, name] : {std::pair<QWidget*, const char*>{&files, "dialog-files"},
                                     std::pair<QWidget*, const char*>{&box, "dialog-message"}}) {
    const std::string path = JoinPath(folder, std::string(name) + ".png");
    ok = widget->grab().save(QString::fromStdString(path)) && ok;
    std::printf("wrote %s\n", path.c_str());
  }
  return ok;
}

int WriteIcon(const char* path, int size) {
  int argc = 1;
  char name[] = "orvel_render_windows";
  char* argv[] = {name, nullptr};
  QApplication application(argc, argv);
  return DrawApplicationIcon(size).save(QString::fromUtf8(path)) ? 0 : 1;
}

}  // namespace

// A second batch, stopped with Esc once three results are in and an image
// is being encoded: main-stopped.png shows the results after a stop.
bool RenderStoppedBatch(MainWindow& window, const Renderer& renderer) {
  window.activateWindow();
  if (!QTest::qWaitForWindowActive(&window)) std::printf("the main window did not become active\n");
  window.ControlById(1001)->setFocus();
  QCoreApplication::processEvents();
  bool stopped = false;
  QTimer stopper;
  QObject::connect(&stopper, &QTimer::timeout, [&]() {
    if (!MainState().batchRunning || MainState().results.size() < 3 ||
        CurrentLiveStatus().candidatesTotal.load() == 0) {
      return;
    }
    stopper.stop();
    QTest::keyClick(window.ControlById(1001), Qt::Key_Escape);
    stopped = true;
  });
  stopper.start(20);
  QTest::keyClick(window.ControlById(1001), Qt::Key_F5);
  stopper.stop();
  if (!stopped) std::printf("the second batch ended before it could be stopped\n");
  renderer.PrintState("after a stop");
  return renderer.Save("stopped");
}

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "--icon") {
    return WriteIcon(argv[2], argc >= 4 ? std::atoi(argv[3]) : 256);
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER IMAGE_FOLDER [--screen] [--profile N]\n"
                         "       %s --icon OUTPUT.png [SIZE]\n", argv[0], argv[0]);
    return 2;
  }
  Renderer renderer;
  renderer.outputFolder = argv[1];
  int profile = -1;
  for (int i = 3; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--screen") renderer.screen = true;
    if (option == "--profile" && i + 1 < argc) profile = std::atoi(argv[++i]);
  }
  const std::vector<std::string> images = JpegFilesIn(argv[2]);
  if (!EnsureFolder(renderer.outputFolder) || images.empty()) {
    std::fprintf(stderr, "no output folder or no JPEG files in %s\n", argv[2]);
    return 1;
  }
  std::string batchOutput = JoinPath(TempFolder(), "orvel-render-XXXXXX");
  if (!::mkdtemp(batchOutput.data())) return 1;
  std::string unreadableFolder = JoinPath(TempFolder(), "orvel-render-in-XXXXXX");
  if (!::mkdtemp(unreadableFolder.data())) return 1;
  std::vector<std::string> chosen = images;
  const std::string textFile = JoinPath(unreadableFolder, "zz_kein_bild.jpg");
  const std::string emptyFile = JoinPath(unreadableFolder, "zz_leer.jpg");
  const std::string notAnImage = "Dies ist kein JPEG-Bild.\n";
  if (!WriteFileAtomically(textFile, notAnImage.data(), notAnImage.size()) ||
      !WriteFileAtomically(emptyFile, "", 0)) {
    return 1;
  }
  chosen.push_back(textFile);
  chosen.push_back(emptyFile);

  ApplicationShell shell;
  int qtArgc = 1;
  StartApplication(shell, qtArgc, argv);
  MainWindow& window = *shell.mainWindow;
  renderer.window = &window;

  MainWindowDialogs dialogs;
  dialogs.chooseImageFiles = [&](std::vector<std::string>& paths) { paths = chosen; return true; };
  dialogs.chooseFolder = [&](std::string& folder) { folder = batchOutput; return true; };
  dialogs.showMessage = [](const std::string& title, const std::string& text, MessageIcon) {
    std::printf("message box \"%s\": %s\n", title.c_str(), text.c_str());
  };
  SetMainWindowDialogs(dialogs);

  window.activateWindow();
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
  bool ok = renderer.SaveBothSizes("empty");
  if (profile >= 0) window.DispatchCommand(2300 + profile);
  window.DispatchCommand(2001);
  window.DispatchCommand(2003);
  ok = renderer.SaveBothSizes("idle") && ok;
  ok = SaveMenus(window, renderer.outputFolder) && ok;
  ok = SaveQtDialogs(window, renderer.outputFolder) && ok;
  // The text file, selected: the preview says why it shows nothing.
  if (auto* list = qobject_cast<QListWidget*>(window.ControlById(1001))) {
    const auto found = std::find(MainState().imageList.begin(), MainState().imageList.end(), textFile);
    list->setCurrentRow(static_cast<int>(found - MainState().imageList.begin()));
    ok = renderer.Save("unreadable") && ok;
    list->setCurrentRow(0);
  }

  // During the batch: while the first image after a recorded result is
  // being encoded, at the default size; while the next one is, at the
  // minimum size.
  int batchSaved = 0;
  std::size_t lastSavedImage = 0;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&]() {
    const LiveStatus& live = CurrentLiveStatus();
    const std::size_t image = live.imageIndex.load();
    const bool encoding = MainState().results.size() + 1 == image && image >= 2 &&
                          live.candidatesTotal.load() > 0;
    if (!MainState().batchRunning || !encoding || batchSaved >= 2 || image == lastSavedImage) return;
    lastSavedImage = image;
    ++batchSaved;
    const std::string name = batchSaved == 1 ? "batch" : "batch-min";
    const QSize opened = window.size();
    if (batchSaved == 2) window.resize(window.minimumSize());
    renderer.PrintState(("during the batch, " + name).c_str());
    ok = renderer.Save(name) && ok;
    if (batchSaved == 2) window.resize(opened);
  });
  poll.start(100);

  // F5 through Qt's key routing, with the focus in the image list of the
  // active window.
  window.activateWindow();
  if (!QTest::qWaitForWindowActive(&window)) std::printf("the main window did not become active\n");
  window.ControlById(1001)->setFocus();
  QCoreApplication::processEvents();
  QTest::keyClick(window.ControlById(1001), Qt::Key_F5);
  if (!batchSaved && MainState().results.empty()) {
    std::printf("UNEXPECTED: F5 did not start the batch\n");
    ok = false;
  }
  poll.stop();
  if (batchSaved < 2) std::printf("the batch ended too early; missing main-batch*.png\n");

  renderer.PrintState("after the batch");
  for (const ImageResult& result : MainState().results) std::printf("%s\n", result.message.c_str());
  ok = renderer.SaveBothSizes("after") && ok;
  // As a maximised window would be, on a screen wider than the design.
  if (const QScreen* screen = window.screen()) {
    const QSize opened = window.size();
    const QSize available = screen->availableGeometry().size();
    if (available.width() > opened.width()) {
      window.resize(available);
      ok = renderer.Save("after-screen") && ok;
      window.resize(opened);
      QCoreApplication::processEvents();
    }
  }
  // The ends of the result lines, scrolled into view.
  if (auto* results = qobject_cast<QAbstractItemView*>(window.ControlById(1002))) {
    results->horizontalScrollBar()->setValue(results->horizontalScrollBar()->maximum());
    QCoreApplication::processEvents();
    const std::string path = JoinPath(renderer.outputFolder, "results-scrolled.png");
    ok = results->grab().save(QString::fromStdString(path)) && ok;
    std::printf("wrote %s\n", path.c_str());
  }

  ok = RenderCompareAndGuideScenes(window, renderer.outputFolder, renderer.screen) && ok;
  ok = RenderBenchWindowScenes(window, renderer.outputFolder, argv[2], renderer.screen) && ok;
  ok = RenderStoppedBatch(window, renderer) && ok;
  SetMainWindowDialogs({});
  window.close();
  ShutDownApplication(shell);
  RemoveFolderTree(batchOutput);
  RemoveFolderTree(unreadableFolder);
  return ok ? 0 : 1;
}
