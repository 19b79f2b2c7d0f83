// Painting of the main window, its buttons and the preview pane; see
// main_painting.h. Neighbours: main_layout.h (geometry), main_texts.h
// (texts), fonts.h (the shared fonts), main_window_state.h (what is shown).
#include "ui/main/main_painting.h"

#include <QPainter>
#include <QResizeEvent>
#include <algorithm>
#include <utility>

#include "core/live_status.h"
#include "platform/files.h"
#include "ui/main/fonts.h"
#include "ui/main/main_commands.h"
#include "ui/main/main_layout.h"
#include "ui/main/main_texts.h"
#include "ui/main/main_window_state.h"
#include "ui/main/qt_helpers.h"
#include "ui/main/window_names.h"

namespace {

// Text whose top-left corner sits at `point`, as a text cell, not a baseline,
// narrowed to end before `right`.
void DrawTextAt(QPainter& painter, PixelPoint point, const QString& text, int right) {
  painter.setFont(FittedFont(painter.font(), text, right - point.x));
  const QFontMetrics metrics(painter.font());
  const QRect cell(point.x, point.y, metrics.horizontalAdvance(text) + 2, metrics.height());
  painter.drawText(cell, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
}

// Like DrawTextAt, but a text wider than `right` - point.x wraps at its
// spaces into more lines, growing upwards: its last line stays where the
// single line would have been.
void DrawTextAtOrWrapped(QPainter& painter, PixelPoint point, const QString& text, int right) {
  const QFontMetrics metrics(painter.font());
  const int width = right - point.x;
  if (metrics.horizontalAdvance(text) <= width) {
    DrawTextAt(painter, point, text, right);
    return;
  }
  const int flags = Qt::AlignLeft | Qt::AlignBottom | Qt::TextWordWrap;
  const QRect needed = metrics.boundingRect(QRect(0, 0, width, 1000), flags, text);
  const int bottom = point.y + metrics.height();
  painter.drawText(QRect(point.x, bottom - needed.height(), width, needed.height()), flags, text);
}

}  // namespace

QColor ToQColor(RgbColor color) { return QColor(color.red, color.green, color.blue); }

QFont FittedFont(const QFont& font, const QString& text, int width) {
  const int natural = QFontMetrics(font).horizontalAdvance(text);
  if (natural <= width || natural <= 0 || width <= 0) return font;
  QFont narrowed = font;
  for (int stretch = 100 * width / natural; stretch >= 70; --stretch) {
    narrowed.setStretch(stretch);
    if (QFontMetrics(narrowed).horizontalAdvance(text) <= width) return narrowed;
  }
  return narrowed;
}

void FillRoundRect(QPainter& painter, const PixelRect& rect, RgbColor color, int cornerSize) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setPen(Qt::NoPen);
  painter.setBrush(ToQColor(color));
  const double radius = cornerSize / 2.0;
  painter.drawRoundedRect(QRectF(rect.x, rect.y, rect.width, rect.height), radius, radius);
  painter.restore();
}

void PaintMainWindow(QPainter& painter, int clientWidth, int clientHeight, int liveStatusGrowth) {
  const MainWindowDecoration d =
      ComputeMainWindowDecoration(clientWidth, clientHeight, liveStatusGrowth);
  const SharedFonts& fonts = Fonts();
  painter.fillRect(ToQRect(d.background), ToQColor(kBackgroundColor));
  painter.fillRect(ToQRect(d.headerBand), ToQColor(kHeaderColor));
  painter.fillRect(ToQRect(d.accentLine), ToQColor(kAccentColor));

  painter.setPen(ToQColor(kWhite));
  painter.setFont(fonts.titleFont);
  DrawTextAt(painter, d.title, Text(kProductName), clientWidth - d.title.x);

  for (int card = 0; card < 3; ++card) {
    FillRoundRect(painter, d.cards[card], kWhite, 14);
    FillRoundRect(painter, d.captionStrips[card], kCaptionStripColors[card], 10);
  }
  for (int card = 0; card < 3; ++card) {
    const PixelRect& strip = d.captionStrips[card];
    painter.setFont(fonts.emphasisFont);
    painter.setPen(ToQColor(kCaptionTextColors[card]));
    DrawTextAt(painter, d.cardCaptions[card], Text(kCardCaptions[card]), strip.x + strip.width - 6);
  }

  // Texts inside a card end a few pixels before its right edge.
  const int card1Right = d.cards[0].x + d.cards[0].width - 6;
  const int card3Right = d.cards[2].x + d.cards[2].width - 6;
  painter.setFont(fonts.smallFont);
  painter.setPen(ToQColor(kHintColor));
  DrawTextAtOrWrapped(painter, d.stackHint, Text(kStackHint), card1Right);
  painter.setPen(ToQColor(kRightCaptionColor));
  for (const auto& [point, text] : {std::pair{d.outputCaption, kOutputCaption},
                                    std::pair{d.liveStatusCaption, kLiveStatusCaption},
                                    std::pair{d.resultsCaption, kResultsCaption}}) {
    painter.setFont(fonts.smallFont);
    DrawTextAt(painter, point, Text(text), card3Right);
  }
}

