// The three export files written from a real task table: byte-exact documents for a set of
// views, the text file's columns, the escaping of task texts, independent parsers reading the
// page and the RTF document back, and failures that must leave earlier files alone.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QProcess>
#include <QSet>
#include <QTest>

#include "ReportTestTable.h"
#include "db/TTableEngine.h"
#include "platform/UserMessages.h"
#include "report/NoteLines.h"
#include "report/ReportRunGuard.h"
#include "report/TaskExporter.h"
#include "../store/RecordingMessages.h"

namespace {

using Recorded = RecordingMessages;

const QString kGoldenDir = QStringLiteral(LISTWISE_TEST_DATA "/report/");

// In the main window's date-and-time order: the task without a date comes first.
const QList<TestTask> kTasks = {
    {"19990305", "14:30", "Call the plumber", "A", false, "HOME",
     "Ask about the kitchen tap.\r\nBring the spare key."},
    {"", "", "Buy <milk> & eggs", "b", false, "HOME",
     "A note long enough that it must be wrapped into more than one display line at every one "
     "of the widths the exports use.\r\n"},
    {"20240229", "09:05", QString::fromUtf8("Pay {rent} \\ fees at Caf\u00e9 \u20ac 5"), "C", true,
     "WORK", "   "},
    {"20240301", "", "12345678901234567890123456789012345678901234567890", "", false, "WORK",
     "\r\n\r\n"},
    {"20240302", "23:59", "Review <b>design</b>", "A", false, "work",
     "Supercalifragilisticexpialidociousandmanymorelettersthanfitinonelineofthebox & {more}"},
};

struct View {
  const char* query;
  QStringList descriptions;  // the tasks it shows, in order
};

// All tasks; the undone work tasks (the main window's filter of key words with done tasks
// hidden); nothing at all.
const std::map<QString, View> kViews = {
    {"all",
     {"",
      {"Buy <milk> & eggs", "Call the plumber",
       QString::fromUtf8("Pay {rent} \\ fees at Caf\u00e9 \u20ac 5"),
       "12345678901234567890123456789012345678901234567890", "Review <b>design</b>"}}},
    {"filtered",
     {"(.not.DONE).and.(\"WORK\"$UPPER(KEYS))",
      {"12345678901234567890123456789012345678901234567890", "Review <b>design</b>"}}},
    {"empty", {"(PRIORITY=\"Z\")", {}}},
};

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<QByteArray> Lines(const QByteArray& bytes) {
  QList<QByteArray> lines = bytes.split('\n');
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  for (QByteArray& l : lines) l.chop(1);  // the CR, checked separately
  return lines;
}

// A document whose lines all end in CR LF, with no other CR or LF in it.
bool OnlyCrLfEndings(const QByteArray& bytes) {
  if (!bytes.endsWith("\r\n")) return false;
  for (qsizetype i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) return false;
    if (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n')) return false;
  }
  return true;
}

// A small RTF reader: groups must balance, every backslash must start a known control word or
// a valid control symbol (\\ \{ \} \'hh \uN), and no byte above 127 may stand unescaped.
QString RtfProblem(const QByteArray& rtf) {
  static const QSet<QByteArray> words = {
      "rtf",     "ansi",  "deff",    "deftab",  "fonttbl", "f",     "fnil",   "charset", "colortbl",
      "red",     "green", "blue",    "margl",   "margr",   "margt", "margb",  "qc",      "plain",
      "fs",      "cf",    "b",       "par",     "ql",      "pard",  "trowd",  "trgaph",  "trleft",
      "clbrdrt", "brdrs", "clbrdrb", "clbrdrl", "clbrdrr", "brdrw", "brdrcf", "cellx",   "intbl",
      "sb",      "sl",    "sa",      "cell",    "row",     "i",     "li",     "u"};
  int depth = 0;
  for (qsizetype i = 0; i < rtf.size(); ++i) {
    const uchar c = uchar(rtf[i]);
    if (c > 127) return QStringLiteral("raw byte %1 at %2").arg(c).arg(i);
    if (c == '{') ++depth;
    if (c == '}' && --depth < 0) return QStringLiteral("unbalanced } at %1").arg(i);
    if (depth == 0 && c != '\r' && c != '\n' && c != '}')
      return QStringLiteral("text outside the document at %1").arg(i);
    if (c != '\\') continue;
    if (++i == rtf.size()) return QStringLiteral("backslash at the end");
    const char n = rtf[i];
    if (n == '\\' || n == '{' || n == '}') continue;
    if (n == '\'') {
      if (i + 2 >= rtf.size() || !isxdigit(uchar(rtf[i + 1])) || !isxdigit(uchar(rtf[i + 2])))
        return QStringLiteral("bad hexadecimal escape at %1").arg(i);
      i += 2;
      continue;
    }
    qsizetype end = i;
    while (end < rtf.size() && isalpha(uchar(rtf[end]))) ++end;
    const QByteArray word = rtf.mid(i, end - i);
    if (word.isEmpty()) return QStringLiteral("bad control symbol \\%1 at %2").arg(n).arg(i);
    if (!words.contains(word))
      return QStringLiteral("unknown control word \\%1").arg(QString::fromLatin1(word));
    if (end < rtf.size() && rtf[end] == '-') ++end;
    while (end < rtf.size() && isdigit(uchar(rtf[end]))) ++end;
    i = end - 1;
  }
  return depth == 0 ? QString() : QStringLiteral("%1 groups left open").arg(depth);
}

}  // namespace

