// The printed report end to end: from the report dialog's Print button through the status form
// to a PDF checked page by page as text (header, page numbers, the date, column headings, task
// lines, notes across page breaks), cancelling a print with either answer, stopping a preview
// early, and the preview of an empty list.

#include <QCheckBox>
#include <QDate>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QRegularExpression>
#include <QTest>

#include "../store/RecordingMessages.h"
#include "ModalDriver.h"
#include "PdfText.h"
#include "ReportTestTable.h"
#include "render/ReportPrinters.h"
#include "render/PagePreview.h"
#include "report/TPreviewForm.h"
#include "report/TReportPrint.h"
#include "report/ReportPrinting.h"
#include "report/TReportSetup.h"
#include "widgets/TFlatButton.h"

namespace {

constexpr int kTasks = 120;
constexpr int kNoteLines = 25;

QString Description(int n) {
  return QStringLiteral("Task %1 to do").arg(n, 3, 10, QLatin1Char('0'));
}

// Task n has a note of kNoteLines short lines when n is a multiple of 10.
void AddTasks(ReportTestTable& t, int count) {
  const QDate start(2024, 3, 1);
  for (int n = 1; n <= count; ++n) {
    TestTask task;
    if (n == 1) {
      task.date = QStringLiteral("20240229");
      task.time = QStringLiteral("14:30");
    } else if (n % 7 != 0) {  // every seventh task has neither date nor time
      task.date = start.addDays(n).toString(QStringLiteral("yyyyMMdd"));
      if (n % 2 == 0) task.time = QStringLiteral("%1:15").arg(n % 24, 2, 10, QLatin1Char('0'));
    }
    task.descript = Description(n);
    task.priority = QString(QLatin1Char("ABC"[n % 3]));
    task.done = n % 4 == 0;
    if (n % 10 == 0) {
      QStringList lines;
      for (int k = 1; k <= kNoteLines; ++k)
        lines << QStringLiteral("Remark %1 about task %2").arg(k).arg(n);
      task.note = lines.join(QStringLiteral("\r\n"));
    }
    t.Add(task);
  }
}

void PrintToPdf(const QString& file) {
  ReportPrinters::SetInstalledOverride(std::nullopt);
  ReportPrinters::SetPdfPrinterEnabled(true);
  ReportPrinters::SelectPrinter(ReportPrinters::PdfPrinterName());
  QPrinter& device = ReportPrinters::Device();
  device.setOutputFileName(file);
  device.setPageSize(QPageSize(QPageSize::Letter));
  device.setPageOrientation(QPageLayout::Portrait);
}

// What the status form showed when its run had ended.
struct Outcome {
  QString status;
  QString caption;
  QString previewCaption;
  int previewPages = -1;
  bool pageButtonsHidden = false;
  bool asked = false;
};

QString Text(const QLabel* label) {
  return label->text();
}

}  // namespace

class ReportPrintTest : public QObject {
  Q_OBJECT
 private:
  RecordingMessages messages_;

  // Presses Print or Preview on a dialog over `t` and answers the windows that follow:
  // `whileRunning` sees the status form during the run; at the end its status is noted and OK
  // pressed, and a preview window is noted and closed.
  Outcome Run(ReportTestTable& t, bool print, const std::function<void(TReportSetup&)>& options,
              const std::function<void(TReportPrint&)>& whileRunning = {}) {
    TReportSetup d(t.Table(), t.Engine());
    ReportPrinting::Install(d);
    d.RunPrintDialog = [](TReportSetup&) { return true; };
    options(d);
    Outcome out;
    ModalDriver driver([&](QWidget* top) {
      if (auto* status = qobject_cast<TReportPrint*>(top)) {
        if (status->Running()) {
          if (whileRunning) whileRunning(*status);
        } else if (status->Finished()) {
          out.status = Text(status->Label1);
          out.caption = status->windowTitle();
          status->CancelButton->click();
        }
      } else if (auto* preview = qobject_cast<TPreviewForm*>(top)) {
        out.previewCaption = preview->windowTitle();
        out.previewPages = preview->PagePreview1->PageCount();
        out.pageButtonsHidden = preview->sbNextPage->isHidden() &&
                                preview->sbLastPAge->isHidden() &&
                                preview->sbPrevPage->isHidden() && preview->sbFirstPage->isHidden();
        preview->ReturnButton->click();
      }
    });
    d.show();
    (print ? d.PrintNow : d.Previewbutton)->click();
    return out;
  }

