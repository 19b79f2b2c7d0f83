// Object names of the program's five window kinds.
//
// Every top-level window and the preview pane carry one of these as their Qt
// object name, so tests and the start-up code find them by kind. Qt-free so
// the logic modules of the windows can share them.
#pragma once

constexpr const char* kMainWindowName = "TALV_MAIN";
constexpr const char* kCompareWindowName = "TALV_COMPARE";
constexpr const char* kPreviewPaneName = "TALV_PREVIEW";
constexpr const char* kGuideWindowName = "TALV_GUIDE";
constexpr const char* kBenchWindowName = "TALV_BENCH";
