#include "widgets/TGraphicPanel.h"

#include <QAccessibleWidget>
#include <QContextMenuEvent>
#include <QEvent>
#include <QFontMetrics>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace {

// A rectangle in the form the frames need: right and bottom exclusive, shrinking by one pixel on
// each side per pixel of frame width.
struct Box {
  int left, top, right, bottom;
  bool Empty() const { return right <= left || bottom <= top; }
};

// Frames `width` pixels deep, one pixel at a time inward. Of each ring the top row and the left
// column, except their far ends, take `top_left`; the right column and the bottom row take
// `bottom_right`, so the corners top-right and bottom-left belong to the dark side, as a raised
// face lit from the top left shows them.
void Frame3D(QPainter* painter, Box* box, const QColor& top_left, const QColor& bottom_right,
             int width) {
  for (int i = 0; i < width && !box->Empty(); ++i) {
    const int r = box->right - 1;
    const int b = box->bottom - 1;
    painter->fillRect(box->left, box->top, std::max(0, r - box->left), 1, top_left);
    painter->fillRect(box->left, box->top, 1, std::max(0, b - box->top), top_left);
    painter->fillRect(r, box->top, 1, b - box->top + 1, bottom_right);
    painter->fillRect(box->left, b, r - box->left + 1, 1, bottom_right);
    ++box->left;
    ++box->top;
    --box->right;
    --box->bottom;
  }
}

// What a screen reader meets in a panel: a button (the panel answers clicks) named by its
// caption unless the form named it, which its press action clicks.
class GraphicPanelAccessible : public QAccessibleWidget {
 public:
  explicit GraphicPanelAccessible(TGraphicPanel* panel) : QAccessibleWidget(panel, QAccessible::Button) {}
  QString text(QAccessible::Text t) const override {
    QString s = QAccessibleWidget::text(t);
    if (t == QAccessible::Name && s.isEmpty()) s = static_cast<TGraphicPanel*>(widget())->Caption();
    return s;
  }
  QStringList actionNames() const override { return {pressAction()}; }
  void doAction(const QString& name) override {
    if (name == pressAction()) emit static_cast<TGraphicPanel*>(widget())->Click();
  }
};

QAccessibleInterface* GraphicPanelInterface(const QString& class_name, QObject* object) {
  if (class_name == QLatin1String("TGraphicPanel") && object != nullptr && object->isWidgetType())
    return new GraphicPanelAccessible(static_cast<TGraphicPanel*>(object));
  return nullptr;
}

}  // namespace

TGraphicPanel::TGraphicPanel(QWidget* parent) : QWidget(parent) {
  static const bool kAccessible = (QAccessible::installFactory(GraphicPanelInterface), true);
  Q_UNUSED(kAccessible);
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(185, 41);
}

void TGraphicPanel::SetAlignment(Qt::Alignment alignment) {
  alignment_ = alignment & Qt::AlignHorizontal_Mask;
  if (!(alignment_ & (Qt::AlignLeft | Qt::AlignRight))) alignment_ = Qt::AlignHCenter;
  update();
}

void TGraphicPanel::SetBevelOuter(TBevelCut bevel) {
  bevel_outer_ = bevel;
  update();
}

void TGraphicPanel::SetBevelInner(TBevelCut bevel) {
  bevel_inner_ = bevel;
  update();
}

void TGraphicPanel::SetBevelWidth(int width) {
  bevel_width_ = std::max(0, width);
  update();
}

void TGraphicPanel::SetBorderWidth(int width) {
  border_width_ = std::max(0, width);
  update();
}

void TGraphicPanel::SetBorderStyle(TBorderStyle style) {
  border_style_ = style;
  update();
}

void TGraphicPanel::SetCaption(const QString& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  update();
}

QColor TGraphicPanel::Color() const {
  if (parent_color_ && parentWidget()) return parentWidget()->palette().color(QPalette::Window);
  return color_.isValid() ? color_ : palette().color(QPalette::Button);
}

void TGraphicPanel::SetColor(const QColor& color) {
  color_ = color;
  parent_color_ = false;
  update();
}