class ExportersTest : public QObject {
  Q_OBJECT
 private:
  Recorded messages_;

  // Exports `view` in `format` into `path`; the table is left where the export left it.
  bool Export(ReportTestTable& t, const QString& view, const QString& format, bool notes,
              const QString& path, const QString& title = QStringLiteral("Listwise")) {
    if (t.Engine().ApplyQuery(QString::fromLatin1(kViews.at(view).query)) == 0 &&
        !QString::fromLatin1(kViews.at(view).query).isEmpty())
      return false;
    TaskExporter exporter(t.Table(), t.Engine());
    if (format == QLatin1String("htm"))
      return exporter.CopyHTML(path, QStringLiteral("FFFF80"), title, notes);
    if (format == QLatin1String("rtf")) return exporter.CopyRTF(path, title, notes);
    return exporter.CopyText(path, title, notes);
  }

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

  void goldenDocuments_data() {
    QTest::addColumn<QString>("view");
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("notes");
    for (const char* format : {"htm", "rtf", "txt"}) {
      QTest::addRow("all notes %s", format) << "all" << format << true;
      QTest::addRow("filtered %s", format) << "filtered" << format << false;
      QTest::addRow("empty %s", format) << "empty" << format << true;
    }
  }
  // Set LISTWISE_UPDATE_GOLDEN=1 to write the documents anew after a deliberate change, and
  // read the difference before keeping it.
  void goldenDocuments() {
    QFETCH(QString, view);
    QFETCH(QString, format);
    QFETCH(bool, notes);
    auto t = Prepared();
    QVERIFY(t);
    const QString path = t->Path(QStringLiteral("out.") + format);
    QVERIFY(Export(*t, view, format, notes, path));
    QVERIFY(messages_.shown.isEmpty());
    const QByteArray bytes = ReadAll(path);
    QVERIFY(OnlyCrLfEndings(bytes));
    const QString golden = kGoldenDir + view + QLatin1Char('.') + format;
    if (qgetenv("LISTWISE_UPDATE_GOLDEN") == "1") {
      QFile f(golden);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(bytes);
    }
    QCOMPARE(bytes, ReadAll(golden));
    // The export leaves the main window on the last task it wrote.
    const QStringList shown = kViews.at(view).descriptions;
    if (!shown.isEmpty())
      QCOMPARE(t->Table().FieldByName(QStringLiteral("DESCRIPT"))->AsString(), shown.last());
    QVERIFY(QDir(QFileInfo(path).path())
                .entryList(QStringList{QStringLiteral(".out*")}, QDir::Hidden | QDir::Files)
                .isEmpty());
  }

