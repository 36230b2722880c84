// The preview window over a recorded report: the page caption, navigation and its ends, the
// zoom steps and their limits, page width at the start, whole page, the mouse, the arrow keys,
// hidden page buttons for one page, a damaged recording, and the size it remembers.

#include <QBuffer>
#include <QMouseEvent>
#include <QPrinter>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

#include "../store/RecordingMessages.h"
#include "render/ReportPrinters.h"
#include "render/PagePreview.h"
#include "render/PreviewPage.h"
#include "render/ReportRecorder.h"
#include "report/TPreviewForm.h"
#include "store/StoreHelpers.h"
#include "store/WindowPlacement.h"
#include "widgets/TFlatButton.h"

namespace {

// A report of `pages` pages, each with its number in large type.
void Record(QBuffer& stream, int pages) {
  stream.open(QIODevice::ReadWrite);
  ReportRecorder recorder;
  recorder.SetStream(&stream);
  recorder.PrintStep = [pages](ReportEngine& e) {
    e.SetFont(QStringLiteral("Arial"), 48);
    for (int page = 1; page <= pages; ++page) {
      if (page > 1) e.NewPage();
      e.Print(QString::number(page));
    }
  };
  QCOMPARE(recorder.Run(), ReportEngine::RunResult::Completed);
}

void Press(QWidget* widget, Qt::MouseButton button) {
  QTest::mousePress(widget, button, Qt::NoModifier, QPoint(20, 20));
  QTest::mouseRelease(widget, button, Qt::NoModifier, QPoint(20, 20));
}

}  // namespace

class PreviewFormTest : public QObject {
  Q_OBJECT
 private:
  QTemporaryDir dir_;
  RecordingMessages messages_;

 private slots:
  void initTestCase() {
    StoreHelpers::SetDataDirectory(dir_.path());
    WindowPlacement::SetScreenOverride(WindowPlacement::ScreenMetrics{QRect(0, 0, 1280, 1024), 96});
    ReportPrinters::Device().setPageSize(QPageSize(QPageSize::Letter));
    ReportPrinters::Device().setPageOrientation(QPageLayout::Portrait);
  }
  void cleanupTestCase() {
    WindowPlacement::SetScreenOverride(std::nullopt);
    StoreHelpers::SetDataDirectory(QString());
  }

  void captionsAndNavigation() {
    QBuffer stream;
    Record(stream, 5);
    TPreviewForm form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Preview Report"));
    form.InitialZoom = 100;
    form.SetStream(&stream);
    form.show();
    QCOMPARE(form.PagePreview1->PageCount(), 5);
    QCOMPARE(form.windowTitle(), QStringLiteral("Preview Page 1 of 5 ( 100% )"));
    form.sbNextPage->click();
    form.sbNextPage->click();
    QCOMPARE(form.windowTitle(), QStringLiteral("Preview Page 3 of 5 ( 100% )"));
    form.sbLastPAge->click();
    form.sbNextPage->click();  // nothing past the end
    QCOMPARE(form.PagePreview1->CurrentPage(), 5);
    form.sbFirstPage->click();
    form.sbPrevPage->click();
    QCOMPARE(form.PagePreview1->CurrentPage(), 1);
    QCOMPARE(form.windowTitle(), QStringLiteral("Preview Page 1 of 5 ( 100% )"));
    for (TFlatButton* b : {form.sbFirstPage, form.sbPrevPage, form.sbNextPage, form.sbLastPAge})
      QVERIFY(!b->isHidden());
    form.ReturnButton->click();
    QCOMPARE(form.ModalResult, 1);
    QVERIFY(!form.isVisible());
  }

  void zoomStepsAndLimits() {
    QBuffer stream;
    Record(stream, 2);
    TPreviewForm form;
    form.InitialZoom = 100;
    form.SetStream(&stream);
    form.show();
    PagePreview& p = *form.PagePreview1;
    p.SetZoomFactor(195);
    form.sbZoomIn->click();
    QCOMPARE(p.ZoomFactor(), 200.0);
    form.sbZoomIn->click();
    QCOMPARE(p.ZoomFactor(), 200.0);
    p.SetZoomFactor(15);
    form.sbZoomOut->click();
    QCOMPARE(p.ZoomFactor(), 10.0);
    QCOMPARE(form.windowTitle(), QStringLiteral("Preview Page 1 of 2 ( 10% )"));
    form.zbZoom100->click();
    QCOMPARE(p.ZoomFactor(), 100.0);
    // At 100 % a letter page is 8.5 inches wide on the screen.
    const QSize paper = p.PageWidget()->PaperPixels();
    QCOMPARE(paper.width(), int(std::lround(8.5 * form.ScrollBox1->logicalDpiX())));
    // The left button zooms in, any other out, on the page and around it.
    Press(p.PageWidget(), Qt::LeftButton);
    QCOMPARE(p.ZoomFactor(), 110.0);
    Press(p.PageWidget(), Qt::RightButton);
    Press(form.ScrollBox1->viewport(), Qt::MiddleButton);
    QCOMPARE(p.ZoomFactor(), 90.0);
  }