 private slots:
  void init() {
    messages_.shown.clear();
    messages_.answer = true;
  }

  void dateAndTimeTexts() {
    QCOMPARE(TReportPrint::DateText(QStringLiteral("20240229")),
             QStringLiteral("29 Feb, 2024 (Thu)"));
    QCOMPARE(TReportPrint::DateText(QStringLiteral("20230229")), QString());
    QCOMPARE(TReportPrint::DateText(QStringLiteral("        ")), QString());
    QCOMPARE(TReportPrint::DateText(QString()), QString());
    QCOMPARE(TReportPrint::TimeText(QStringLiteral("14:30")), QStringLiteral("02:30 pm"));
    QCOMPARE(TReportPrint::TimeText(QStringLiteral("00:05")), QStringLiteral("12:05 am"));
    QCOMPARE(TReportPrint::TimeText(QStringLiteral("25:99")), QString());
    QCOMPARE(TReportPrint::TimeText(QStringLiteral("     ")), QString());
  }

  void printed120TasksPageByPage() {
    ReportTestTable t;
    QVERIFY(t.Opened());
    AddTasks(t, kTasks);
    const QString pdf = t.Path(QStringLiteral("report.pdf"));
    PrintToPdf(pdf);
    const Outcome out = Run(t, true, [](TReportSetup& d) {
      d.ReportTitleField->setText(QStringLiteral("Chores for the spring"));
      d.PrintMemoBox->setChecked(true);
      d.PrintCheckBox->setChecked(true);
    });
    QCOMPARE(out.caption, QStringLiteral("Print Status"));
    QCOMPARE(out.status, QStringLiteral("\nPrint Completed!"));

    const int pages = PdfText::Pages(pdf);
    QVERIFY2(pages >= 5, qPrintable(QString::number(pages)));
    const QString today = QDate::currentDate().toString(QStringLiteral("MM/dd/yyyy"));
    const QRegularExpression headings(QStringLiteral("Date\\s+Time\\s+Task\\s+Priority\\s+Done"));
    const QRegularExpression taskLine(
        QStringLiteral("(Task \\d{3} to do)\\s+(High|Medium|Low)\\s+(Yes|No)\\s*$"));
    QStringList printed;          // descriptions in the order printed
    QMap<int, QList<int>> notes;  // task -> pages its remarks appear on
    for (int page = 1; page <= pages; ++page) {
      const QString text = PdfText::Page(pdf, page);
      const QStringList lines = text.split(QLatin1Char('\n'));
      QVERIFY2(lines.value(0).contains(QStringLiteral("Chores for the spring")), qPrintable(text));
      QVERIFY2(lines.value(0).contains(QStringLiteral("Page %1").arg(page)), qPrintable(text));
      QVERIFY2(text.contains(today), qPrintable(text));
      QVERIFY2(headings.match(text).hasMatch(), qPrintable(text));
      for (const QString& line : lines) {
        const QRegularExpressionMatch m = taskLine.match(line);
        if (m.hasMatch()) printed << m.captured(1);
        const QRegularExpressionMatch r =
            QRegularExpression(QStringLiteral("Remark (\\d+) about task (\\d+)")).match(line);
        if (r.hasMatch()) notes[r.captured(2).toInt()] << page;
      }
      if (page == 1) {
        QVERIFY2(text.contains(QStringLiteral("29 Feb, 2024 (Thu)")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("02:30 pm")), qPrintable(text));
      }
    }
    // Every task once, none lost at a page break.
    QCOMPARE(printed.size(), kTasks);
    QSet<QString> unique(printed.begin(), printed.end());
    QCOMPARE(unique.size(), kTasks);
    // Every remark of every note printed, and at least one note goes on over a page break.
    QCOMPARE(notes.size(), kTasks / 10);
    int continued = 0;
    for (auto it = notes.cbegin(); it != notes.cend(); ++it) {
      QCOMPARE(it.value().size(), kNoteLines);
      if (it.value().first() != it.value().last()) {
        QCOMPARE(it.value().last(), it.value().first() + 1);
        ++continued;
      }
    }
    QVERIFY(continued >= 1);
  }

