// The shared fonts; see fonts.h. Read by every window module under ui/.
#include "ui/main/fonts.h"

#include <QStringList>

namespace {

QFont MakeFont(int pixelSize, int weight) {
  QFont font;
  // Preferred face first; the style hint makes a system without either
  // family fall back to its sans-serif rather than to a serif default.
  font.setFamilies(QStringList{QStringLiteral("Segoe UI"), QStringLiteral("DejaVu Sans")});
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
