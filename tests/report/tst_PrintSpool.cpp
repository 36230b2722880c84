// Printing through a real print spooler: the test's private cupsd (started by the test fixture,
// reached through CUPS_SERVER) has a queue that turns every job into a PDF file. The report is
// printed on that queue from the report dialog, the job it made is followed in the spooler until
// it is done, and the PDF the spooler made of that job is read back. When the spooler fails, the
// test says what it did: the job's state, the files it made and the end of its log.

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
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>
#include <cmath>

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

const QString kQueue = QStringLiteral("ListwisePDF");

// What the spooler's PDF queue is configured to do with a job of the user running the test: the
// folders it may write to (the "Out" line of its configuration, "${HOME}" standing for the user's
// home directory, and the anonymous user's folder) and whether it puts the job's number into the
// file's name ("Label", on unless set to 0).
struct QueueOutput {
  QStringList folders;
  bool labelled = true;
};

QueueOutput OutputOfTheQueue() {
  const passwd* pw = getpwuid(getuid());
  const QString home = pw != nullptr ? QFile::decodeName(pw->pw_dir) : QDir::homePath();
  QString out = QStringLiteral("${HOME}/PDF");
  QueueOutput result;
  QFile conf(QStringLiteral("/etc/cups/cups-pdf.conf"));
  if (conf.open(QIODevice::ReadOnly)) {
    for (const QByteArray& line : conf.readAll().split('\n')) {
      const QString l = QString::fromLocal8Bit(line).trimmed();
      if (l.startsWith(QStringLiteral("Out "))) out = l.mid(4).trimmed();
      if (l.startsWith(QStringLiteral("Label "))) result.labelled = l.mid(6).trimmed() != "0";
    }
  }
  out.replace(QStringLiteral("${HOME}"), home);
  result.folders = {out, QStringLiteral("/var/spool/cups-pdf/ANONYMOUS")};
  return result;
}

QString Tool(const QString& program, const QStringList& arguments) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(program, arguments);
  if (!p.waitForFinished(60000)) {
    p.kill();
    p.waitForFinished();
  }
  return QString::fromLocal8Bit(p.readAll());
}

// The numbers of all jobs the spooler knows of on the queue, finished ones included.
QSet<int> JobIds() {
  QSet<int> ids;
  static const QRegularExpression job(QStringLiteral("^%1-(\\d+)\\s").arg(kQueue),
                                      QRegularExpression::MultilineOption);
  const QString listed =
      Tool(QStringLiteral("lpstat"),
           {QStringLiteral("-W"), QStringLiteral("all"), QStringLiteral("-o"), kQueue});
  for (auto it = job.globalMatch(listed); it.hasNext();) ids.insert(it.next().captured(1).toInt());
  return ids;
}

// One job as the spooler reports it.
struct Job {
  int id = 0;
  // IPP job state: pending, pending-held, processing, processing-stopped, canceled, aborted or
  // completed.
  QString state;
  QString reasons;
  QString message;
  QString answer;  // the spooler's whole answer, for when the fields above say nothing

  // A job in these states goes no further by itself.
  bool Over() const {
    return state == QLatin1String("completed") || state == QLatin1String("canceled") ||
           state == QLatin1String("aborted") || state == QLatin1String("processing-stopped");
  }
};

Job JobAttributes(int id) {
  Job job;
  job.id = id;
  // The spooler's local socket, written as the host of an IPP address.
  const QString server =
      QString::fromLatin1(QUrl::toPercentEncoding(QString::fromLocal8Bit(qgetenv("CUPS_SERVER"))));
  job.answer = Tool(
      QStringLiteral("ipptool"),
      {QStringLiteral("-tv"), QStringLiteral("ipp://%1/jobs/%2").arg(server, QString::number(id)),
       QStringLiteral("get-job-attributes.test")});
  const auto value = [&](const char* name) {
    const QRegularExpression line(
        QStringLiteral("^\\s*%1 \\([^)]*\\) = (.*)$").arg(QLatin1String(name)),
        QRegularExpression::MultilineOption);
    return line.match(job.answer).captured(1).trimmed();
  };
  job.state = value("job-state");
  job.reasons = value("job-state-reasons");
  job.message = value("job-printer-state-message");
  return job;
}

