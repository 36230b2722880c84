// The report rendering engine: line arithmetic of sections, tab stops and their stack, the
// status text, recording pages and playing them back where they were drawn, damaged
// recordings, abort, and the printer engine's PDF output that replaces a file only when done.

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

#include "render/ReportPrinters.h"
#include "render/ReportPrinter.h"
#include "render/ReportRecorder.h"
#include "render/ReportRecording.h"

namespace {

using Step = std::function<void(ReportEngine&)>;

// Runs `step` as the print step of a recorder writing into `stream`.
ReportEngine::RunResult Record(QBuffer& stream, const Step& step, ReportRecorder* recorder) {
  stream.open(QIODevice::ReadWrite);
  recorder->SetStream(&stream);
  recorder->PrintStep = step;
  return recorder->Run();
}

QList<ReportRecording::Page> ReadBack(QBuffer& stream, QString* error) {
  QList<ReportRecording::Page> pages;
  stream.seek(0);
  ReportRecording::Read(stream, &pages, error);
  return pages;
}

// A page played back at `dpi` dots per inch.
QImage Render(const ReportRecording::Page& page, double dpi) {
  const double scale = dpi / ReportEngine::kUnitsPerInch;
  QImage image((page.size * scale).toSize(), QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  ReportRecording::Play(p, page.picture, scale);
  return image;
}

bool DarkIn(const QImage& image, const QRect& area) {
  const QRect r = area.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if (qGray(image.pixel(x, y)) < 200) return true;
  return false;
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class ReportEngineTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    // Every run lays its pages out on the shared printer's paper; letter size keeps the
    // numbers below plain.
    ReportPrinters::Device().setPageSize(QPageSize(QPageSize::Letter));
    ReportPrinters::Device().setPageOrientation(QPageLayout::Portrait);
  }

  void sectionLines() {
    ReportRecorder r;
    QBuffer stream;
    double lineHeight = 0;
    int first = -1, afterThree = -1, last = -1, pagesAfter = -1;
    bool belowWhenFull = false;
    const auto result = Record(
        stream,
        [&](ReportEngine& e) {
          QCOMPARE(e.PageWidth(), 8.5);
          QCOMPARE(e.PageHeight(), 11.0);
          e.SetFont(QStringLiteral("Arial"), 9);
          e.SetSectionTop(1.5);
          e.SetSectionBottom(10);
          e.Home();
          lineHeight = e.LineHeight();
          QVERIFY(std::abs(e.LineTop() - 1.5) < 1e-9);
          first = e.LinesLeft();
          for (int i = 0; i < 3; ++i) e.NewLine();
          afterThree = e.LinesLeft();
          QCOMPARE(e.CursorX(), e.SectionLeft());
          while (e.LinesLeft() > 1) e.NewLine();
          last = e.LinesLeft();
          e.NewLine();
          // A new line past the section's end goes below it, on the same page.
          belowWhenFull = e.LinesLeft() == 0 && e.LineTop() + e.LineHeight() > e.SectionBottom();
          pagesAfter = e.PageNumber();
        },
        &r);
    QCOMPARE(result, ReportEngine::RunResult::Completed);
    QVERIFY(lineHeight > 0.1 && lineHeight < 0.25);  // 9 points and some leading
    QCOMPARE(first, int(std::floor(8.5 / lineHeight)));
    QCOMPARE(afterThree, first - 3);
    QCOMPARE(last, 1);
    QVERIFY(belowWhenFull);
    QCOMPARE(pagesAfter, 1);
  }

  void tabStopsAndTheirStack() {
    ReportRecorder r;
    QBuffer stream;
    Record(
        stream,
        [&](ReportEngine& e) {
          e.SetSectionLeft(1);
          e.ClearTabs();
          e.SetTab(ReportEngine::kAfterPrevious, TabStop::Justify::Left, 1.5, 2, 0, 0);
          e.SetTab(ReportEngine::kAfterPrevious, TabStop::Justify::Left, 1.0, 2, 0, 0);
          e.SetTab(4, TabStop::Justify::Right, 0.5, 5, TabStop::kAll, 10);
          QCOMPARE(e.Tabs().at(0).position, 1.0);
          QCOMPARE(e.Tabs().at(1).position, 2.5);
          QCOMPARE(e.Tabs().at(2).position, 4.0);
          e.Home();
          QCOMPARE(e.TabWidth(), e.SectionRight() - e.SectionLeft());  // no stop yet
          e.Tab();
          e.Tab();
          QCOMPARE(e.CursorX(), 2.5);
          QVERIFY(std::abs(e.TabStart() - 2.52) < 1e-9);
          QVERIFY(std::abs(e.TabWidth() - 0.96) < 1e-9);
          e.SaveTabs();
          e.ClearTabs();
          e.SetTab(1, TabStop::Justify::Left, 6.5, 2, 0, 10);
          QCOMPARE(int(e.Tabs().size()), 1);
          QVERIFY(e.RestoreTabs());
          QCOMPARE(int(e.Tabs().size()), 3);
          QCOMPARE(e.CurrentTab(), -1);
          QVERIFY(!e.RestoreTabs());
          // Past the last stop the cursor stays where it is.
          for (int i = 0; i < 3; ++i) e.Tab();
          const double x = e.CursorX();
          e.Tab();
          QCOMPARE(e.CursorX(), x);
          e.NewLine();
          QCOMPARE(e.CurrentTab(), -1);
        },
        &r);
  }

  void statusText() {
    ReportRecorder r;
    QLabel label;
    r.SetStatusLabel(&label);
    QBuffer stream;
    QString during;
    r.BeforePrint = [](ReportEngine& e) {
      e.SetStatusFormat(QStringLiteral("Printing Page %p\r%0\r%1"));
      e.AddStatusLine(QString());
      e.AddStatusLine(QString());
    };
    Record(
        stream,
        [&](ReportEngine& e) {
          e.NewPage();
          e.NewPage();
          during = label.text();
          e.SetStatusLine(1, QStringLiteral("almost done"));
          e.SetStatusFormat(QStringLiteral("%0%1 at %p, 100%"));
        },
        &r);
    QCOMPARE(during, QStringLiteral("Printing Page 3\n\n"));
    QCOMPARE(label.text(), QStringLiteral("almost done at 3, 100%"));
  }

  void recordedPagesPlayBackInPlace() {
    ReportRecorder r;
    r.SetOrientation(QPageLayout::Landscape);
    QBuffer stream;
    int headers = 0;
    const auto result = Record(
        stream,
        [&](ReportEngine& e) {
          e.PageHeaderStep = [&](ReportEngine&) { ++headers; };
          e.Rectangle(1, 1, 2, 2);  // page 1: a square an inch from the corner
          e.NewPage();
          e.Line(5, 0.5, 5, 7.5);  // page 2: an upright line at 5 inches
          e.NewPage();
          e.SetFont(QStringLiteral("Arial"), 24);
          e.GotoXY(1, 3);
          e.Print(QStringLiteral("MMMM"));
        },
        &r);
    QCOMPARE(result, ReportEngine::RunResult::Completed);
    QCOMPARE(headers, 2);
    QCOMPARE(r.PagesRecorded(), 3);
    QString error;
    const auto pages = ReadBack(stream, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(pages.size(), 3);
    QCOMPARE(pages[0].size, QSizeF(11 * 1200, 8.5 * 1200));
    const QImage one = Render(pages[0], 50);
    QVERIFY(DarkIn(one, QRect(48, 48, 5, 5)));     // the square's corner at (1, 1)
    QVERIFY(!DarkIn(one, QRect(60, 60, 30, 30)));  // its inside is empty
    QVERIFY(!DarkIn(one, QRect(200, 200, 100, 100)));
    const QImage two = Render(pages[1], 50);
    QVERIFY(DarkIn(two, QRect(248, 100, 4, 4)));
    QVERIFY(!DarkIn(two, QRect(0, 0, 240, 400)));
    // The text stands on its base line at 3 inches, to the right of 1 inch.
    const QImage three = Render(pages[2], 50);
    QVERIFY(DarkIn(three, QRect(50, 135, 100, 14)));
    QVERIFY(!DarkIn(three, QRect(0, 152, 550, 273)));
    QVERIFY(!DarkIn(three, QRect(0, 0, 48, 425)));
  }

  // What the end-of-page step draws lies over everything on its page, on every page; after an
  // abort it is not run.
  void pageEndStepDrawsLast() {
    ReportRecorder r;
    QBuffer stream;
    QList<int> ended;
    const auto result = Record(
        stream,
        [&](ReportEngine& e) {
          e.PageEndStep = [&](ReportEngine& engine) {
            ended << engine.PageNumber();
            engine.Line(1.5, 2.95, 6.5, 2.95);  // through the middle of the band below
          };
          e.ClearTabs();
          e.SetTab(1, TabStop::Justify::Left, 6, 2, 0, 10);
          for (int page = 1; page <= 2; ++page) {
            if (page > 1) e.NewPage();
            e.GotoXY(1, 3);
            e.Tab();  // shades the line's cell, from its top to its bottom
            QVERIFY(e.LineTop() < 2.94 && e.LineTop() + e.LineHeight() > 2.96);
          }
        },
        &r);
    QCOMPARE(result, ReportEngine::RunResult::Completed);
    QCOMPARE(ended, QList<int>({1, 2}));
    QString error;
    const auto pages = ReadBack(stream, &error);
    QCOMPARE(pages.size(), 2);
    for (const auto& page : pages) {
      const QImage image = Render(page, 100);
      QVERIFY(qGray(image.pixel(400, 290)) > 200 && qGray(image.pixel(400, 290)) < 250);
      for (int x = 152; x <= 648; ++x)
        QVERIFY2(DarkIn(image, QRect(x, 294, 1, 3)), qPrintable(QString::number(x)));
    }

    QBuffer aborted;
    ended.clear();
    QCOMPARE(Record(
                 aborted,
                 [&](ReportEngine& e) {
                   e.PageEndStep = [&](ReportEngine& engine) { ended << engine.PageNumber(); };
                   e.Abort();
                   e.NewPage();
                 },
                 &r),
             ReportEngine::RunResult::Aborted);
    QVERIFY(ended.isEmpty());
  }

  void clippedTextStaysInsideItsRectangle() {
    ReportRecorder r;
    QBuffer stream;
    Record(
        stream,
        [&](ReportEngine& e) {
          e.SetFont(QStringLiteral("Arial"), 12);
          const QString longText(60, QLatin1Char('W'));
          e.TextRect(QRectF(1, 1.5, 1, 1), 1, 2, longText);
          // A tab stop shades its cell and keeps its text to its own width.
          e.ClearTabs();
          e.SetTab(1, TabStop::Justify::Left, 2, 2, 0, 50);
          e.GotoXY(1, 4);
          e.PrintTab(longText);
        },
        &r);
    QString error;
    const auto pages = ReadBack(stream, &error);
    QCOMPARE(pages.size(), 1);
    const QImage image = Render(pages[0], 100);
    QVERIFY(DarkIn(image, QRect(100, 170, 95, 30)));
    QVERIFY(!DarkIn(image, QRect(202, 150, 600, 100)));  // nothing right of 2 inches
    // The shaded cell: grey, not white, between the letters.
    const QRgb shade = image.pixel(250, 400 - 2);
    QVERIFY(qGray(shade) > 100 && qGray(shade) < 200);
    QVERIFY(!DarkIn(image, QRect(304, 370, 400, 40)));
  }

  void damagedRecordingsAreRefused() {
    ReportRecorder r;
    QBuffer stream;
    Record(
        stream,
        [](ReportEngine& e) {
          e.Print(QStringLiteral("one"));
          e.NewPage();
          e.Print(QStringLiteral("two"));
        },
        &r);
    const QByteArray good = stream.data();
    QString error;
    {
      QBuffer copy;
      copy.setData(good);
      copy.open(QIODevice::ReadOnly);
      QCOMPARE(ReadBack(copy, &error).size(), 2);
    }
    const auto refused = [&](QByteArray bytes) {
      QBuffer b;
      b.setData(bytes);
      b.open(QIODevice::ReadOnly);
      error.clear();
      const bool empty = ReadBack(b, &error).isEmpty();
      return empty && !error.isEmpty();
    };
    QVERIFY(refused(QByteArray()));
    QVERIFY(refused(good.left(good.size() - 3)));  // cut inside the end mark
    QVERIFY(refused(good.left(good.size() / 2)));  // cut inside a page
    QByteArray magic = good;
    magic[0] = 'X';
    QVERIFY(refused(magic));
    QByteArray count = good;
    count[count.size() - 1] = 5;  // says five pages, holds two
    QVERIFY(refused(count));
    QByteArray size = good;
    size[10] = char(0x7F);  // an absurd page width
    QVERIFY(refused(size));
    for (int i = 40; i < good.size(); i += 97) {
      QByteArray flipped = good;
      flipped[i] = char(flipped[i] ^ 0x5A);
      QBuffer b;
      b.setData(flipped);
      b.open(QIODevice::ReadOnly);
      QList<ReportRecording::Page> pages;
      ReportRecording::Read(b, &pages, &error);  // must not crash whatever it answers
    }
  }

  void abortEndsTheRunAtTheNextOutput() {
    ReportRecorder r;
    QBuffer stream;
    int linesAfterAbort = 0;
    const auto result = Record(
        stream,
        [&](ReportEngine& e) {
          for (int line = 0; line < 500; ++line) {
            if (e.LinesLeft() == 0) e.NewPage();
            if (e.PageNumber() == 2 && !e.Aborted()) e.Abort();
            e.Print(QStringLiteral("line"));
            if (e.Aborted()) ++linesAfterAbort;
            e.NewLine();
          }
        },
        &r);
    QCOMPARE(result, ReportEngine::RunResult::Aborted);
    QVERIFY(r.Aborted());
    QCOMPARE(linesAfterAbort, 0);
    QString error;
    QVERIFY(ReadBack(stream, &error).isEmpty());  // no end mark: nothing to preview
    // A new run starts afresh.
    QBuffer again;
    QCOMPARE(Record(
                 again, [](ReportEngine& e) { e.Print(QStringLiteral("x")); }, &r),
             ReportEngine::RunResult::Completed);
  }

  void printerWritesPdfOnlyWhenComplete() {
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("report.pdf"));
    {
      QFile old(target);
      QVERIFY(old.open(QIODevice::WriteOnly));
      old.write("the earlier report");
    }
    QPrinter device(QPrinter::HighResolution);
    device.setOutputFormat(QPrinter::PdfFormat);
    device.setOutputFileName(target);
    device.setPageSize(QPageSize(QPageSize::Letter));
    ReportPrinter printer;
    printer.SetDevice(&device);
    printer.SetTitle(QStringLiteral("Engine Test"));
    printer.PrintStep = [](ReportEngine& e) {
      e.Print(QStringLiteral("first page"));
      e.NewPage();
      e.Abort();
      e.Print(QStringLiteral("never"));
    };
    QCOMPARE(printer.Run(), ReportEngine::RunResult::Aborted);
    QCOMPARE(ReadFile(target), QByteArray("the earlier report"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("report.pdf")});

    printer.PrintStep = [](ReportEngine& e) {
      e.Print(QStringLiteral("first page"));
      e.NewPage();
      e.Print(QStringLiteral("second page"));
    };
    QCOMPARE(printer.Run(), ReportEngine::RunResult::Completed);
    const QByteArray pdf = ReadFile(target);
    QVERIFY(pdf.startsWith("%PDF"));
    QCOMPARE(pdf.count("/Type /Page\n") + pdf.count("/Type /Page\r"), 2);
    QCOMPARE(device.outputFileName(), target);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("report.pdf")});

    // A folder that is not there: a failure with the reason, never a completed print.
    device.setOutputFileName(dir.filePath(QStringLiteral("missing/report.pdf")));
    QCOMPARE(printer.Run(), ReportEngine::RunResult::Failed);
    QVERIFY(printer.ErrorMessage().contains(QStringLiteral("missing")));
  }

  void printerListWithoutSpoolerOrPdf() {
    ReportPrinters::SetInstalledOverride(QStringList());
    QVERIFY(ReportPrinters::Installed().isEmpty());
    ReportPrinters::SetInstalledOverride(QStringList{QStringLiteral("Office")});
    QCOMPARE(ReportPrinters::Installed(), QStringList{QStringLiteral("Office")});
    ReportPrinters::SetInstalledOverride(std::nullopt);
    QVERIFY(ReportPrinters::Installed().contains(ReportPrinters::PdfPrinterName()));
    ReportPrinters::SetPdfPrinterEnabled(false);
    QVERIFY(!ReportPrinters::Installed().contains(ReportPrinters::PdfPrinterName()));
    ReportPrinters::SetPdfPrinterEnabled(true);
  }
};

QTEST_MAIN(ReportEngineTest)
#include "tst_ReportEngine.moc"
