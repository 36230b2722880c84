#include "dialogs/TaskEditorBitmaps.h"

#include <QColor>
#include <QFont>
#include <QPainter>

namespace {

const QColor kGround(255, 0, 255);

QImage Blank(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(kGround);
  return image;
}

}  // namespace

QImage TaskEditorBitmaps::HelpMode() {
  QImage image = Blank(20, 18);
  QPainter painter(&image);
  const QPoint arrow[] = {{2, 1}, {2, 14}, {5, 11}, {8, 16}, {10, 15}, {7, 10}, {11, 10}};
  painter.setPen(Qt::black);
  painter.setBrush(Qt::white);
  painter.drawPolygon(arrow, 7);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(12);
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(QColor(0, 0, 128));
  painter.drawText(QRect(11, 0, 9, 14), Qt::AlignCenter, QStringLiteral("?"));
  return image;
}

QImage TaskEditorBitmaps::KeyList() {
  QImage image = Blank(14, 14);
  QPainter painter(&image);
  painter.setPen(Qt::white);
  painter.setBrush(Qt::white);
  painter.drawRect(1, 1, 11, 11);
  painter.setPen(Qt::black);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(1, 1, 11, 11);
  painter.setPen(QColor(0, 0, 128));
  for (int y = 4; y <= 10; y += 3) painter.drawLine(4, y, 10, y);
  return image;
}

QImage TaskEditorBitmaps::Calendar() {
  QImage image = Blank(16, 16);
  QPainter painter(&image);
  painter.setPen(Qt::black);
  painter.setBrush(Qt::white);
  painter.drawRect(1, 2, 13, 12);
  painter.fillRect(2, 3, 12, 3, QColor(160, 0, 0));
  painter.setPen(Qt::black);
  painter.drawLine(4, 1, 4, 3);
  painter.drawLine(11, 1, 11, 3);
  painter.setPen(QColor(64, 64, 64));
  for (int y = 8; y <= 12; y += 2)
    for (int x = 3; x <= 12; x += 3) painter.drawPoint(x, y);
  return image;
}

QImage TaskEditorBitmaps::Clock() {
  QImage image = Blank(16, 16);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setPen(QPen(Qt::black, 1.2));
  painter.setBrush(Qt::white);
  painter.drawEllipse(QRectF(1.5, 1.5, 13, 13));
  painter.setPen(QPen(QColor(0, 0, 128), 1.4));
  painter.drawLine(QPointF(8, 8), QPointF(8, 4));
  painter.drawLine(QPointF(8, 8), QPointF(11, 9.5));
  painter.setRenderHint(QPainter::Antialiasing, false);
  // The top-left pixel must stay the ground colour after antialiased drawing.
  image.setPixelColor(0, 0, kGround);
  return image;
}
