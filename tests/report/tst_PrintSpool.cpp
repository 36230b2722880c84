// Printing through a real print spooler: the test's private cupsd (started by the test fixture,
// reached through CUPS_SERVER) has a queue that turns every job into a PDF file. The report is
// printed on that queue from the report dialog, and the PDF the spooler makes is read back.

#include <pwd.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTest>
#include <cmath>

#include "../store/RecordingMessages.h"
#include "ModalDriver.h"
#include "PdfText.h"
#include "ReportTestTable.h"
#include "render/ReportPrinters.h"
#include "report/TReportPrint.h"
#include "report/TReportSetup.h"
#include "widgets/TFlatButton.h"

namespace {

const QString kQueue = QStringLiteral("ListwisePDF");

// Where the spooler's PDF queue puts a job of the user running the test: the folder named by
// the "Out" line of its configuration, "${HOME}" standing for the user's home directory.
QStringList OutputFolders() {
  const passwd* pw = getpwuid(getuid());
  const QString home = pw != nullptr ? QFile::decodeName(pw->pw_dir) : QDir::homePath();
  QString out = QStringLiteral("${HOME}/PDF");
  QFile conf(QStringLiteral("/etc/cups/cups-pdf.conf"));
  if (conf.open(QIODevice::ReadOnly)) {
    for (const QByteArray& line : conf.readAll().split('\n')) {
      const QString l = QString::fromLocal8Bit(line).trimmed();
      if (l.startsWith(QStringLiteral("Out "))) out = l.mid(4).trimmed();
    }
  }
  out.replace(QStringLiteral("${HOME}"), home);
  return {out, QStringLiteral("/var/spool/cups-pdf/ANONYMOUS")};
}

// The newest PDF the queue made of a job named after the report engine's job ("Test Report")
// since `since`; empty until the spooler has written it completely.
QString FindOutput(const QDateTime& since) {
  for (const QString& folder : OutputFolders()) {
    const QFileInfoList files =
        QDir(folder).entryInfoList({QStringLiteral("Test_Report*.pdf")}, QDir::Files, QDir::Time);
    if (!files.isEmpty() && files.first().lastModified() >= since.addSecs(-1) &&
        PdfText::Pages(files.first().absoluteFilePath()) > 0)
      return files.first().absoluteFilePath();
  }
  return QString();
}

// How far two grey pictures of a page differ. The two renderings of a glyph differ in their
// edges, so the pages are compared in blocks of 8 x 8 pixels (a fifth of an inch at 40 dots per
// inch): the share of blocks whose mean greys are clearly apart. A line or a column of text in
// another place, or missing, changes many blocks.
double Difference(const QImage& a, const QImage& b) {
  if (a.size() != b.size() || a.isNull()) return 1;
  constexpr int kBlock = 8;
  int blocks = 0, differing = 0;
  for (int by = 0; by + kBlock <= a.height(); by += kBlock) {
    for (int bx = 0; bx + kBlock <= a.width(); bx += kBlock) {
      int sumA = 0, sumB = 0;
      for (int y = by; y < by + kBlock; ++y) {
        const uchar* p = a.constScanLine(y);
        const uchar* q = b.constScanLine(y);
        for (int x = bx; x < bx + kBlock; ++x) {
          sumA += p[x];
          sumB += q[x];
        }
      }
      ++blocks;
      if (std::abs(sumA - sumB) > 24 * kBlock * kBlock) ++differing;
    }
  }
  return double(differing) / blocks;
}

double Ink(const QImage& a) {
  qint64 dark = 0;
  for (int y = 0; y < a.height(); ++y) {
    const uchar* p = a.constScanLine(y);
    for (int x = 0; x < a.width(); ++x)
      if (p[x] < 128) ++dark;
  }
  return double(dark) / (qint64(a.width()) * a.height());
}

}  // namespace

class PrintSpoolTest : public QObject {
  Q_OBJECT
 private:
  RecordingMessages messages_;

