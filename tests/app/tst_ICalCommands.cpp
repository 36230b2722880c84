// File, Export to iCalendar and Import from iCalendar, on a real task table: the view's order
// and filter, stable UIDs, the counts and reasons of an import, and failures that change nothing.

#include <QFile>
#include <QTest>

#include "../db/TaskTableFixture.h"
#include "app/ICalCommands.h"
#include "app/KeyWordList.h"
#include "dialogs/TaskEditorTextGuard.h"
#include "sync/ICalFile.h"

class TestICalCommands : public QObject {
  Q_OBJECT

  std::unique_ptr<TaskTableFixture> fx_;

  QString Dir() const { return fx_->dir.path() + QLatin1Char('/'); }

  QStringList Summaries(const QString& path) {
    QStringList out;
    for (const ICalImport& t : ICalFile::Read(path).tasks) out << t.task.descript;
    return out;
  }

 private slots:
  void init() {
    fx_ = std::make_unique<TaskTableFixture>();
    QVERIFY(fx_->Create());
    fx_->table.Open();
    fx_->Add("20240303", "09:00", "charlie", false, "work", "A", "note of charlie");
    fx_->Add("20240301", "", "alpha", true, "", "C");
    fx_->Add("", "", "bravo", false, "home", "");
    fx_->Add("20240229", "23:30", "delta", false, "", "B");
  }
  void cleanup() { fx_.reset(); }

  void exportFollowsTheView() {
    // Sorted by description, done tasks hidden; the current task stays current.
    fx_->engine.SelectOrder(fx_->engine.TagOrder(QStringLiteral("DESCRIPT")));
    QCOMPARE(fx_->engine.ApplyQuery(QStringLiteral(".not.DONE")), 1);
    fx_->table.First();
    fx_->table.Next();
    const long here = fx_->table.RecNo();
    int written = 0;
    const QString path = fx_->dir.filePath(QStringLiteral("view.ics"));
    QCOMPARE(ICalCommands::ExportView(fx_->table, Dir(), path, &written), QString());
    QCOMPARE(written, 3);
    QCOMPARE(Summaries(path), QStringList({"bravo", "charlie", "delta"}));
    QCOMPARE(fx_->table.RecNo(), here);
    const ICalFileContents read = ICalFile::Read(path);
    QCOMPARE(read.tasks[1].task.note, QStringLiteral("note of charlie"));
    QCOMPARE(read.tasks[1].task.priority, QStringLiteral("A"));
    QCOMPARE(read.tasks[2].task.date, QStringLiteral("20240229"));
    QCOMPARE(read.tasks[2].task.time, QStringLiteral("23:30"));

    // Exported again (in another order): every task keeps its UID.
    fx_->engine.SelectOrder(fx_->engine.TagOrder(QStringLiteral("DATETIME")));
    fx_->engine.ApplyQuery(QString());
    const QString again = fx_->dir.filePath(QStringLiteral("again.ics"));
    QCOMPARE(ICalCommands::ExportView(fx_->table, Dir(), again, &written), QString());
    QCOMPARE(written, 4);
    QHash<QString, QString> first;
    for (const ICalImport& t : read.tasks) first.insert(t.task.descript, t.uid);
    for (const ICalImport& t : ICalFile::Read(again).tasks)
      if (first.contains(t.task.descript)) QCOMPARE(t.uid, first[t.task.descript]);
  }

