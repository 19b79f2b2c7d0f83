// The guide window's text and geometry, without Qt.
//
// The guide is the program's built-in user documentation: one fixed German
// text of 29 lines (a title line, then six sections, each a heading in
// capitals, its paragraph or bullet lines and an empty line before the
// next), lines separated by "\r\n" with none after the last. The last
// section ends with two paragraphs on adding files, the output names and
// the compare window's keys. The window
// (guide_window.h) shows it read-only in a text control that fills the
// client area with a 16-pixel border and never shrinks below 100 x 100.
#pragma once

// The whole guide text, UTF-8.
extern const char* const kGuideText;

constexpr const char* kGuideWindowTitle = "Anleitung & Erkl\u00e4rung \u2013 Orvel JPEG Optimizer";
constexpr int kGuideWindowWidth = 1060;    // pixels
constexpr int kGuideWindowHeight = 800;    // pixels
constexpr int kGuideTextMargin = 16;       // pixels between the client edge and the text control
constexpr int kGuideTextMinimumSize = 100; // pixels, the text control's least width and height
constexpr int kGuideTextInnerMargin = 14;  // pixels left and right of the text inside the control
constexpr int kGuideTextInitialWidth = 840;   // pixels, before the first size change
constexpr int kGuideTextInitialHeight = 600;  // pixels

// The text control's place: left, top, width, height, pixels.
struct GuideTextPlace {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// (16, 16) with the client size less 32 in each direction, at least 100.
GuideTextPlace PlaceGuideText(int clientWidth, int clientHeight);