// --- Buttons ---------------------------------------------------------------

ActionButton::ActionButton(int controlId, QWidget* parent)
    : QAbstractButton(parent), controlId_(controlId) {
  setProperty("controlId", controlId);
  // Owner-drawn buttons show no focus; taking none keeps F5 and F6 with the
  // window after a click.
  setFocusPolicy(Qt::NoFocus);
  setText(Text(controlId == kIdStartButton ? kStartButtonText : kChooseButtonText));
}

RgbColor ActionButtonColor(int controlId, bool enabled, bool pressed) {
  if (controlId == kIdStartButton) {
    if (!enabled) return kStartDisabledColor;
    return pressed ? kStartPressedColor : kStartNormalColor;
  }
  return pressed ? kChoosePressedColor : kChooseNormalColor;
}

void ActionButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), ToQColor(ActionButtonColor(controlId_, isEnabled(), isDown())));
  painter.setPen(ToQColor(kWhite));
  const bool start = controlId_ == kIdStartButton;
  const QString text = Text(start ? (MainState().batchRunning ? kStartButtonBusyText : kStartButtonText)
                                  : kChooseButtonText);
  painter.setFont(FittedFont(start ? Fonts().emphasisFont : Fonts().bodyFont, text, width() - 8));
  painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text);
}

// --- Preview pane ------------------------------------------------------------

PreviewPane::PreviewPane(QWidget* parent) : QFrame(parent) {
  setObjectName(QString::fromUtf8(kPreviewPaneName));
  // The sunken two-pixel edge of a client-edge window.
  setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
}

void PreviewPane::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  update();
}

void PreviewPane::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect inner = contentsRect();
  painter.save();
  painter.translate(inner.topLeft());
  painter.setClipRect(QRect(0, 0, inner.width(), inner.height()));
  PaintContents(painter, inner.width(), inner.height());
  painter.restore();
  drawFrame(&painter);
}

const QImage& PreviewPane::ScaledPreview(int width, int height) {
  const MainWindowState& state = MainState();
  if (scaled_.isNull() || scaledGeneration_ != state.previewGeneration ||
      scaled_.width() != width || scaled_.height() != height) {
    const PixelImage& image = state.previewImage;
    // The alpha byte is ignored, as a plain copy of the pixels would.
    const QImage view(image.pixels.data(), static_cast<int>(image.width),
                      static_cast<int>(image.height), static_cast<qsizetype>(image.width) * 4,
                      QImage::Format_RGB32);
    scaled_ = view.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    scaledGeneration_ = state.previewGeneration;
  }
  return scaled_;
}

void PreviewPane::PaintContents(QPainter& painter, int width, int height) {
  const MainWindowState& state = MainState();
  painter.fillRect(QRect(0, 0, width, height), ToQColor(kPreviewBackgroundColor));
  painter.setFont(Fonts().smallFont);
  if (!IsUsableImage(state.previewImage)) {
    const QString hint = Text(state.previewFailure.empty() ? ToDisplayLineEnds(kPreviewHint)
                                                           : state.previewFailure);
    // The hint's box grows downwards when a narrow pane wraps it into more
    // lines than the box holds.
    QRect box = ToQRect(PreviewHintRect(width, height));
    const int needed = painter.fontMetrics()
                           .boundingRect(box, Qt::AlignHCenter | Qt::TextWordWrap, hint)
                           .height();
    box.setHeight(std::max(box.height(), needed));
    painter.setPen(ToQColor(kHintColor));
    painter.drawText(box, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, hint);
    return;
  }
  const PreviewPlacement placement = PlacePreviewImage(
      width, height, state.previewImage.width, state.previewImage.height);
  painter.fillRect(ToQRect(placement.imageArea), ToQColor(kPreviewImageAreaColor));
  painter.drawImage(ToQRect(placement.image).topLeft(),
                    ScaledPreview(placement.image.width, placement.image.height));

  const std::string caption = FileNamePart(state.previewPath) + "   |   " +
                              FormatBytes(FileSize(state.previewPath));
  const QRect captionRect = ToQRect(placement.caption);
  const QString elided = QFontMetrics(painter.font())
                             .elidedText(Text(caption), Qt::ElideRight, captionRect.width());
  painter.setPen(ToQColor(kPreviewCaptionColor));
  painter.drawText(captionRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, elided);
}
