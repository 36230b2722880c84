// The rows of the three exports against a model made the slow way: the dataset moved from task
// to task, every display text read from its field and escaped by the format's own function.
// The exports read the records straight from the engine and remember display texts by stored
// value, so these cases go where that can differ from the dataset: every code page byte in the
// descriptions, blank and unreadable fields, a filter and a non-default order, a table of
// another layout, and the window moving the engine while an export runs.

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstring>

#include "ReportTestTable.h"
#include "db/Cp1252.h"
#include "db/DataSetSource.h"
#include "db/TTableEngine.h"
#include "platform/UserMessages.h"
#include "report/TaskExporter.h"

namespace {

class Recorded : public UserMessages {
 public:
  void Information(const QString&, const QString& text) override { shown << text; }
  bool YesNo(const QString&, const QString&) override { return true; }
  QStringList shown;
};

enum class Format { Html, Rtf, Text };

const char* const kCells[5] = {"DESCRIPT", "ShowDate", "ShowTime", "ShowPriority", "IsDone"};

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray Bytes(const QString& text) {
  QByteArray out;
  Cp1252::Encode(text, &out);
  return out;
}

// The row of the table's current task as the layouts give it.
QByteArray ModelRow(TableDataSet& t, Format format) {
  static const int widths[5] = {50, 12, 9, 9, 4};
  QString row;
  for (int i = 0; i < 5; ++i) {
    const QString text = t.FieldByName(QLatin1String(kCells[i]))->AsString();
    switch (format) {
      case Format::Html:
        if (i == 0) row += QStringLiteral("<TR>\r\n");
        row += i == 0 ? QStringLiteral("<TD WRAP>") : QStringLiteral("<TD NOWRAP>");
        row += text.isEmpty() ? QStringLiteral("</BR>") : TaskExporter::EscapeHtml(text);
        row += QStringLiteral("</TD>");
        if (i == 4) row += QStringLiteral("</TR>\r\n");
        break;
      case Format::Rtf:
        row += QStringLiteral("\\intbl \\sb40\\sl\\sa40 \\plain\\f0\\fs20\\cf1 ") +
               TaskExporter::EscapeRtf(text) +
               (i == 4 ? QStringLiteral("\\cell\\row\r\n") : QStringLiteral("\\cell\r\n"));
        break;
      case Format::Text:
        row += text.leftJustified(widths[i], QLatin1Char(' '), true);
        if (i == 4) row += QStringLiteral("\r\n");
        break;
    }
  }
  return Bytes(row);
}

struct Model {
  QByteArray rows;
  quint32 last = 0;  // the record of the last row
};

Model ModelRows(TableDataSet& t, Format format) {
  Model m;
  for (t.First(); !t.Eof() && !t.IsEmpty(); t.Next()) {
    m.rows += ModelRow(t, format);
    m.last = quint32(t.RecNo());
  }
  return m;
}

bool Export(TableDataSet& t, TTableEngine& e, Format format, const QString& path, bool notes = false) {
  TaskExporter exporter(t, e);
  switch (format) {
    case Format::Html:
      return exporter.CopyHTML(path, QStringLiteral("FFFF80"), "Tasks", notes);
    case Format::Rtf:
      return exporter.CopyRTF(path, QStringLiteral("Tasks"), notes);
    case Format::Text:
      return exporter.CopyText(path, QStringLiteral("Tasks"), notes);
  }
  return false;
}

// The document of the view in force, as the model says it must be: the rows between the head
// and the tail of the same export of no tasks at all.
QByteArray ModelDocument(TableDataSet& t, TTableEngine& e, Format format, const QString& scratch,
                         quint32* last) {
  const QString query = e.CurrentQuery();
  e.ApplyQuery(QStringLiteral("DONE.and..not.DONE"));
  const bool empty = Export(t, e, format, scratch);
  e.ApplyQuery(query);
  if (!empty) return QByteArray();
  const QByteArray frame = ReadAll(scratch);
  const QByteArray tail = format == Format::Html  ? QByteArray("</TABLE>\r\n</BODY>\r\n</HTML>\r\n")
                          : format == Format::Rtf ? QByteArray("}}}\r\n")
                                                  : QByteArray();
  if (!frame.endsWith(tail)) return QByteArray();
  const Model m = ModelRows(t, format);
  *last = m.last;
  return frame.left(frame.size() - tail.size()) + m.rows + tail;
}

void AddFormats() {
  QTest::addColumn<int>("format");
  QTest::addRow("html") << int(Format::Html);
  QTest::addRow("rtf") << int(Format::Rtf);
  QTest::addRow("text") << int(Format::Text);
}

}  // namespace

