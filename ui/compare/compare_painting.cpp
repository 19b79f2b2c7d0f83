// Painting of the compare window; see compare_painting.h. Neighbours:
// compare_view.h (geometry and texts), quality_map.h (the map's cells and
// legend), ui/main/fonts.h (the shared fonts).
#include "ui/compare/compare_painting.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPaintDevice>
#include <algorithm>
#include <cstring>

#include "platform/files.h"
#include "ui/main/fonts.h"
#include "ui/main/main_painting.h"
#include "ui/main/qt_helpers.h"

namespace {

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN,
              "the pane wraps BGRA bytes as 32-bit RGB words, which needs a little-endian machine");

void DrawCentredLine(QPainter& painter, const EdgeRect& rect, const QColor& color,
                     const QString& text) {
  painter.setPen(color);
  painter.drawText(ToQRect(rect), Qt::AlignCenter | Qt::TextSingleLine, text);
}

// A one-pixel frame on the rectangle's outermost pixels, not filled.
void DrawFrame(QPainter& painter, const EdgeRect& rect) {
  if (RectWidth(rect) <= 0 || RectHeight(rect) <= 0) return;
  painter.setPen(QPen(CompareFrameColor(), 0));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(QRect(rect.left, rect.top, RectWidth(rect) - 1, RectHeight(rect) - 1));
}

// One line, narrowed and then elided to fit.
void DrawFittedLine(QPainter& painter, const EdgeRect& rect, const QColor& color, const QFont& font,
                    const QString& text) {
  painter.setFont(FittedFont(font, text, RectWidth(rect)));
  const QString elided =
      QFontMetrics(painter.font()).elidedText(text, Qt::ElideRight, std::max(RectWidth(rect), 0));
  DrawCentredLine(painter, rect, color, elided);
}

QColor ToQColor(const MapTint& tint) { return QColor(tint.red, tint.green, tint.blue, tint.alpha); }

bool SameTint(const MapTint& a, const MapTint& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

QRectF ToQRectF(const ScreenRect& rect) { return QRectF(rect.left, rect.top, rect.width, rect.height); }

// Cell indices [first, last) whose span meets image range [from, to).
void CellRange(const std::vector<std::uint32_t>& edges, int from, int to, std::size_t& first,
               std::size_t& last) {
  const auto begin = edges.begin();
  first = static_cast<std::size_t>(
      std::max<std::ptrdiff_t>(std::upper_bound(begin, edges.end(), static_cast<std::uint32_t>(from)) - begin - 1, 0));
  last = std::min(static_cast<std::size_t>(std::lower_bound(begin, edges.end(), static_cast<std::uint32_t>(to)) - begin),
                  edges.size() - 1);
}

double DevicePixelRatio(const QPainter& painter) {
  return painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
}

// A two-tone frame around the window the view jumped to, readable on light
// and dark pixels alike.
void PaintWindowOutline(QPainter& painter, const CompareState& state, const EdgeRect& pane,
                        const DrawnImage& drawn) {
  if (state.worstStep < 0 || static_cast<std::size_t>(state.worstStep) >= state.worstOrder.size()) return;
  const AnalysisWindow& w =
      state.qualityMap.windows[state.worstOrder[static_cast<std::size_t>(state.worstStep)]];
  const QRectF box = ToQRectF(ImageRectOnScreen(drawn, state.qualityMap.imageWidth,
                                                state.qualityMap.imageHeight, w.x0, w.y0, w.x1, w.y1));
  painter.save();
  painter.setClipRect(ToQRect(pane), Qt::IntersectClip);
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(QColor(255, 255, 255), 3));
  painter.drawRect(box);
  painter.setPen(QPen(QColor(20, 20, 20), 1));
  painter.drawRect(box);
  painter.restore();
}