  void startsAtPageWidth() {
    QBuffer stream;
    Record(stream, 3);
    TPreviewForm form;
    form.InitialZoom = 2;
    form.SetStream(&stream);
    form.show();
    PagePreview& p = *form.PagePreview1;
    const double width = p.ZoomPageWidthFactor();
    QCOMPARE(p.ZoomFactor(), width);
    QVERIFY(width != std::round(width));
    QCOMPARE(form.windowTitle(),
             QStringLiteral("Preview Page 1 of 3 ( %1% )").arg(std::lround(width)));
    // The page and its margins fill the width beside the vertical scroll bar.
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(form.ScrollBox1->verticalScrollBar()->isVisible());
    const int used = p.PageWidget()->width();
    const int room = form.ScrollBox1->viewport()->width();
    QVERIFY2(std::abs(used - room) <= 2, qPrintable(QStringLiteral("%1 %2").arg(used).arg(room)));
    // The whole page fits the box in both directions.
    form.sbZoomPage->click();
    QVERIFY(p.ZoomFactor() < width);
    QVERIFY(p.PageWidget()->height() <= form.ScrollBox1->height());
    QVERIFY(p.PageWidget()->width() <= form.ScrollBox1->width());
    form.sbZoomPageWidth->click();
    QCOMPARE(p.ZoomFactor(), width);
    // The arrow keys scroll by the bar's step, not past either end.
    QScrollBar* bar = form.ScrollBox1->verticalScrollBar();
    QVERIFY(bar->maximum() > 2 * bar->singleStep());
    QTest::keyClick(form.ScrollBox1, Qt::Key_Down);
    QCOMPARE(bar->value(), bar->singleStep());
    QTest::keyClick(form.ScrollBox1, Qt::Key_Up);
    QTest::keyClick(form.ScrollBox1, Qt::Key_Up);
    QCOMPARE(bar->value(), 0);
    for (int i = 0; i < 1000 && bar->value() < bar->maximum() - 1; ++i)
      QTest::keyClick(form.ScrollBox1, Qt::Key_Down);
    QCOMPARE(bar->value(), bar->maximum() - 1);
  }

  // Whatever size the window is given, page width fills the box's width and never overflows it:
  // no horizontal scroll bar, not even for a pixel of rounding.
  void pageWidthFitsAfterResizing() {
    QBuffer stream;
    Record(stream, 2);
    TPreviewForm form;
    form.InitialZoom = 2;
    form.SetStream(&stream);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    PagePreview& p = *form.PagePreview1;
    QStringList overflowing;
    for (int width = 420; width <= 1000; width += 9) {
      form.resize(width, 300 + (width * 7) % 500);
      QCoreApplication::processEvents();
      form.sbZoomPageWidth->click();
      QCoreApplication::processEvents();
      const int used = p.PageWidget()->width();
      const int room = form.ScrollBox1->viewport()->width();
      if (used > room || form.ScrollBox1->horizontalScrollBar()->isVisible())
        overflowing << QStringLiteral("%1x%2: page %3 in %4")
                           .arg(form.width())
                           .arg(form.height())
                           .arg(used)
                           .arg(room);
      // Room left for a vertical scroll bar that the narrower page then does not need.
      const int bar = form.ScrollBox1->verticalScrollBar()->isVisible()
                          ? 0
                          : form.ScrollBox1->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
      QVERIFY2(used >= room - 2 - bar, qPrintable(QStringLiteral("%1 in %2").arg(used).arg(room)));
    }
    QVERIFY2(overflowing.isEmpty(), qPrintable(overflowing.join(QStringLiteral("; "))));
  }

  void onePageHidesThePageButtons() {
    QBuffer stream;
    Record(stream, 1);
    TPreviewForm form;
    form.InitialZoom = 2;
    form.SetStream(&stream);
    form.show();
    for (TFlatButton* b : {form.sbFirstPage, form.sbPrevPage, form.sbNextPage, form.sbLastPAge})
      QVERIFY(b->isHidden());
    const double before = form.PagePreview1->ZoomFactor();
    form.sbZoomOut->click();
    QCOMPARE(form.PagePreview1->ZoomFactor(), before - 10);
  }

  void damagedRecordingIsToldNotShown() {
    messages_.shown.clear();
    QBuffer stream;
    Record(stream, 2);
    QByteArray bytes = stream.data();
    bytes.chop(5);
    QBuffer damaged(&bytes);
    damaged.open(QIODevice::ReadOnly);
    TPreviewForm form;
    form.SetStream(&damaged);
    form.show();
    QCOMPARE(messages_.shown.size(), 1);
    QCOMPARE(form.PagePreview1->PageCount(), 0);
    form.sbZoomIn->click();  // nothing to show, nothing breaks
    form.sbNextPage->click();
  }

  void sizeComesBack() {
    QBuffer stream;
    Record(stream, 1);
    {
      TPreviewForm form;
      form.SetStream(&stream);
      form.show();
      form.resize(700, 520);
      form.ReturnButton->click();
    }
    TPreviewForm again;
    WindowPlacement::PlaceDialog(&again);
    QCOMPARE(again.size(), QSize(700, 520));
  }
};

QTEST_MAIN(PreviewFormTest)
#include "tst_PreviewForm.moc"
