#include "render/TPreviewPage.h"

#include <QPaintEvent>
#include <QPainter>
#include <cmath>

#include "render/TReportRecording.h"

TPreviewPage::TPreviewPage(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPreviewPage::SetPage(const QPicture& picture, const QSizeF& sizeUnits, double pixelsPerUnit,
                           int margin) {
  picture_ = picture;
  size_units_ = sizeUnits;
  scale_ = pixelsPerUnit;
  margin_ = margin;
  const QSize paper = PaperPixels();
  resize(paper.width() + 2 * margin_, paper.height() + 2 * margin_);
  update();
}

QSize TPreviewPage::PaperPixels() const {
  return QSize(int(std::lround(size_units_.width() * scale_)),
               int(std::lround(size_units_.height() * scale_)));
}

void TPreviewPage::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  p.fillRect(event->rect(), palette().color(QPalette::Mid));
  const QRect paper(QPoint(margin_, margin_), PaperPixels());
  p.fillRect(paper, Qt::white);
  p.setPen(Qt::black);
  p.drawRect(paper.adjusted(0, 0, -1, -1));
  p.setClipRect(paper);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.translate(margin_, margin_);
  TReportRecording::Play(p, picture_, scale_);
}