  void textFileColumns() {
    auto t = Prepared();
    QVERIFY(t);
    const QString path = t->Path(QStringLiteral("tasks.txt"));
    QVERIFY(Export(*t, QStringLiteral("all"), QStringLiteral("txt"), false, path,
                   QStringLiteral("My tasks")));
    const QList<QByteArray> lines = Lines(ReadAll(path));
    QCOMPARE(lines.size(), 5 + 5);
    QCOMPARE(lines[0], QByteArray("My tasks"));
    QVERIFY(lines[1].isEmpty() && lines[2].isEmpty());
    for (int i = 3; i < lines.size(); ++i) QCOMPARE(lines[i].size(), 84);
    const QByteArray& heading = lines[3];
    QCOMPARE(heading.indexOf("Date") + 1, 52);
    QCOMPARE(heading.indexOf("Time") + 1, 64);
    QCOMPARE(heading.indexOf("Priority") + 1, 72);
    QCOMPARE(heading.indexOf("Done") + 1, 81);
    QCOMPARE(lines[4], QByteArray(84, '='));

    // Columns are counted from 1 as a reader of the file counts them.
    auto columns = [](const QByteArray& line, int from, int to) {
      return line.mid(from - 1, to - from + 1);
    };
    const QByteArray& plumber = lines[6];
    QCOMPARE(columns(plumber, 1, 16), QByteArray("Call the plumber"));
    QCOMPARE(columns(plumber, 17, 50), QByteArray(34, ' '));
    QCOMPARE(columns(plumber, 51, 61), QByteArray("05 Mar 1999"));
    QCOMPARE(columns(plumber, 62, 63), QByteArray("  "));
    QCOMPARE(columns(plumber, 64, 70), QByteArray("02:30pm"));
    QCOMPARE(columns(plumber, 71, 71), QByteArray(" "));
    QCOMPARE(columns(plumber, 72, 80), QByteArray("High     "));
    QCOMPARE(columns(plumber, 81, 84), QByteArray("N   "));

    // No date, no time: blank columns, not "30 Dec 1899" or "12:00am".
    QCOMPARE(columns(lines[5], 51, 71), QByteArray(21, ' '));
    QCOMPARE(columns(lines[5], 72, 80), QByteArray("Medium   "));
    // A full-width description runs straight into the date.
    QCOMPARE(columns(lines[8], 1, 61),
             QByteArray("1234567890123456789012345678901234567890123456789001 Mar 2024"));
    // Text files take the task texts as the table holds them, in the code page's bytes.
    QCOMPARE(columns(lines[7], 1, 29), QByteArray("Pay {rent} \\ fees at Caf\xe9 \x80 5"));
  }

  void notesInTheTextFile() {
    auto t = Prepared();
    QVERIFY(t);
    const QString path = t->Path(QStringLiteral("notes.txt"));
    QVERIFY(Export(*t, QStringLiteral("all"), QStringLiteral("txt"), true, path));
    const QList<QByteArray> lines = Lines(ReadAll(path));
    auto after = [&](const char* task) {
      for (int i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith(task)) return i + 1;
      return -1;
    };
    const int plumber = after("Call the plumber");
    QCOMPARE(lines[plumber], QByteArray("   Ask about the kitchen tap."));
    QCOMPARE(lines[plumber + 1], QByteArray("   Bring the spare key."));
    // A note of blanks gives no lines; a note of two line breaks gives two empty lines.
    QVERIFY(lines[after("Pay {rent}")].startsWith("1234567890"));
    const int empty = after("1234567890");
    QCOMPARE(lines[empty], QByteArray("   "));
    QCOMPARE(lines[empty + 1], QByteArray("   "));
    QVERIFY(lines[empty + 2].startsWith("Review"));
    // Wrapped lines keep every word and none is longer than the box allows.
    const int wrapped = after("Buy <milk>");
    QByteArray joined;
    int i = wrapped;
    for (; lines[i].startsWith("   "); ++i) {
      QVERIFY(QFontMetrics(NoteLines::DialogFont())
                  .horizontalAdvance(QString::fromLatin1(lines[i].mid(3))) <=
              NoteLines::TextFileWidth(NoteLines::DialogFont()));
      joined += lines[i].mid(3) + ' ';
    }
    QVERIFY(i - wrapped >= 3);
    QCOMPARE(joined.simplified(), QByteArray(kTasks[1].note.toLatin1()).simplified());
  }

  void textsCannotBreakThePage() {
    auto t = Prepared();
    QVERIFY(t);
    const QString path = t->Path(QStringLiteral("page.htm"));
    QVERIFY(Export(*t, QStringLiteral("all"), QStringLiteral("htm"), true, path,
                   QStringLiteral("<Tom & Jerry>")));
    const QByteArray page = ReadAll(path);
    QVERIFY(page.contains("<TITLE>&lt;Tom &amp; Jerry&gt;</TITLE>\r\n"));
    QVERIFY(page.contains("<h1 ALIGN=\"CENTER\">&lt;Tom &amp; Jerry&gt;</h1>\r\n"));
    QVERIFY(page.contains("<TD WRAP>Buy &lt;milk&gt; &amp; eggs</TD>"));
    QVERIFY(page.contains("<TD WRAP>Review &lt;b&gt;design&lt;/b&gt;</TD>"));
    QVERIFY(page.contains("&amp; {more} \r\n"));
    QVERIFY(!page.contains("<milk>") && !page.contains("<b>"));

    const QString rtfPath = t->Path(QStringLiteral("doc.rtf"));
    QVERIFY(Export(*t, QStringLiteral("all"), QStringLiteral("rtf"), true, rtfPath,
                   QString::fromUtf8("{Caf\u00e9} \\ plan")));
    const QByteArray rtf = ReadAll(rtfPath);
    QVERIFY(rtf.contains("\r\n\\{Caf\\'e9\\} \\\\ plan\r\n"));
    QVERIFY(rtf.contains(" Pay \\{rent\\} \\\\ fees at Caf\\'e9 \\'80 5\\cell\r\n"));
    QVERIFY(rtf.contains("\\{more\\} \r\n"));
    QCOMPARE(RtfProblem(rtf), QString());
  }

