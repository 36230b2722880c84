#include "render/PagePreview.h"

#include <QIODevice>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>
#include <cmath>

#include "render/PreviewPage.h"
#include "render/ReportEngine.h"

PagePreview::PagePreview(QScrollArea* box, QObject* parent) : QObject(parent), box_(box) {
  page_ = new PreviewPage;
  page_->setObjectName(QStringLiteral("PreviewPage"));
  box_->setWidget(page_);
  box_->setWidgetResizable(false);
  box_->setAlignment(Qt::AlignCenter);
  page_->hide();
}

PagePreview::~PagePreview() = default;

bool PagePreview::Start(QIODevice& stream) {
  Finish();
  error_.clear();
  if (!stream.isReadable() || !stream.seek(0)) {
    error_ = QStringLiteral("The report recording cannot be read");
    return false;
  }
  if (!ReportRecording::Read(stream, &pages_, &error_)) return false;
  showing_ = true;
  current_ = pages_.isEmpty() ? 0 : 1;
  if (page_) page_->show();
  Redraw();
  emit PageChange();
  return true;
}

void PagePreview::Finish() {
  showing_ = false;
  pages_.clear();
  current_ = 0;
  if (page_) page_->hide();
}

void PagePreview::ShowPage(int page) {
  if (pages_.isEmpty()) return;
  page = std::clamp(page, FirstPage(), LastPage());
  if (page == current_) return;
  current_ = page;
  Redraw();
  emit PageChange();
}

void PagePreview::PrevPage() {
  if (current_ > FirstPage()) ShowPage(current_ - 1);
}

void PagePreview::NextPage() {
  if (current_ < LastPage()) ShowPage(current_ + 1);
}

void PagePreview::SetZoomFactor(double percent) {
  percent = std::clamp(percent, kMinZoom, kMaxZoom);
  if (percent == zoom_) return;
  zoom_ = percent;
  Redraw();
  emit ZoomChange();
}

void PagePreview::ZoomIn() {
  SetZoomFactor(zoom_ + zoomStep_);
}

void PagePreview::ZoomOut() {
  SetZoomFactor(zoom_ - zoomStep_);
}

double PagePreview::PixelsPerInch() const {
  return box_ ? box_->logicalDpiX() : 96;
}

QSizeF PagePreview::PageInches() const {
  if (current_ < 1 || current_ > pages_.size()) return QSizeF(8.5, 11);
  const QSizeF units = pages_.at(current_ - 1).size;
  return units / ReportEngine::kUnitsPerInch;
}

double PagePreview::ZoomPageWidthFactor() const {
  if (!box_) return zoom_;
  const QSizeF page = PageInches();
  const double frame = 2 * box_->frameWidth();
  double width = box_->width() - frame;
  const double height = box_->height() - frame;
  const double perPercent = PixelsPerInch() / 100.0;
  const double margins = 2 * marginPercent_ / 100.0;
  double factor = width / (page.width() * (1 + margins) * perPercent);
  const double tall = (page.height() + margins * page.width()) * perPercent * factor;
  if (tall > height) {
    width -= box_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, box_);
    factor = width / (page.width() * (1 + margins) * perPercent);
  }
  return factor;
}

double PagePreview::ZoomPageFactor() const {
  if (!box_) return zoom_;
  const QSizeF page = PageInches();
  const double frame = 2 * box_->frameWidth();
  const double perPercent = PixelsPerInch() / 100.0;
  const double margins = 2 * marginPercent_ / 100.0;
  const double byWidth = (box_->width() - frame - 4) / (page.width() * (1 + margins) * perPercent);
  const double byHeight =
      (box_->height() - frame - 4) / ((page.height() + margins * page.width()) * perPercent);
  return std::min(byWidth, byHeight);
}

void PagePreview::ZoomToPageWidth() {
  SetZoomFactor(ZoomPageWidthFactor());
}

void PagePreview::ZoomToPage() {
  SetZoomFactor(ZoomPageFactor());
}

void PagePreview::Redraw() {
  if (!page_ || current_ < 1 || current_ > pages_.size()) return;
  const ReportRecording::Page& page = pages_.at(current_ - 1);
  const double pixelsPerUnit = PixelsPerInch() * zoom_ / 100.0 / ReportEngine::kUnitsPerInch;
  const double margin = page.size.width() * pixelsPerUnit * marginPercent_ / 100.0;
  page_->SetPage(page.picture, page.size, pixelsPerUnit, margin);
}
