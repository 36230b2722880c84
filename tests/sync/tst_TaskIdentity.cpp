// Task identities beside the task table: stable across reopening, our own pack (also one
// stopped midway) and a rebuild, found again by content after another program packed.

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <QTest>

#include "../db/TaskTableFixture.h"
#include "sync/PackIdentityGuard.h"
#include "sync/TaskIdentity.h"
#include "sync/TaskRecordFields.h"

namespace {

QString Xbtool(const QStringList& args, int* exitCode = nullptr) {
  QProcess p;
  p.start(QStringLiteral(XBTOOL_PATH), args);
  p.waitForFinished(60000);
  if (exitCode != nullptr) *exitCode = p.exitCode();
  return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
}

}  // namespace

class TestTaskIdentity : public QObject {
  Q_OBJECT

  std::unique_ptr<TaskTableFixture> fx_;
  QString dbf_;

  // UID of each live task, by its description.
  QHash<QString, QString> UidsByDescription(TaskIdentity& identity) {
    std::vector<TaskSlot> records;
    TableStamp stamp;
    QString error;
    [&] { QVERIFY2(ReadTaskTable(dbf_, &records, &stamp, &error), qPrintable(error)); }();
    QHash<QString, QString> out;
    for (const TaskSlot& slot : records) {
      if (slot.deleted) continue;
      const IdentityRow* row = identity.ForRecord(slot.recno);
      out.insert(slot.task.descript, row == nullptr ? QString() : row->uid);
    }
    return out;
  }

  bool Reconcile(TaskIdentity& identity, TaskIdentity::ReconcileResult* result) {
    std::vector<TaskSlot> records;
    TableStamp stamp;
    QString error;
    if (!ReadTaskTable(dbf_, &records, &stamp, &error) || !identity.Reconcile(records, stamp, result, &error)) {
      qWarning() << error;
      return false;
    }
    return true;
  }

  void EditDescription(quint32 recno, const QString& text) {
    fx_->table.GotoBookmark(recno);
    fx_->table.Edit();
    fx_->table.FieldByName("DESCRIPT")->SetAsString(text);
    fx_->table.Post();
  }

  void Delete(std::vector<quint32> recnos) { QCOMPARE(fx_->engine.MarkDeleted(recnos).size(), recnos.size()); }

  // Packs the way Rebuild Indexes does: exclusively, with the identities kept in step.
  void OurPack() {
    fx_->table.Close();
    fx_->table.SetExclusive(true);
    fx_->table.Open();
    {
      PackIdentityGuard guard(dbf_, fx_->table.CursorHandle());
      QCOMPARE(guard.problem(), QString());
      QVERIFY(fx_->engine.RemoveDeleted() != 0);
    }
    fx_->table.Close();
    fx_->table.SetExclusive(false);
    fx_->table.Open();
  }

 private slots:
  void init() {
    fx_ = std::make_unique<TaskTableFixture>();
    QVERIFY(fx_->Create());
    fx_->table.Open();
    dbf_ = fx_->TablePath();
    const char* names[] = {"one", "two", "three", "four", "five"};
    for (int i = 0; i < 5; ++i) fx_->Add(QStringLiteral("2024022%1").arg(i + 1), "10:00", names[i], false, "k", "B", "note");
  }
  void cleanup() { fx_.reset(); }