class ExportRowsTest : public QObject {
  Q_OBJECT
 private:
  Recorded messages_;

 private slots:
  void init() {
    messages_.shown.clear();
    UserMessages::Install(&messages_);
  }
  void cleanup() { UserMessages::Install(nullptr); }

  void rowsMatchTheDataset_data() { AddFormats(); }
  void rowsMatchTheDataset() {
    QFETCH(int, format);
    ReportTestTable t;
    QVERIFY(t.Opened());
    // Every byte of the code page in some description, escape characters among them.
    for (int from = 1; from < 256; from += 40) {
      QByteArray bytes;
      for (int b = from; b < std::min(from + 40, 256); ++b) bytes += char(b);
      t.Add({"20240229", "09:05", Cp1252::Decode(bytes), "A", false, "WORK", ""});
    }
    const QList<TestTask> odd = {
        {"", "", "", "", false, "WORK", ""},                            // nothing at all
        {"20240230", "25:00", "  Not a date", "x", false, "work", ""},  // unreadable values
        {"abcdefgh", "1:5", "Stray text & <tags>", "b", false, "WORK", "a note"},
        {"19991231", "23:59", "Done, hidden by the filter", "C", true, "WORK", ""},
        {"20000101", "00:00", "Another kind", "c", false, "HOME", ""},
        {"20240229", "", "{Same date}", "", false, "WORK", ""},
        {"", "12:00", "\\Backslash", "B", false, "WORK", ""},
    };
    for (const TestTask& task : odd) t.Add(task);
    const int byDescription = t.Engine().TagOrder(QStringLiteral("DESCRIPT"));
    QVERIFY(byDescription > 0);
    t.Engine().SelectOrder(byDescription);
    QCOMPARE(t.Engine().CurrentOrder(), byDescription);
    QVERIFY(t.Engine().ApplyQuery(QStringLiteral("(.not.DONE).and.(\"WORK\"$UPPER(KEYS))")) != 0);

    quint32 last = 0;
    const QByteArray expected =
        ModelDocument(t.Table(), t.Engine(), Format(format), t.Path("frame"), &last);
    QVERIFY(!expected.isEmpty());
    QVERIFY(last != 0);
    const QString path = t.Path(QStringLiteral("out"));
    QVERIFY(Export(t.Table(), t.Engine(), Format(format), path));
    QVERIFY(messages_.shown.isEmpty());
    QCOMPARE(ReadAll(path), expected);
    // The table is left on the last task written, at the end of the list.
    QCOMPARE(quint32(t.Table().RecNo()), last);
    QVERIFY(t.Table().Eof());
  }

