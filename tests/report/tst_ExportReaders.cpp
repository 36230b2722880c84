// The exported documents opened by the programs people open them with: the page in a headless
// Chromium (its parsed document checked for the task table and for texts that stayed text),
// the RTF document read by UnRTF (every task in its row, and braces, backslashes and accented
// letters come back as typed). Both programs come from the project's package list.

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include "PdfText.h"
#include "ReportTestTable.h"
#include "db/Cp1252.h"
#include "db/TTableEngine.h"
#include "platform/UserMessages.h"
#include "report/TaskExporter.h"
#include "../store/RecordingMessages.h"

namespace {

using Recorded = RecordingMessages;

const QString kPay = QString::fromUtf8("Pay {rent} \\ fees at Caf\u00e9 \u20ac 5");

// In the main window's date-and-time order.
const QList<TestTask> kTasks = {
    {"", "", "Buy <milk> & eggs", "b", false, "HOME", "Two litres & a dozen."},
    {"19990305", "14:30", "Call the plumber", "A", false, "HOME",
     "Ask about the kitchen tap.\r\nBring the spare key."},
    {"20240229", "09:05", kPay, "C", true, "WORK", ""},
    {"20240302", "23:59", "Review <b>design</b>", "A", false, "work", "{more} \\ <i>later</i>"},
    {"20240303", "", "<script>document.title='x'</script>", "", false, "", ""},
};

struct Run {
  bool started = false;
  int exitCode = -1;
  QByteArray out, err;
};

Run RunProgram(const QString& program, const QStringList& args) {
  Run r;
  QProcess p;
  p.start(program, args);
  r.started = p.waitForStarted(30000);
  if (!r.started) return r;
  if (!p.waitForFinished(180000)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput();
  r.err = p.readAllStandardError();
  return r;
}

}  // namespace

class ExportReadersTest : public QObject {
  Q_OBJECT
 private:
  Recorded messages_;

  std::unique_ptr<ReportTestTable> Prepared() {
    auto t = std::make_unique<ReportTestTable>();
    if (!t->Opened()) return nullptr;
    for (const TestTask& task : kTasks) t->Add(task);
    return t;
  }

 private slots:
  void init() {
    messages_.shown.clear();
    UserMessages::Install(&messages_);
  }
  void cleanup() { UserMessages::Install(nullptr); }

  void browserShowsTheTaskTable_data() {
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("rows");
    QTest::addRow("all with notes") << "" << 5;
    QTest::addRow("nothing to show") << "(PRIORITY=\"Z\")" << 0;
  }
  void browserShowsTheTaskTable() {
    QFETCH(QString, query);
    QFETCH(int, rows);
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty()) QSKIP("chromium is not installed (scripts/deps.sh installs it)");
    auto t = Prepared();
    QVERIFY(t);
    if (!query.isEmpty()) QVERIFY(t->Engine().ApplyQuery(query) != 0);
    const QString page = t->Path(QStringLiteral("Tasq.htm"));
    TaskExporter exporter(t->Table(), t->Engine());
    QVERIFY(exporter.CopyHTML(page, QStringLiteral("FFFF80"), QStringLiteral("R&D <plans>"), true));
    QVERIFY(messages_.shown.isEmpty());

    QTemporaryDir profile;
    QVERIFY(profile.isValid());
    const Run run =
        RunProgram(chromium, {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
                              QStringLiteral("--disable-gpu"), QStringLiteral("--no-first-run"),
                              QStringLiteral("--user-data-dir=") + profile.path(),
                              QStringLiteral("--enable-logging=stderr"), QStringLiteral("--v=0"),
                              QStringLiteral("--dump-dom"), QUrl::fromLocalFile(page).toString()});
    QVERIFY2(run.started, "chromium did not start");
    QVERIFY2(run.exitCode == 0, run.err.constData());
    // Nothing the page runs or loads may complain: no script, no console message at all.
    for (const QByteArray& line : run.err.split('\n'))
      QVERIFY2(!line.contains("CONSOLE") && !line.contains("Uncaught"), line.constData());

