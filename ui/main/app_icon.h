// The program's icon: a photo card on the header blue with the orange accent
// bar of the main window.
//
// Drawn here at any size, so every window and every size of the window icon
// comes from one drawing. resources/orvel-jpeg-optimizer.svg holds the same
// shapes for the desktop's icon theme, and the PNG beside it is this drawing
// at 256 pixels (written by the render program's --icon mode).
#pragma once

#include <QIcon>
#include <QImage>

// The icon at `size` x `size` pixels, transparent around the rounded square.
QImage DrawApplicationIcon(int size);

// The icon at the usual sizes from 16 to 256 pixels.
QIcon ApplicationIcon();