QColor TGraphicPanel::FontColor() const {
  return font_color_.isValid() ? font_color_ : palette().color(QPalette::ButtonText);
}

void TGraphicPanel::SetFontColor(const QColor& color) {
  font_color_ = color;
  update();
}

void TGraphicPanel::SetParentColor(bool parent_color) {
  parent_color_ = parent_color;
  update();
}

bool TGraphicPanel::ParentFont() const {
  return !testAttribute(Qt::WA_SetFont);
}

void TGraphicPanel::SetParentFont(bool parent_font) {
  if (parent_font == ParentFont()) return;
  // A font without any resolved attribute makes Qt take every attribute from the parent again.
  if (parent_font) {
    setFont(QFont());
  } else {
    QFont own = font();
    own.setResolveMask(QFont::AllPropertiesResolved);
    setFont(own);
  }
  update();
}

void TGraphicPanel::SetHint(const QString& hint) {
  hint_ = hint;
  UpdateToolTip();
}

void TGraphicPanel::SetShowHint(bool show) {
  show_hint_ = show;
  UpdateToolTip();
}

void TGraphicPanel::UpdateToolTip() {
  setToolTip(show_hint_ ? hint_ : QString());
}

QMenu* TGraphicPanel::PopupMenu() const {
  return popup_menu_;
}

void TGraphicPanel::SetPopupMenu(QMenu* menu) {
  popup_menu_ = menu;
}

QImage TGraphicPanel::RenderImage() const {
  QImage image(size(), QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  PaintTo(&painter);
  return image;
}

void TGraphicPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintTo(&painter);
}

void TGraphicPanel::PaintTo(QPainter* painter) const {
  const QPalette& pal = palette();
  const QColor face = Color();
  const QColor light = pal.color(QPalette::Light);
  const QColor shadow = pal.color(QPalette::Dark);
  Box box{0, 0, width(), height()};

  if (border_style_ == bsSingle) Frame3D(painter, &box, Qt::black, Qt::black, 1);
  if (bevel_outer_ != bvNone) {
    const bool raised = bevel_outer_ == bvRaised;
    Frame3D(painter, &box, raised ? light : shadow, raised ? shadow : light, bevel_width_);
  }
  Frame3D(painter, &box, face, face, border_width_);
  if (bevel_inner_ != bvNone) {
    const bool raised = bevel_inner_ == bvRaised;
    Frame3D(painter, &box, raised ? light : shadow, raised ? shadow : light, bevel_width_);
  }
  if (box.Empty()) return;
  painter->fillRect(box.left, box.top, box.right - box.left, box.bottom - box.top, face);

  if (caption_.isEmpty()) return;
  // Centred on the height of a capital letter's cell, as every panel of the program centres its
  // caption, whatever the letters of this one reach above or below.
  const QFontMetrics metrics(font());
  const int text_height = metrics.height();
  const int top = (box.top + box.bottom - text_height) / 2;
  const QRect text_rect(box.left, top, box.right - box.left, text_height);
  painter->save();
  painter->setClipRect(text_rect);
  painter->setFont(font());
  painter->setPen(FontColor());
  painter->drawText(text_rect,
                    static_cast<int>(alignment_) | Qt::AlignTop | Qt::TextSingleLine |
                        Qt::TextExpandTabs | Qt::TextShowMnemonic,
                    caption_);
  painter->restore();
}

void TGraphicPanel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    pressed_ = true;
    event->accept();
    return;
  }
  QWidget::mousePressEvent(event);
}

void TGraphicPanel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && pressed_) {
    pressed_ = false;
    event->accept();
    // A press that slides off the panel before the button comes up is no click.
    if (rect().contains(event->position().toPoint())) emit Click();
    return;
  }
  QWidget::mouseReleaseEvent(event);
}

void TGraphicPanel::contextMenuEvent(QContextMenuEvent* event) {
  if (popup_menu_) {
    popup_menu_->popup(event->globalPos());
    event->accept();
    return;
  }
  QWidget::contextMenuEvent(event);
}

void TGraphicPanel::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange) pressed_ = false;
  QWidget::changeEvent(event);
}