  void cancellingAPrint() {
    ReportTestTable t;
    QVERIFY(t.Opened());
    AddTasks(t, kTasks);
    // No: the print goes on to the end.
    const QString kept = t.Path(QStringLiteral("kept.pdf"));
    PrintToPdf(kept);
    messages_.answer = false;
    bool clicked = false;
    Outcome out = Run(
        t, true, [](TReportSetup&) {},
        [&](TReportPrint& status) {
          if (!clicked) {
            clicked = true;
            status.CancelButton->click();
          }
        });
    QVERIFY(clicked);
    QCOMPARE(messages_.shown, QStringList{QStringLiteral("Cancel Printing?")});
    QCOMPARE(out.status, QStringLiteral("\nPrint Completed!"));
    QVERIFY(PdfText::Pages(kept) >= 3);

    // Yes: abandoned at once, nothing printed.
    const QString dropped = t.Path(QStringLiteral("dropped.pdf"));
    PrintToPdf(dropped);
    messages_.answer = true;
    clicked = false;
    out = Run(
        t, true, [](TReportSetup&) {},
        [&](TReportPrint& status) {
          if (!clicked) {
            clicked = true;
            status.CancelButton->click();
          }
        });
    QCOMPARE(out.status, QStringLiteral("\nPrint Canceled!"));
    QVERIFY(!QFile::exists(dropped));
  }

  void stoppingAPreview() {
    ReportTestTable t;
    QVERIFY(t.Opened());
    AddTasks(t, kTasks);
    PrintToPdf(t.Path(QStringLiteral("unused.pdf")));
    bool stopped = false;
    int stoppedOnPage = 0;
    const Outcome out = Run(
        t, false, [](TReportSetup& d) { d.PrintMemoBox->setChecked(true); },
        [&](TReportPrint& status) {
          if (!stopped && status.ActiveReport->PageNumber() >= 2) {
            stopped = true;
            QCOMPARE(status.CancelButton->Caption(), QStringLiteral("Stop"));
            status.CancelButton->click();
          }
          stoppedOnPage = status.ActiveReport->PageNumber();
        });
    QVERIFY(stopped);
    QCOMPARE(out.caption, QStringLiteral("Preview Status"));
    QCOMPARE(out.status, QStringLiteral("\nPreview Stopped at page %1!").arg(stoppedOnPage));
    QVERIFY(messages_.shown.isEmpty());
    // The preview holds the pages made before Stop, far fewer than the whole report's.
    QCOMPARE(out.previewPages, stoppedOnPage);
    QVERIFY(out.previewCaption.startsWith(
        QStringLiteral("Preview Page 1 of %1 ( ").arg(stoppedOnPage)));
    QVERIFY(!out.pageButtonsHidden);
  }

  void previewOfAnEmptyList() {
    ReportTestTable t;
    QVERIFY(t.Opened());
    PrintToPdf(t.Path(QStringLiteral("unused.pdf")));
    const Outcome out = Run(t, false, [](TReportSetup&) {});
    QCOMPARE(out.status, QStringLiteral("\nPreview Ready!"));
    QCOMPARE(out.previewPages, 1);
    QVERIFY(out.pageButtonsHidden);
    QVERIFY(QRegularExpression(QStringLiteral("^Preview Page 1 of 1 \\( \\d+% \\)$"))
                .match(out.previewCaption)
                .hasMatch());
  }
};

QTEST_MAIN(ReportPrintTest)
#include "tst_ReportPrint.moc"
