// Start-up, event loop and shutdown of the desktop program.
//
// Start-up creates the QApplication, loads Qt's German texts, creates the
// shared fonts, materialises the embedded encoders exactly once, then creates
// and shows the main window.
// SIGTERM and SIGINT are turned into a close request of the main window, so
// they end the program the same orderly way as its close button. Shutdown
// runs the background-worker stop hook (shutdown_hook.h) while every window
// still exists, removes the engine folder, then releases fonts, windows and
// the QApplication.
//
// main_gui.cpp calls RunApplication; tests drive the three steps themselves
// so they can inspect the window between start-up and shutdown.
#pragma once

#include <memory>
#include <string>
#include <vector>

class QApplication;
class MainWindow;
struct TerminationSignals;

struct ApplicationShell {
  std::unique_ptr<QApplication> application;
  std::unique_ptr<TerminationSignals> terminationSignals;  // self-pipe and notifier
  std::unique_ptr<MainWindow> mainWindow;
  bool shutDown = false;  // true once ShutDownApplication has run

  ApplicationShell();
  ApplicationShell(const ApplicationShell&) = delete;
  ApplicationShell& operator=(const ApplicationShell&) = delete;
  ~ApplicationShell();  // shuts down when the caller did not
};

// Everything up to and including the shown main window; `startPaths` (the
// files and folders of the command line) join its image list first, as a
// drop would add them. `argc` and `argv` must outlive the shell
// (QApplication keeps them). Nothing here stops the
// program from starting: without a signal pipe SIGTERM keeps its default
// effect, without encoders the program runs on the in-process encoder alone.
void StartApplication(ApplicationShell& shell, int& argc, char** argv,
                      const std::vector<std::string>& startPaths = {});

// Runs the event loop until the main window has closed; its exit code.
int RunEventLoop(ApplicationShell& shell);

// Stop hook, engine folder, fonts, windows, signal handlers, QApplication.
// Runs once; later calls do nothing.
void ShutDownApplication(ApplicationShell& shell);

// The whole program: the command line (start_arguments.h; --version, --help
// and a wrong option end here), start-up, event loop, shutdown. The process
// exit code.
int RunApplication(int& argc, char** argv);
