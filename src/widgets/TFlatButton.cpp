#include "widgets/TFlatButton.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>
#include <algorithm>

namespace {

constexpr int kGap = 2;
constexpr int kMarkWidth = 10;

struct Thresholds {
  int high, middle, low;
};

Thresholds ThresholdsFor(TFlatButton::TShadingType type) {
  switch (type) {
    case TFlatButton::stLight:
      return {205, 127, 68};
    case TFlatButton::stDark:
      return {335, 274, 175};
    case TFlatButton::stMedium:
      break;
  }
  return {553, 231, 57};
}

// The picture with its top-left colour made fully transparent, ready to draw over any face.
QImage WithTransparency(const QImage& image) {
  if (image.isNull()) return image;
  // Compared with its alpha: in a picture that has its own transparency, a see-through corner
  // must not take the opaque pixels of the same colour with it.
  QImage out = image.convertToFormat(QImage::Format_ARGB32);
  const QRgb key = out.pixel(0, 0);
  for (int y = 0; y < out.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x) {
      if (line[x] == key) line[x] = 0;
    }
  }
  return out;
}

// Every visible pixel of the picture in one colour: the silhouette of the disabled look. A
// pixel keeps its opacity, so a drawn picture's smoothed edges stay smooth.
QImage Silhouette(const QImage& image, const QColor& color) {
  QImage out = WithTransparency(image);
  const QRgb fill = color.rgb() & 0xFFFFFFu;
  for (int y = 0; y < out.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x) {
      if (qAlpha(line[x]) != 0) line[x] = fill | (line[x] & 0xFF000000u);
    }
  }
  return out;
}

// Layout works in device-independent pixels: a picture rendered for a 2x screen has twice the
// pixels of its place on the button.
QSize PlaceOf(const QImage& image) {
  return image.deviceIndependentSize().toSize();
}

int AlignedX(TFlatButton::TAlignment alignment, int box_width, int item_width) {
  switch (alignment) {
    case TFlatButton::taLeftJustify:
      return 3;
    case TFlatButton::taRightJustify:
      return box_width - 3 - item_width;
    case TFlatButton::taCenter:
      break;
  }
  return (box_width - item_width) / 2;
}

}  // namespace

TFlatButton::TFlatButton(QWidget* parent) : QAbstractButton(parent) {
  Init();
}

TFlatButton::TFlatButton(const QString& caption, QWidget* parent) : QAbstractButton(parent) {
  Init();
  SetCaption(caption);
}

TFlatButton::~TFlatButton() {
  if (watched_window_) watched_window_->removeEventFilter(this);
}

void TFlatButton::Init() {
  setFocusPolicy(Qt::NoFocus);
  setMouseTracking(true);
  setAttribute(Qt::WA_Hover, false);
  shadow_color_ = palette().color(QPalette::Dark);
  unselected_font_color_ = palette().color(QPalette::WindowText);
  resize(50, 40);
}

void TFlatButton::SetCaption(const QString& caption) {
  const QString old = text();
  if (old == caption) return;
  setText(caption);
  if (options_ & boIconOnly) UpdateIconOnlyHint(old);
  update();
}

void TFlatButton::UpdateIconOnlyHint(const QString& old_caption) {
  const QString tip = toolTip();
  if (tip.isEmpty() || tip == StripAccelerators(old_caption)) {
    setToolTip(StripAccelerators(text()));
  }
}

void TFlatButton::SetAlignment(TAlignment alignment) {
  alignment_ = alignment;
  update();
}

void TFlatButton::SetLayout(TButtonLayout layout) {
  layout_ = layout;
  update();
}

void TFlatButton::SetBitmap(const QImage& bitmap) {
  picture_ = QIcon();
  bitmap_ = bitmap;
  UpdateGrey();
  update();
}

void TFlatButton::SetPicture(const QIcon& picture, const QSize& size) {
  picture_ = size.isEmpty() ? QIcon() : picture;
  picture_size_ = size;
  picture_ratio_ = 0;
  bitmap_ = QImage();
  RenderPictureForScreen();
  UpdateGrey();
  updateGeometry();
  update();
}

