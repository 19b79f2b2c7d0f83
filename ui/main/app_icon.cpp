// The program's icon; see app_icon.h.
#include "ui/main/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include "ui/main/main_painting.h"

QImage DrawApplicationIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, true);
  // Drawn on a 256-unit grid, scaled to the requested size.
  painter.scale(size / 256.0, size / 256.0);
  painter.setPen(Qt::NoPen);

  painter.setBrush(ToQColor(kHeaderColor));
  painter.drawRoundedRect(QRectF(16, 16, 224, 224), 44, 44);

  // The photo card with sky, sun and hills.
  painter.setBrush(ToQColor(kWhite));
  painter.drawRoundedRect(QRectF(44, 48, 168, 128), 14, 14);
  painter.setBrush(ToQColor(kCaptionStripColors[0]));
  painter.drawRect(QRectF(56, 60, 144, 104));
  painter.setBrush(ToQColor(kAccentColor));
  painter.drawEllipse(QPointF(168, 90), 15, 15);
  painter.setBrush(ToQColor(kStartNormalColor));
  painter.drawPolygon(QPolygonF({QPointF(56, 164), QPointF(56, 138), QPointF(100, 100),
                                 QPointF(132, 128), QPointF(154, 110), QPointF(200, 150),
                                 QPointF(200, 164)}));

  // The accent bar, shorter than the photo: the file gets smaller.
  painter.setBrush(ToQColor(kAccentColor));
  painter.drawRoundedRect(QRectF(76, 194, 104, 18), 9, 9);
  painter.end();
  return image;
}

QIcon ApplicationIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    icon.addPixmap(QPixmap::fromImage(DrawApplicationIcon(size)));
  }
  return icon;
}
