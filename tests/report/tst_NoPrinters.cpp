// A machine without any printer: no print spooler answers and the PDF printer is switched off.
// Print, Preview and Printer Setup then only say so, and nothing else opens; the exports still
// work. With the PDF printer back, it is the one printer there is.

#include <QPrinterInfo>
#include <QTemporaryDir>
#include <QTest>

#include "../store/RecordingMessages.h"
#include "ModalDriver.h"
#include "ReportTestTable.h"
#include "render/ReportPrinters.h"
#include "report/ReportPrinting.h"
#include "report/TReportSetup.h"
#include "widgets/TFlatButton.h"

class NoPrintersTest : public QObject {
  Q_OBJECT
 private:
  QTemporaryDir spool_;
  RecordingMessages messages_;

 private slots:
  void initTestCase() {
    // A spooler address where none listens: the printer list is the empty one a machine
    // without printing has.
    qputenv("CUPS_SERVER", QFile::encodeName(spool_.filePath(QStringLiteral("none.sock"))));
    ReportPrinters::SetPdfPrinterEnabled(false);
  }

  void printingCommandsOnlyTellSo() {
    QVERIFY(QPrinterInfo::availablePrinterNames().isEmpty());
    QVERIFY(ReportPrinters::Installed().isEmpty());
    ReportTestTable t;
    QVERIFY(t.Opened());
    t.Add({"20240301", "09:00", "Water the plants", "A", false, "", ""});
    TReportSetup d(t.Table(), t.Engine());
    ReportPrinting::Install(d);
    QStringList opened;
    ModalDriver driver([&](QWidget* top) {
      if (top != &d) {
        opened << top->metaObject()->className();
        top->close();
      }
    });
    d.show();
    for (TFlatButton* b : {d.PrintNow, d.Previewbutton, d.PrintSetup}) b->click();
    QCOMPARE(messages_.shown, QStringList(3, QStringLiteral("There are no printers installed")));
    QVERIFY2(opened.isEmpty(), qPrintable(opened.join(QLatin1Char(' '))));
    // The exports do not need a printer.
    const QString text = t.Path(QStringLiteral("plants.txt"));
    QVERIFY(d.CopyText(text, QStringLiteral("Plants")));
    QVERIFY(QFile(text).size() > 0);
  }

  void thePdfPrinterIsAlwaysThereUnlessSwitchedOff() {
    ReportPrinters::SetPdfPrinterEnabled(true);
    QCOMPARE(ReportPrinters::Installed(), QStringList{ReportPrinters::PdfPrinterName()});
    // Without a queue the shared device prints to a PDF file.
    QVERIFY(ReportPrinters::PrintsToFile());
    ReportPrinters::SetPdfPrinterEnabled(false);
  }
};

QTEST_MAIN(NoPrintersTest)
#include "tst_NoPrinters.moc"
