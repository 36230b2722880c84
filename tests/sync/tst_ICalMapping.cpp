// Tasks to iCalendar and back: awkward tasks survive the round trip, files written by other
// programs are read, and what we write is read by an independent reader.

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <ctime>

#include "sync/ICalFile.h"
#include "sync/ICalTask.h"

namespace {

TaskRecord Task(const QString& date, const QString& time, const QString& descript, const QString& note = QString(),
                bool done = false, const QString& keys = QString(), const QString& priority = QString()) {
  TaskRecord t;
  t.date = date;
  t.time = time;
  t.descript = descript;
  t.note = note;
  t.done = done;
  t.keys = keys;
  t.priority = priority;
  return t;
}

QString LongNote() {
  QStringList lines;
  for (int i = 0; i < 400; ++i)
    lines << QStringLiteral("Line %1: a long note, with commas; semicolons \\ backslashes and \"quotes\" é ü ß €").arg(i);
  return lines.join(QLatin1String("\r\n"));
}

// The awkward tasks every round trip must keep exactly.
std::vector<TaskRecord> AwkwardTasks() {
  return {
      Task("20240229", "23:59", "Leap day, with a comma; a semicolon \\ backslash", "Note,with;all\\kinds\r\nof: text",
           true, "home,work a;b c\\d", "A"),
      Task("", "", "No date, no note, no keys"),
      Task("20240229", "", "Date only", "", false, "", "B"),
      Task("20991231", "00:00", "Midnight at the end of a year", "", false, "", "C"),
      Task("", "", "", "A note under an empty description"),
      Task("20250101", "09:30", QString(50, QLatin1Char('x')), LongNote(), false, QString(60, QLatin1Char('k')), "A"),
      Task("20000101", "12:00", "Windows-1252 text: € „quotes“ – Œuvre ™", "Ünïcödé that fits: ½ ¾ ©", false,
           "café naïve", ""),
      Task("20240301", "07:05", "Trailing break in the note", "first line\r\n\r\n", false, "", ""),
  };
}

// An iCalendar text with CRLF line ends from lines given with LF.
QByteArray Crlf(const char* text) { return QByteArray(text).replace("\n", "\r\n"); }

}  // namespace