// The picture is drawn at the screen's own pixels: rendered at 16 x 16 and scaled up by the
// painter it would look blurred on a 2x screen.
void TFlatButton::RenderPictureForScreen() {
  if (picture_.isNull()) return;
  const qreal ratio = devicePixelRatioF();
  if (qFuzzyCompare(picture_ratio_, ratio)) return;
  picture_ratio_ = ratio;
  QImage image = picture_.pixmap(picture_size_, ratio).toImage();
  // Whatever size the icon gave (a bitmap icon does not grow), it takes the requested place.
  if (!image.isNull()) image.setDevicePixelRatio(qreal(image.width()) / picture_size_.width());
  bitmap_ = image;
  UpdateGrey();
}

void TFlatButton::SetNoFocusBitmap(const QImage& bitmap) {
  no_focus_bitmap_ = bitmap;
  UpdateGrey();
  update();
}

void TFlatButton::SetDisabledBitmap(const QImage& bitmap) {
  disabled_bitmap_ = bitmap;
  update();
}

void TFlatButton::UpdateGrey() {
  grey_bitmap_ = QImage();
  if (bitmap_.isNull() || !no_focus_bitmap_.isNull()) return;
  const QColor highlight = palette().color(QPalette::Light);
  const QColor shadow = palette().color(QPalette::Dark);
  if (picture_.isNull()) {
    grey_bitmap_ = MakeGreyBitmap(bitmap_, shading_type_, highlight, shadow);
    return;
  }
  // A drawn picture smooths its edges by mixing colours: a dark line over a white fill comes out
  // as light greys that the brightness thresholds would turn white, and thin lines and curves
  // would fall apart. So the thresholds are applied to a rendering four times as fine, which is
  // then reduced to the screen's pixels: the tones stay those of the thresholds, the edges smooth.
  constexpr int kFiner = 4;
  const QImage fine = picture_.pixmap(picture_size_ * kFiner, picture_ratio_).toImage();
  if (fine.isNull()) return;
  QImage grey = MakeGreyBitmap(fine, shading_type_, highlight, shadow)
                    .convertToFormat(QImage::Format_ARGB32_Premultiplied)
                    .scaled(bitmap_.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  grey.setDevicePixelRatio(bitmap_.devicePixelRatio());
  grey_bitmap_ = grey;
}

void TFlatButton::SetOptions(TButtonOptions options) {
  const bool was_icon_only = options_ & boIconOnly;
  options_ = options;
  const bool icon_only = options_ & boIconOnly;
  const QString plain = StripAccelerators(text());
  if (icon_only && !was_icon_only && toolTip().isEmpty()) {
    setToolTip(plain);
  } else if (!icon_only && was_icon_only && toolTip() == plain) {
    setToolTip(QString());
  }
  update();
}

void TFlatButton::SetShadingType(TShadingType type) {
  shading_type_ = type;
  UpdateGrey();
  update();
}

void TFlatButton::SetBevelStyle(TBevelStyle style) {
  bevel_style_ = style;
  update();
}

void TFlatButton::SetShadowColor(const QColor& color) {
  own_colors_ = true;
  shadow_color_ = color;
  update();
}

void TFlatButton::SetUnselectedFontColor(const QColor& color) {
  own_colors_ = true;
  unselected_font_color_ = color;
  update();
}

void TFlatButton::SetShowDownPattern(bool show) {
  show_down_pattern_ = show;
  update();
}

void TFlatButton::SetWordWrap(bool wrap) {
  word_wrap_ = wrap;
  update();
}

QList<TFlatButton*> TFlatButton::GroupSiblings() const {
  QList<TFlatButton*> result;
  if (group_index_ == 0 || !parentWidget()) return result;
  for (TFlatButton* other :
       parentWidget()->findChildren<TFlatButton*>(Qt::FindDirectChildrenOnly)) {
    if (other != this && other->group_index_ == group_index_) result.append(other);
  }
  return result;
}

void TFlatButton::ReleaseOthersInGroup() {
  for (TFlatButton* other : GroupSiblings()) {
    if (other->down_) {
      other->down_ = false;
      other->update();
    }
  }
}

void TFlatButton::SetDown(bool down) {
  if (group_index_ == 0) down = false;
  if (down == down_) return;
  down_ = down;
  if (down_) ReleaseOthersInGroup();
  update();
}

void TFlatButton::SetGroupIndex(int index) {
  group_index_ = index;
  if (group_index_ == 0 && down_) {
    down_ = false;
    update();
  }
}

void TFlatButton::SetAllowAllUp(bool allow) {
  allow_all_up_ = allow;
  for (TFlatButton* other : GroupSiblings()) other->allow_all_up_ = allow;
}

void TFlatButton::SetDropDownMenu(QMenu* menu) {
  drop_down_menu_ = menu;
  update();
}

void TFlatButton::SetDefault(bool is_default) {
  default_ = is_default;
  UpdateKeyWatch();
}

void TFlatButton::SetCancel(bool is_cancel) {
  cancel_ = is_cancel;
  UpdateKeyWatch();
}

void TFlatButton::UpdateKeyWatch() {
  QWidget* target = (default_ || cancel_) ? window() : nullptr;
  if (target == this) target = nullptr;
  if (target == watched_window_) return;
  if (watched_window_) watched_window_->removeEventFilter(this);
  watched_window_ = target;
  if (watched_window_) watched_window_->installEventFilter(this);
}

QString TFlatButton::StripAccelerators(const QString& caption) {
  QString out;
  out.reserve(caption.size());
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] == u'&') {
      if (i + 1 < caption.size() && caption[i + 1] == u'&') {
        out += u'&';
        ++i;
      }
      continue;
    }
    out += caption[i];
  }
  return out;
}

