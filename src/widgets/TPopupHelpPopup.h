#pragma once

#include <QColor>
#include <QFont>
#include <QMetaObject>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QWidget>

class TPopupHelpData;

// The small shadowed window that shows a control's help text next to it. One exists per
// application; it is only ever hidden and shown again. Any key, a left click on it, a click
// elsewhere or the application losing the activation hides it; a right click does not. When the
// record has a help topic, a bold "more" line at the bottom (or F1) opens the help window there.
class TPopupHelpPopup : public QWidget {
  Q_OBJECT

 public:
  TPopupHelpPopup();

  // Lays the popup out for `record` near `control_rect` (screen coordinates) and shows it.
  void ShowHelp(TPopupHelpData* record, const QRect& control_rect, const QColor& color,
                const QFont& font, int max_width, const QString& more_text);

  // What the popup shows, for tests and for whoever needs to know: the text (lines separated
  // by "\n"), whether the "more" line is there, and the parts of the layout.
  QString ShownText() const { return text_; }
  bool MoreLineShown() const { return more_shown_; }
  quint32 HelpContext() const { return help_context_; }
  QColor BackgroundColor() const { return color_; }
  // The paint box (text area with its border) within the popup.
  QRect PaintBoxRect() const { return QRect(0, 0, paint_width_, paint_height_); }
  // Where the text is drawn and how much room it measured (width tw, height th).
  QRect TextRect() const;
  QSize TextSize() const { return QSize(text_width_, text_height_); }
  // Where a click opens the help topic.
  QRect MoreRect() const;
  QRect ControlRect() const { return control_rect_; }

 signals:
  // The popup was hidden, however that came about.
  void Hidden();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void OpenHelpTopic();

  QString text_;
  bool more_shown_ = false;
  quint32 help_context_ = 0;
  QString more_text_;
  QFont font_;
  int more_width_ = 0;
  int more_height_ = 0;
  int text_width_ = 0;
  int text_height_ = 0;
  int paint_width_ = 0;
  int paint_height_ = 0;
  QRect control_rect_;
  QColor color_;
  // The screen under the popup, taken before it shows: the shadow darkens it and the corners
  // beside the shadow show it, also where the display cannot blend windows.
  QPixmap under_;
  bool shown_ = false;
  QMetaObject::Connection app_state_connection_;
};
