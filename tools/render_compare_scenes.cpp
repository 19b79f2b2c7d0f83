// The compare and guide windows' scenes of the render program; see
// render_compare_scenes.h. The windows are driven through the same paths a
// user takes: the slider's value, mouse and wheel events sent to the window,
// its button command, an arrow key, and the main window's command.
#include "tools/render_compare_scenes.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QSlider>
#include <QTest>
#include <QWheelEvent>
#include <algorithm>
#include <cstdio>

#include "platform/files.h"
#include "ui/compare/compare_view.h"
#include "ui/compare/compare_window.h"
#include "ui/guide/guide_window.h"
#include "ui/main/main_window.h"
#include "ui/main/main_window_state.h"

namespace {

bool SaveGrab(QWidget* widget, const std::string& folder, const std::string& name, bool screen) {
  for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
  const std::string path = JoinPath(folder, name + ".png");
  const bool saved = widget->grab().save(QString::fromStdString(path));
  std::printf("%s %s\n", saved ? "wrote" : "could not write", path.c_str());
  if (screen && QGuiApplication::primaryScreen()) {
    const std::string screenPath = JoinPath(folder, "screen-" + name + ".png");
    QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromStdString(screenPath));
    std::printf("wrote %s\n", screenPath.c_str());
  }
  return saved;
}

std::string LabelText(CompareWindow* compare, int id) {
  const auto* label = qobject_cast<QLabel*>(compare->ControlById(id));
  return label ? label->text().toStdString() : "";
}

void PrintCompareState(CompareWindow* compare, const char* when) {
  const CompareState& state = CompareViewState();
  const ComparePaintLayout layout = ComputeComparePaintLayout(compare->width(), compare->height());
  const DrawnImage drawn = PlaceImageInPane(layout.leftPane, state.sourceImage.width,
                                            state.sourceImage.height, state.zoom, state.panX,
                                            state.panY);
  std::printf("--- compare window, %s\ntitle: %s\nposition: %s | %s | previous %s, next %s\n"
              "index %d, zoom %d, pan %d,%d; source %ux%u drawn at %lld,%lld size %lldx%lld "
              "in the pane %d,%d-%d,%d\noptimised: %s\n",
              when, compare->windowTitle().toStdString().c_str(),
              LabelText(compare, kIdComparePosition).c_str(),
              LabelText(compare, kIdCompareZoomLabel).c_str(),
              compare->ControlById(kIdComparePrevious)->isEnabled() ? "enabled" : "disabled",
              compare->ControlById(kIdCompareNext)->isEnabled() ? "enabled" : "disabled",
              state.currentIndex, state.zoom, state.panX, state.panY, state.sourceImage.width,
              state.sourceImage.height, static_cast<long long>(drawn.left),
              static_cast<long long>(drawn.top), static_cast<long long>(drawn.width),
              static_cast<long long>(drawn.height), layout.leftPane.left, layout.leftPane.top,
              layout.leftPane.right, layout.leftPane.bottom,
              state.optimizedPath.empty() ? "(none, the source is shown)" : state.optimizedPath.c_str());
}

void SendMouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButton button,
               Qt::MouseButtons held) {
  QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)), button, held, Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

