#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include "render/PreviewPage.h"
#include "render/ReportRecording.h"

class QIODevice;
class QScrollArea;

// Plays a recorded report back into a scroll box, one page at a time, at a zoom factor in
// percent of the paper's real size on the screen. Tells its owner when the page or the zoom
// changes.
class PagePreview : public QObject {
  Q_OBJECT
 public:
  static constexpr double kMinZoom = 10;
  static constexpr double kMaxZoom = 200;

  explicit PagePreview(QScrollArea* box, QObject* parent = nullptr);
  ~PagePreview() override;

  // Reads the recording from the stream's start and shows its first page. False, with
  // ErrorMessage(), for a damaged recording; nothing is shown then.
  bool Start(QIODevice& stream);
  // Stops showing and lets the pages go.
  void Finish();
  bool Showing() const { return showing_; }
  QString ErrorMessage() const { return error_; }

  int PageCount() const { return int(pages_.size()); }
  int FirstPage() const { return pages_.isEmpty() ? 0 : 1; }
  int LastPage() const { return int(pages_.size()); }
  int CurrentPage() const { return current_; }
  void ShowPage(int page);
  void PrevPage();
  void NextPage();

  double ZoomFactor() const { return zoom_; }
  // Clamped to kMinZoom..kMaxZoom.
  void SetZoomFactor(double percent);
  double ZoomStep() const { return zoomStep_; }
  void SetZoomStep(double points) { zoomStep_ = points; }
  void ZoomIn();
  void ZoomOut();
  // The grey margin around the page, in percent of the page's width.
  double MarginPercent() const { return marginPercent_; }
  void SetMarginPercent(double percent) { marginPercent_ = percent; }
  // The factor at which the page with its margins fills the box's width (leaving room for the
  // vertical scroll bar when the page is then taller than the box), and the one at which the
  // whole page fits the box.
  double ZoomPageWidthFactor() const;
  double ZoomPageFactor() const;
  void ZoomToPageWidth();
  void ZoomToPage();

  // The picture of the page on show, inside the scroll box.
  PreviewPage* PageWidget() const { return page_; }

 signals:
  void PageChange();
  void ZoomChange();

 private:
  double PixelsPerInch() const;
  QSizeF PageInches() const;
  void Redraw();

  QPointer<QScrollArea> box_;
  QPointer<PreviewPage> page_;
  QList<ReportRecording::Page> pages_;
  QString error_;
  bool showing_ = false;
  int current_ = 0;
  double zoom_ = 100;
  double zoomStep_ = 10;
  double marginPercent_ = 2.5;
};