  void stableAcrossReopenAndEdits() {
    QHash<QString, QString> before;
    {
      TaskIdentity identity;
      QString error;
      QVERIFY2(identity.Open(dbf_, &error), qPrintable(error));
      TaskIdentity::ReconcileResult r;
      QVERIFY(Reconcile(identity, &r));
      QCOMPARE(r.added, 5);
      before = UidsByDescription(identity);
      QCOMPARE(QSet<QString>(before.begin(), before.end()).size(), 5);  // five distinct UIDs
      // The sync marks task 3 as on the server.
      IdentityRow row = *identity.ForRecord(3);
      row.href = QStringLiteral("/cal/tasks/") + row.uid + QStringLiteral(".ics");
      row.etag = QStringLiteral("\"e1\"");
      row.syncfp = row.fprint;
      QVERIFY(identity.Put(row, &error));
      QVERIFY(identity.SetCollectionState(QStringLiteral("https://h/cal/tasks/"), QStringLiteral("token-1"), &error));
    }
    EditDescription(3, QStringLiteral("three, edited"));
    TaskIdentity identity;
    QString error;
    QVERIFY(identity.Open(dbf_, &error));
    TaskIdentity::ReconcileResult r;
    QVERIFY(Reconcile(identity, &r));
    QCOMPARE(r.added, 0);
    QCOMPARE(r.moved, 0);
    QVERIFY(!r.rematched);
    const IdentityRow* three = identity.ForRecord(3);
    QCOMPARE(three->uid, before["three"]);
    QVERIFY(three->ChangedLocally());  // the edit is seen against the synced fingerprint
    QCOMPARE(three->etag, QStringLiteral("\"e1\""));
    QCOMPARE(identity.ForHref(three->href)->uid, three->uid);
    QCOMPARE(identity.CollectionUrl(), QStringLiteral("https://h/cal/tasks/"));
    QCOMPARE(identity.SyncToken(), QStringLiteral("token-1"));
    QVERIFY(identity.ForRecord(1)->ChangedLocally());  // never synced: still to be sent

    // A rebuild of the indexes moves no record.
    fx_->table.Close();
    int code = -1;
    Xbtool({QStringLiteral("reindex"), dbf_}, &code);
    QCOMPARE(code, 0);
    fx_->table.Open();
    QVERIFY(Reconcile(identity, &r));
    QCOMPARE(r.added + r.moved + r.gone, 0);
    QCOMPARE(identity.ForRecord(3)->uid, before["three"]);
  }

  void ourPackKeepsIdentities() {
    QString error;
    QHash<QString, QString> before;
    {
      TaskIdentity identity;
      QVERIFY(identity.Open(dbf_, &error));
      QVERIFY(Reconcile(identity, nullptr));
      before = UidsByDescription(identity);
      IdentityRow two = *identity.ForRecord(2);
      two.href = QStringLiteral("/t/two.ics");
      two.syncfp = two.fprint;
      QVERIFY(identity.Put(two, &error));
    }
    Delete({2, 4});
    OurPack();
    TaskIdentity identity;
    QVERIFY(identity.Open(dbf_, &error));
    TaskIdentity::ReconcileResult r;
    QVERIFY(Reconcile(identity, &r));
    QVERIFY(!r.rematched);
    QCOMPARE(r.added, 0);
    const QHash<QString, QString> after = UidsByDescription(identity);
    QCOMPARE(after.size(), 3);
    for (const char* name : {"one", "three", "five"}) QCOMPARE(after[name], before[name]);
    QCOMPARE(identity.ForRecord(2)->uid, before["three"]);
    // The task on the server stays known (RECNO 0) until the sync deletes it there; the one
    // that never reached the server is forgotten.
    const IdentityRow* gone = identity.ForUid(before["two"]);
    QVERIFY(gone != nullptr);
    QCOMPARE(gone->recno, 0u);
    QVERIFY(identity.ForUid(before["four"]) == nullptr);
    QCOMPARE(identity.RowCount(), size_t(4));
  }

  void packStoppedMidway() {
    QString error;
    QHash<QString, QString> before;
    {
      TaskIdentity identity;
      QVERIFY(identity.Open(dbf_, &error));
      QVERIFY(Reconcile(identity, nullptr));
      before = UidsByDescription(identity);
    }
    Delete({1});
    fx_->table.Close();
    std::vector<bool> marks = {true, false, false, false, false};
    // Stopped after the plan, before the pack: the plan is dropped at the next open.
    {
      TaskIdentity identity;
      QVERIFY(identity.Open(dbf_, &error));
      QVERIFY(identity.PreparePack(marks, &error));
    }
    {
      TaskIdentity identity;
      QVERIFY(identity.Open(dbf_, &error));
      QCOMPARE(identity.ForRecord(2)->uid, before["two"]);
      // Stopped after the plan and the pack, before the plan was applied: applied at the next open.
      QVERIFY(identity.PreparePack(marks, &error));
    }
    int code = -1;
    Xbtool({QStringLiteral("pack"), dbf_}, &code);
    QCOMPARE(code, 0);
    fx_->table.Open();
    TaskIdentity identity;
    QVERIFY(identity.Open(dbf_, &error));
    QCOMPARE(identity.ForRecord(1)->uid, before["two"]);
    QCOMPARE(identity.ForRecord(4)->uid, before["five"]);
    TaskIdentity::ReconcileResult r;
    QVERIFY(Reconcile(identity, &r));
    QVERIFY(!r.rematched);
    QCOMPARE(r.added + r.moved, 0);
    const QHash<QString, QString> after = UidsByDescription(identity);
    for (const char* name : {"two", "three", "four", "five"}) QCOMPARE(after[name], before[name]);
  }

