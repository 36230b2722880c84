#include "widgets/TPopupHelpPopup.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <algorithm>

#include "widgets/HelpWindow.h"
#include "widgets/TPopupHelpData.h"

namespace {

constexpr int kShadow = 6;

// Rows of the shadow's 8 x 8 pattern, most significant bit leftmost: a 1 lets the screen show
// through, a 0 darkens it.
constexpr unsigned char kShadowRows[4] = {0xAA, 0x00, 0x55, 0x00};

QString PlainLines(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(u'\r', u'\n');
  return text;
}

}  // namespace

TPopupHelpPopup::TPopupHelpPopup()
    : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::NoDropShadowWindowHint) {
  setObjectName(QStringLiteral("PopupHelpPopup"));
  // The shadow lets the screen show through part of its pattern; nothing else is erased.
  setAttribute(Qt::WA_TranslucentBackground);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::StrongFocus);
}

QRect TPopupHelpPopup::TextRect() const {
  return QRect(QPoint(8, 4), QPoint(paint_width_ - 8 - 1, text_height_ + 20 - 1));
}

QRect TPopupHelpPopup::MoreRect() const {
  if (!more_shown_) return QRect();
  return QRect(paint_width_ - 8 - more_width_, text_height_ + 8, more_width_, more_height_);
}

void TPopupHelpPopup::ShowHelp(TPopupHelpData* record, const QRect& control_rect,
                               const QColor& color, const QFont& font, int max_width,
                               const QString& more_text) {
  if (isVisible()) hide();
  // The application losing the activation closes the popup, like a click anywhere else.
  app_state_connection_ = connect(qApp, &QGuiApplication::applicationStateChanged, this,
                                  [this](Qt::ApplicationState s) {
                                    if (s != Qt::ApplicationActive && isVisible()) hide();
                                  });

  text_ = record ? PlainLines(record->Text()) : QString();
  help_context_ = record ? record->HelpContext() : 0;
  more_shown_ = help_context_ != 0;
  more_text_ = more_text;
  font_ = font;
  color_ = color;
  control_rect_ = control_rect;
  setFont(font_);

  const QFontMetrics fm(font_);
  more_width_ = more_height_ = 0;
  if (more_shown_) {
    const QRect more = fm.boundingRect(QRect(0, 0, 100000, 1000), Qt::TextSingleLine, more_text_);
    more_width_ = more.width();
    more_height_ = more.height();
  }
  const QRect measured = fm.boundingRect(QRect(0, 0, std::max(1, max_width), 0),
                                         Qt::AlignLeft | Qt::TextWordWrap, text_);
  text_width_ = measured.width();
  text_height_ = measured.height();

  paint_width_ = text_width_ + 16;
  paint_height_ = text_height_ + 10 + (more_shown_ ? 3 + more_height_ : 0);
  const int popup_width = paint_width_ + kShadow;
  const int popup_height = paint_height_ + kShadow;

  // The paint box is centred on the control's left edge, kept on the screen and 10 pixels
  // inside its right and bottom edges.
  QScreen* screen = QGuiApplication::screenAt(control_rect.center());
  if (!screen) screen = QGuiApplication::screenAt(control_rect.topLeft());
  if (!screen) screen = QGuiApplication::primaryScreen();
  const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
  int left = control_rect.left() - paint_width_ / 2;
  if (left < area.left()) left = area.left();
  if (left + popup_width > area.left() + area.width()) {
    left = area.left() + area.width() - popup_width - 10;
  }
  int top = control_rect.top() + 8;
  if (top + popup_height > area.top() + area.height()) {
    top = area.top() + area.height() - popup_height - 10;
  }
  // A popup larger than the screen still starts on it.
  left = std::max(left, area.left());
  top = std::max(top, area.top());

  under_ = screen ? screen->grabWindow(0, left - area.left(), top - area.top(), popup_width,
                                       popup_height)
                  : QPixmap();
  if (under_.size() != QSize(popup_width, popup_height) * under_.devicePixelRatio()) {
    under_ = QPixmap();
  }
  setGeometry(left, top, popup_width, popup_height);
  shown_ = true;
  show();
  raise();
  activateWindow();
  setFocus(Qt::PopupFocusReason);
  update();
}

void TPopupHelpPopup::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  // The shadow: the pattern over the rectangle moved 6 pixels right and down, darkening the
  // screen taken before showing. The paint box covers its top-left part; the two 6 x 6 corners
  // that neither covers show the screen as it was (or stay see-through without that picture).
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  if (under_.isNull()) {
    painter.fillRect(rect(), Qt::transparent);
  } else {
    painter.drawPixmap(0, 0, under_);
  }
  for (int y = kShadow; y < height(); ++y) {
    for (int x = kShadow; x < width(); ++x) {
      if (x < paint_width_ && y < paint_height_) continue;
      const bool keep = (kShadowRows[y % 4] >> (7 - x % 8)) & 1;
      if (!keep) painter.fillRect(x, y, 1, 1, Qt::black);
    }
  }
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

  // The box covers the whole paint box, "more" line included, so no unpainted strip shows.
  painter.setPen(Qt::black);
  painter.setBrush(color_);
  painter.drawRect(0, 0, paint_width_ - 1, paint_height_ - 1);

  painter.setFont(font_);
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(TextRect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text_);

  if (more_shown_) {
    QFont bold = font_;
    bold.setBold(!font_.bold());
    painter.setFont(bold);
    const QRect line(0, text_height_ + 8, paint_width_ - 8, more_height_);
    painter.drawText(line, Qt::AlignRight | Qt::AlignBottom | Qt::TextSingleLine, more_text_);
  }
}

void TPopupHelpPopup::OpenHelpTopic() {
  HelpWindow::ShowHelpContext(static_cast<int>(help_context_));
}

void TPopupHelpPopup::keyPressEvent(QKeyEvent* event) {
  event->accept();
  const bool open = more_shown_ && event->key() == Qt::Key_F1;
  hide();
  if (open) OpenHelpTopic();
}

void TPopupHelpPopup::mousePressEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() != Qt::LeftButton) return;
  const QPoint point = event->position().toPoint();
  // Outside the window: Qt's own popup rule (close on a click elsewhere) applies.
  if (!rect().contains(point)) {
    QWidget::mousePressEvent(event);
    return;
  }
  const bool open = more_shown_ && MoreRect().contains(point);
  hide();
  if (open) OpenHelpTopic();
}

void TPopupHelpPopup::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
}

void TPopupHelpPopup::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (!shown_) return;
  shown_ = false;
  text_.clear();
  under_ = QPixmap();
  disconnect(app_state_connection_);
  emit Hidden();
}