class TestICalMapping : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    // Conversions to local time are checked against a zone with summer time.
    qputenv("TZ", "Europe/Berlin");
    tzset();
  }

  void roundTripOfAwkwardTasks() {
    const std::vector<TaskRecord> tasks = AwkwardTasks();
    // One task at a time, as a CalDAV resource.
    for (const TaskRecord& t : tasks) {
      const ICalImport back = ICalTask::FromICalendar(ICalTask::ToICalendar(t, QStringLiteral("uid-1")));
      QVERIFY2(back.Storable(), qPrintable(back.problem + back.unstorable));
      QCOMPARE(back.uid, QStringLiteral("uid-1"));
      QCOMPARE(back.task.descript, t.descript);
      QCOMPARE(back.task.note, t.note);
      QCOMPARE(back.task.keys, t.keys);
      QCOMPARE(back.task, t);
    }
    // All in one file.
    std::vector<ICalFile::Entry> entries;
    for (const TaskRecord& t : tasks) entries.push_back({t, QString()});
    const QByteArray file = ICalFile::Write(entries);
    for (const QByteArray& line : file.split('\n')) QVERIFY2(line.size() <= 76, line.constData());  // folded, CRLF
    QVERIFY(file.contains("\r\n"));
    const ICalFileContents read = ICalFile::Parse(file);
    QVERIFY(read.error.isEmpty());
    QCOMPARE(read.skipped.size(), size_t(0));
    QCOMPARE(read.tasks.size(), tasks.size());
    QSet<QString> uids;
    for (size_t i = 0; i < tasks.size(); ++i) {
      QCOMPARE(read.tasks[i].task, tasks[i]);
      uids.insert(read.tasks[i].uid);
    }
    QCOMPARE(uids.size(), qsizetype(tasks.size()));  // every task got its own UID
  }

  void exportedProperties() {
    const QString text = ICalTask::ToICalendar(
        Task("20240229", "", "Date only", "", true, "a b", "C"), QStringLiteral("u"),
        QDateTime(QDate(2024, 3, 1), QTime(10, 0), QTimeZone::utc()));
    QVERIFY(text.contains(QLatin1String("DUE;VALUE=DATE:20240229")));
    QVERIFY(text.contains(QLatin1String("STATUS:COMPLETED")));
    QVERIFY(text.contains(QLatin1String("COMPLETED:20240301T100000Z")));
    QVERIFY(text.contains(QLatin1String("PRIORITY:9")));
    QVERIFY(text.contains(QLatin1String("CATEGORIES:a")));
    QVERIFY(text.contains(QLatin1String("CATEGORIES:b")));
    QVERIFY(!text.contains(QLatin1String("DESCRIPTION")));  // no note, no property
    const QString timed = ICalTask::ToICalendar(Task("20240229", "08:15", "Timed"), QStringLiteral("u"));
    QVERIFY(timed.contains(QLatin1String("DUE:20240229T081500\r\n")));  // floating: no Z, no TZID
    QVERIFY(timed.contains(QLatin1String("STATUS:NEEDS-ACTION")));
    QVERIFY(!timed.contains(QLatin1String("PRIORITY")));
  }

  void priorities() {
    const QString expected[] = {"", "A", "A", "A", "A", "B", "C", "C", "C", "C"};
    for (int n = 0; n <= 9; ++n) {
      const QByteArray text = Crlf("BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:x\nBEGIN:VTODO\nUID:p\nSUMMARY:s\nPRIORITY:") +
                              QByteArray::number(n) + Crlf("\nEND:VTODO\nEND:VCALENDAR\n");
      QCOMPARE(ICalTask::FromICalendar(QString::fromUtf8(text)).task.priority, expected[n]);
    }
    QCOMPARE(ICalTask::FromICalendar(QString::fromUtf8(Crlf(
                 "BEGIN:VCALENDAR\nBEGIN:VTODO\nUID:p\nSUMMARY:s\nEND:VTODO\nEND:VCALENDAR\n"))).task.priority,
             QString());
  }

  void doneMarks_data() {
    QTest::addColumn<QString>("props");
    QTest::addColumn<bool>("done");
    QTest::newRow("completed status") << "STATUS:COMPLETED" << true;
    QTest::newRow("completed time only") << "COMPLETED:20240101T100000Z" << true;
    QTest::newRow("percent 100") << "PERCENT-COMPLETE:100" << true;
    QTest::newRow("reopened, old completion left") << "STATUS:NEEDS-ACTION\nCOMPLETED:20240101T100000Z" << false;
    QTest::newRow("in process") << "STATUS:IN-PROCESS\nPERCENT-COMPLETE:40" << false;
    QTest::newRow("cancelled") << "STATUS:CANCELLED" << false;
    QTest::newRow("nothing") << "" << false;
  }
  void doneMarks() {
    QFETCH(QString, props);
    QFETCH(bool, done);
    const QString text = QStringLiteral("BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:d\r\nSUMMARY:s\r\n") +
                         (props.isEmpty() ? QString() : QString(props).replace("\n", "\r\n") + "\r\n") +
                         QStringLiteral("END:VTODO\r\nEND:VCALENDAR\r\n");
    const ICalImport read = ICalTask::FromICalendar(text);
    QVERIFY(read.Storable());
    QCOMPARE(read.task.done, done);
  }

  void dueForms_data() {
    QTest::addColumn<QString>("due");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::newRow("date value") << "DUE;VALUE=DATE:20240229" << "20240229" << "";
    QTest::newRow("floating") << "DUE:20240229T235959" << "20240229" << "23:59";
    QTest::newRow("utc, winter") << "DUE:20240229T233000Z" << "20240301" << "00:30";
    QTest::newRow("utc, summer") << "DUE:20240701T120000Z" << "20240701" << "14:00";
    QTest::newRow("zone of the file") << "DUE;TZID=Test/Eastern:20240229T200000" << "20240301" << "02:00";
    QTest::newRow("zone of the file, summer") << "DUE;TZID=Test/Eastern:20240701T080000" << "20240701" << "14:00";
    QTest::newRow("known zone name") << "DUE;TZID=America/New_York:20240229T200000" << "20240301" << "02:00";
    QTest::newRow("unknown zone name") << "DUE;TZID=Nowhere/Special:20240229T200000" << "20240229" << "20:00";
  }
  void dueForms() {
    QFETCH(QString, due);
    QFETCH(QString, date);
    QFETCH(QString, time);
    // A zone defined in the file itself (as Outlook, Evolution and others write them).
    const QString text = QStringLiteral(
                             "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Other//EN\r\n"
                             "BEGIN:VTIMEZONE\r\nTZID:Test/Eastern\r\n"
                             "BEGIN:STANDARD\r\nDTSTART:19701101T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU\r\n"
                             "TZOFFSETFROM:-0400\r\nTZOFFSETTO:-0500\r\nEND:STANDARD\r\n"
                             "BEGIN:DAYLIGHT\r\nDTSTART:19700308T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=2SU\r\n"
                             "TZOFFSETFROM:-0500\r\nTZOFFSETTO:-0400\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n"
                             "BEGIN:VTODO\r\nUID:z\r\nSUMMARY:due\r\n") +
                         due + QStringLiteral("\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
    const ICalImport read = ICalTask::FromICalendar(text);
    QVERIFY2(read.Storable(), qPrintable(read.problem));
    QCOMPARE(read.task.date, date);
    QCOMPARE(read.task.time, time);
  }

  void longSummaryKeptInTheNote() {
    const QString summary = QStringLiteral("A summary far longer than the fifty characters a task description holds");
    const QString text = QStringLiteral("BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:l\r\nSUMMARY:") + summary +
                         QStringLiteral("\r\nDESCRIPTION:The description\\nin two lines\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
    const ICalImport read = ICalTask::FromICalendar(text);
    QCOMPARE(read.task.descript, summary.left(50).trimmed());
    QCOMPARE(read.task.note, summary + QStringLiteral("\r\nThe description\r\nin two lines"));
    // Written back unchanged, the other side sees its own summary and description again.
    const ICalImport again = ICalTask::FromICalendar(ICalTask::ToICalendar(read.task, read.uid));
    QCOMPARE(again.summary, summary);
    QCOMPARE(again.task, read.task);
    // A description edited here no longer claims the long summary.
    TaskRecord edited = read.task;
    edited.descript = QStringLiteral("Short now");
    QCOMPARE(ICalTask::FromICalendar(ICalTask::ToICalendar(edited, read.uid)).summary, QStringLiteral("Short now"));
  }

  void categories() {
    const QString text = QStringLiteral(
        "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:c\r\nSUMMARY:keys\r\n"
        "CATEGORIES:Work,Two words,comma\\,inside\r\nCATEGORIES:home\r\nCATEGORIES:WORK\r\n"
        "END:VTODO\r\nEND:VCALENDAR\r\n");
    const ICalImport read = ICalTask::FromICalendar(text);
    QCOMPARE(read.task.keys, QStringLiteral("Work Two_words comma,inside home"));
    QCOMPARE(read.task.note, QString());

    // Categories beyond the field's 60 characters are kept in the note, and go back as categories.
    QString many = QStringLiteral("BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:m\r\nSUMMARY:many\r\nDESCRIPTION:note\r\n");
    QStringList names;
    for (int i = 0; i < 12; ++i) names << QStringLiteral("category%1").arg(i);
    many += QStringLiteral("CATEGORIES:") + names.join(',') + QStringLiteral("\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
    const ICalImport big = ICalTask::FromICalendar(many);
    QVERIFY(big.task.keys.size() <= 60);
    QVERIFY(big.task.note.startsWith(QLatin1String("note\r\nKey words: ")));
    const ICalImport back = ICalTask::FromICalendar(ICalTask::ToICalendar(big.task, big.uid));
    QCOMPARE(back.task, big.task);
    QString exported = ICalTask::ToICalendar(big.task, big.uid);
    for (const QString& name : names) QVERIFY2(exported.contains("CATEGORIES:" + name + "\r\n"), qPrintable(name));
    QVERIFY(exported.contains(QLatin1String("DESCRIPTION:note\r\n")));
  }

  void textTheTaskFilesCannotHold() {
    const QString text = QStringLiteral(
        "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:u1\r\nSUMMARY:Check ✓ twice ✓\r\nEND:VTODO\r\n"
        "BEGIN:VTODO\r\nUID:u2\r\nSUMMARY:Fine\r\nDESCRIPTION:but the note has 😀 and 漢\r\nEND:VTODO\r\n"
        "BEGIN:VTODO\r\nUID:u3\r\nSUMMARY:Plain\r\nCATEGORIES:Ω\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
    const ICalFileContents read = ICalFile::Parse(text.toUtf8());
    QCOMPARE(read.tasks.size(), size_t(0));
    QCOMPARE(read.skipped.size(), size_t(3));
    QCOMPARE(read.skipped[0].summary, QStringLiteral("Check ✓ twice ✓"));
    QCOMPARE(read.skipped[0].unstorable, QStringLiteral("✓"));
    QCOMPARE(read.skipped[1].unstorable, QStringLiteral("😀漢"));
    QCOMPARE(read.skipped[2].unstorable, QStringLiteral("Ω"));
  }

  void filesWrittenByOthers() {
    // Folded lines (one inside a two-byte character), LF and CRLF mixed, a VEVENT and a VJOURNAL
    // among the VTODOs, a second VCALENDAR, a byte-order mark, a VALARM inside a VTODO.
    const QByteArray file =
        "\xEF\xBB\xBF"
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Someone else//EN\r\n"
        "BEGIN:VEVENT\r\nUID:e1\r\nDTSTART:20240101T100000Z\r\nSUMMARY:A meeting, not a task\r\nEND:VEVENT\r\n"
        "BEGIN:VTODO\r\nUID:t1\r\nSUMMARY:A folded su\r\n mmary with caf\xC3\r\n \xA9\r\n"
        "DESCRIPTION:Line one\\nLine two\\, with comma\\; semicolon \\\\ backslash\r\n"
        "DUE;VALUE=DATE:20240229\r\nPRIORITY:2\r\nCATEGORIES:x,y\r\n"
        "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nDESCRIPTION:alarm\r\nEND:VALARM\r\nEND:VTODO\r\n"
        "BEGIN:VJOURNAL\r\nUID:j1\r\nSUMMARY:journal\r\nEND:VJOURNAL\r\n"
        "END:VCALENDAR\r\n"
        "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Another//EN\n"
        "BEGIN:VTODO\nUID:t2\nSUMMARY:From the second calendar\nSTATUS:COMPLETED\nEND:VTODO\n"
        "END:VCALENDAR\n";
    const ICalFileContents read = ICalFile::Parse(file);
    QVERIFY2(read.error.isEmpty(), qPrintable(read.error));
    QCOMPARE(read.skipped.size(), size_t(0));
    QCOMPARE(read.tasks.size(), size_t(2));
    const TaskRecord& first = read.tasks[0].task;
    QCOMPARE(first.descript, QStringLiteral("A folded summary with café"));
    QCOMPARE(first.note, QStringLiteral("Line one\r\nLine two, with comma; semicolon \\ backslash"));
    QCOMPARE(first.date, QStringLiteral("20240229"));
    QCOMPARE(first.priority, QStringLiteral("A"));
    QCOMPARE(first.keys, QStringLiteral("x y"));
    QCOMPARE(read.tasks[1].task.descript, QStringLiteral("From the second calendar"));
    QVERIFY(read.tasks[1].task.done);
  }

  void filesWithErrors() {
    // A bad DUE loses the date: the task is skipped with the reason, its neighbours are added.
    const QByteArray file = Crlf(
        "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:x\n"
        "BEGIN:VTODO\nUID:a\nSUMMARY:Good one\nEND:VTODO\n"
        "BEGIN:VTODO\nUID:b\nSUMMARY:Bad due\nDUE:2024-02-30 noon\nEND:VTODO\n"
        "BEGIN:VTODO\nUID:c\nSUMMARY:Another good one\nEND:VTODO\n"
        "END:VCALENDAR\n");
    const ICalFileContents read = ICalFile::Parse(file);
    QVERIFY(read.error.isEmpty());
    QCOMPARE(read.tasks.size(), size_t(2));
    QCOMPARE(read.skipped.size(), size_t(1));
    QCOMPARE(read.skipped[0].summary, QStringLiteral("Bad due"));
    QVERIFY(!read.skipped[0].problem.isEmpty());

    // A file cut short is refused as a whole: nothing is added from it.
    const ICalFileContents cut = ICalFile::Parse(Crlf(
        "BEGIN:VCALENDAR\nBEGIN:VTODO\nUID:a\nSUMMARY:Complete\nEND:VTODO\nBEGIN:VTODO\nUID:b\nSUMMARY:Cut"));
    QVERIFY(!cut.error.isEmpty());
    QVERIFY(cut.tasks.empty());

    // Not iCalendar at all.
    QVERIFY(!ICalFile::Parse("just some text\r\n").error.isEmpty());
    QVERIFY(!ICalFile::Parse(QByteArray()).error.isEmpty());
    QVERIFY(!ICalFile::Read(QStringLiteral("/nonexistent/file.ics")).error.isEmpty());
    // A calendar without tasks: nothing added, nothing skipped, no error.
    const ICalFileContents events = ICalFile::Parse(
        Crlf("BEGIN:VCALENDAR\nBEGIN:VEVENT\nUID:e\nSUMMARY:x\nEND:VEVENT\nEND:VCALENDAR\n"));
    QVERIFY(events.error.isEmpty());
    QVERIFY(events.tasks.empty() && events.skipped.empty());
  }

  void damagedFilesNeitherCrashNorInvent() {
    // Valid files cut, with bytes changed, lines doubled or dropped: every outcome is a list of
    // tasks, skips and an error, and every task taken is one the task files can hold.
    std::vector<ICalFile::Entry> entries;
    for (const TaskRecord& t : AwkwardTasks()) entries.push_back({t, QString()});
    const QByteArray good = ICalFile::Write(entries);
    QRandomGenerator random(5545);
    for (int round = 0; round < 400; ++round) {
      QByteArray bad = good;
      switch (round % 4) {
        case 0:
          bad.truncate(random.bounded(int(bad.size())));
          break;
        case 1:
          for (int i = 0; i < 20; ++i) bad[random.bounded(int(bad.size()))] = char(random.bounded(256));
          break;
        case 2: {
          QList<QByteArray> lines = bad.split('\n');
          lines.removeAt(random.bounded(int(lines.size())));
          bad = lines.join('\n');
          break;
        }
        default: {
          QList<QByteArray> lines = bad.split('\n');
          const int at = random.bounded(int(lines.size()));
          lines.insert(at, lines[at]);
          bad = lines.join('\n');
        }
      }
      const ICalFileContents read = ICalFile::Parse(bad);
      for (const ICalImport& t : read.tasks) {
        QVERIFY(t.Storable());
        QVERIFY(t.task.descript.size() <= 50);
        QVERIFY(t.task.keys.size() <= 60);
        QVERIFY(t.task.date.isEmpty() || QDate::fromString(t.task.date, "yyyyMMdd").isValid());
      }
    }
  }

  void mergeKeepsWhatOthersStore() {
    const QString server = QStringLiteral(
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Phone//EN\r\n"
        "BEGIN:VTODO\r\nUID:srv\r\nSUMMARY:Old summary\r\nLOCATION:Kitchen\r\nDTSTART:20240101T080000\r\n"
        "DUE:20240102T080000\r\nCOMPLETED:20240101T090000Z\r\nSTATUS:COMPLETED\r\nX-PHONE-COLOR:red\r\n"
        "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT5M\r\nDESCRIPTION:ring\r\nEND:VALARM\r\n"
        "END:VTODO\r\nEND:VCALENDAR\r\n");
    const TaskRecord task = Task("20240105", "", "New summary", "A note", true, "k", "B");
    const QString merged = ICalTask::Merge(server, task, QStringLiteral("srv"));
    QVERIFY(merged.contains(QLatin1String("LOCATION:Kitchen")));
    QVERIFY(merged.contains(QLatin1String("X-PHONE-COLOR:red")));
    QVERIFY(merged.contains(QLatin1String("BEGIN:VALARM")));
    QVERIFY(merged.contains(QLatin1String("COMPLETED:20240101T090000Z")));  // their completion time kept
    QVERIFY(!merged.contains(QLatin1String("Old summary")));
    QCOMPARE(merged.count(QLatin1String("DUE")), 1);
    QCOMPARE(ICalTask::FromICalendar(merged).task, task);
    // Reopened here: no completion left behind.
    TaskRecord open = task;
    open.done = false;
    const QString reopened = ICalTask::Merge(server, open, QStringLiteral("srv"));
    QVERIFY(!reopened.contains(QLatin1String("COMPLETED:")));
    QCOMPARE(ICalTask::FromICalendar(reopened).task, open);
    // A start with a duration stays while the task has no due date of its own; a due date of
    // ours replaces the duration (the two must not stand together).
    const QString timed = QStringLiteral(
        "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:d\r\nSUMMARY:s\r\nDTSTART:20240101T080000\r\n"
        "DURATION:PT1H\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
    QVERIFY(ICalTask::Merge(timed, Task("", "", "s"), "d").contains(QLatin1String("DURATION:PT1H")));
    const QString dated = ICalTask::Merge(timed, Task("20240102", "", "s"), "d");
    QVERIFY(!dated.contains(QLatin1String("DURATION")));
    QVERIFY(dated.contains(QLatin1String("DUE;VALUE=DATE:20240102")));
    // A server copy that cannot be read is replaced by a fresh one.
    QCOMPARE(ICalTask::FromICalendar(ICalTask::Merge(QStringLiteral("garbage"), task, "g")).task, task);
  }

  void independentReaderReadsOurFiles() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tasks.ics"));
    std::vector<ICalFile::Entry> entries;
    const std::vector<TaskRecord> tasks = AwkwardTasks();
    for (size_t i = 0; i < tasks.size(); ++i) entries.push_back({tasks[i], QStringLiteral("uid-%1").arg(i)});
    QCOMPARE(ICalFile::Save(path, entries), QString());

    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(LISTWISE_SOURCE_DIR "/tests/sync/read_ics.py"), path});
    QVERIFY(python.waitForFinished(120000));
    QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
    const QJsonArray todos = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
    QCOMPARE(todos.size(), qsizetype(tasks.size()));
    for (size_t i = 0; i < tasks.size(); ++i) {
      const TaskRecord& t = tasks[i];
      const QJsonObject o = todos[qsizetype(i)].toObject();
      QCOMPARE(o["uid"].toString(), QStringLiteral("uid-%1").arg(i));
      QCOMPARE(o["summary"].toString(), t.descript);
      QString note = t.note;
      note.replace(QLatin1String("\r\n"), QLatin1String("\n"));
      QCOMPARE(o["description"].toString(), note);
      QString due;
      if (!t.date.isEmpty()) due = t.time.isEmpty() ? t.date : t.date + "T" + QString(t.time).remove(':') + "00";
      QCOMPARE(o["due"].toString(), due);
      QCOMPARE(o["due_zone"].toString(), QString());  // floating: no zone at all
      const int priority = t.priority == "A" ? 1 : t.priority == "B" ? 5 : t.priority == "C" ? 9 : 0;
      QCOMPARE(o["priority"].toInt(), priority);
      QCOMPARE(o["status"].toString(), t.done ? QStringLiteral("COMPLETED") : QStringLiteral("NEEDS-ACTION"));
      QCOMPARE(o["completed"].toBool(), t.done);
      QStringList categories;
      for (const auto& c : o["categories"].toArray()) categories << c.toString();
      // This reader unescapes a category list before splitting it at commas, so a key word
      // holding a comma reads as two words; the escaped comma itself is checked below.
      QCOMPARE(categories.join(' '), QString(t.keys).replace(',', ' '));
    }
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QVERIFY(written.readAll().contains("CATEGORIES:home\\,work\r\n"));
  }
};

QTEST_GUILESS_MAIN(TestICalMapping)
#include "tst_ICalMapping.moc"
