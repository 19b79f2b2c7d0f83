// Painting of the compare window; see compare_painting.h. Neighbours:
// compare_view.h (geometry and texts), ui/main/fonts.h (the shared fonts).
#include "ui/compare/compare_painting.h"

#include <QFontMetrics>
#include <QPainter>

#include "platform/files.h"
#include "ui/main/fonts.h"
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
  if (RectWidth(pane) <= 0 || RectHeight(pane) <= 0) return;
  painter.fillRect(ToQRect(pane), ComparePaneColor());
  const QImage view = WrapPixelImage(image);
  if (view.isNull()) return;
  const DrawnImage drawn = PlaceImageInPane(pane, image.width, image.height, zoom, panX, panY);
  const VisiblePart part = ComputeVisiblePart(pane, drawn, image.width, image.height);
  if (part.empty) return;
  painter.save();
  painter.setClipRect(ToQRect(pane), Qt::IntersectClip);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
  painter.drawImage(QRectF(part.targetLeft, part.targetTop, part.targetWidth, part.targetHeight),
                    view,
                    QRectF(part.sourceLeft, part.sourceTop, part.sourceWidth, part.sourceHeight));
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
  DrawCentredLine(painter, layout.optimizedLabel, CompareOptimizedColor(),
                  QString::fromUtf8(kCompareOptimizedText));

  if (!IsUsableImage(state.sourceImage) && !state.failureText.empty()) {
    // Nothing to compare: the reason takes the panes' place, so two empty
    // panes never pose as a kept original.
    const QRect area(layout.leftPane.left, layout.leftPane.top,
                     layout.rightPane.right - layout.leftPane.left, RectHeight(layout.leftPane));
    painter.setPen(CompareCaptionColor());
    painter.drawText(area.adjusted(40, 0, -40, 0), Qt::AlignCenter | Qt::TextWordWrap,
                     Text(state.failureText));
  } else {
    PaintComparePane(painter, state.sourceImage, layout.leftPane, state.zoom, state.panX,
                     state.panY);
    PaintComparePane(painter, state.optimizedImage, layout.rightPane, state.zoom, state.panX,
                     state.panY);
    DrawFrame(painter, layout.leftPane);
    DrawFrame(painter, layout.rightPane);
  }

  // A size that cannot be read counts as 0.
  const std::string caption =
      CompareCaption(state.sourcePath, FileSize(state.sourcePath), state.optimizedPath,
                     state.optimizedPath.empty() ? 0 : FileSize(state.optimizedPath),
                     browsingResults, state.failureText);
  painter.setFont(fonts.smallFont);
  const QRect captionRect = ToQRect(layout.caption);
  const QString elided = QFontMetrics(painter.font())
                             .elidedText(Text(caption), Qt::ElideRight, captionRect.width());
  DrawCentredLine(painter, layout.caption, CompareCaptionColor(), elided);
}
