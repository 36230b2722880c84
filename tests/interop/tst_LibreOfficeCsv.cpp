// The task files the program writes, read by other programs on a case-sensitive file system:
// headless LibreOffice Calc converts the task table to CSV, and python3-dbf (which looks for the
// memo under an extension of the table's own case) reads it record by record. Every field and
// every note of every task must arrive, Windows-1252 text included.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include "db/TaskFileNames.h"
#include "platform/UserMessages.h"
#include "store/StoreHelpers.h"
#include "store/TaskStore.h"

namespace {

class Silent : public UserMessages {
 public:
  void Information(const QString&, const QString& text) override { shown << text; }
  bool YesNo(const QString&, const QString& text) override {
    shown << text;
    return false;
  }
  QStringList shown;
};

struct Task {
  QString date, time, descript, note, keys, priority;
  bool done;
};

// Rows of an RFC 4180 text: quoted fields may hold commas, doubled quotes and line breaks.
QList<QStringList> ParseCsv(const QString& text) {
  QList<QStringList> rows;
  QStringList row;
  QString field;
  bool quoted = false;
  for (int i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (quoted) {
      if (c == QLatin1Char('"') && i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
        field += c;
        ++i;
      } else if (c == QLatin1Char('"')) {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == QLatin1Char('"')) {
      quoted = true;
    } else if (c == QLatin1Char(',')) {
      row << field;
      field.clear();
    } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
      if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n')) ++i;
      row << field;
      rows << row;
      row.clear();
      field.clear();
    } else {
      field += c;
    }
  }
  if (!field.isEmpty() || !row.isEmpty()) rows << (row << field);
  return rows;
}

QString Lf(QString s) { return s.replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }

// Tasks covering the note sizes around the memo blocks, line breaks, quotes, commas, and every
// printable character Windows-1252 has beyond ASCII.
QList<Task> SampleTasks() {
  QString high;
  for (int b = 0xA0; b <= 0xFF; ++b) high += QChar(b);
  high += QString::fromUtf8("\u20ac\u201e\u2026\u2020\u0152\u0153\u0160\u0161\u017d\u017e\u0178\u2122");
  QList<Task> tasks;
  for (int i = 0; i < 30; ++i) {
    Task t;
    t.date = i % 7 == 0 ? QString() : QStringLiteral("2026%1%2").arg(i % 12 + 1, 2, 10, QLatin1Char('0')).arg(i + 1, 2, 10, QLatin1Char('0'));
    t.time = i % 5 == 0 ? QString() : QStringLiteral("%1:%2").arg(i % 24, 2, 10, QLatin1Char('0')).arg(i * 7 % 60, 2, 10, QLatin1Char('0'));
    t.descript = QString::fromUtf8("Caf\u00e9 \u20ac%1, \"na\u00efve\" \u0152uvre").arg(i);
    t.keys = i % 3 == 0 ? QString() : QString::fromUtf8("HOME \u00dcBER%1").arg(i % 4);
    t.priority = QString(QChar(QLatin1Char("ABC"[i % 3])));
    t.done = i % 4 == 1;
    switch (i % 6) {
      case 0: t.note = QString(); break;
      case 1: t.note = QStringLiteral("one line"); break;
      case 2: t.note = QStringLiteral("first line\r\nsecond, with \"quotes\"\r\n\r\nafter a blank line"); break;
      case 3: t.note = high.mid(i % 40) + QStringLiteral("\r\n") + high; break;
      case 4: t.note = QString(56 + i, QLatin1Char('x')); break;  // around the 64-byte block edge
      default: t.note = QString(3000, QChar(0xE9)) + QString::fromUtf8(" \u20ac end"); break;
    }
    tasks << t;
  }
  return tasks;
}

// A task folder made by the program (through the task store, as at a first start) holding `tasks`.
// Empty when something failed.
QString MakeTaskFolder(const QTemporaryDir& dir, const QList<Task>& tasks) {
  Silent messages;
  UserMessages::Install(&messages);
  StoreHelpers::SetDataDirectory(dir.path());
  bool ok = false;
  {
    TaskStore store;
    if (store.OpenTaskStore(false)) {
      for (const Task& t : tasks) {
        TableDataSet& table = store.TasqTable;
        table.Append();
        table.FieldByName("DATE")->SetAsString(t.date);
        table.FieldByName("TIME")->SetAsString(t.time);
        table.FieldByName("DESCRIPT")->SetAsString(t.descript);
        table.FieldByName("NOTE")->SetAsString(t.note);
        table.FieldByName("DONE")->SetAsBoolean(t.done);
        table.FieldByName("KEYS")->SetAsString(t.keys);
        table.FieldByName("PRIORITY")->SetAsString(t.priority);
        table.Post();
      }
      ok = true;
    }
  }
  UserMessages::Install(nullptr);
  StoreHelpers::SetDataDirectory(QString());
  if (!ok || !messages.shown.isEmpty()) {
    qWarning("%s", qPrintable(messages.shown.join('\n')));
    return QString();
  }
  return TaskFileNames::TaskTable(dir.path());
}

// python3-dbf's reading of a table: one object per record, character fields without their
// padding. Debian's interpreter by its full name: another python3 on PATH may lack the module.
const char* kPyDbfReader = R"(
import json, sys
import dbf
table = dbf.Table(sys.argv[1], codepage="cp1252")
table.open(dbf.READ_ONLY)
rows = []
for record in table:
    row = {}
    for name in table.field_names:
        value = record[name]
        row[name.upper()] = value.rstrip() if isinstance(value, str) and name != "note" else value
    rows.append(row)
table.close()
print(json.dumps(rows))
)";

}  // namespace