QImage TFlatButton::MakeGreyBitmap(const QImage& bitmap, TShadingType type, const QColor& highlight,
                                   const QColor& shadow) {
  if (bitmap.isNull()) return QImage();
  QImage out = bitmap.convertToFormat(QImage::Format_ARGB32);
  const QRgb key = out.pixel(0, 0);
  const Thresholds t = ThresholdsFor(type);
  for (int y = 0; y < out.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x) {
      const QRgb pixel = line[x];
      if (pixel == key || qAlpha(pixel) == 0) continue;
      const int s = qRed(pixel) + qGreen(pixel) + qBlue(pixel);
      QRgb grey;
      if (s > t.high) {
        grey = qRgb(255, 255, 255);
      } else if (s > t.middle) {
        grey = highlight.rgb();
      } else if (s > t.low) {
        grey = shadow.rgb();
      } else {
        grey = qRgb(0, 0, 0);
      }
      line[x] = (grey & 0xFFFFFFu) | (pixel & 0xFF000000u);
    }
  }
  return out;
}

QSize TFlatButton::sizeHint() const {
  const QFontMetrics fm(font());
  int tw = 0, th = 0, gap = 0;
  if (!text().isEmpty() && !(options_ & boIconOnly)) {
    const QRect r = fm.boundingRect(QRect(0, 0, 1000, 1000), Qt::TextShowMnemonic, text());
    tw = r.width();
    th = r.height();
    gap = kGap;
  }
  int bw = PlaceOf(bitmap_).width();
  const int bh = PlaceOf(bitmap_).height();
  if ((options_ & boPopupMark) && drop_down_menu_) bw += kMarkWidth;
  if (bitmap_.isNull()) gap = 0;
  int w, h;
  if (layout_ == blBitmapTop || layout_ == blBitmapBottom) {
    w = std::max(tw, bw);
    h = th + gap + bh;
  } else {
    w = tw + gap + bw;
    h = std::max(th, bh);
  }
  return QSize(std::max(50, w + 10), std::max(25, h + 8));
}

bool TFlatButton::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::Shortcut:
      // The accelerator letter behaves like a mouse press and release on the button (a
      // drop-down menu opens); the focus stays where it was.
      PerformAccelerator();
      return true;
    case QEvent::ParentChange:
      UpdateKeyWatch();
      break;
    case QEvent::PaletteChange:
      // The default colours are the palette's: a change of the desktop's colours (a dark theme)
      // must not leave black captions on a dark window.
      if (!own_colors_) {
        shadow_color_ = palette().color(QPalette::Dark);
        unselected_font_color_ = palette().color(QPalette::WindowText);
      }
      break;
    case QEvent::ContextMenu: {
      const bool handled = QAbstractButton::event(event);
      AfterMenu();
      return handled;
    }
    default:
      break;
  }
  return QAbstractButton::event(event);
}

