#include "platform/ScreenFit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

QRect ScreenFit::Fit(const QRect& wanted, const QRect& area) {
  if (area.isEmpty() || wanted.isEmpty()) return wanted;
  const int width = std::min(wanted.width(), area.width());
  const int height = std::min(wanted.height(), area.height());
  // Pushed back from the right and bottom first, then from the left and top, so a rectangle of
  // the area's own size ends exactly on it.
  int left = std::min(wanted.x(), area.x() + area.width() - width);
  int top = std::min(wanted.y(), area.y() + area.height() - height);
  left = std::max(left, area.x());
  top = std::max(top, area.y());
  return QRect(left, top, width, height);
}

QRect ScreenFit::AvailableAreaFor(const QRect& rect) {
  QScreen* best = nullptr;
  qint64 bestOverlap = -1;
  for (QScreen* screen : QGuiApplication::screens()) {
    const QRect overlap = screen->geometry().intersected(rect);
    const qint64 size = overlap.isEmpty() ? 0 : qint64(overlap.width()) * overlap.height();
    if (size > bestOverlap) {
      bestOverlap = size;
      best = screen;
    }
  }
  // A rectangle on no screen at all belongs to the screen nearest to its centre.
  if (bestOverlap == 0) {
    qint64 nearest = -1;
    for (QScreen* screen : QGuiApplication::screens()) {
      const QPoint d = screen->geometry().center() - rect.center();
      const qint64 distance = qint64(d.x()) * d.x() + qint64(d.y()) * d.y();
      if (nearest < 0 || distance < nearest) {
        nearest = distance;
        best = screen;
      }
    }
  }
  if (best == nullptr) best = QGuiApplication::primaryScreen();
  return best != nullptr ? best->availableGeometry() : QRect();
}

void ScreenFit::FitWindow(QWidget* window) {
  if (window == nullptr || !window->isWindow()) return;
  const QRect inner = window->geometry();
  const QRect frame = window->isVisible() ? window->frameGeometry() : inner;
  // The frame's edges around the client area, which must fit as well.
  const QMargins edges(inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
                       frame.bottom() - inner.bottom());
  const QRect fitted = Fit(frame, AvailableAreaFor(frame));
  if (fitted == frame) return;
  window->setGeometry(fitted.marginsRemoved(edges));
}