    const QString dom = QString::fromUtf8(run.out);
    QVERIFY2(dom.trimmed().endsWith(QLatin1String("</html>")), qPrintable(dom.right(200)));
    QVERIFY(dom.contains(QLatin1String("<title>R&amp;D &lt;plans&gt;</title>")));
    QVERIFY(dom.contains(QLatin1String("<h1 align=\"CENTER\">R&amp;D &lt;plans&gt;</h1>")));
    QCOMPARE(dom.count(QLatin1String("<table")), 1);
    QVERIFY(dom.contains(
        QLatin1String("<th>Task</th><th>Date</th><th>Time</th><th>Priority</th><th>Done?")));
    // One task cell per task shown, each holding the task's text as typed.
    static const QRegularExpression taskCell(QStringLiteral("<td wrap=\"\">([^<]*)</td>"));
    QStringList tasks;
    for (auto it = taskCell.globalMatch(dom); it.hasNext();) tasks << it.next().captured(1);
    if (rows == 0) {
      QVERIFY(tasks.isEmpty());
      return;
    }
    QCOMPARE(tasks,
             QStringList({QStringLiteral("Buy &lt;milk&gt; &amp; eggs"),
                          QStringLiteral("Call the plumber"), kPay,
                          QStringLiteral("Review &lt;b&gt;design&lt;/b&gt;"),
                          QStringLiteral("&lt;script&gt;document.title='x'&lt;/script&gt;")}));
    // Texts that look like markup stayed text: no element came out of them.
    QVERIFY(!dom.contains(QLatin1String("<script")));
    QVERIFY(!dom.contains(QLatin1String("<b>")));
    QVERIFY(dom.contains(QLatin1String("<td nowrap=\"\">05 Mar 1999</td>")));
    QVERIFY(dom.contains(QLatin1String("<td nowrap=\"\"> 02:30pm</td>")));
    QVERIFY(dom.contains(QLatin1String("Two litres &amp; a dozen.")));
    QVERIFY(dom.contains(QLatin1String("{more} \\ &lt;i&gt;later&lt;/i&gt;")));
  }