  // A table whose display texts do not come from the stored fields the exports know of (no
  // DATE, TIME or PRIORITY) and whose descriptions are wider than the text file's column: each
  // such text is worked out for every row.
  void tableOfAnotherLayout_data() { AddFormats(); }
  void tableOfAnotherLayout() {
    QFETCH(int, format);
    QTemporaryDir dir;
    TableDataSet table;
    DataSetSource source;
    TTableEngine engine;
    source.SetDataSet(&table);
    engine.SetDataSource(&source);
    table.SetDatabaseName(dir.path());
    table.SetTableName(QStringLiteral("OTHER.DBF"));
    QVERIFY(engine.CreateTable(dir.filePath(QStringLiteral("OTHER.DBF")), 2, 4));
    engine.DefineField(QStringLiteral("DESCRIPT"), QStringLiteral("C"), 60, 0);
    engine.DefineField(QStringLiteral("DUE"), QStringLiteral("C"), 10, 0);
    engine.DefineField(QStringLiteral("NOTE"), QStringLiteral("M"), 10, 0);
    engine.DefineField(QStringLiteral("DONE"), QStringLiteral("L"), 1, 0);
    QVERIFY(engine.CommitCreate());
    for (const char* name : {"ShowPriority", "ShowDate", "ShowTime", "IsDone"})
      table.AddCalcField(QLatin1String(name), FieldKind::String, 20);
    table.OnCalcFields = [](TableDataSet& t) {
      const QString due = t.FieldByName(QStringLiteral("DUE"))->AsString();
      t.FieldByName(QStringLiteral("ShowDate"))
          ->SetAsString(due.isEmpty() ? QString() : "on " + due);
      t.FieldByName(QStringLiteral("ShowTime"))->SetAsString(QString::number(due.size()));
      t.FieldByName(QStringLiteral("ShowPriority"))
          ->SetAsString(t.FieldByName(QStringLiteral("DESCRIPT"))->AsString().left(3));
      t.FieldByName(QStringLiteral("IsDone"))
          ->SetAsString(t.FieldByName(QStringLiteral("DONE"))->AsBoolean() ? "yes" : "no");
    };
    table.Open();
    const char* rows[][3] = {
        {"A description much wider than the fifty columns of a text file", "tomorrow", "T"},
        {"<short> & {sweet}", "", "F"},
        {"Caf\xe9", "2024-02-29", ""}};
    for (auto& r : rows) {
      table.Append();
      table.FieldByName(QStringLiteral("DESCRIPT"))
          ->SetAsString(Cp1252::Decode(r[0], int(strlen(r[0]))));
      table.FieldByName(QStringLiteral("DUE"))->SetAsString(QLatin1String(r[1]));
      table.FieldByName(QStringLiteral("DONE"))->SetAsString(QLatin1String(r[2]));
      table.Post();
    }
    quint32 last = 0;
    const QByteArray expected =
        ModelDocument(table, engine, Format(format), dir.filePath(QStringLiteral("frame")), &last);
    QVERIFY(!expected.isEmpty());
    const QString path = dir.filePath(QStringLiteral("out"));
    QVERIFY(Export(table, engine, Format(format), path));
    QVERIFY(messages_.shown.isEmpty());
    QCOMPARE(ReadAll(path), expected);
    QCOMPARE(quint32(table.RecNo()), last);
  }

  // While a long export lets the window repaint, the grid reads other records (moving the
  // engine) and the user tries a second export: the document comes out as without them.
  void windowEventsDuringALongExport() {
    ReportTestTable t;
    QVERIFY(t.Opened());
    QString note;
    for (int i = 0; i < 20; ++i) note += QStringLiteral("A sentence of a long note that wraps. ");
    const int tasks = 1500;
    for (int i = 0; i < tasks; ++i)
      t.Add({QStringLiteral("2024%1%2")
                 .arg(1 + i % 12, 2, 10, QLatin1Char('0'))
                 .arg(1 + i % 28, 2, 10, QLatin1Char('0')),
             QStringLiteral("%1:30").arg(i % 24, 2, 10, QLatin1Char('0')),
             QStringLiteral("Task %1").arg(i), QString(QLatin1Char("ABC"[i % 3])), i % 5 == 0,
             "WORK", note});
    QVERIFY(t.Engine().ApplyQuery(QStringLiteral(".not.DONE")) != 0);

    const QString quiet = t.Path(QStringLiteral("quiet.htm"));
    QVERIFY(Export(t.Table(), t.Engine(), Format::Html, quiet, true));
    const long lastTask = t.Table().RecNo();

    int ticks = 0;
    bool secondStarted = false;
    QTimer timer;
    timer.setInterval(0);
    connect(&timer, &QTimer::timeout, this, [&] {
      ++ticks;
      std::vector<QVariant> values;
      t.Table().FetchRow(quint32(1 + (ticks * 37) % tasks),
                         {t.Table().FieldByName(QStringLiteral("DESCRIPT"))}, &values);
      if (ticks == 2)
        secondStarted =
            Export(t.Table(), t.Engine(), Format::Text, t.Path(QStringLiteral("second.txt")));
    });
    timer.start();
    const QString busy = t.Path(QStringLiteral("busy.htm"));
    QVERIFY(Export(t.Table(), t.Engine(), Format::Html, busy, true));
    timer.stop();
    QVERIFY2(ticks >= 2, qPrintable(QStringLiteral("%1 ticks").arg(ticks)));
    QVERIFY(!secondStarted);
    QVERIFY(!QFileInfo::exists(t.Path(QStringLiteral("second.txt"))));
    QVERIFY(messages_.shown.isEmpty());
    QCOMPARE(ReadAll(busy), ReadAll(quiet));
    QCOMPARE(t.Table().RecNo(), lastTask);
  }
};

QTEST_MAIN(ExportRowsTest)
#include "tst_ExportRows.moc"
