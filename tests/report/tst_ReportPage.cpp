// The printed report's page as a reader sees it, from the PDF the report dialog prints: a title
// too long for its line stops short of the page number, every column heading shows whole, and
// the body's bottom rule stays visible under a note that runs on below the body's last line.
// Word positions come from poppler's text boxes, what shows from its rendering of the page.
//
// LISTWISE_REPORT_PAGE_COPY=file.pdf keeps a copy of the report with the long title and the note
// below the last line, for a look at it.

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPrinter>
#include <QTest>

#include "../store/RecordingMessages.h"
#include "ModalDriver.h"
#include "PdfText.h"
#include "ReportTestTable.h"
#include "render/ReportPrinters.h"
#include "report/TReportPrint.h"
#include "report/ReportPrinting.h"
#include "report/TReportSetup.h"
#include "widgets/TFlatButton.h"

namespace {

constexpr int kDpi = 200;
// The body on a letter page: 1.5 from the top to 1 above the bottom, 1 in from either side.
constexpr double kBodyTop = 1.5;
constexpr double kBodyBottom = 10.0;
constexpr double kBodyLeft = 1.0;
constexpr double kBodyRight = 7.5;

const QString kLongTitle = QStringLiteral(
    "Everything that has to be done around the house and the garden before the whole family "
    "arrives for the summer");

QString Description(int n) {
  return QStringLiteral("Task %1 to do").arg(n, 3, 10, QLatin1Char('0'));
}

// `count` tasks; task `withNote` (0 for none) has a note of three lines.
void AddTasks(ReportTestTable& t, int count, int withNote) {
  for (int n = 1; n <= count; ++n) {
    TestTask task;
    task.date = QStringLiteral("202403%1").arg(1 + n % 28, 2, 10, QLatin1Char('0'));
    task.time = QStringLiteral("09:30");
    task.descript = Description(n);
    task.priority = QStringLiteral("B");
    task.done = n % 2 == 0;
    if (n == withNote)
      task.note = QStringLiteral("Remark one of the note\r\nRemark two\r\nRemark three");
    t.Add(task);
  }
}

// Prints the report of `t` from the report dialog into `pdf` on letter paper; true when the
// status form said it completed.
bool Print(ReportTestTable& t, const QString& pdf, const QString& title, bool notes) {
  ReportPrinters::SetInstalledOverride(std::nullopt);
  ReportPrinters::SetPdfPrinterEnabled(true);
  ReportPrinters::SelectPrinter(ReportPrinters::PdfPrinterName());
  QPrinter& device = ReportPrinters::Device();
  device.setOutputFileName(pdf);
  device.setPageSize(QPageSize(QPageSize::Letter));
  device.setPageOrientation(QPageLayout::Portrait);
  TReportSetup d(t.Table(), t.Engine());
  ReportPrinting::Install(d);
  d.RunPrintDialog = [](TReportSetup&) { return true; };
  d.ReportTitleField->setText(title);
  d.PrintMemoBox->setChecked(notes);
  d.PrintCheckBox->setChecked(false);
  QString status;
  ModalDriver driver([&](QWidget* top) {
    if (auto* s = qobject_cast<TReportPrint*>(top); s != nullptr && s->Finished()) {
      status = s->Label1->text();
      s->CancelButton->click();
    }
  });
  d.show();
  d.PrintNow->click();
  return status == QLatin1String("\nPrint Completed!");
}

QList<PdfText::Word> Find(const QList<PdfText::Word>& words, const QString& text) {
  QList<PdfText::Word> found;
  for (const PdfText::Word& w : words)
    if (w.text == text) found << w;
  return found;
}

// The picture's pixels of an area given in inches.
QRect Pixels(const QRectF& inches) {
  return QRect(QPoint(int(inches.left() * kDpi), int(inches.top() * kDpi)),
               QPoint(int(inches.right() * kDpi), int(inches.bottom() * kDpi)));
}

bool InkIn(const QImage& page, const QRectF& inches) {
  const QRect r = Pixels(inches).intersected(page.rect());
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if (qGray(page.pixel(x, y)) < 128) return true;
  return false;
}

// The first place from the left, in inches, where a rule at `y` inches is missing between `from`
// and `to`; -1 when it runs through.
double GapInRule(const QImage& page, double y, double from, double to) {
  for (int x = int(from * kDpi); x <= int(to * kDpi); ++x)
    if (!InkIn(page, QRectF(double(x) / kDpi, y - 0.015, 0, 0.03))) return double(x) / kDpi;
  return -1;
}

}  // namespace

class ReportPageTest : public QObject {
  Q_OBJECT
 private:
  RecordingMessages messages_;

