#pragma once

#include <QColor>
#include <QPointer>
#include <QString>
#include <QWidget>

class QMenu;

// A caption on a bevelled face that paints like a panel but costs no more than a label: it never
// takes the keyboard focus, so a dialog built from dozens of them (the set-time dialog's hour and
// minute faces) keeps the focus where the user left it. It answers a left click with Click().
class TGraphicPanel : public QWidget {
  Q_OBJECT
  Q_PROPERTY(Qt::Alignment Alignment READ Alignment WRITE SetAlignment)
  Q_PROPERTY(TBevelCut BevelOuter READ BevelOuter WRITE SetBevelOuter)
  Q_PROPERTY(TBevelCut BevelInner READ BevelInner WRITE SetBevelInner)
  Q_PROPERTY(int BevelWidth READ BevelWidth WRITE SetBevelWidth)
  Q_PROPERTY(int BorderWidth READ BorderWidth WRITE SetBorderWidth)
  Q_PROPERTY(TBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
  Q_PROPERTY(QColor Color READ Color WRITE SetColor)
  Q_PROPERTY(QColor FontColor READ FontColor WRITE SetFontColor)
  Q_PROPERTY(bool ParentColor READ ParentColor WRITE SetParentColor)
  Q_PROPERTY(bool ParentFont READ ParentFont WRITE SetParentFont)
  Q_PROPERTY(bool Locked READ Locked WRITE SetLocked)
  Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
  Q_PROPERTY(bool ShowHint READ ShowHint WRITE SetShowHint)
  Q_PROPERTY(int Tag READ Tag WRITE SetTag)

 public:
  enum TBevelCut { bvNone, bvLowered, bvRaised };
  Q_ENUM(TBevelCut)
  enum TBorderStyle { bsNone, bsSingle };
  Q_ENUM(TBorderStyle)

  explicit TGraphicPanel(QWidget* parent = nullptr);

  // Horizontal placement of the caption: Qt::AlignLeft, Qt::AlignRight or Qt::AlignHCenter.
  Qt::Alignment Alignment() const { return alignment_; }
  void SetAlignment(Qt::Alignment alignment);
  TBevelCut BevelOuter() const { return bevel_outer_; }
  void SetBevelOuter(TBevelCut bevel);
  TBevelCut BevelInner() const { return bevel_inner_; }
  void SetBevelInner(TBevelCut bevel);
  // Widths below zero count as zero.
  int BevelWidth() const { return bevel_width_; }
  void SetBevelWidth(int width);
  int BorderWidth() const { return border_width_; }
  void SetBorderWidth(int width);
  TBorderStyle BorderStyle() const { return border_style_; }
  void SetBorderStyle(TBorderStyle style);
  QString Caption() const { return caption_; }
  void SetCaption(const QString& caption);

  // The face colour; the button-face colour until set. Setting it ends ParentColor.
  QColor Color() const;
  void SetColor(const QColor& color);
  // The caption's colour; the button-text colour until set.
  QColor FontColor() const;
  void SetFontColor(const QColor& color);
  // While true the face takes the parent's background colour.
  bool ParentColor() const { return parent_color_; }
  void SetParentColor(bool parent_color);
  // While true the caption uses the parent's font; setFont() ends it.
  bool ParentFont() const;
  void SetParentFont(bool parent_font);
  // Kept for forms that mark panels as holders of embedded objects; it changes nothing drawn.
  bool Locked() const { return locked_; }
  void SetLocked(bool locked) { locked_ = locked; }
  QString Hint() const { return hint_; }
  void SetHint(const QString& hint);
  // The hint becomes the tool tip while ShowHint is true (the default).
  bool ShowHint() const { return show_hint_; }
  void SetShowHint(bool show);
  // The menu shown on a right click (not owned; forgotten when it is destroyed).
  QMenu* PopupMenu() const;
  void SetPopupMenu(QMenu* menu);
  // A number the owner gives each panel, e.g. the hour a panel stands for.
  int Tag() const { return tag_; }
  void SetTag(int tag) { tag_ = tag; }

  // The picture the panel shows, as paintEvent draws it.
  QImage RenderImage() const;

  QSize sizeHint() const override { return QSize(185, 41); }

 signals:
  // A left button pressed and released over the panel.
  void Click();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void PaintTo(QPainter* painter) const;
  void UpdateToolTip();

  Qt::Alignment alignment_ = Qt::AlignHCenter;
  TBevelCut bevel_outer_ = bvRaised;
  TBevelCut bevel_inner_ = bvNone;
  int bevel_width_ = 1;
  int border_width_ = 0;
  TBorderStyle border_style_ = bsNone;
  QString caption_;
  QColor color_;       // invalid: the button-face colour of the palette
  QColor font_color_;  // invalid: the button-text colour of the palette
  bool parent_color_ = false;
  bool locked_ = false;
  QString hint_;
  bool show_hint_ = true;  // the program's forms show hints
  QPointer<QMenu> popup_menu_;
  int tag_ = 0;
  bool pressed_ = false;
};
