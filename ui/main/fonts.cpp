// The shared fonts; see fonts.h. Read by every window module under ui/.
#include "ui/main/fonts.h"

#include <QStringList>

namespace {

QFont MakeFont(int pixelSize, int weight) {
  QFont font;
  // The design's face first, then Cantarell, whose widths come within about
  // one per cent of it on the program's longest texts (Noto Sans, Open Sans
  // and Inter run 5 to 9 per cent wider, DejaVu Sans 15 to 20), so the texts
  // fit the boxes measured for it. The style hint makes a system without any
  // of them fall back to its sans-serif rather than to a serif default.
  font.setFamilies(QStringList{QStringLiteral("Segoe UI"), QStringLiteral("Cantarell"),
                               QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif, QFont::PreferAntialias);
  font.setPixelSize(pixelSize);
  font.setWeight(static_cast<QFont::Weight>(weight));
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
  return font;
}

}  // namespace

SharedFonts& Fonts() {
  static SharedFonts fonts;
  return fonts;
}

void CreateSharedFonts() {
  SharedFonts& fonts = Fonts();
  fonts.bodyFont = MakeFont(17, 400);
  fonts.smallFont = MakeFont(15, 400);
  fonts.emphasisFont = MakeFont(18, 600);
  fonts.titleFont = MakeFont(29, 700);
  fonts.guideFont = MakeFont(23, 400);
  fonts.created = true;
}

void ReleaseSharedFonts() { Fonts() = SharedFonts{}; }
