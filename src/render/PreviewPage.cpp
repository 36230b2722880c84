#include "render/PreviewPage.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "render/ReportRecording.h"

PreviewPage::PreviewPage(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void PreviewPage::SetPage(const QPicture& picture, const QSizeF& sizeUnits, double pixelsPerUnit,
                           double margin) {
  picture_ = picture;
  sizeUnits_ = sizeUnits;
  scale_ = pixelsPerUnit;
  margin_ = int(std::lround(margin));
  const QSize paper = PaperPixels();
  // The paper and the margins are rounded each on its own, which can add up to a pixel or two
  // more than the exact whole; the far margin gives them back.
  const auto fit = [&](double paperExact, int paperPixels) {
    const int exact = int(std::floor(paperExact + 2 * margin + 1e-6));
    return std::max(paperPixels + margin_, std::min(paperPixels + 2 * margin_, exact));
  };
  resize(fit(sizeUnits.width() * scale_, paper.width()),
         fit(sizeUnits.height() * scale_, paper.height()));
  update();
}

QSize PreviewPage::PaperPixels() const {
  return QSize(int(std::lround(sizeUnits_.width() * scale_)),
               int(std::lround(sizeUnits_.height() * scale_)));
}

void PreviewPage::paintEvent(QPaintEvent* event) {
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
  ReportRecording::Play(p, picture_, scale_);
}