bool TFlatButton::eventFilter(QObject* watched, QEvent* event) {
  if (watched == watched_window_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if (mods == Qt::NoModifier && HandleDialogKey(key->key())) return true;
  }
  return QAbstractButton::eventFilter(watched, event);
}

bool TFlatButton::HandleDialogKey(int key) {
  if (!isEnabled() || !isVisible()) return false;
  if ((key == Qt::Key_Return || key == Qt::Key_Enter) && default_) {
    click();
    return true;
  }
  if (key == Qt::Key_Escape && cancel_) {
    // Several cancel buttons on one form: the first one that can act takes Esc.
    for (TFlatButton* button : window()->findChildren<TFlatButton*>()) {
      if (button->cancel_ && button->isEnabled() && button->isVisible()) {
        if (button != this) return false;
        break;
      }
    }
    click();
    return true;
  }
  return false;
}

void TFlatButton::PerformAccelerator() {
  if (!isEnabled() || !isVisible()) return;
  QPointer<TFlatButton> guard(this);
  hot_ = true;
  update();
  LeftDown();
  if (!guard) return;
  QCoreApplication::processEvents();
  if (!guard) return;
  if (pressed_) {
    hot_ = true;
    LeftUp(true);
  }
  if (!guard) return;
  if (!rect().contains(mapFromGlobal(QCursor::pos()))) hot_ = false;
  update();
}

void TFlatButton::LeftDown() {
  if (!isEnabled() || !isVisible()) return;
  pressed_ = true;
  hot_ = true;
  update();
  if (drop_down_menu_) {
    QPointer<TFlatButton> guard(this);
    drop_down_menu_->exec(mapToGlobal(QPoint(0, height())));
    if (guard) AfterMenu();
  }
}

void TFlatButton::LeftUp(bool over_button) {
  if (!isEnabled() || !isVisible() || !pressed_) return;
  pressed_ = false;
  hot_ = over_button;
  if (group_index_ != 0 && hot_) {
    if (!down_) {
      down_ = true;
      ReleaseOthersInGroup();
    } else if (allow_all_up_) {
      down_ = false;
    }
  }
  update();
  if (hot_) {
    hot_ = false;
    update();
    if (!drop_down_menu_) click();
  }
}

void TFlatButton::AfterMenu() {
  hot_ = isVisible() && rect().contains(mapFromGlobal(QCursor::pos()));
  pressed_ = false;
  update();
}

void TFlatButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    LeftDown();
    event->accept();
    return;
  }
  event->ignore();
}

void TFlatButton::mouseMoveEvent(QMouseEvent* event) {
  const bool over = rect().contains(event->position().toPoint());
  if (over != hot_) {
    hot_ = over;
    if (!down_ && isEnabled()) update();
  }
  event->accept();
}

void TFlatButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    LeftUp(rect().contains(event->position().toPoint()));
    event->accept();
    return;
  }
  event->ignore();
}

// Most buttons never have the focus. One that a window lets Tab reach (a command with no other
// key) is pressed with the space bar, as every push button is; other keys belong to the form.
void TFlatButton::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
  if (event->key() == Qt::Key_Space && mods == Qt::NoModifier && hasFocus()) {
    if (!event->isAutoRepeat()) PerformAccelerator();
    event->accept();
    return;
  }
  event->ignore();
}
void TFlatButton::keyReleaseEvent(QKeyEvent* event) {
  event->ignore();
}

void TFlatButton::enterEvent(QEnterEvent*) {
  hot_ = true;
  if (!down_ && isEnabled()) update();
}

void TFlatButton::leaveEvent(QEvent*) {
  hot_ = false;
  if (!down_ && isEnabled()) update();
}