  void rematchedByContentAfterAnotherProgramPacked() {
    QString error;
    QHash<QString, QString> before;
    {
      TaskIdentity identity;
      QVERIFY(identity.Open(dbf_, &error));
      QVERIFY(Reconcile(identity, nullptr));
      before = UidsByDescription(identity);
    }
    // Another program deletes and packs, and the user edits tasks meanwhile: "four" keeps its
    // description and date (found by them), "five" changes its description (not found again).
    Delete({1, 2});
    fx_->table.GotoBookmark(4);
    fx_->table.Edit();
    fx_->table.FieldByName("NOTE")->SetAsString(QStringLiteral("another note"));
    fx_->table.Post();
    EditDescription(5, QStringLiteral("five, renamed"));
    fx_->table.Close();
    int code = -1;
    const QString out = Xbtool({QStringLiteral("pack"), dbf_}, &code);
    QVERIFY2(code == 0, qPrintable(out));
    fx_->table.Open();
    fx_->Add("20240301", "", "six");  // and a task added after the pack

    TaskIdentity identity;
    QVERIFY(identity.Open(dbf_, &error));
    TaskIdentity::ReconcileResult r;
    QVERIFY(Reconcile(identity, &r));
    QVERIFY(r.rematched);
    const QHash<QString, QString> after = UidsByDescription(identity);
    QCOMPARE(after.size(), 4);
    QCOMPARE(after["three"], before["three"]);
    QCOMPARE(after["four"], before["four"]);
    QVERIFY(!after["five, renamed"].isEmpty());
    QVERIFY(after["five, renamed"] != before["five"]);
    QVERIFY(!after["six"].isEmpty());
    QCOMPARE(r.added, 2);
    // Nothing of this reached a server, so the rows of the vanished tasks are gone too.
    QCOMPARE(identity.RowCount(), size_t(4));
    // A second look finds everything in step.
    QVERIFY(Reconcile(identity, &r));
    QVERIFY(!r.rematched);
    QCOMPARE(r.added + r.moved + r.gone, 0);
  }

  void ourPackAfterAnotherProgramsPack() {
    QString error;
    QHash<QString, QString> before;
    {
      TaskIdentity identity;
      QVERIFY(identity.Open(dbf_, &error));
      QVERIFY(Reconcile(identity, nullptr));
      before = UidsByDescription(identity);
    }
    // Another program packs, then ours does, with no sync between: the rows' numbers were
    // already wrong before our pack, so they are found by content afterwards.
    Delete({1});
    fx_->table.Close();
    int code = -1;
    Xbtool({QStringLiteral("pack"), dbf_}, &code);
    QCOMPARE(code, 0);
    fx_->table.Open();
    Delete({2});  // "three", now record 2
    OurPack();
    TaskIdentity identity;
    QVERIFY(identity.Open(dbf_, &error));
    TaskIdentity::ReconcileResult r;
    QVERIFY(Reconcile(identity, &r));
    QVERIFY(r.rematched);
    QCOMPARE(r.added, 0);
    const QHash<QString, QString> after = UidsByDescription(identity);
    QCOMPARE(after.size(), 3);
    for (const char* name : {"two", "four", "five"}) QCOMPARE(after[name], before[name]);
  }

