#include "widgets/TCustomSplitPanes.h"

#include <QPainter>
#include <QResizeEvent>
#include <algorithm>

TCustomSplitPanes::TCustomSplitPanes(QWidget* parent) : QWidget(parent) {
  bar_color_ = palette().color(QPalette::Button);
}

void TCustomSplitPanes::SetBarWidth(int width) {
  bar_width_ = std::max(0, width);
  LayoutPanes();
  update();
}

void TCustomSplitPanes::SetBarColor(const QColor& color) {
  bar_color_ = color;
  update();
}

void TCustomSplitPanes::SetStyle(TSplitStyle style) {
  style_ = style;
  LayoutPanes();
  update();
}

void TCustomSplitPanes::SetBorderStyle(TBorderStyle style) {
  border_style_ = style;
  LayoutPanes();
  update();
}

int TCustomSplitPanes::Inset() const {
  if (border_style_ == bsNone) return 0;
  switch (EffectiveStyle()) {
    case spWin95:
      return 2;
    case spInset:
    case spGroove:
      return 1;
    default:
      return 0;
  }
}

void TCustomSplitPanes::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayoutPanes();
  emit Resized();
}

void TCustomSplitPanes::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), bar_color_);
  if (border_style_ == bsNone) return;
  const QPalette& pal = palette();
  const QColor shadow = pal.color(QPalette::Dark);
  const QColor light = pal.color(QPalette::Light);
  const QColor frame = pal.color(QPalette::Shadow);
  const QColor face = pal.color(QPalette::Button);
  // A frame one pixel wide just outside `r`, `tl` on the top and left, `br` on the others.
  auto edge = [&](const QRect& r, const QColor& tl, const QColor& br) {
    const QRect o = r.adjusted(-1, -1, 1, 1);
    painter.setPen(tl);
    painter.drawLine(o.topLeft(), o.topRight());
    painter.drawLine(o.topLeft(), o.bottomLeft());
    painter.setPen(br);
    painter.drawLine(o.bottomLeft(), o.bottomRight());
    painter.drawLine(o.topRight(), o.bottomRight());
  };
  const TSplitStyle style = EffectiveStyle();
  if (style == spWin31) {
    painter.setPen(frame);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
  }
  for (const QRect& pane : PaneRects()) {
    if (pane.isEmpty()) continue;
    switch (style) {
      case spWin31:
        edge(pane, frame, frame);
        break;
      case spWin95:
        edge(pane, frame, face);
        edge(pane.adjusted(-1, -1, 1, 1), shadow, light);
        break;
      case spInset:
        edge(pane, shadow, light);
        break;
      case spGroove: {
        const QRect g = pane.translated(1, 1).adjusted(0, 0, bar_width_ / 2, bar_width_ / 2);
        edge(g, light, frame);
        edge(g.adjusted(-1, -1, 1, 1), face, shadow);
        break;
      }
      default:
        break;
    }
  }
}