  void exportThatCannotBeWrittenLeavesNothing() {
    int written = -1;
    const QString path = fx_->dir.filePath(QStringLiteral("no/such/folder/x.ics"));
    QVERIFY(!ICalCommands::ExportView(fx_->table, Dir(), path, &written).isEmpty());
    QCOMPARE(written, 0);
    QVERIFY(!QFile::exists(path));
    // An existing file is replaced only by a complete one.
    const QString kept = fx_->dir.filePath(QStringLiteral("kept.ics"));
    QFile f(kept);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("old");
    f.close();
    QFile::setPermissions(fx_->dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    const QString error = ICalCommands::ExportView(fx_->table, Dir(), kept, &written);
    QFile::setPermissions(fx_->dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (!error.isEmpty()) {  // root may write anyway
      QVERIFY(f.open(QIODevice::ReadOnly));
      QCOMPARE(f.readAll(), QByteArray("old"));
    }
  }

  void importAddsAndSaysWhatItSkipped() {
    const QString path = fx_->dir.filePath(QStringLiteral("in.ics"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Other//EN\r\n"
            "BEGIN:VEVENT\r\nUID:e\r\nSUMMARY:an event\r\nDTSTART:20240101T100000Z\r\nEND:VEVENT\r\n"
            "BEGIN:VTODO\r\nUID:1\r\nSUMMARY:Imported one\r\nDUE;VALUE=DATE:20240229\r\nPRIORITY:1\r\n"
            "CATEGORIES:newword,work\r\nDESCRIPTION:line 1\\nline 2\r\nEND:VTODO\r\n"
            "BEGIN:VTODO\r\nUID:2\r\nSUMMARY:Tick \xE2\x9C\x93\r\nEND:VTODO\r\n"
            "BEGIN:VTODO\r\nUID:3\r\nSUMMARY:Done one\r\nSTATUS:COMPLETED\r\nEND:VTODO\r\n"
            "BEGIN:VTODO\r\nUID:4\r\nSUMMARY:Broken due\r\nDUE:tomorrow\r\nEND:VTODO\r\n"
            "END:VCALENDAR\r\n");
    f.close();
    KeyWordList keyWords;
    keyWords.AddWordsOf(QStringLiteral("work"));
    const ICalCommands::ImportResult result = ICalCommands::ImportFile(fx_->table, path, &keyWords);
    QCOMPARE(result.error, QString());
    QCOMPARE(result.added, 2);
    QCOMPARE(result.skipped.size(), 2);
    QCOMPARE(result.skipped[0], QStringLiteral("\"Tick ✓\": ") + TaskEditorTextGuard::RefusalMessage("✓"));
    QVERIFY(result.skipped[1].startsWith(QLatin1String("\"Broken due\": ")));
    QCOMPARE(keyWords.Words(), QStringList({"work", "newword"}));
    const QString message = ICalCommands::ImportMessage(result);
    QVERIFY(message.startsWith(QStringLiteral("2 tasks were added.\n2 tasks were skipped:\n\"Tick ✓\": ")));

    fx_->engine.SelectOrder(fx_->engine.TagOrder(QStringLiteral("DESCRIPT")));
    QCOMPARE(fx_->Walk(), QStringList({"alpha", "bravo", "charlie", "delta", "Done one", "Imported one"}));
    fx_->table.Last();
    QCOMPARE(fx_->table.FieldByName("DATE")->AsString(), QStringLiteral("20240229"));
    QCOMPARE(fx_->table.FieldByName("PRIORITY")->AsString(), QStringLiteral("A"));
    QCOMPARE(fx_->table.FieldByName("KEYS")->AsString(), QStringLiteral("newword work"));
    QCOMPARE(fx_->table.FieldByName("NOTE")->AsString(), QStringLiteral("line 1\r\nline 2"));
    fx_->table.Prior();
    QVERIFY(fx_->table.FieldByName("DONE")->AsBoolean());
  }

  void importOfAFileThatIsNotICalendarAddsNothing() {
    const QString path = fx_->dir.filePath(QStringLiteral("bad.ics"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("DATE,TIME,DESCRIPT\r\n20240101,,a csv file\r\n");
    f.close();
    const ICalCommands::ImportResult result = ICalCommands::ImportFile(fx_->table, path, nullptr);
    QVERIFY(!result.error.isEmpty());
    QCOMPARE(result.added, 0);
    QCOMPARE(ICalCommands::ImportMessage(result), result.error);
    QCOMPARE(fx_->Walk().size(), 4);
    QVERIFY(!ICalCommands::ImportFile(fx_->table, fx_->dir.filePath("missing.ics"), nullptr).error.isEmpty());
  }

  void roundTripThroughAFile() {
    int written = 0;
    const QString path = fx_->dir.filePath(QStringLiteral("all.ics"));
    QCOMPARE(ICalCommands::ExportView(fx_->table, Dir(), path, &written), QString());
    // Read back into the list that holds them: nothing is doubled.
    ICalCommands::ImportResult result = ICalCommands::ImportFile(fx_->table, path, nullptr);
    QCOMPARE(result.added, 0);
    QCOMPARE(result.skipped.size(), 4);
    QCOMPARE(result.skipped[0], QStringLiteral("\"bravo\": The task list holds it already."));
    // Into a list where one was edited and one deleted: those two come back.
    fx_->engine.SelectOrder(fx_->engine.TagOrder(QStringLiteral("DESCRIPT")));
    fx_->table.First();  // alpha
    fx_->table.Edit();
    fx_->table.FieldByName("KEYS")->SetAsString(QStringLiteral("changed"));
    fx_->table.Post();
    fx_->table.Next();  // bravo
    QCOMPARE(fx_->engine.MarkDeleted({quint32(fx_->table.RecNo())}).size(), size_t(1));
    result = ICalCommands::ImportFile(fx_->table, path, nullptr);
    QCOMPARE(result.added, 2);
    QCOMPARE(result.skipped.size(), 2);
    QCOMPARE(fx_->Walk(), QStringList({"alpha", "alpha", "bravo", "charlie", "delta"}));
  }
};

QTEST_MAIN(TestICalCommands)
#include "tst_ICalCommands.moc"