  void rowsRefuseWhatWouldConfuseThem() {
    TaskIdentity identity;
    QString error;
    QVERIFY(identity.Open(dbf_, &error));
    QVERIFY(Reconcile(identity, nullptr));
    IdentityRow one = *identity.ForRecord(1);
    IdentityRow two = *identity.ForRecord(2);
    two.recno = 1;
    QVERIFY(!identity.Put(two, &error));  // one record, two identities
    one.href = QStringLiteral("/x.ics");
    QVERIFY(identity.Put(one, &error));
    two = *identity.ForRecord(2);
    two.href = QStringLiteral("/x.ics");
    QVERIFY(!identity.Put(two, &error));  // one server task, two records
    IdentityRow long_ = two;
    long_.uid = QString(255, QLatin1Char('u'));
    long_.href.clear();
    long_.recno = 0;
    QVERIFY(!identity.Put(long_, &error));
    QVERIFY(identity.Rename(one.uid, QStringLiteral("renamed"), &error));
    QVERIFY(!identity.Rename(two.uid, QStringLiteral("renamed"), &error));
    QCOMPARE(identity.ForRecord(1)->uid, QStringLiteral("renamed"));
    // A local task not yet on the server is found by its content; one on the server is not.
    const IdentityRow* unlinked = identity.ForUnlinkedPrint(identity.ForRecord(2)->fprint);
    QVERIFY(unlinked != nullptr);
    QCOMPARE(unlinked->recno, 2u);
    QVERIFY(identity.ForUnlinkedPrint(identity.ForRecord(1)->fprint) == nullptr);
    QVERIFY(identity.Remove(QStringLiteral("renamed"), &error));
    QVERIFY(identity.ForRecord(1) == nullptr);
    // A removed row's record is reused, and everything reads back after reopening.
    IdentityRow fresh;
    fresh.recno = 1;
    fresh.uid = QStringLiteral("fresh-ü");
    fresh.fprint = QStringLiteral("0123456789abcdef");
    QVERIFY(identity.Put(fresh, &error));
    identity.Close();
    QVERIFY(identity.Open(dbf_, &error));
    QCOMPARE(identity.RowCount(), size_t(5));
    QCOMPARE(identity.ForRecord(1)->uid, QStringLiteral("fresh-ü"));
    // Only one open at a time: two copies of the rows would overwrite each other.
    TaskIdentity second;
    QVERIFY(!second.Open(dbf_, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFile::exists(fx_->dir.filePath(QStringLiteral("LWSYNC.BAD"))));  // a table in use is not "damaged"
    QCOMPARE(identity.RowCount(), size_t(5));
  }

  void snapshotReadsWhatTheDatasetShows() {
    // The sync compares fingerprints made from the dataset's fields with those made from the
    // snapshot: both readings of a record must give the same task.
    fx_->Add("", "", "  leading blanks €", true, " k1  k2 ", "", "note\r\nwith € and ü\r\n\r\n  ");
    fx_->Add("20240229", "23:59", QString(50, QLatin1Char('w')), false, QString(60, QLatin1Char('x')), "C",
             QString(5000, QLatin1Char('n')));
    std::vector<TaskSlot> records;
    TableStamp stamp;
    QString error;
    QVERIFY2(ReadTaskTable(dbf_, &records, &stamp, &error), qPrintable(error));
    QCOMPARE(records.size(), size_t(7));
    QCOMPARE(stamp.recordCount, 7u);
    for (const TaskSlot& slot : records) {
      fx_->table.GotoBookmark(slot.recno);
      const TaskRecord shown = ReadCurrentTask(fx_->table);
      QCOMPARE(slot.task.descript, shown.descript);
      QCOMPARE(slot.task.note, shown.note);
      QCOMPARE(slot.task.keys, shown.keys);
      QCOMPARE(slot.task, shown);
      QCOMPARE(slot.task.Fingerprint(), shown.Fingerprint());
    }
    QCOMPARE(records[5].task.descript, QStringLiteral("  leading blanks €"));
    QVERIFY(records[5].task.done);
    // Only what a reader can see counts: trailing blanks and line ends.
    TaskRecord a = records[6].task;
    TaskRecord b = a;
    b.descript += QStringLiteral("   ");
    b.note.replace(QLatin1Char('n'), QLatin1Char('m'));
    QVERIFY(a.Fingerprint() != b.Fingerprint());
    b = a;
    b.descript += QStringLiteral("   ");
    QCOMPARE(a.Fingerprint(), b.Fingerprint());
    b = a;
    b.done = !a.done;
    QVERIFY(a.Fingerprint() != b.Fingerprint());
    // Field boundaries count: text moved from one field to the next is a change.
    TaskRecord c, d;
    c.descript = QStringLiteral("ab");
    d.descript = QStringLiteral("a");
    d.note = QStringLiteral("b");
    QVERIFY(c.Fingerprint() != d.Fingerprint());
  }

  void killedWhileWritingRows() {
    // Enough tasks that a pass takes a while.
    fx_->table.DisableControls();
    for (int i = 0; i < 3000; ++i) fx_->Add("20240101", "", QStringLiteral("bulk %1").arg(i));
    fx_->table.EnableControls();
    const size_t live = 3005;
    QRandomGenerator random(20240229);
    for (int round = 0; round < 4; ++round) {
      QProcess child;
      QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
      env.insert(QStringLiteral("LISTWISE_IDENTITY_CHILD"), dbf_);
      child.setProcessEnvironment(env);
      child.start(QCoreApplication::applicationFilePath(), QStringList());
      QVERIFY(child.waitForStarted(30000));
      QVERIFY(child.waitForReadyRead(60000));
      QVERIFY(child.readAllStandardOutput().contains("started"));
      QThread::msleep(random.bounded(1, 300));
      ::kill(pid_t(child.processId()), SIGKILL);
      QVERIFY(child.waitForFinished(30000));
      QCOMPARE(child.exitStatus(), QProcess::CrashExit);

      // Whatever the kill interrupted, the next pass leaves one identity per task.
      TaskIdentity identity;
      QString error;
      QVERIFY2(identity.Open(dbf_, &error), qPrintable(error));
      QVERIFY(Reconcile(identity, nullptr));
      QCOMPARE(identity.RowCount(), live);
      QSet<QString> uids;
      QSet<uint32_t> recnos;
      for (const IdentityRow& row : identity.Rows()) {
        uids.insert(row.uid);
        recnos.insert(row.recno);
      }
      QCOMPARE(size_t(uids.size()), live);
      QCOMPARE(size_t(recnos.size()), live);
      QVERIFY(!recnos.contains(0));
    }
  }

  void damagedTableSetAsideAndMadeAgain() {
    const QString path = fx_->dir.filePath(QStringLiteral("LWSYNC.DBF"));
    {
      QFile f(path);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("this is not a table");
    }
    TaskIdentity identity;
    QString error;
    QVERIFY2(identity.Open(dbf_, &error), qPrintable(error));
    QVERIFY(QFile::exists(fx_->dir.filePath(QStringLiteral("LWSYNC.BAD"))));
    TaskIdentity::ReconcileResult r;
    QVERIFY(Reconcile(identity, &r));
    QCOMPARE(r.added, 5);
  }
};

// Child mode for the kill test: brings the identities of the task table in step, forever,
// saying "started" once the first pass has begun writing rows.
int RunChild(const QString& dbf) {
  std::vector<TaskSlot> records;
  TableStamp stamp;
  QString error;
  if (!ReadTaskTable(dbf, &records, &stamp, &error)) return 2;
  TaskIdentity identity;
  if (!identity.Open(dbf, &error)) return 3;
  std::printf("started\n");
  std::fflush(stdout);
  for (;;) {
    if (!identity.Reconcile(records, stamp, nullptr, &error)) return 4;
    // Rows removed and made again, so a kill may find any kind of write under way.
    for (const IdentityRow& row : identity.Rows())
      if (row.recno % 2 == 0 && !identity.Remove(row.uid, &error)) return 5;
  }
}

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsSet("LISTWISE_IDENTITY_CHILD")) {
    QCoreApplication app(argc, argv);
    return RunChild(qEnvironmentVariable("LISTWISE_IDENTITY_CHILD"));
  }
  QCoreApplication app(argc, argv);
  TestTaskIdentity test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_TaskIdentity.moc"
