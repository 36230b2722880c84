#include "widgets/TSplitPanes.h"

#include <QMouseEvent>
#include <QScrollBar>
#include <algorithm>

TSplitPanes::TSplitPanes(QWidget* parent) : TCustomSplitPanes(parent) {
  pane1_ = new TSplitScrollPane(this);
  pane1_->setObjectName(QStringLiteral("Pane1"));
  pane2_ = new TSplitScrollPane(this);
  pane2_->setObjectName(QStringLiteral("Pane2"));
  band_ = new QWidget(this);
  band_->setObjectName(QStringLiteral("DragBand"));
  band_->setAutoFillBackground(true);
  QPalette band_palette = band_->palette();
  band_palette.setColor(QPalette::Window, palette().color(QPalette::Shadow));
  band_->setPalette(band_palette);
  band_->hide();
  setMouseTracking(true);
  ConnectSync(pane1_->horizontalScrollBar(), pane2_->horizontalScrollBar());
  ConnectSync(pane1_->verticalScrollBar(), pane2_->verticalScrollBar());
  ConnectSync(pane2_->horizontalScrollBar(), pane1_->horizontalScrollBar());
  ConnectSync(pane2_->verticalScrollBar(), pane1_->verticalScrollBar());
  LayoutPanes();
}

void TSplitPanes::ConnectSync(QScrollBar* from, QScrollBar* to) {
  connect(from, &QScrollBar::valueChanged, this, [this, to](int value) {
    if (!sync_scroll_ || syncing_) return;
    syncing_ = true;
    to->setValue(value);
    syncing_ = false;
  });
}

void TSplitPanes::SetOrientation(TSplitOrientation orientation) {
  orientation_ = orientation;
  LayoutPanes();
  update();
}

int TSplitPanes::Room() const {
  const int length = orientation_ == spHorz ? height() : width();
  return std::max(0, length - 2 * Inset() - BarWidth());
}

int TSplitPanes::EffectivePosition() const {
  return std::clamp(bar_position_, 0, Room());
}

void TSplitPanes::SetBarPosition(int position) {
  position = std::max(0, position);
  if (isVisible()) position = std::min(position, Room());
  bar_position_ = position;
  LayoutPanes();
  update();
  emit Resized();
}

int TSplitPanes::Percent() const {
  const int room = Room();
  if (room <= 0) return 0;
  return std::min(100, static_cast<int>(static_cast<long long>(bar_position_) * 100 / room));
}

void TSplitPanes::SetPercent(int percent) {
  percent = std::clamp(percent, 0, 100);
  SetBarPosition(percent == 0 ? 0
                              : static_cast<int>(static_cast<long long>(percent) * Room() / 100));
}

void TSplitPanes::SetAutoScroll(bool auto_scroll) {
  pane1_->SetAutoScroll(auto_scroll);
  pane2_->SetAutoScroll(auto_scroll);
}

QRect TSplitPanes::BarRect() const {
  const int inset = Inset();
  const int at = EffectivePosition() + inset;
  if (orientation_ == spHorz) return QRect(0, at, width(), BarWidth());
  return QRect(at, 0, BarWidth(), height());
}

void TSplitPanes::LayoutPanes() {
  if (!pane1_ || !pane2_) return;
  const QRect client = rect().adjusted(Inset(), Inset(), -Inset(), -Inset());
  const int pos = EffectivePosition();
  const int second = pos + BarWidth();
  if (orientation_ == spHorz) {
    pane1_->setGeometry(client.x(), client.y(), client.width(), pos);
    pane2_->setGeometry(client.x(), client.y() + second, client.width(),
                        std::max(0, client.height() - second));
  } else {
    pane1_->setGeometry(client.x(), client.y(), pos, client.height());
    pane2_->setGeometry(client.x() + second, client.y(), std::max(0, client.width() - second),
                        client.height());
  }
}

QList<QRect> TSplitPanes::PaneRects() const {
  return {pane1_->geometry(), pane2_->geometry()};
}

int TSplitPanes::Along(const QPoint& point) const {
  return orientation_ == spHorz ? point.y() : point.x();
}

int TSplitPanes::FarEdge() const {
  return orientation_ == spHorz ? height() : width();
}

void TSplitPanes::showEvent(QShowEvent* event) {
  TCustomSplitPanes::showEvent(event);
  // A position set before the container had its real size is brought within reach now.
  bar_position_ = EffectivePosition();
  LayoutPanes();
}

void TSplitPanes::PlaceBand() {
  if (orientation_ == spHorz) {
    band_->setGeometry(0, band_position_, width(), BarWidth());
  } else {
    band_->setGeometry(band_position_, 0, BarWidth(), height());
  }
}

void TSplitPanes::mousePressEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  if (event->button() != Qt::LeftButton || Locked() || !BarRect().contains(point)) {
    TCustomSplitPanes::mousePressEvent(event);
    return;
  }
  dragging_ = true;
  drag_offset_ = Along(point) - (EffectivePosition() + Inset());
  band_position_ = EffectivePosition() + Inset();
  if (!AutoUpdate()) {
    PlaceBand();
    band_->raise();
    band_->show();
  }
  event->accept();
}

void TSplitPanes::mouseMoveEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  if (!dragging_) {
    if (!Locked() && BarRect().contains(point)) {
      setCursor(orientation_ == spHorz ? Qt::SplitVCursor : Qt::SplitHCursor);
    } else {
      unsetCursor();
    }
    TCustomSplitPanes::mouseMoveEvent(event);
    return;
  }
  const int low = Inset();
  const int high = std::max(low, FarEdge() - BarWidth() - 2);
  band_position_ = std::clamp(Along(point) - drag_offset_, low, high);
  if (AutoUpdate()) {
    SetBarPosition(band_position_ - Inset());
  } else {
    PlaceBand();
  }
  event->accept();
}

void TSplitPanes::mouseReleaseEvent(QMouseEvent* event) {
  if (!dragging_ || event->button() != Qt::LeftButton) {
    TCustomSplitPanes::mouseReleaseEvent(event);
    return;
  }
  dragging_ = false;
  band_->hide();
  SetBarPosition(Along(event->position().toPoint()) - drag_offset_ - Inset());
  event->accept();
}