 private slots:
  void initTestCase() {
    QVERIFY2(!qgetenv("CUPS_SERVER").isEmpty(), "the test fixture starts the spooler");
  }

  void theQueueIsAPrinter() {
    QVERIFY2(QPrinterInfo::availablePrinterNames().contains(kQueue),
             qPrintable(QPrinterInfo::availablePrinterNames().join(QLatin1Char(' '))));
    const QStringList installed = ReportPrinters::Installed();
    QVERIFY(installed.contains(kQueue));
    QCOMPARE(installed.last(), ReportPrinters::PdfPrinterName());
  }

  void reportPrintedThroughTheSpooler() {
    ReportTestTable t;
    QVERIFY(t.Opened());
    for (int n = 1; n <= 90; ++n)
      t.Add({QStringLiteral("2024%1%2")
                 .arg(3 + n / 31, 2, 10, QLatin1Char('0'))
                 .arg(1 + n % 28, 2, 10, QLatin1Char('0')),
             QStringLiteral("14:30"), QStringLiteral("Spooled task %1").arg(n), QStringLiteral("B"),
             n % 2 == 0, QString(), QString()});
    // Prints the report from the report dialog and gives the status it ended with.
    const auto print = [&] {
      TReportSetup d(t.Table(), t.Engine());
      d.RunPrintDialog = [](TReportSetup&) { return true; };
      d.ReportTitleField->setText(QStringLiteral("Through the spooler"));
      QString status;
      ModalDriver driver([&](QWidget* top) {
        if (auto* s = qobject_cast<TReportPrint*>(top); s != nullptr && s->Finished()) {
          status = s->Label1->text();
          s->CancelButton->click();
        }
      });
      d.show();
      d.PrintNow->click();
      return status;
    };

    ReportPrinters::SelectPrinter(kQueue);
    const QPageSize paper = ReportPrinters::Device().pageLayout().pageSize();
    const QDateTime started = QDateTime::currentDateTime();
    QCOMPARE(print(), QStringLiteral("\nPrint Completed!"));
    QString spooled;
    QElapsedTimer waited;
    waited.start();
    while (spooled.isEmpty() && waited.elapsed() < 60000) {
      QTest::qWait(250);
      spooled = FindOutput(started);
    }
    QVERIFY2(!spooled.isEmpty(), "the spooler made no PDF of the report");
    const int pages = PdfText::Pages(spooled);
    QList<QImage> pictures;
    for (int page = 1; page <= pages; ++page) pictures << PdfText::Picture(spooled, page, 40);
    QFile::remove(spooled);

    // The same report on the PDF printer, on the queue's paper, is what the spooler must have
    // printed: the queue's conversions keep the page but not its text, so the pages are
    // compared as pictures.
    const QString direct = t.Path(QStringLiteral("direct.pdf"));
    ReportPrinters::SelectPrinter(ReportPrinters::PdfPrinterName());
    ReportPrinters::Device().setOutputFileName(direct);
    ReportPrinters::Device().setPageSize(paper);
    QCOMPARE(print(), QStringLiteral("\nPrint Completed!"));
    QVERIFY(PdfText::Page(direct, 1).contains(QStringLiteral("Spooled task 1")));
    QCOMPARE(pages, PdfText::Pages(direct));
    QVERIFY(pages >= 2);
    for (int page = 1; page <= pages; ++page) {
      const QImage expected = PdfText::Picture(direct, page, 40);
      QVERIFY(Ink(expected) > 0.005);
      const double difference = Difference(pictures.at(page - 1), expected);
      qInfo("page %d: %.4f of its blocks differ", page, difference);
      QVERIFY2(
          difference < 0.005,
          qPrintable(
              QStringLiteral("page %1 differs in %2 of its pixels").arg(page).arg(difference)));
    }
  }
};

QTEST_MAIN(PrintSpoolTest)
#include "tst_PrintSpool.moc"
