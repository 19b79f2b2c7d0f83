// The compare and guide windows' scenes of the render program
// (render_windows.cpp, scripts/render-windows.sh).
#pragma once

#include <string>

class MainWindow;

// After a batch: checks that the compare window opened on the first result,
// then writes into `outputFolder`
//   compare-opened.png  as opened,
//   compare-failed.png  the first image the batch could not process, if any,
//   compare-100.png     the first processed image,
//   compare-400.png     slider at 400 %, panned by a mouse drag,
//   compare-fit.png, compare-map.png, compare-worst.png, compare-worst-2.png,
//   compare-800.png     the written image with the lowest worst window: key 0,
//                       Q, W, W again, then the map off and 800 %,
//   compare-kept-*.png  the same five for the first kept image, if any,
//   compare-next.png    a wheel step up, then "▶",
//   guide.png           command 2201 of the main window,
// printing what each step left in the window. With `screen` it also writes
// grabs of the whole screen (screen-compare-*.png, screen-guide.png). False
// when a window did not open, did not react as expected, or a file could not
// be written.
bool RenderCompareAndGuideScenes(MainWindow& window, const std::string& outputFolder, bool screen);
