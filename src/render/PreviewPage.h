#pragma once

#include <QPicture>
#include <QSizeF>
#include <QWidget>

// One recorded page on the screen: white paper with a thin edge, a margin of grey around it,
// the page's drawing scaled to the zoom.
class PreviewPage : public QWidget {
  Q_OBJECT
 public:
  explicit PreviewPage(QWidget* parent = nullptr);

  // `sizeUnits` in report units; `pixelsPerUnit` the zoom; `margin` the grey border in pixels,
  // as exact as the zoom gives it. The widget is never wider or taller than the paper and its
  // exact margins: a zoom chosen to fill a width must not come out a pixel wider.
  void SetPage(const QPicture& picture, const QSizeF& sizeUnits, double pixelsPerUnit,
               double margin);
  QSize PaperPixels() const;
  int Margin() const { return margin_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPicture picture_;
  QSizeF sizeUnits_;
  double scale_ = 0;
  int margin_ = 0;
};
