// The five fonts every window shares.
//
// Created once at start-up (application.cpp) after the QApplication exists
// and kept in one process-wide record that the main, compare, guide and
// profile-development windows read; nothing else creates fonts. Sizes are
// character heights in pixels and are used as they stand: nothing scales
// fonts or layout for the display's DPI. "Segoe UI" is requested first, then
// "Cantarell" (Debian's fonts-cantarell, of nearly the same widths); where
// both are missing the system's sans-serif face takes their place.
#pragma once

#include <QFont>

struct SharedFonts {
  QFont bodyFont;      // 17 px, weight 400: lists, edits, most window text
  QFont smallFont;     // 15 px, weight 400: live status, status bar, captions
  QFont emphasisFont;  // 18 px, weight 600: owner-drawn buttons, captions
  QFont titleFont;     // 29 px, weight 700: the main window's headline
  QFont guideFont;     // 23 px, weight 400: the guide window
  bool created = false;  // false before start-up and after shutdown
};

// The one process-wide record.
SharedFonts& Fonts();

// Fills the record in the order body, small, emphasis, title, guide.
void CreateSharedFonts();

// Returns the record to default fonts (shutdown, before the QApplication goes).
void ReleaseSharedFonts();