// A left-button drag in steps of 20 pixels, as a hand would make it.
void Drag(QWidget* target, QPoint from, QPoint to) {
  SendMouse(target, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
  const QPoint way = to - from;
  const int steps = std::max(1, std::max(std::abs(way.x()), std::abs(way.y())) / 20);
  for (int i = 1; i <= steps; ++i) {
    SendMouse(target, QEvent::MouseMove, from + way * i / steps, Qt::NoButton, Qt::LeftButton);
    QCoreApplication::processEvents();
  }
  SendMouse(target, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

void SendWheelUp(QWidget* target, QPoint at) {
  QWheelEvent event(QPointF(at), QPointF(target->mapToGlobal(at)), QPoint(), QPoint(0, 120),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(target, &event);
}

bool Check(bool condition, const char* what) {
  if (!condition) std::printf("UNEXPECTED: %s\n", what);
  return condition;
}

// The written result whose worst window is lowest; -1 when none was written.
int WeakestWrittenResult(const std::vector<ImageResult>& results) {
  int weakest = -1;
  for (std::size_t i = 0; i < results.size(); ++i) {
    if (!results[i].optimized || results[i].windowScores.empty()) continue;
    if (weakest < 0 || results[i].worst < results[static_cast<std::size_t>(weakest)].worst) {
      weakest = static_cast<int>(i);
    }
  }
  return weakest;
}

// Opens result `index` fitted, shows its quality map and steps to the worst
// and the next-worst window: NAME-fit, NAME-map, NAME-worst, NAME-worst-2;
// then the map off and 800 %: NAME-800.
template <typename Key>
bool RenderMapScenes(MainWindow& window, CompareWindow* compare, int index, const std::string& name,
                     const std::string& folder, bool screen, const Key& key) {
  if (index < 0) {
    std::printf("no result for %s-map.png\n", name.c_str());
    return true;
  }
  const CompareState& state = CompareViewState();
  bool ok = true;
  if (state.currentIndex != index) OpenCompareWindow(&window, index);
  key(Qt::Key_0);
  ok = Check(state.fitZoom, "key 0 did not fit the image") && ok;
  PrintCompareState(compare, "fitted");
  ok = SaveGrab(compare, folder, name + "-fit", screen) && ok;
  key(Qt::Key_Q);
  std::printf("quality map %s on %s\n", state.qualityMapShown ? "on" : "not available",
              state.sourcePath.c_str());
  ok = SaveGrab(compare, folder, name + "-map", screen) && ok;
  key(Qt::Key_W);
  PrintCompareState(compare, "after W");
  std::printf("label: %s\n", CompareResultPaneLabel(state, true).c_str());
  ok = SaveGrab(compare, folder, name + "-worst", screen) && ok;
  key(Qt::Key_W);
  std::printf("after a second W, label: %s\n", CompareResultPaneLabel(state, true).c_str());
  ok = SaveGrab(compare, folder, name + "-worst-2", screen) && ok;
  if (state.qualityMapShown) key(Qt::Key_Q);
  // 800 % without the map, dragged to the worst window: the pixels drawn
  // sharp where the loss is.
  qobject_cast<QSlider*>(compare->ControlById(kIdCompareTrackbar))->setValue(800);
  if (!state.worstOrder.empty()) {
    const AnalysisWindow& w = state.qualityMap.windows[state.worstOrder.front()];
    const double scale = 8.0 / compare->devicePixelRatioF();
    const QPoint away(static_cast<int>(((w.x0 + w.x1) / 2.0 - state.sourceImage.width / 2.0) * scale),
                      static_cast<int>(((w.y0 + w.y1) / 2.0 - state.sourceImage.height / 2.0) * scale));
    const ComparePaintLayout layout = ComputeComparePaintLayout(compare->width(), compare->height());
    const QPoint centre((layout.leftPane.left + layout.leftPane.right) / 2,
                        (layout.leftPane.top + layout.leftPane.bottom) / 2);
    Drag(compare, centre, centre - away);
  }
  PrintCompareState(compare, "800 %, dragged to the worst window");
  ok = SaveGrab(compare, folder, name + "-800", screen) && ok;
  return ok;
}

}  // namespace

bool RenderCompareAndGuideScenes(MainWindow& window, const std::string& outputFolder, bool screen) {
  SetCompareMessageSink([](const std::string& title, const std::string& text, CompareMessageIcon) {
    std::printf("message box \"%s\": %s\n", title.c_str(), text.c_str());
  });
  bool ok = true;
  CompareWindow* compare = ActiveCompareWindow();
  if (!Check(compare != nullptr, "no compare window after the batch")) {
    SetCompareMessageSink({});
    return false;
  }
  const bool exposed = QTest::qWaitForWindowExposed(compare);
  const CompareState& state = CompareViewState();
  ok = Check(exposed, "compare window not exposed") && ok;
  ok = Check(state.currentIndex == 0 && !MainState().results.empty() &&
                 state.sourcePath == MainState().results.front().sourcePath,
             "not opened on the first result") && ok;
  PrintCompareState(compare, "as opened after the batch");
  ok = SaveGrab(compare, outputFolder, "compare-opened", screen) && ok;

  // The first image the batch could not process: its reason, not two panes.
  const auto& results = MainState().results;
  const auto failed = std::find_if(results.begin(), results.end(),
                                   [](const ImageResult& result) { return result.failed; });
  if (failed != results.end()) {
    OpenCompareWindow(&window, static_cast<int>(failed - results.begin()));
    ok = Check(!state.failureText.empty(), "no reason for the failed image") && ok;
    PrintCompareState(compare, "on the first image that failed");
    ok = SaveGrab(compare, outputFolder, "compare-failed", screen) && ok;
  }

  // The first image the batch processed, at 100 %.
  const auto processed = std::find_if(results.begin(), results.end(),
                                      [](const ImageResult& result) { return !result.failed; });
  if (!Check(processed != results.end(), "no image of the batch was processed")) {
    SetCompareMessageSink({});
    return false;
  }
  const int first = static_cast<int>(processed - results.begin());
  OpenCompareWindow(&window, first);
  PrintCompareState(compare, "on the first processed image");
  ok = SaveGrab(compare, outputFolder, "compare-100", screen) && ok;

  // 400 % with the slider, then a drag to the upper left.
  const ComparePaintLayout layout = ComputeComparePaintLayout(compare->width(), compare->height());
  const QPoint paneCentre((layout.leftPane.left + layout.leftPane.right) / 2,
                          (layout.leftPane.top + layout.leftPane.bottom) / 2);
  qobject_cast<QSlider*>(compare->ControlById(kIdCompareTrackbar))->setValue(400);
  ok = Check(state.zoom == 400, "the slider did not set 400 %") && ok;
  Drag(compare, paneCentre, paneCentre + QPoint(-300, -200));
  ok = Check(state.panX == -300 && state.panY == -200, "the drag did not pan by -300,-200") && ok;
  PrintCompareState(compare, "400 %, dragged by -300,-200");
  ok = SaveGrab(compare, outputFolder, "compare-400", screen) && ok;

  const auto slider = [&](int zoom) {
    qobject_cast<QSlider*>(compare->ControlById(kIdCompareTrackbar))->setValue(zoom);
  };
  const auto key = [&](Qt::Key k) {
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
    QApplication::sendEvent(compare, &press);
  };
  // The quality map on the written image with the lowest worst window: key 0
  // (fit), Q, then W twice (the worst window, the next-worst).
  ok = RenderMapScenes(window, compare, WeakestWrittenResult(results), "compare", outputFolder, screen, key) && ok;
  // The same for the first kept image (its map is the discarded result's,
  // when the gate judged one).
  const auto kept = std::find_if(results.begin(), results.end(), [](const ImageResult& result) {
    return !result.failed && !result.optimized;
  });
  if (kept != results.end()) {
    ok = RenderMapScenes(window, compare, static_cast<int>(kept - results.begin()), "compare-kept", outputFolder,
                         screen, key) && ok;
  } else {
    std::printf("no kept image in the batch; no compare-kept-*.png\n");
  }
  OpenCompareWindow(&window, first);
  slider(400);

  // One wheel step, then the next image; back with the left arrow key.
  SendWheelUp(compare, paneCentre);
  ok = Check(state.zoom == 425 && state.panX == 0, "the wheel did not step to 425 %") && ok;
  if (results.size() > static_cast<std::size_t>(first) + 1) {
    compare->DispatchCommand(kIdCompareNext);
    ok = Check(state.currentIndex == first + 1 && state.zoom == 425, "\"\u25b6\" did not step on") && ok;
    PrintCompareState(compare, "a wheel step up, then \u25b6");
    ok = SaveGrab(compare, outputFolder, "compare-next", screen) && ok;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier);
    QApplication::sendEvent(compare, &press);
    ok = Check(state.currentIndex == first, "the left arrow key did not step back") && ok;
    PrintCompareState(compare, "after the left arrow key");
  }

  window.DispatchCommand(2201);
  GuideWindow* guide = ActiveGuideWindow();
  if (Check(guide != nullptr, "no guide window after command 2201")) {
    ok = Check(QTest::qWaitForWindowExposed(guide), "guide window not exposed") && ok;
    std::printf("--- guide window: %s, %dx%d\n", guide->windowTitle().toStdString().c_str(),
                guide->width(), guide->height());
    ok = SaveGrab(guide, outputFolder, "guide", screen) && ok;
  } else {
    ok = false;
  }
  SetCompareMessageSink({});
  return ok;
}