// The legend in the right pane's upper right corner.
void PaintMapLegend(QPainter& painter, const QualityMap& map, const EdgeRect& pane) {
  const MapLegend legend = QualityMapLegend(map);
  QFont font = Fonts().smallFont;
  font.setPixelSize(13);
  QFont bold = font;
  bold.setBold(true);
  const QFontMetrics metrics(font), boldMetrics(bold);
  const int line = metrics.height() + 2, swatch = metrics.height() - 3, inset = 8;
  const QString rows[3] = {Text(legend.clear), Text(legend.yellow), Text(legend.red)};
  int width = std::max(boldMetrics.horizontalAdvance(Text(legend.title)),
                       metrics.horizontalAdvance(Text(legend.range)));
  for (const QString& row : rows) width = std::max(width, swatch + 6 + metrics.horizontalAdvance(row));
  width = std::min(width + 2 * inset, std::max(RectWidth(pane) - 16, 0));
  const QRect box(pane.right - 8 - width, pane.top + 8, width, 5 * line + 2 * inset);
  painter.save();
  painter.setClipRect(ToQRect(pane), Qt::IntersectClip);
  painter.fillRect(box, QColor(255, 255, 255, 225));
  painter.setPen(CompareFrameColor());
  painter.drawRect(box.adjusted(0, 0, -1, -1));
  painter.setPen(CompareCaptionColor());
  const int left = box.left() + inset, right = box.right() - inset;
  int top = box.top() + inset;
  painter.setFont(bold);
  painter.drawText(QRect(left, top, right - left, line), Qt::AlignLeft | Qt::AlignVCenter, Text(legend.title));
  painter.setFont(font);
  painter.drawText(QRect(left, top += line, right - left, line), Qt::AlignLeft | Qt::AlignVCenter,
                   Text(legend.range));
  const MapTint tints[3] = {MapTint{}, TintForScore((map.minWorst5 + map.minWorst) / 2, map.minWorst5, map.minWorst),
                            TintForScore(map.minWorst, map.minWorst5, map.minWorst)};
  for (int i = 0; i < 3; ++i) {
    top += line;
    const QRect sample(left, top + (line - swatch) / 2, swatch, swatch);
    painter.fillRect(sample, QColor(255, 255, 255));
    painter.fillRect(sample, ToQColor(tints[i]));
    painter.setPen(CompareFrameColor());
    painter.drawRect(sample.adjusted(0, 0, -1, -1));
    painter.setPen(CompareCaptionColor());
    painter.drawText(QRect(left + swatch + 6, top, right - left - swatch - 6, line),
                     Qt::AlignLeft | Qt::AlignVCenter, rows[i]);
  }
  painter.restore();
}

}  // namespace

QRect ToQRect(const EdgeRect& rect) {
  return QRect(rect.left, rect.top, RectWidth(rect), RectHeight(rect));
}

QImage WrapPixelImage(const PixelImage& image) {
  if (!IsUsableImage(image) || image.width > 0x7fffffffu / 4 || image.height > 0x7fffffffu) {
    return QImage();
  }
  return QImage(image.pixels.data(), static_cast<int>(image.width), static_cast<int>(image.height),
                static_cast<qsizetype>(image.width) * 4, QImage::Format_RGB32);
}

void PaintComparePane(QPainter& painter, const PixelImage& image, const EdgeRect& pane, int zoom,
                      int panX, int panY) {
  const double ratio = DevicePixelRatio(painter);
  const double scale = zoom / 100.0 / ratio;
  PaintComparePane(painter, image, pane,
                   PlaceImageScaled(pane, image.width, image.height, scale, panX, panY),
                   DrawsSharpPixels(scale, ratio));
}

void PaintComparePane(QPainter& painter, const PixelImage& image, const EdgeRect& pane,
                      const DrawnImage& drawn, bool sharp) {
  if (RectWidth(pane) <= 0 || RectHeight(pane) <= 0) return;
  painter.fillRect(ToQRect(pane), ComparePaneColor());
  const QImage view = WrapPixelImage(image);
  if (view.isNull()) return;
  const VisiblePart part = ComputeVisiblePart(pane, drawn, image.width, image.height);
  if (part.empty) return;
  painter.save();
  painter.setClipRect(ToQRect(pane), Qt::IntersectClip);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, !sharp);
  painter.drawImage(QRectF(part.targetLeft, part.targetTop, part.targetWidth, part.targetHeight),
                    view,
                    QRectF(part.sourceLeft, part.sourceTop, part.sourceWidth, part.sourceHeight));
  painter.restore();
}