// The files the queue made of job `id` since `since`: their names carry the job's number. (The
// private spooler numbers its jobs from 1 again on every run, so older files may carry it too.)
QFileInfoList FilesOfJob(const QueueOutput& output, int id, const QDateTime& since) {
  QFileInfoList found;
  const QRegularExpression name(QStringLiteral("(^|-)job_%1(-.*)?\\.pdf$").arg(id));
  for (const QString& folder : output.folders)
    for (const QFileInfo& file : QDir(folder).entryInfoList({QStringLiteral("*.pdf")}, QDir::Files))
      if (name.match(file.fileName()).hasMatch() && file.lastModified() >= since.addSecs(-1))
        found << file;
  return found;
}

// The PDF the queue made of job `id`, printed from the report engine's job ("Test Report"); empty
// when there is none. Without the job's number in the names, the one file of that title made
// since `since` stands for it.
QString OutputOfJob(const QueueOutput& output, int id, const QDateTime& since) {
  if (output.labelled) {
    for (const QFileInfo& file : FilesOfJob(output, id, since))
      if (file.fileName().contains(QStringLiteral("Test_Report"))) return file.absoluteFilePath();
    return QString();
  }
  for (const QString& folder : output.folders) {
    const QFileInfo file(QDir(folder).filePath(QStringLiteral("Test_Report.pdf")));
    if (file.exists() && file.lastModified() >= since.addSecs(-1)) return file.absoluteFilePath();
  }
  return QString();
}

// What the spooler did with a job, for a failure message: its state, the files it made of it and
// the end of the spooler's log.
QString WhatTheSpoolerDid(const QueueOutput& output, const Job& job, const QDateTime& since) {
  QString text = QStringLiteral("job %1: state \"%2\", reasons \"%3\", printer message \"%4\"\n")
                     .arg(job.id)
                     .arg(job.state, job.reasons, job.message);
  if (job.state.isEmpty()) text += QStringLiteral("the spooler answered:\n") + job.answer;
  const QFileInfoList files = FilesOfJob(output, job.id, since);
  text += QStringLiteral("files of the job in %1:").arg(output.folders.join(QStringLiteral(", ")));
  for (const QFileInfo& file : files)
    text += QStringLiteral(" %1 (%2 bytes)").arg(file.fileName()).arg(file.size());
  if (files.isEmpty()) text += QStringLiteral(" none");
  QFile log(QFileInfo(QString::fromLocal8Bit(qgetenv("CUPS_SERVER")))
                .dir()
                .filePath(QStringLiteral("log/error_log")));
  // The filters' environment, which the spooler logs with a failed job, says nothing here.
  QStringList lines;
  if (log.open(QIODevice::ReadOnly))
    for (const QString& line : QString::fromLocal8Bit(log.readAll()).split(QLatin1Char('\n')))
      if (!line.contains(QLatin1String("envp[")) && !line.contains(QLatin1String("argv[")))
        lines << line;
  text += QStringLiteral("\nthe end of the spooler's log %1:\n").arg(log.fileName()) +
          lines.mid(std::max<qsizetype>(0, lines.size() - 30)).join(QLatin1Char('\n'));
  return text;
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
    for (const char* tool : {"lpstat", "ipptool"})
      QVERIFY2(!QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty(),
               qPrintable(QStringLiteral("%1 is missing (scripts/deps.sh installs it)").arg(tool)));
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
      ReportPrinting::Install(d);
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
    const QueueOutput output = OutputOfTheQueue();
    const QSet<int> before = JobIds();
    const QDateTime started = QDateTime::currentDateTime();
    QCOMPARE(print(), QStringLiteral("\nPrint Completed!"));
    // The one job the print gave the spooler, followed until the spooler is done with it.
    const QSet<int> newJobs = JobIds() - before;
    QVERIFY2(newJobs.size() == 1,
             qPrintable(QStringLiteral("%1 new jobs on the queue").arg(newJobs.size())));
    Job job = JobAttributes(*newJobs.begin());
    QElapsedTimer waited;
    waited.start();
    while (!job.Over() && waited.elapsed() < 120000) {
      QTest::qWait(250);
      job = JobAttributes(job.id);
    }
    // The test's own message is cut short, so the whole account goes to the log before it.
    const QString spooled = OutputOfJob(output, job.id, started);
    const bool made = job.state == QLatin1String("completed") && !spooled.isEmpty() &&
                      PdfText::Pages(spooled) > 0;
    if (!made) qWarning().noquote() << WhatTheSpoolerDid(output, job, started);
    QVERIFY2(job.state == QLatin1String("completed"),
             qPrintable(QStringLiteral("the spooler did not complete job %1: %2 (%3)")
                            .arg(job.id)
                            .arg(job.state, job.reasons)));
    QVERIFY2(made, "the spooler made no PDF of the report");
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