  // The page names its code page, so a browser shows an e with acute accent and the euro sign
  // right without guessing it. Left to itself, a browser guesses the code page of a page that
  // names none; inside a frame it takes the code page of the page around it instead. Here that
  // page is UTF-8, in which the code page's bytes of those two letters are no characters at all:
  // only the page's own declaration can make them come out right. The same page without it shows
  // that the browser really did not guess. What the browser drew is read back from the PDF it
  // prints.
  void browserShowsTheDeclaredCodePage() {
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty()) QSKIP("chromium is not installed (scripts/deps.sh installs it)");
    auto t = Prepared();
    QVERIFY(t);
    const QString page = t->Path(QStringLiteral("Tasq.htm"));
    const QString title = QString::fromUtf8("Caf\u00e9 \u20ac plans");
    TaskExporter exporter(t->Table(), t->Engine());
    QVERIFY(exporter.CopyHTML(page, QStringLiteral("FFFFFF"), title, false));
    QFile file(page);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    file.close();
    const QByteArray declaration =
        "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1252\">\r\n";
    QVERIFY(bytes.contains("<HEAD>\r\n" + declaration + "<TITLE>"));
    QByteArray undeclared = bytes;
    undeclared.replace(declaration, QByteArray());
    const QString bare = t->Path(QStringLiteral("Bare.htm"));
    QFile out(bare);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(undeclared) == undeclared.size());
    out.close();

    // What the browser shows of `exported` inside a UTF-8 page, as text.
    const auto shown = [&](const QString& exported) -> QString {
      const QString frame = t->Path(QStringLiteral("frame.html"));
      QFile f(frame);
      if (!f.open(QIODevice::WriteOnly)) return QStringLiteral("no frame page");
      f.write(
          "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>frame</title></head>"
          "<body><iframe src=\"" +
          QFileInfo(exported).fileName().toUtf8() +
          "\" style=\"width:100%;height:900px;border:0\"></iframe></body></html>\n");
      f.close();
      const QString pdf = t->Path(QStringLiteral("shown.pdf"));
      QFile::remove(pdf);
      QTemporaryDir profile;
      const Run run =
          RunProgram(chromium, {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
                                QStringLiteral("--disable-gpu"), QStringLiteral("--no-first-run"),
                                QStringLiteral("--user-data-dir=") + profile.path(),
                                QStringLiteral("--allow-file-access-from-files"),
                                QStringLiteral("--no-pdf-header-footer"),
                                QStringLiteral("--print-to-pdf=") + pdf,
                                QUrl::fromLocalFile(frame).toString()});
      if (!run.started || run.exitCode != 0)
        return QStringLiteral("chromium failed: ") + QString::fromLocal8Bit(run.err);
      QString text;
      for (int p = 1; p <= PdfText::Pages(pdf); ++p) text += PdfText::Page(pdf, p);
      return text.simplified();
    };

    const QString declared = shown(page);
    QVERIFY2(declared.contains(QString::fromUtf8("Pay {rent} \\ fees at Caf\u00e9 \u20ac 5")),
             qPrintable(declared));
    QVERIFY2(declared.contains(title), qPrintable(declared));
    QVERIFY2(declared.contains(QStringLiteral("Call the plumber")), qPrintable(declared));
    const QString guessed = shown(bare);
    QVERIFY2(guessed.contains(QStringLiteral("Call the plumber")), qPrintable(guessed));
    QVERIFY2(!guessed.contains(QString::fromUtf8("Caf\u00e9")),
             "the browser guessed the code page of a page that names none; this check proves "
             "nothing on it");
  }

  void rtfReaderShowsTheTasks_data() {
    QTest::addColumn<QString>("query");
    QTest::addColumn<bool>("notes");
    QTest::addRow("all with notes") << "" << true;
    QTest::addRow("all") << "" << false;
    QTest::addRow("nothing to show") << "(PRIORITY=\"Z\")" << true;
  }
  void rtfReaderShowsTheTasks() {
    QFETCH(QString, query);
    QFETCH(bool, notes);
    const QString unrtf = QStandardPaths::findExecutable(QStringLiteral("unrtf"));
    if (unrtf.isEmpty()) QSKIP("unrtf is not installed (scripts/deps.sh installs it)");
    auto t = Prepared();
    QVERIFY(t);
    if (!query.isEmpty()) QVERIFY(t->Engine().ApplyQuery(query) != 0);
    const QString doc = t->Path(QStringLiteral("Tasq.rtf"));
    TaskExporter exporter(t->Table(), t->Engine());
    const QString title = QString::fromUtf8("{Caf\u00e9} \\ plan");
    QVERIFY(exporter.CopyRTF(doc, title, notes));
    QVERIFY(messages_.shown.isEmpty());

    const Run run = RunProgram(unrtf, {QStringLiteral("--text"), doc});
    QVERIFY2(run.started, "unrtf did not start");
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QVERIFY2(!run.err.contains("rror") && !run.err.contains("nknown"), run.err.constData());
    // UnRTF writes the document's own code page.
    const QString text = Cp1252::Decode(run.out.constData(), int(run.out.size()));
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n')))
      if (!line.startsWith(QLatin1String("###"))) lines << line;
    QVERIFY2(lines.contains(title), qPrintable(text));
    QVERIFY2(lines.contains(QLatin1String("\tTask\tDate\tTime\tPriority\tDone")), qPrintable(text));

    QStringList rows;
    for (const QString& line : lines)
      if (line.startsWith(QLatin1Char('\t')) && line.count(QLatin1Char('\t')) == 5) rows << line;
    QStringList expected = {QStringLiteral("\tTask\tDate\tTime\tPriority\tDone")};
    if (query.isEmpty()) {
      expected << QStringLiteral("\tBuy <milk> & eggs\t\t\tMedium\tN")
               << QStringLiteral("\tCall the plumber\t05 Mar 1999\t 02:30pm\tHigh\tN")
               << QStringLiteral("\t") + kPay + QStringLiteral("\t29 Feb 2024\t 09:05am\tLow\tY")
               << QStringLiteral("\tReview <b>design</b>\t02 Mar 2024\t 11:59pm\tHigh\tN")
               << QStringLiteral("\t<script>document.title='x'</script>\t03 Mar 2024\t\t\tN");
    }
    // UnRTF's plain text keeps one byte of each character (the euro sign comes out as its low
    // byte): the letters are compared in its HTML output below, the rest here.
    auto ascii = [](QStringList lines) {
      for (QString& line : lines)
        for (QChar& c : line)
          if (c.unicode() > 127) c = QLatin1Char('?');
      return lines;
    };
    QCOMPARE(ascii(rows), ascii(expected));
    const Run html = RunProgram(unrtf, {QStringLiteral("--html"), doc});
    QVERIFY2(html.exitCode == 0, html.err.constData());
    const QString page = QString::fromLatin1(html.out);
    QVERIFY2(page.contains(QLatin1String("Caf&eacute;} \\ plan")), qPrintable(page));
    QCOMPARE(page.contains(QLatin1String("Pay {rent} \\ fees at Caf&eacute; &euro; 5")),
             query.isEmpty());
    QVERIFY(page.contains(QLatin1String("<table")));
    const bool noteShown = text.contains(QLatin1String("{more} \\ <i>later</i>"));
    QCOMPARE(noteShown, notes && query.isEmpty());
    QCOMPARE(text.contains(QLatin1String("Bring the spare key.")), notes && query.isEmpty());
  }
};

QTEST_MAIN(ExportReadersTest)
#include "tst_ExportReaders.moc"