  void independentReadersAcceptTheDocuments_data() {
    QTest::addColumn<QString>("view");
    QTest::addColumn<bool>("notes");
    QTest::addRow("all with notes") << "all" << true;
    QTest::addRow("all") << "all" << false;
    QTest::addRow("filtered with notes") << "filtered" << true;
    QTest::addRow("empty") << "empty" << true;
  }
  void independentReadersAcceptTheDocuments() {
    QFETCH(QString, view);
    QFETCH(bool, notes);
    auto t = Prepared();
    QVERIFY(t);
    const QString title = QString::fromUtf8("R&D <plans> {\u00e9t\u00e9}");
    const QString rtfPath = t->Path(QStringLiteral("doc.rtf"));
    QVERIFY(Export(*t, view, QStringLiteral("rtf"), notes, rtfPath, title));
    QCOMPARE(RtfProblem(ReadAll(rtfPath)), QString());

    const QString python = QStringLiteral("/usr/bin/python3");
    if (!QFileInfo::exists(python)) QSKIP("no /usr/bin/python3 to read the page");
    const QString htmlPath = t->Path(QStringLiteral("page.htm"));
    QVERIFY(Export(*t, view, QStringLiteral("htm"), notes, htmlPath, title));
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(python, {kGoldenDir + QStringLiteral("check_html.py"), htmlPath,
                     QString::number(kViews.at(view).descriptions.size()), title});
    QVERIFY(p.waitForFinished(60000));
    QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, p.readAll().constData());
  }

  void failedExportLeavesFilesAlone() {
    auto t = Prepared();
    QVERIFY(t);
    // A folder that does not exist.
    const QString missing = t->Path(QStringLiteral("no such folder/Tasq.htm"));
    QVERIFY(!Export(*t, QStringLiteral("all"), QStringLiteral("htm"), true, missing));
    QCOMPARE(messages_.shown, QStringList{QStringLiteral("File not found")});
    QVERIFY(!QFileInfo::exists(missing));

    // A target that cannot be replaced keeps its contents, and no temporary file stays behind.
    messages_.shown.clear();
    const QString folder = t->Path(QStringLiteral("Tasq.txt"));
    QVERIFY(QDir().mkdir(folder));
    QFile inside(folder + QStringLiteral("/keep"));
    QVERIFY(inside.open(QIODevice::WriteOnly));
    inside.close();
    QVERIFY(!Export(*t, QStringLiteral("all"), QStringLiteral("txt"), false, folder));
    QCOMPARE(messages_.shown, QStringList{QStringLiteral("File access denied")});
    QVERIFY(QFileInfo(folder).isDir() && QFileInfo::exists(folder + QStringLiteral("/keep")));
    QCOMPARE(QDir(t->Path(QString()))
                 .entryList(QStringList{QStringLiteral(".Tasq*")}, QDir::Hidden | QDir::AllEntries),
             QStringList());

    // A successful export over an existing file replaces it whole.
    const QString existing = t->Path(QStringLiteral("old.txt"));
    QFile old(existing);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(100000, 'x'));
    old.close();
    QVERIFY(Export(*t, QStringLiteral("empty"), QStringLiteral("txt"), false, existing));
    QCOMPARE(ReadAll(existing).size(), qsizetype(8 + 2 + 2 + 2 + 86 + 86));
  }

  void onlyOneExportAtATime() {
    auto t = Prepared();
    QVERIFY(t);
    const QString path = t->Path(QStringLiteral("second.txt"));
    {
      ReportRunGuard running;
      QVERIFY(running.Acquired());
      QVERIFY(ReportRunGuard::Running());
      QVERIFY(!Export(*t, QStringLiteral("all"), QStringLiteral("txt"), false, path));
      QVERIFY(!QFileInfo::exists(path));
      QVERIFY(messages_.shown.isEmpty());
    }
    QVERIFY(!ReportRunGuard::Running());
    QVERIFY(Export(*t, QStringLiteral("all"), QStringLiteral("txt"), false, path));
  }
};

QTEST_MAIN(ExportersTest)
#include "tst_Exporters.moc"
