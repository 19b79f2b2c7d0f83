// The profile-development window's scenes of the render program
// (render_windows.cpp, scripts/render-windows.sh).
#pragma once

#include <string>

class MainWindow;

// Opens the window with Ctrl+Shift+P on the main window, chooses
// `imageFolder` through the folder chooser's seam and "Kompakt", and writes
// bench-idle.png; starts the run and writes bench-run.png while the second
// image is measured, then bench-paused.png after "Pausieren"; cancels,
// waits for the worker and closes the window. The run's session and run
// folder go to a temporary local data folder that is removed afterwards.
// With `screen` it also writes grabs of the whole screen (screen-bench-*.png).
// False when the window did not open, the run did not reach a state, or a
// file could not be written.
bool RenderBenchWindowScenes(MainWindow& window, const std::string& outputFolder,
                             const std::string& imageFolder, bool screen);