void PaintQualityMap(QPainter& painter, const MapCells& cells, std::uint32_t imageWidth,
                     std::uint32_t imageHeight, const EdgeRect& pane, const DrawnImage& drawn) {
  if (cells.tints.empty() || cells.xEdges.size() < 2 || cells.yEdges.size() < 2) return;
  const VisiblePart part = ComputeVisiblePart(pane, drawn, imageWidth, imageHeight);
  if (part.empty) return;
  std::size_t c0 = 0, c1 = 0, r0 = 0, r1 = 0;
  CellRange(cells.xEdges, part.sourceLeft, part.sourceLeft + part.sourceWidth, c0, c1);
  CellRange(cells.yEdges, part.sourceTop, part.sourceTop + part.sourceHeight, r0, r1);
  const std::size_t columns = cells.xEdges.size() - 1;
  painter.save();
  painter.setClipRect(ToQRect(pane), Qt::IntersectClip);
  painter.setRenderHint(QPainter::Antialiasing, false);
  for (std::size_t r = r0; r < r1; ++r) {
    const MapTint* row = &cells.tints[r * columns];
    for (std::size_t c = c0; c < c1;) {
      std::size_t end = c + 1;
      while (end < c1 && SameTint(row[end], row[c])) ++end;  // equal neighbours: one rectangle
      if (row[c].alpha != 0) {
        painter.fillRect(ToQRectF(ImageRectOnScreen(drawn, imageWidth, imageHeight, cells.xEdges[c],
                                                    cells.yEdges[r], cells.xEdges[end], cells.yEdges[r + 1])),
                         ToQColor(row[c]));
      }
      c = end;
    }
  }
  painter.restore();
}

void PaintCompareWindow(QPainter& painter, int clientWidth, int clientHeight,
                        const CompareState& state, bool browsingResults) {
  const ComparePaintLayout layout = ComputeComparePaintLayout(clientWidth, clientHeight);
  const SharedFonts& fonts = Fonts();
  painter.fillRect(QRect(0, 0, clientWidth, clientHeight), CompareBackgroundColor());

  painter.setFont(fonts.emphasisFont);
  DrawCentredLine(painter, layout.originalLabel, CompareOriginalColor(),
                  QString::fromUtf8(kCompareOriginalText));
  DrawFittedLine(painter, layout.optimizedLabel, CompareOptimizedColor(), fonts.emphasisFont,
                 Text(CompareResultPaneLabel(state, browsingResults)));

  if (!IsUsableImage(state.sourceImage) && !state.failureText.empty()) {
    // Nothing to compare: the reason takes the panes' place, so two empty
    // panes never pose as a kept original.
    const QRect area(layout.leftPane.left, layout.leftPane.top,
                     layout.rightPane.right - layout.leftPane.left, RectHeight(layout.leftPane));
    painter.setPen(CompareCaptionColor());
    painter.drawText(area.adjusted(40, 0, -40, 0), Qt::AlignCenter | Qt::TextWordWrap,
                     Text(state.failureText));
  } else {
    const double ratio = DevicePixelRatio(painter);
    // One scale for both panes, so they stay aligned also where their widths differ.
    const double scale = ComparePanesScale(state, layout, ratio);
    const DrawnImage left = PlaceImageScaled(layout.leftPane, state.sourceImage.width,
                                             state.sourceImage.height, scale, state.panX, state.panY);
    const DrawnImage right = PlaceImageScaled(layout.rightPane, state.optimizedImage.width,
                                              state.optimizedImage.height, scale, state.panX, state.panY);
    const bool sharp = DrawsSharpPixels(scale, ratio);
    PaintComparePane(painter, state.sourceImage, layout.leftPane, left, sharp);
    PaintComparePane(painter, state.optimizedImage, layout.rightPane, right, sharp);
    if (state.qualityMapShown && HasQualityMap(state.qualityMap)) {
      PaintQualityMap(painter, state.mapCells, state.qualityMap.imageWidth, state.qualityMap.imageHeight,
                      layout.rightPane, right);
      PaintMapLegend(painter, state.qualityMap, layout.rightPane);
    }
    PaintWindowOutline(painter, state, layout.leftPane, left);
    PaintWindowOutline(painter, state, layout.rightPane, right);
    DrawFrame(painter, layout.leftPane);
    DrawFrame(painter, layout.rightPane);
  }

  // A size that cannot be read counts as 0.
  const std::string caption =
      CompareCaption(state.sourcePath, FileSize(state.sourcePath), state.optimizedPath,
                     state.optimizedPath.empty() ? 0 : FileSize(state.optimizedPath),
                     browsingResults, state.failureText, state.keptText);
  painter.setFont(fonts.smallFont);
  const QRect captionRect = ToQRect(layout.caption);
  const QString elided = QFontMetrics(painter.font())
                             .elidedText(Text(caption), Qt::ElideRight, captionRect.width());
  DrawCentredLine(painter, layout.caption, CompareCaptionColor(), elided);
  DrawFittedLine(painter, layout.hint, CompareHintColor(), fonts.smallFont, Text(kCompareHintText));
}