 private slots:
  void titleAndHeadings() {
    ReportTestTable t;
    QVERIFY(t.Opened());
    AddTasks(t, 5, 0);
    const QString pdf = t.Path(QStringLiteral("titles.pdf"));
    QVERIFY(Print(t, pdf, kLongTitle, false));
    const QList<PdfText::Word> words = PdfText::Words(pdf, 1);
    const QImage page = PdfText::Picture(pdf, 1, kDpi);
    QVERIFY(!page.isNull());

    // "Page 1" stands whole at the right margin, and the title stops clear of it.
    const QList<PdfText::Word> pageWord = Find(words, QStringLiteral("Page"));
    QCOMPARE(pageWord.size(), 1);
    const QRectF number = pageWord.first().box;
    QVERIFY2(number.top() < kBodyTop, qPrintable(QString::number(number.top())));
    for (qsizetype i = 0; i + 1 < words.size(); ++i) {
      if (words[i].text != QLatin1String("Page")) continue;
      QCOMPARE(words[i + 1].text, QStringLiteral("1"));
      QVERIFY(std::abs(words[i + 1].box.right() - kBodyRight) < 0.05);
    }
    const QRectF line(0, number.top(), 8.5, number.height());
    QVERIFY2(!InkIn(page, QRectF(number.left() - 0.18, line.top(), 0.16, line.height())),
             "the title runs into the page number");
    // It is cut there, not earlier: its letters run up to the gap.
    QVERIFY(InkIn(page, QRectF(number.left() - 0.6, line.top(), 0.35, line.height())));
    QVERIFY(Find(words, QStringLiteral("Everything")).size() == 1);
    QVERIFY(Find(words, QStringLiteral("summer")).isEmpty());

    // Each heading shows to its last letter: the right side of that letter, the last 0.03 inch
    // of the word's box, has ink.
    for (const char* heading : {"Date", "Time", "Task", "Priority", "Done"}) {
      const QList<PdfText::Word> found = Find(words, QLatin1String(heading));
      QVERIFY2(!found.isEmpty(), heading);
      const QRectF box = found.first().box;  // the heading line comes before the task lines
      QVERIFY2(box.top() > number.bottom() && box.bottom() < kBodyTop + 0.05, heading);
      const QRectF end(box.right() - 0.03, box.top(), 0.025, box.height());
      QVERIFY2(InkIn(page, end), qPrintable(QStringLiteral("%1 is cut").arg(heading)));
    }
  }

  void bottomRuleShowsUnderANote() {
    // Which task the first page ends with, on the body's last line (the tasks print in the
    // order of their dates).
    int last = 0;
    {
      ReportTestTable t;
      QVERIFY(t.Opened());
      AddTasks(t, 100, 0);
      const QString pdf = t.Path(QStringLiteral("order.pdf"));
      QVERIFY(Print(t, pdf, kLongTitle, true));
      const QList<PdfText::Word> words = PdfText::Words(pdf, 1);
      double lowest = 0;
      for (qsizetype i = 0; i + 1 < words.size(); ++i) {
        if (words[i].text == QLatin1String("Task") && words[i].box.top() > lowest) {
          lowest = words[i].box.top();
          last = words[i + 1].text.toInt();
        }
      }
      QVERIFY2(lowest > kBodyBottom - 0.3, qPrintable(QString::number(lowest)));
    }
    QVERIFY(last > 0);

    ReportTestTable t;
    QVERIFY(t.Opened());
    AddTasks(t, 100, last);
    const QString pdf = t.Path(QStringLiteral("rule.pdf"));
    QVERIFY(Print(t, pdf, kLongTitle, true));
    if (const QByteArray copy = qgetenv("LISTWISE_REPORT_PAGE_COPY"); !copy.isEmpty()) {
      QFile::remove(QFile::decodeName(copy));
      QFile::copy(pdf, QFile::decodeName(copy));
    }
    const QList<PdfText::Word> words = PdfText::Words(pdf, 1);
    // The note's first line went below the body's last line, the rest to the next page.
    const QList<PdfText::Word> remarks = Find(words, QStringLiteral("Remark"));
    QCOMPARE(remarks.size(), 1);
    QVERIFY2(remarks.first().box.top() > kBodyBottom - 0.05,
             qPrintable(QString::number(remarks.first().box.top())));
    QCOMPARE(Find(PdfText::Words(pdf, 2), QStringLiteral("Remark")).size(), 2);

    // Both rules run the body's full width, the bottom one through the note's shaded band.
    const QImage page = PdfText::Picture(pdf, 1, kDpi);
    QVERIFY(!page.isNull());
    const QRect band = Pixels(QRectF(4, kBodyBottom + 0.03, 0.01, 0.05));
    QVERIFY2(qGray(page.pixel(band.topLeft())) < 250, "the note line is not shaded");
    QCOMPARE(GapInRule(page, kBodyTop, kBodyLeft + 0.01, kBodyRight - 0.01), -1.0);
    QCOMPARE(GapInRule(page, kBodyBottom, kBodyLeft + 0.01, kBodyRight - 0.01), -1.0);
  }
};

QTEST_MAIN(ReportPageTest)
#include "tst_ReportPage.moc"