void TFlatButton::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange) {
    if (group_index_ == 0) down_ = false;
    pressed_ = false;
    hot_ = false;
    update();
  } else if (event->type() == QEvent::PaletteChange) {
    // A drawn picture may follow the palette (its outlines on a dark face): rendered again,
    // the grey picture with it.
    picture_ratio_ = 0;
    if (picture_.isNull()) UpdateGrey();
    else RenderPictureForScreen();
  }
  QAbstractButton::changeEvent(event);
}

void TFlatButton::contextMenuEvent(QContextMenuEvent* event) {
  event->ignore();
}

void TFlatButton::DrawPicture(QPainter& painter, const QPoint& at, const QImage& image) const {
  if (!image.isNull()) painter.drawImage(at, WithTransparency(image));
}

void TFlatButton::DrawEmbossed(QPainter& painter, const QPoint& at, const QImage& image) const {
  if (image.isNull()) return;
  painter.drawImage(at + QPoint(1, 1), Silhouette(image, palette().color(QPalette::Light)));
  painter.drawImage(at, Silhouette(image, palette().color(QPalette::Dark)));
}

void TFlatButton::DrawFrame(QPainter& painter, bool raised) const {
  // Raised: highlight top and left, shadow bottom and right; sunken the other way round.
  const int w = width();
  const int h = height();
  const QColor highlight = palette().color(QPalette::Light);
  painter.setPen(raised ? highlight : shadow_color_);
  painter.drawLine(0, 0, w - 1, 0);
  painter.drawLine(0, 0, 0, h - 1);
  painter.setPen(raised ? shadow_color_ : highlight);
  painter.drawLine(0, h - 1, w - 1, h - 1);
  painter.drawLine(w - 1, 0, w - 1, h - 1);
}

QImage TFlatButton::DrawFaceAndFrame(QPainter& painter, bool sunk) const {
  const QColor highlight = palette().color(QPalette::Light);
  const QColor face = palette().color(QPalette::Button);
  if (down_ && show_down_pattern_) {
    QImage pattern(8, 8, QImage::Format_RGB32);
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 8; ++x) {
        pattern.setPixel(x, y, (x % 2 == y % 2) ? highlight.rgb() : face.rgb());
      }
    }
    painter.fillRect(rect(), QBrush(pattern));
  }

  QImage picture = bitmap_;
  if (!isEnabled()) {
    if (down_) DrawFrame(painter, false);
    if (!disabled_bitmap_.isNull()) picture = disabled_bitmap_;
  } else if (sunk) {
    DrawFrame(painter, bevel_style_ == bvLowered);
  } else {
    if (hot_) DrawFrame(painter, bevel_style_ == bvRaised);
    if (!hot_ && (options_ & boMonoDisplay)) {
      if (!no_focus_bitmap_.isNull()) {
        picture = no_focus_bitmap_;
      } else if (!grey_bitmap_.isNull()) {
        picture = grey_bitmap_;
      }
    }
  }
  return picture;
}

TFlatButton::FaceLayout TFlatButton::LayOutFace(const QImage& picture) const {
  const int w = width();
  const int h = height();
  FaceLayout out;
  out.has_mark = (options_ & boPopupMark) && drop_down_menu_;
  out.has_caption = !text().isEmpty() && !(options_ & boIconOnly);
  out.text_flags = Qt::TextShowMnemonic;
  if (word_wrap_) out.text_flags |= Qt::TextWordWrap;
  const QFontMetrics fm(font());
  int tw = 0, gap = 0;
  if (out.has_caption) {
    const QRect measured =
        fm.boundingRect(QRect(0, 0, std::max(0, w - 4), 10000), out.text_flags, text());
    tw = std::min(measured.width(), std::max(0, w - 4));
    out.caption_height = measured.height();
    gap = kGap;
  }
  const int th = out.caption_height;
  out.has_picture = !bitmap_.isNull();
  out.picture_width = out.has_picture ? PlaceOf(picture).width() : 0;
  out.picture_height = out.has_picture ? PlaceOf(picture).height() : 0;
  const int bw = out.picture_width + (out.has_mark ? kMarkWidth : 0);
  const int bh = out.picture_height;

  if (!out.has_picture) {
    const int counted = tw + (out.has_mark ? kMarkWidth : 0);
    const int x = AlignedX(alignment_, w, counted);
    int drawn = tw;
    if (out.has_mark) drawn = std::min(drawn, std::max(0, w - 14));
    out.caption_box = QRect(x, (h - th) / 2, drawn, th);
  } else if (layout_ == blBitmapTop || layout_ == blBitmapBottom) {
    const int y0 = (h - (bh + gap + th)) / 2;
    const int pic_y = layout_ == blBitmapTop ? y0 : y0 + th + gap;
    const int cap_y = layout_ == blBitmapTop ? y0 + bh + gap : y0;
    out.picture_at = QPoint(AlignedX(alignment_, w, bw), pic_y);
    out.caption_box = QRect(AlignedX(alignment_, w, tw), cap_y, tw, th);
  } else {
    if (tw + gap + bw > w - 4) tw = std::max(0, w - 4 - gap - bw);
    const int x0 = AlignedX(alignment_, w, tw + gap + bw);
    const int pic_x = layout_ == blBitmapLeft ? x0 : x0 + tw + gap;
    const int cap_x = layout_ == blBitmapLeft ? x0 + bw + gap : x0;
    out.picture_at = QPoint(pic_x, (h - bh) / 2);
    out.caption_box = QRect(cap_x, (h - th) / 2, tw, th);
  }
  if (word_wrap_ && out.caption_box.right() > w - 6) out.caption_box.setRight(w - 6);
  return out;
}