class LibreOfficeCsvTest : public QObject {
  Q_OBJECT
 private slots:
  void calcReadsEveryFieldAndNote() {
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    QVERIFY2(!soffice.isEmpty(), "soffice not found: scripts/deps.sh installs libreoffice-calc-nogui");
    QTemporaryDir dir;
    const QList<Task> tasks = SampleTasks();
    const QString table = MakeTaskFolder(dir, tasks);
    QVERIFY(!table.isEmpty());
    // The names the other tools look for: the table's name with lower-case extensions.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name),
             QStringList({"LWISE.cdx", "LWISE.dbf", "LWISE.fpt"}));

    // Its own profile and home: a first start on a clean machine (CI) writes only there.
    QTemporaryDir home;
    QProcess calc;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.remove(QStringLiteral("DISPLAY"));
    calc.setProcessEnvironment(env);
    calc.setProcessChannelMode(QProcess::MergedChannels);
    const QString out = home.filePath(QStringLiteral("out"));
    calc.start(soffice, {QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(home.filePath("profile")).toString(),
                         QStringLiteral("--headless"), QStringLiteral("--norestore"),
                         QStringLiteral("--infilter=dBase:ANSI"),  // the table's text is Windows-1252
                         QStringLiteral("--convert-to"), QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76,1"),
                         QStringLiteral("--outdir"), out, table});
    // A first start on a busy machine builds the profile: minutes, not seconds.
    const bool finished = calc.waitForFinished(480000);
    const QString log = QString::fromLocal8Bit(calc.readAll());
    if (!finished) calc.kill();
    QVERIFY2(finished && calc.exitCode() == 0, qPrintable(log));
    QFile csv(out + QLatin1Char('/') + QFileInfo(table).completeBaseName() + QStringLiteral(".csv"));
    QVERIFY2(csv.open(QIODevice::ReadOnly), qPrintable(log));
    const QList<QStringList> rows = ParseCsv(QString::fromUtf8(csv.readAll()));

    QCOMPARE(rows.size(), tasks.size() + 1);
    QStringList header;
    for (const QString& h : rows[0]) header << h.section(QLatin1Char(','), 0, 0);
    QCOMPARE(header, QStringList({"DATE", "TIME", "DESCRIPT", "NOTE", "DONE", "KEYS", "PRIORITY"}));
    int notes = 0;
    for (int i = 0; i < tasks.size(); ++i) {
      const Task& t = tasks[i];
      const QStringList& r = rows[i + 1];
      const QByteArray where = "task " + QByteArray::number(i);
      QVERIFY2(r.size() == 7, where.constData());
      QVERIFY2(r[0] == t.date, where.constData());
      QVERIFY2(r[1] == t.time, where.constData());
      QVERIFY2(r[2] == t.descript, qPrintable(QString::fromLatin1(where) + ": " + r[2]));
      // Calc keeps a note's line breaks as line feeds within the cell.
      QVERIFY2(Lf(r[3]) == Lf(t.note), qPrintable(QString::fromLatin1(where) + ": " + r[3].left(200)));
      QVERIFY2(r[4] == (t.done ? QStringLiteral("TRUE") : QStringLiteral("FALSE")), where.constData());
      QVERIFY2(r[5] == t.keys, where.constData());
      QVERIFY2(r[6] == t.priority, where.constData());
      if (!t.note.isEmpty()) ++notes;
    }
    QCOMPARE(notes, 25);
  }

  // A tool that finds the memo by the case of the table's extension: a folder the program made
  // opens, and every record reads back field by field.
  void pythonDbfReadsEveryFieldAndNote() {
    QTemporaryDir dir;
    const QList<Task> tasks = SampleTasks();
    const QString table = MakeTaskFolder(dir, tasks);
    QVERIFY(!table.isEmpty());
    QProcess python;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PYTHONIOENCODING"), QStringLiteral("utf-8"));
    python.setProcessEnvironment(env);
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromLatin1(kPyDbfReader), table});
    QVERIFY2(python.waitForFinished(120000), "python3-dbf did not finish");
    const QString errors = QString::fromUtf8(python.readAllStandardError());
    QVERIFY2(python.exitCode() == 0, qPrintable(errors));
    QJsonParseError parsed;
    const QJsonArray rows = QJsonDocument::fromJson(python.readAllStandardOutput(), &parsed).array();
    QVERIFY2(parsed.error == QJsonParseError::NoError, qPrintable(parsed.errorString()));
    QCOMPARE(rows.size(), tasks.size());
    int notes = 0;
    for (int i = 0; i < tasks.size(); ++i) {
      const Task& t = tasks[i];
      const QJsonObject r = rows[i].toObject();
      const QByteArray where = "task " + QByteArray::number(i);
      QVERIFY2(r.value("DATE").toString() == t.date, where.constData());
      QVERIFY2(r.value("TIME").toString() == t.time, where.constData());
      QVERIFY2(r.value("DESCRIPT").toString() == t.descript, qPrintable(QString::fromLatin1(where) + ": " + r.value("DESCRIPT").toString()));
      QVERIFY2(r.value("NOTE").toString() == t.note, qPrintable(QString::fromLatin1(where) + ": " + r.value("NOTE").toString().left(200)));
      QVERIFY2(r.value("DONE") == QJsonValue(t.done), where.constData());
      QVERIFY2(r.value("KEYS").toString() == t.keys, where.constData());
      QVERIFY2(r.value("PRIORITY").toString() == t.priority, where.constData());
      if (!t.note.isEmpty()) ++notes;
    }
    QCOMPARE(notes, 25);
  }
};

QTEST_MAIN(LibreOfficeCsvTest)
#include "tst_LibreOfficeCsv.moc"
