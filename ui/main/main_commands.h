// Command identifiers of the main window and the contents of its menu bar.
//
// Every menu item, button, list notification and key of the main window ends
// in one dispatch function that takes these numeric ids, so tests can issue
// any command, also the three that no menu item issues (2250 to 2252). The
// menu table is Qt-free: main_window.cpp builds the QMenuBar from it.
#pragma once

#include <string>
#include <vector>

// Controls.
constexpr int kIdImageList = 1001;
constexpr int kIdResultsList = 1002;
constexpr int kIdOutputFolderEdit = 1005;
constexpr int kIdStatusBar = 1006;
constexpr int kIdStartButton = 1007;
constexpr int kIdChooseButton = 1008;
constexpr int kIdLiveStatusText = 1009;

// Menu commands.
constexpr int kCmdAddImages = 2001;
constexpr int kCmdClearImageList = 2002;
constexpr int kCmdChooseOutputFolder = 2003;
constexpr int kCmdExit = 2004;
constexpr int kCmdStopBatch = 2005;  // the one command a running batch takes
constexpr int kCmdStartBatch = 2101;
constexpr int kCmdOpenCompareWindow = 2102;
constexpr int kCmdOpenOutputFolder = 2103;
constexpr int kCmdOpenEngineFolder = 2104;
constexpr int kCmdOpenGuide = 2201;
constexpr int kCmdAbout = 2202;
constexpr int kCmdEncoderStatus = 2203;
constexpr int kCmdProfileDevelopment = 2250;        // no menu item
constexpr int kCmdProfileDevelopmentResume = 2251;  // no menu item
constexpr int kCmdOpenBenchmarkRuns = 2252;         // no menu item
constexpr int kCmdFirstProfile = 2300;              // 2300..2305, one per profile
constexpr int kCmdFirstMode = 2400;                 // 2400..2402, one per compute mode

// Notification of the image list: its selection changed.
constexpr int kNotifySelectionChanged = 1;

// One menu item; id 0 is a separator. `text` may hold "\t" followed by a
// shortcut label that is shown but bound to no key.
struct MenuItemEntry {
  int id = 0;
  std::string text;
  bool checkable = false;  // profile and mode items carry a check mark
};

struct MenuEntry {
  std::string title;
  std::vector<MenuItemEntry> items;
};

// "Datei", "Funktionen", "Qualitätsprofil", "Rechenmodus", "Hilfe".
std::vector<MenuEntry> BuildMenuBarTable();
