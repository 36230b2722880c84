#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

// Shows how far a long step has come: a bar, a pie, a needle or the bare percentage, with the
// percentage written across it in the inverse of whatever lies beneath, so it stays readable on
// both the filled and the empty part.
class TProgressGauge : public QWidget {
  Q_OBJECT
  Q_PROPERTY(TGaugeKind Kind READ Kind WRITE SetKind)
  Q_PROPERTY(int MinValue READ MinValue WRITE SetMinValue)
  Q_PROPERTY(int MaxValue READ MaxValue WRITE SetMaxValue)
  Q_PROPERTY(int Progress READ Progress WRITE SetProgress)
  Q_PROPERTY(bool ShowText READ ShowText WRITE SetShowText)
  Q_PROPERTY(TBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
  Q_PROPERTY(QColor ForeColor READ ForeColor WRITE SetForeColor)
  Q_PROPERTY(QColor BackColor READ BackColor WRITE SetBackColor)
  Q_PROPERTY(QColor Color READ Color WRITE SetColor)

 public:
  enum TGaugeKind { gsText, gsHorizontalBar, gsVerticalBar, gsPie, gsNeedle };
  Q_ENUM(TGaugeKind)
  enum TBorderStyle { bsNone, bsSingle };
  Q_ENUM(TBorderStyle)

  explicit TProgressGauge(QWidget* parent = nullptr);

  TGaugeKind Kind() const { return kind_; }
  void SetKind(TGaugeKind kind);

  int MinValue() const { return min_value_; }
  int MaxValue() const { return max_value_; }
  // A minimum above the maximum, or a maximum below the minimum, is refused with the message
  // "Value must be between %d and %d" and false; the gauge stays as it was. Otherwise the bound
  // is stored and the progress pulled inside it.
  bool SetMinValue(int value);
  bool SetMaxValue(int value);

  int Progress() const { return progress_; }
  // Kept within MinValue..MaxValue. The gauge repaints only when the whole percentage changes:
  // a fast producer may report every item without costing a repaint for each.
  void SetProgress(int value);
  void AddProgress(int delta);
  // (Progress - MinValue) * 100 / (MaxValue - MinValue), truncated; 0 for an empty range.
  int PercentDone() const;

  bool ShowText() const { return show_text_; }
  void SetShowText(bool show);
  TBorderStyle BorderStyle() const { return border_style_; }
  void SetBorderStyle(TBorderStyle style);
  QColor ForeColor() const { return fore_color_; }
  void SetForeColor(const QColor& color);
  QColor BackColor() const { return back_color_; }
  void SetBackColor(const QColor& color);
  // The area around a pie or a needle dial.
  QColor Color() const { return color_; }
  void SetColor(const QColor& color);

  // The picture the gauge shows, drawn off screen so that the screen gets it in one step
  // without flicker.
  QImage RenderImage() const;

  QSize sizeHint() const override { return QSize(100, 100); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void DrawGauge(QImage* image, const QRect& area, int percent) const;
  void DrawText(QImage* image, const QRect& area, int percent) const;

  TGaugeKind kind_ = gsHorizontalBar;
  int min_value_ = 0;
  int max_value_ = 100;
  int progress_ = 0;
  bool show_text_ = true;
  TBorderStyle border_style_ = bsSingle;
  QColor fore_color_ = Qt::black;
  QColor back_color_ = Qt::white;
  QColor color_;
};
