#pragma once

#include <QColor>
#include <QList>
#include <QRect>
#include <QWidget>

// What every split container shares: the bar's thickness and colour, the frame style and the
// inset it costs, whether the bar may be dragged, and the painting of the background and the
// frames around the panes. Which panes there are and where the bar stands is the subclass's.
class TCustomSplitPanes : public QWidget {
  Q_OBJECT
  Q_PROPERTY(int BarWidth READ BarWidth WRITE SetBarWidth)
  Q_PROPERTY(QColor BarColor READ BarColor WRITE SetBarColor)
  Q_PROPERTY(bool Locked READ Locked WRITE SetLocked)
  Q_PROPERTY(bool AutoUpdate READ AutoUpdate WRITE SetAutoUpdate)

 public:
  enum TSplitStyle { spAuto, spWin31, spWin95, spInset, spGroove };
  Q_ENUM(TSplitStyle)
  enum TBorderStyle { bsNone, bsSingle };
  Q_ENUM(TBorderStyle)

  explicit TCustomSplitPanes(QWidget* parent = nullptr);

  int BarWidth() const { return bar_width_; }
  void SetBarWidth(int width);
  QColor BarColor() const { return bar_color_; }
  void SetBarColor(const QColor& color);
  TSplitStyle Style() const { return style_; }
  void SetStyle(TSplitStyle style);
  TBorderStyle BorderStyle() const { return border_style_; }
  void SetBorderStyle(TBorderStyle style);
  bool Locked() const { return locked_; }
  void SetLocked(bool locked) { locked_ = locked; }
  bool AutoUpdate() const { return auto_update_; }
  void SetAutoUpdate(bool auto_update) { auto_update_ = auto_update; }

  // spAuto stands for the newer look on this platform.
  TSplitStyle EffectiveStyle() const { return style_ == spAuto ? spWin95 : style_; }
  // The frame's width on every side of the client area.
  int Inset() const;

 signals:
  // After a size change and after every bar move.
  void Resized();

 protected:
  // Sets the panes' geometry from the present size and bar.
  virtual void LayoutPanes() = 0;
  // The panes' rectangles, for the frames.
  virtual QList<QRect> PaneRects() const = 0;

  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  int bar_width_ = 4;
  QColor bar_color_;
  TSplitStyle style_ = spAuto;
  TBorderStyle border_style_ = bsSingle;
  bool locked_ = false;
  bool auto_update_ = false;
};
