// The main window's own drawing: the decoration under its controls, the two
// flat owner-drawn buttons and the preview pane.
//
// The geometry comes from main_layout.h, the texts from main_texts.h and the
// state (busy flag, preview image) from main_window_state.h; this file only
// turns them into QPainter calls. Nothing here keeps state of its own except
// the preview pane's scaled copy of the current image, which saves scaling a
// full-size photo again on every repaint.
#pragma once

#include <QAbstractButton>
#include <QFrame>
#include <QImage>
#include <cstdint>

class QPainter;
struct PixelRect;

struct RgbColor {
  int red = 0;
  int green = 0;
  int blue = 0;
};

// Colours of the main window.
constexpr RgbColor kBackgroundColor{235, 244, 255};
constexpr RgbColor kHeaderColor{8, 84, 177};
constexpr RgbColor kAccentColor{255, 166, 32};
constexpr RgbColor kWhite{255, 255, 255};
constexpr RgbColor kCaptionStripColors[3] = {{219, 238, 255}, {226, 247, 236}, {255, 237, 211}};
constexpr RgbColor kCaptionTextColors[3] = {{16, 78, 154}, {23, 126, 78}, {194, 99, 5}};
constexpr RgbColor kHintColor{84, 94, 107};
constexpr RgbColor kRightCaptionColor{80, 91, 105};
constexpr RgbColor kStartNormalColor{21, 181, 88};
constexpr RgbColor kStartPressedColor{14, 154, 74};
constexpr RgbColor kStartDisabledColor{130, 178, 149};
constexpr RgbColor kChooseNormalColor{24, 119, 224};
constexpr RgbColor kChoosePressedColor{13, 92, 182};
constexpr RgbColor kPreviewBackgroundColor{246, 249, 253};
constexpr RgbColor kPreviewImageAreaColor{245, 248, 252};
constexpr RgbColor kPreviewCaptionColor{54, 70, 88};

QColor ToQColor(RgbColor color);

// `font`, narrowed (font stretch, down to 70 %) when `text` would otherwise
// be wider than `width` pixels. The layout's fixed boxes were measured with
// Segoe UI; where that face is missing the fallback face is wider, and a text
// drawn into a fixed box would be clipped or run into its neighbour.
QFont FittedFont(const QFont& font, const QString& text, int width);

// A rounded rectangle in one colour without outline; `cornerSize` is the
// width and height of the corner ellipse.
void FillRoundRect(QPainter& painter, const PixelRect& rect, RgbColor color, int cornerSize);

// Background, header, cards, caption strips and captions of a client area of
// the given size (`liveStatusGrowth` as in LayoutMainWindow).
void PaintMainWindow(QPainter& painter, int clientWidth, int clientHeight, int liveStatusGrowth = 0);

// The start button (1007) and the choose button (1008): flat fills, white
// centred text, no border and no focus rectangle.
class ActionButton : public QAbstractButton {
 public:
  ActionButton(int controlId, QWidget* parent);
  int ControlId() const { return controlId_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int controlId_;
};

// The colour a button is filled with in its current state.
RgbColor ActionButtonColor(int controlId, bool enabled, bool pressed);

// The preview pane: the selected image scaled to fit with its caption, or
// the hint text when there is no image. Reads MainState() at every paint.
class PreviewPane : public QFrame {
 public:
  explicit PreviewPane(QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void PaintContents(QPainter& painter, int width, int height);
  const QImage& ScaledPreview(int width, int height);

  QImage scaled_;                 // the preview image at its drawn size
  std::uint64_t scaledGeneration_ = 0;  // MainState().previewGeneration it was made from
};
