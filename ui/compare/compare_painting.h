// Painting of the compare window: background, the two pane captions, the two
// panes with their frames, the quality map over the right pane with its
// legend, the caption line with the file sizes and the line of keys.
//
// The geometry and the texts come from compare_view.h; this file only turns
// them into QPainter calls. A pane never scales the whole image: it asks
// ComputeVisiblePart which source pixels reach the pane and scales only
// those, straight out of the decoded buffer (no copy), so panning a large
// photo at 800 % costs no more than at 100 %. The quality map is drawn from
// its cells (quality_map.h) in image coordinates, only the visible ones and
// equal neighbours as one rectangle, so it lies exactly on the pixels at any
// zoom and pan and costs about as much at 800 % as at 100 %.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>

#include "ui/compare/compare_view.h"

class QPainter;

// Colours of the compare window.
inline QColor CompareBackgroundColor() { return QColor(235, 242, 252); }
inline QColor CompareOriginalColor() { return QColor(13, 95, 188); }
inline QColor CompareOptimizedColor() { return QColor(222, 104, 10); }
inline QColor ComparePaneColor() { return QColor(25, 31, 42); }
inline QColor CompareFrameColor() { return QColor(180, 194, 213); }
inline QColor CompareCaptionColor() { return QColor(65, 75, 90); }
inline QColor CompareHintColor() { return QColor(105, 115, 130); }

// An edge rectangle (compare_view.h) as Qt's.
QRect ToQRect(const EdgeRect& rect);

// A QImage over the pixels of `image`, without copying (BGRA bytes are
// 0xAARRGGBB words on a little-endian machine; the alpha byte is ignored).
// Valid while `image` is neither changed nor destroyed; null for an
// unusable image.
QImage WrapPixelImage(const PixelImage& image);

// Fills `pane` and draws `image` into it at `drawn`, clipped to the pane;
// smoothly scaled unless `sharp` (nearest neighbour).
void PaintComparePane(QPainter& painter, const PixelImage& image, const EdgeRect& pane,
                      const DrawnImage& drawn, bool sharp);

// The same for a zoom (per cent of the painter's device pixels) and pan.
void PaintComparePane(QPainter& painter, const PixelImage& image, const EdgeRect& pane, int zoom,
                      int panX, int panY);

// The tinted cells of `cells` over an image of that size drawn at `drawn`,
// clipped to `pane`.
void PaintQualityMap(QPainter& painter, const MapCells& cells, std::uint32_t imageWidth,
                     std::uint32_t imageHeight, const EdgeRect& pane, const DrawnImage& drawn);

// The whole client area for `state`; `browsingResults` selects the caption
// for a result without an optimised file. Reads the two files' sizes.
void PaintCompareWindow(QPainter& painter, int clientWidth, int clientHeight,
                        const CompareState& state, bool browsingResults);