void TFlatButton::DrawCaption(QPainter& painter, const FaceLayout& layout, bool sunk,
                              const QColor& color) const {
  const QPoint shift(1, 1);
  const int align = Qt::AlignHCenter | Qt::AlignTop | layout.text_flags;
  QRect box = layout.caption_box;
  if (!isEnabled()) {
    // Engraved: the light copy one pixel down and right, the dark one over it.
    painter.setPen(palette().color(QPalette::Light));
    painter.drawText(box.translated(shift), align, text());
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawText(box, align, text());
  } else {
    const bool shifted = sunk ? bevel_style_ == bvRaised : bevel_style_ == bvLowered;
    if (shifted) box.translate(shift);
    painter.setPen(color);
    painter.drawText(box, align, text());
  }
}

void TFlatButton::DrawDropMark(QPainter& painter, const FaceLayout& layout, bool sunk,
                               const QColor& color) const {
  // Rows of 7, 5, 3 and 1 pixels, after the picture or else after the caption.
  int mx, my;
  if (layout.has_picture) {
    mx = layout.picture_at.x() + layout.picture_width + 3;
    my = layout.picture_at.y() + (layout.picture_height - 4) / 2;
  } else {
    mx = layout.caption_box.x() + layout.caption_box.width() + 3;
    my = layout.caption_box.y() + (layout.caption_height - 4) / 2;
  }
  if (sunk) {
    mx += 1;
    my += 1;
  }
  painter.setPen(color);
  for (int row = 0; row < 4; ++row) {
    painter.drawLine(mx + row, my + row, mx + 6 - row, my + row);
  }
}

void TFlatButton::paintEvent(QPaintEvent*) {
  RenderPictureForScreen();  // the window may have moved to a screen of another pixel ratio
  QPainter painter(this);
  const bool enabled = isEnabled();
  const bool sunk = enabled && ((pressed_ && hot_) || down_);

  const QImage picture = DrawFaceAndFrame(painter, sunk);
  const FaceLayout layout = LayOutFace(picture);
  const QColor caption_color =
      (hot_ || sunk) ? palette().color(QPalette::ButtonText) : unselected_font_color_;

  if (layout.has_picture) {
    if (!enabled && disabled_bitmap_.isNull()) {
      DrawEmbossed(painter, layout.picture_at, bitmap_);
    } else {
      DrawPicture(painter, sunk ? layout.picture_at + QPoint(1, 1) : layout.picture_at, picture);
    }
  }
  if (layout.has_caption) DrawCaption(painter, layout, sunk, caption_color);
  if (layout.has_mark && enabled) DrawDropMark(painter, layout, sunk, caption_color);
  // A button that takes the keyboard focus (where the window gives it Tab focus) shows it, so a
  // user without a mouse sees where Space will act.
  if (hasFocus()) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = rect().adjusted(2, 2, -2, -2);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
  }
}
