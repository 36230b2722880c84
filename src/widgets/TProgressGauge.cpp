#include "widgets/TProgressGauge.h"

#include <QEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "platform/UserMessages.h"

namespace {

bool RefuseBound(int low, int high) {
  UserMessages::Current().Information(
      QStringLiteral("Listwise"),
      QStringLiteral("Value must be between %1 and %2").arg(low).arg(high));
  return false;
}

}  // namespace

TProgressGauge::TProgressGauge(QWidget* parent) : QWidget(parent) {
  color_ = palette().color(QPalette::Window);
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(100, 100);
}

void TProgressGauge::SetKind(TGaugeKind kind) {
  if (kind == kind_) return;
  kind_ = kind;
  update();
}

bool TProgressGauge::SetMinValue(int value) {
  if (value == min_value_) return true;
  if (value > max_value_) return RefuseBound(std::numeric_limits<int>::min() + 1, max_value_ - 1);
  const int before = PercentDone();
  min_value_ = value;
  progress_ = std::max(progress_, min_value_);
  if (PercentDone() != before) update();
  return true;
}

bool TProgressGauge::SetMaxValue(int value) {
  if (value == max_value_) return true;
  if (value < min_value_) return RefuseBound(min_value_ + 1, std::numeric_limits<int>::max());
  const int before = PercentDone();
  max_value_ = value;
  progress_ = std::min(progress_, max_value_);
  if (PercentDone() != before) update();
  return true;
}

void TProgressGauge::SetProgress(int value) {
  value = std::clamp(value, min_value_, max_value_);
  if (value == progress_) return;
  const int before = PercentDone();
  progress_ = value;
  if (PercentDone() != before) update();
}

void TProgressGauge::AddProgress(int delta) {
  // In 64 bits, so that a large step near the end of the range saturates instead of wrapping.
  const qint64 sum = qint64(progress_) + delta;
  SetProgress(int(std::clamp<qint64>(sum, min_value_, max_value_)));
}

int TProgressGauge::PercentDone() const {
  // In 64 bits: a range of millions of records times 100 does not fit an int.
  const qint64 range = qint64(max_value_) - min_value_;
  if (range == 0) return 0;
  return int((qint64(progress_) - min_value_) * 100 / range);
}

void TProgressGauge::SetShowText(bool show) {
  if (show == show_text_) return;
  show_text_ = show;
  update();
}

void TProgressGauge::SetBorderStyle(TBorderStyle style) {
  if (style == border_style_) return;
  border_style_ = style;
  update();
}

void TProgressGauge::SetForeColor(const QColor& color) {
  if (color == fore_color_) return;
  fore_color_ = color;
  update();
}

void TProgressGauge::SetBackColor(const QColor& color) {
  if (color == back_color_) return;
  back_color_ = color;
  update();
}

void TProgressGauge::SetColor(const QColor& color) {
  if (color == color_) return;
  color_ = color;
  update();
}

QImage TProgressGauge::RenderImage() const {
  QImage image(size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
  // Black first: with a border, the one-pixel margin left around the drawing area is the border.
  image.fill(Qt::black);
  QRect area = image.rect();
  if (border_style_ == bsSingle) area.adjust(1, 1, -1, -1);
  if (area.isEmpty()) return image;
  const int percent = PercentDone();
  DrawGauge(&image, area, percent);
  if (show_text_) DrawText(&image, area, percent);
  return image;
}

void TProgressGauge::DrawGauge(QImage* image, const QRect& area, int percent) const {
  QPainter painter(image);
  switch (kind_) {
    case gsText:
      painter.fillRect(area, back_color_);
      break;
    case gsHorizontalBar: {
      painter.fillRect(area, back_color_);
      const int width = std::min(area.width(), percent * area.width() / 100);
      if (width > 0)
        painter.fillRect(QRect(area.left(), area.top(), width, area.height()), fore_color_);
      break;
    }
    case gsVerticalBar: {
      painter.fillRect(area, back_color_);
      const int height = std::min(area.height(), percent * area.height() / 100);
      if (height > 0) {
        painter.fillRect(QRect(area.left(), area.bottom() - height + 1, area.width(), height),
                         fore_color_);
      }
      break;
    }
    case gsPie: {
      painter.fillRect(area, color_);
      painter.setRenderHint(QPainter::Antialiasing);
      painter.setPen(fore_color_);
      painter.setBrush(back_color_);
      const QRectF oval = QRectF(area).adjusted(0.5, 0.5, -0.5, -0.5);
      painter.drawEllipse(oval);
      if (percent > 0) {
        painter.setBrush(fore_color_);
        // From twelve o'clock, clockwise (Qt counts angles anticlockwise in 1/16 degrees).
        painter.drawPie(oval, 90 * 16, -percent * 360 * 16 / 100);
      }
      break;
    }
    case gsNeedle: {
      painter.fillRect(area, color_);
      painter.setRenderHint(QPainter::Antialiasing);
      painter.setPen(fore_color_);
      painter.setBrush(back_color_);
      // The dial is the upper half of an ellipse whose centre is the middle of the bottom edge.
      const qreal rx = (area.width() - 1) / 2.0;
      const qreal ry = area.height() - 1;
      const QPointF centre(area.left() + 0.5 + rx, area.bottom() + 0.5);
      const QRectF oval(centre.x() - rx, centre.y() - ry, 2 * rx, 2 * ry);
      painter.drawPie(oval, 0, 180 * 16);
      if (percent > 0) {
        const double angle = std::numbers::pi * (1.0 - percent / 100.0);
        painter.drawLine(
            centre, QPointF(centre.x() + rx * std::cos(angle), centre.y() - ry * std::sin(angle)));
      }
      break;
    }
  }
}

void TProgressGauge::DrawText(QImage* image, const QRect& area, int percent) const {
  // White text on black, combined bit by bit with the gauge: black leaves the gauge as it is and
  // white turns each pixel into its inverse. Without smoothing, so every text pixel is pure white
  // and the inverse stays crisp.
  QImage text(image->size(), QImage::Format_RGB32);
  text.fill(Qt::black);
  {
    QPainter painter(&text);
    QFont plain = font();
    plain.setStyleStrategy(QFont::NoAntialias);
    painter.setFont(plain);
    painter.setPen(Qt::white);
    painter.drawText(area, Qt::AlignCenter, QStringLiteral("%1%").arg(percent));
  }
  QPainter painter(image);
  painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  painter.drawImage(0, 0, text);
}

void TProgressGauge::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, RenderImage());
}

void TProgressGauge::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) update();
  QWidget::changeEvent(event);
}
