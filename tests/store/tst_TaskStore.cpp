// Opening, creating, upgrading and rebuilding the task store in a real data directory.

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "db/CursorLayer.h"
#include "db/TaskFileNames.h"
#include "platform/UserMessages.h"
#include "store/StoreHelpers.h"
#include "store/TRebuildInd.h"
#include "store/TaskStore.h"
#include "sync/TaskIdentity.h"
#include "widgets/TProgressGauge.h"
#include "CdxFile.h"
#include "CdxTag.h"
#include "xbengine.h"
#include "RecordingMessages.h"

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Recorded = RecordingMessages;

// A store whose upgrade fails at one chosen step.
class FailingStore : public TaskStore {
 public:
  explicit FailingStore(UpgradeStep step) : step_(step) {}

 protected:
  bool StepAllowed(UpgradeStep step) override { return step != step_; }

 private:
  UpgradeStep step_;
};

ino_t Inode(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

QString Xbtool(const QStringList& args, int* exitCode = nullptr) {
  QProcess p;
  p.start(QStringLiteral(XBTOOL_PATH), args);
  p.waitForFinished(60000);
  if (exitCode != nullptr) *exitCode = p.exitCode();
  return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
}

struct OldTask {
  const char* date;
  const char* time;
  const char* descript;
  bool done;
  const char* keys;
  const char* note;
};

const OldTask kOldTasks[] = {
    {"20240229", "14:05", "Leap day call", false, "WORK", "four"},         // 4 characters: gains a blank
    {"        ", "     ", "No date", true, "", ""},
    {"20230101", "", "New year", false, "HOME, FAMILY", "line one\r\nline two and more"},
    {"20251231", "23:59", "Last one", false, "WORK", "abcdefgh\r\n"},      // 8 characters + break
};

// Writes an old-layout table (no PRIORITY) with the engine itself.
void MakeOldTable(const QString& dir, const std::vector<std::tuple<const char*, const char*, int>>& fields, bool fill) {
  const QByteArray path = QFile::encodeName(dir + "/LWISE.DBF");
  QVERIFY(xb_CreateNew(path.constData(), "OLD", 2, int(fields.size())) != 0);
  for (auto& [name, type, width] : fields) xb_CreateField(name, type, width, 0);
  QVERIFY(xb_CreateExec() != 0);
  xb_Close(0);
  if (!fill) return;
  const int area = xb_Use(path.constData(), "OLDT", 2, 2);
  QVERIFY(area != 0);
  for (const OldTask& t : kOldTasks) {
    xb_AppendBlank();
    xb_Replace("DATE", XB_VAL_STRING, t.date);
    xb_Replace("TIME", XB_VAL_STRING, t.time);
    xb_Replace("DESCRIPT", XB_VAL_STRING, t.descript);
    const int done = t.done ? 1 : 0;
    xb_Replace("DONE", XB_VAL_LOGICAL, &done);
    xb_Replace("KEYS", XB_VAL_STRING, t.keys);
    xb_ReplaceMemo("NOTE", t.note, long(strlen(t.note)));
  }
  xb_Close(area);
}

const std::vector<std::tuple<const char*, const char*, int>> kOldLayout = {
    {"DATE", "C", 8}, {"TIME", "C", 5}, {"DESCRIPT", "C", 50}, {"NOTE", "M", 10}, {"DONE", "L", 1}, {"KEYS", "C", 60}};

}  // namespace

class TaskStoreTest : public QObject {
  Q_OBJECT
 private:
  Recorded messages_;
  std::unique_ptr<QTemporaryDir> dir_;

  QString Path(const char* name) const { return dir_->filePath(QString::fromLatin1(name)); }
  QString Table() const { return TaskFileNames::TaskTable(dir_->path()); }
  QStringList Files() const { return QDir(dir_->path()).entryList(QDir::Files, QDir::Name); }
  QStringList Descriptions(TaskStore& store) {
    QStringList out;
    for (store.TasqTable.First(); !store.TasqTable.Eof() && !store.TasqTable.IsEmpty(); store.TasqTable.Next())
      out << store.TasqTable.FieldByName("DESCRIPT")->AsString();
    return out;
  }

  // Tasks (with notes) added through the store, the files closed.
  void AddTasks(int count) {
    TaskStore store;
    QVERIFY(store.OpenTaskStore(false));
    for (int i = 0; i < count; ++i) {
      store.TasqTable.Append();
      store.TasqTable.FieldByName("DATE")->SetAsString(QStringLiteral("2026%1%2").arg(i % 12 + 1, 2, 10, QLatin1Char('0')).arg(i % 28 + 1, 2, 10, QLatin1Char('0')));
      store.TasqTable.FieldByName("DESCRIPT")->SetAsString(QStringLiteral("task %1 of the list, number %2").arg(i * 7919 % 1000).arg(i));
      store.TasqTable.FieldByName("KEYS")->SetAsString(QStringLiteral("KEY%1").arg(i % 17));
      store.TasqTable.FieldByName("NOTE")->SetAsString(QStringLiteral("note %1").arg(i));
      store.TasqTable.Post();
    }
  }
  void ExpectCheckPasses() {
    int code = -1;
    const QString out = Xbtool({"check", Table()}, &code);
    QVERIFY2(code == 0, qPrintable(out));
  }

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    StoreHelpers::SetDataDirectory(dir_->path());
    messages_.shown.clear();
    UserMessages::Install(&messages_);
  }
  void cleanup() {
    UserMessages::Install(nullptr);
    StoreHelpers::SetDataDirectory(QString());
  }

  void firstStartCreatesTheFiles() {
    TaskStore store;
    QLabel status;
    store.SetStatusLabel(&status);
    QVERIFY(store.OpenTaskStore(false));
    // Lower-case extensions all through: every other tool finds the memo and index beside it.
    QCOMPARE(Files(), QStringList({"LWISE.cdx", "LWISE.dbf", "LWISE.fpt"}));
    QCOMPARE(store.TasqEngine.TagNameAt(store.TasqEngine.CurrentOrder()), QString("DATETIME"));
    QVERIFY(store.TasqTable.IsEmpty());
    QCOMPARE(store.TasqTable.IndexDefs(), QStringList({"DATETIME", "DESCRIPT", "DONE", "KEYS", "PRIORITY"}));
    QVERIFY(messages_.shown.isEmpty());
    store.TasqTable.Close();
    int code = -1;
    const QString out = Xbtool({"check", Table()}, &code);
    QVERIFY2(code == 0, qPrintable(out));
    QVERIFY(out.contains("5 tags"));
  }

  // Task files stored under the upper-case spelling (as earlier versions named them, the table
  // alone or all three) are used where they are: every note reads back, new notes go into them,
  // a pack keeps them, and no second table, memo or index appears beside them.
  void upperCaseFilesOfEarlierVersionsAreKept_data() {
    QTest::addColumn<QStringList>("names");
    QTest::newRow("all upper case") << QStringList({"LWISE.CDX", "LWISE.DBF", "LWISE.FPT"});
    QTest::newRow("table upper case") << QStringList({"LWISE.DBF", "LWISE.cdx", "LWISE.fpt"});
  }
  void upperCaseFilesOfEarlierVersionsAreKept() {
    QFETCH(QStringList, names);
    AddTasks(12);
    for (const QString& name : names) {
      const QString lower = QFileInfo(name).completeBaseName() + QLatin1Char('.') + QFileInfo(name).suffix().toLower();
      if (lower != name) QVERIFY(QFile::rename(dir_->filePath(lower), dir_->filePath(name)));
    }
    QCOMPARE(Files(), names);
    const QString table = Path("LWISE.DBF");
    const QString memo = dir_->filePath(names.filter(QStringLiteral("FPT"), Qt::CaseInsensitive).first());
    const qint64 tableSize = QFileInfo(table).size(), memoSize = QFileInfo(memo).size();
    const ino_t tableInode = Inode(table), memoInode = Inode(memo);
    {
      TaskStore store;
      QVERIFY(store.OpenTaskStore(false));
      store.TasqEngine.SelectOrder(0);
      store.TasqTable.Last();
      store.TasqTable.Edit();
      store.TasqTable.FieldByName("NOTE")->SetAsString("changed in place");
      store.TasqTable.Post();
    }
    // Written in place: the same files, the note added to the memo, nothing new beside them.
    QCOMPARE(Files(), names);
    QCOMPARE(Inode(table), tableInode);
    QCOMPARE(Inode(memo), memoInode);
    QCOMPARE(QFileInfo(table).size(), tableSize);
    QVERIFY(QFileInfo(memo).size() > memoSize);
    {
      TaskStore store;
      QVERIFY(store.OpenTaskStore(true));
      QCOMPARE(store.TasqTable.IndexDefs(), QStringList({"DATETIME", "DESCRIPT", "DONE", "KEYS", "PRIORITY"}));
      store.TasqEngine.SelectOrder(0);
      store.TasqTable.First();
      store.TasqTable.Delete();
      store.TasqTable.Append();
      store.TasqTable.FieldByName("DESCRIPT")->SetAsString("added");
      store.TasqTable.FieldByName("NOTE")->SetAsString(QString::fromUtf8("a note with \u00e9 and \u20ac"));
      store.TasqTable.Post();
      store.RunRebuild(true);
    }
    // The pack keeps the table and memo under their names; the index, made anew from the table,
    // may come back under the new spelling, but there is one.
    QStringList indexed = names;
    indexed.replaceInStrings(QStringLiteral("LWISE.CDX"), QStringLiteral("LWISE.cdx"));
    std::sort(indexed.begin(), indexed.end());
    QVERIFY2(Files() == names || Files() == indexed, qPrintable(Files().join(' ')));
    TaskStore store;
    QVERIFY(store.OpenTaskStore(false));
    store.TasqEngine.SelectOrder(0);
    QStringList notes;
    for (store.TasqTable.First(); !store.TasqTable.Eof(); store.TasqTable.Next())
      notes << store.TasqTable.FieldByName("NOTE")->AsString();
    QCOMPARE(notes.size(), 12);
    QCOMPARE(notes.first(), QString("note 1"));
    QCOMPARE(notes[10], QString("changed in place"));
    QCOMPARE(notes.last(), QString::fromUtf8("a note with \u00e9 and \u20ac"));
    QVERIFY(messages_.shown.isEmpty());
    store.TasqTable.Close();
    QCOMPARE(Table(), table);
    ExpectCheckPasses();
  }

  // A table and a memo file under both spellings: the lower-case ones are used, the others are
  // named in a message at every start and never written. One file reached by both names (as on a
  // file system that ignores case) is no second file and is not named.
  void bothSpellingsAreNamedAndTheOtherLeftAlone() {
    AddTasks(3);
    QByteArray before[2];
    const char* upperNames[2] = {"LWISE.DBF", "LWISE.FPT"};
    for (int i = 0; i < 2; ++i) {
      const QString upper = Path(upperNames[i]);
      QVERIFY(QFile::copy(QFileInfo(upper).path() + "/" + QFileInfo(upper).completeBaseName() + "." +
                              QFileInfo(upper).suffix().toLower(), upper));
      QFile f(upper);
      QVERIFY(f.open(QIODevice::ReadOnly));
      before[i] = f.readAll();
    }
    for (int start = 0; start < 2; ++start) {
      messages_.shown.clear();
      TaskStore store;
      QVERIFY(store.OpenTaskStore(false));
      QCOMPARE(messages_.shown.size(), 2);
      QVERIFY2(messages_.shown[0].contains("LWISE.dbf and LWISE.DBF"), qPrintable(messages_.shown[0]));
      QVERIFY2(messages_.shown[1].contains("LWISE.fpt and LWISE.FPT"), qPrintable(messages_.shown[1]));
      QVERIFY(messages_.shown[0].contains(dir_->path()));
      store.TasqEngine.SelectOrder(0);
      store.TasqTable.Last();
      QCOMPARE(store.TasqTable.FieldByName("NOTE")->AsString(), start == 0 ? QString("note 2") : QString("changed"));
      store.TasqTable.Edit();
      store.TasqTable.FieldByName("NOTE")->SetAsString("changed");
      store.TasqTable.Post();
    }
    for (int i = 0; i < 2; ++i) {
      QFile f(Path(upperNames[i]));
      QVERIFY(f.open(QIODevice::ReadOnly));
      QCOMPARE(f.readAll(), before[i]);
      f.close();
      QVERIFY(f.remove());
      QCOMPARE(::link(QFile::encodeName(Path(i == 0 ? "LWISE.dbf" : "LWISE.fpt")).constData(),
                      QFile::encodeName(f.fileName()).constData()), 0);
    }
    messages_.shown.clear();
    TaskStore store;
    QVERIFY(store.OpenTaskStore(false));
    QVERIFY2(messages_.shown.isEmpty(), qPrintable(messages_.shown.join('\n')));
  }

  // An old-layout table with an upper-case memo: the backup keeps that spelling and the upgraded
  // table gets the new one.
  void oldLayoutWithUpperCaseMemoIsUpgraded() {
    MakeOldTable(dir_->path(), kOldLayout, true);
    QVERIFY(QFile::rename(Path("LWISE.fpt"), Path("LWISE.FPT")));
    TaskStore store;
    QVERIFY(store.OpenTaskStore(false));
    QCOMPARE(messages_.shown.last(), QString("File update was successful"));
    QVERIFY(QFile::exists(Path("LWBAK.FPT")));
    QVERIFY(QFile::exists(Path("LWISE.fpt")));
    QVERIFY(!QFile::exists(Path("LWISE.FPT")));
    store.TasqEngine.SelectOrder(0);
    store.TasqTable.First();
    store.TasqTable.Next();
    store.TasqTable.Next();
    QCOMPARE(store.TasqTable.FieldByName("NOTE")->AsString(), QString("line one\r\nline two and more"));
  }

  void missingOrDamagedIndexIsRebuilt() {
    {
      TaskStore store;
      QVERIFY(store.OpenTaskStore(false));
      store.TasqTable.Append();
      store.TasqTable.FieldByName("DESCRIPT")->SetAsString("kept");
      store.TasqTable.Post();
    }
    QVERIFY(QFile::remove(Path("LWISE.cdx")));
    {
      TaskStore store;
      QVERIFY(store.OpenTaskStore(false));
      QCOMPARE(Descriptions(store), QStringList({"kept"}));
      QVERIFY(messages_.shown.isEmpty());  // rebuilt without asking
    }
    // An index file whose header page is garbage is set aside by the engine and rebuilt.
    QFile cdx(Path("LWISE.cdx"));
    QVERIFY(cdx.open(QIODevice::ReadWrite));
    cdx.write(QByteArray(512, '\x5A'));
    cdx.close();
    {
      TaskStore store;
      QVERIFY(store.OpenTaskStore(false));
      QCOMPARE(Descriptions(store), QStringList({"kept"}));
    }
    int code = -1;
    const QString out = Xbtool({"check", Table()}, &code);
    QVERIFY2(code == 0, qPrintable(out));
  }

  // A page of zeros anywhere in a tag's tree: the program starts, rebuilds the index as if it
  // were missing, and every task is there.
  void zeroedIndexPageIsRebuiltAtStart() {
    AddTasks(400);
    std::vector<uint32_t> pages;
    {
      std::unique_ptr<xb::CdxFile> file;
      QVERIFY(xb::CdxFile::Open(QFile::encodeName(Path("LWISE.cdx")).toStdString(), true, &file).ok());
      for (size_t t = 0; t < file->TagCount(); ++t) {
        std::vector<uint32_t> tagPages;
        QVERIFY(file->Tag(t)->Check(&tagPages).ok());
        // The root, a page in the middle, the last page of each tag.
        pages.push_back(tagPages.front());
        pages.push_back(tagPages[tagPages.size() / 2]);
        pages.push_back(tagPages.back());
      }
    }
    QFile cdx(Path("LWISE.cdx"));
    QVERIFY(cdx.open(QIODevice::ReadOnly));
    const QByteArray good = cdx.readAll();
    cdx.close();
    for (uint32_t page : pages) {
      QByteArray bad = good;
      bad.replace(int(page), 512, QByteArray(512, '\0'));
      QVERIFY(cdx.open(QIODevice::WriteOnly | QIODevice::Truncate));
      cdx.write(bad);
      cdx.close();
      TaskStore store;
      QVERIFY2(store.OpenTaskStore(false), qPrintable(QString::number(page)));
      QCOMPARE(store.TasqEngine.TagNameAt(store.TasqEngine.CurrentOrder()), QString("DATETIME"));
      QCOMPARE(Descriptions(store).size(), 400);
      store.TasqTable.Close();
      ExpectCheckPasses();
    }
    QVERIFY(messages_.shown.isEmpty());
  }

  // A memo file whose next-free pointer lies inside its header: the program starts, the
  // header is repaired, and no note is written over.
  void memoHeaderInsideItselfIsRepairedAtStart() {
    AddTasks(30);
    QFile fpt(Path("LWISE.fpt"));
    QVERIFY(fpt.open(QIODevice::ReadWrite));
    fpt.write(QByteArray("\0\0\0\2", 4));
    fpt.close();
    {
      TaskStore store;
      QVERIFY(store.OpenTaskStore(false));
      store.TasqTable.Append();
      store.TasqTable.FieldByName("DESCRIPT")->SetAsString("after the repair");
      store.TasqTable.FieldByName("NOTE")->SetAsString("a new note");
      store.TasqTable.Post();
      store.TasqEngine.SelectOrder(0);
      int n = 0;
      for (store.TasqTable.First(); !store.TasqTable.Eof(); store.TasqTable.Next(), ++n)
        QCOMPARE(store.TasqTable.FieldByName("NOTE")->AsString(), n < 30 ? QStringLiteral("note %1").arg(n) : QString("a new note"));
      QCOMPARE(n, 31);
    }
    ExpectCheckPasses();
    QVERIFY(messages_.shown.isEmpty());
  }

  // A named pipe or a folder in place of a task file: the open is refused at once, saying
  // which file and what it is; nothing is changed.
  void nonRegularTaskFileIsRefused_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("pipe");
    for (const char* name : {"LWISE.dbf", "LWISE.fpt", "LWISE.cdx"}) {
      QTest::newRow(QByteArray(name) + " pipe") << QString(name) << true;
      QTest::newRow(QByteArray(name) + " folder") << QString(name) << false;
    }
  }
  void nonRegularTaskFileIsRefused() {
    QFETCH(QString, name);
    QFETCH(bool, pipe);
    AddTasks(3);
    const QString file = Path(name.toLatin1().constData());
    QVERIFY(QFile::rename(file, file + ".real"));
    if (pipe)
      QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0644), 0);
    else
      QVERIFY(QDir().mkdir(file));
    {
      TaskStore store;
      QVERIFY(!store.OpenTaskStore(false));
      QCOMPARE(messages_.shown.size(), 1);
      QVERIFY2(messages_.shown.last().contains(name), qPrintable(messages_.shown.last()));
      QVERIFY2(messages_.shown.last().contains(pipe ? "a named pipe" : "a folder"), qPrintable(messages_.shown.last()));
      QVERIFY(!store.OpenTaskStore(true));
    }
    if (pipe)
      QVERIFY(QFile::remove(file));
    else
      QVERIFY(QDir().rmdir(file));
    QVERIFY(QFile::rename(file + ".real", file));
    TaskStore store;
    QVERIFY(store.OpenTaskStore(false));
    QCOMPARE(Descriptions(store).size(), 3);
  }

  // Task files linked into the data folder from elsewhere: a rebuild with pack replaces the
  // real files, and the links stay links.
  void linkedTaskFilesStayLinks() {
    QTemporaryDir elsewhere;
    AddTasks(20);
    for (const char* name : {"LWISE.dbf", "LWISE.fpt", "LWISE.cdx"}) {
      const QString real = elsewhere.filePath(name);
      QVERIFY(QFile::rename(Path(name), real));
      QVERIFY(QFile::link(real, Path(name)));
    }
    {
      TaskStore store;
      QVERIFY(store.OpenTaskStore(true));
      store.TasqEngine.SelectOrder(0);
      store.TasqTable.First();
      for (int i = 0; i < 5; ++i) store.TasqTable.Delete();
      store.RunRebuild(true);
      QCOMPARE(store.TasqEngine.RecordCount(), 15L);
    }
    for (const char* name : {"LWISE.dbf", "LWISE.fpt", "LWISE.cdx"}) {
      QVERIFY2(QFileInfo(Path(name)).isSymLink(), name);
      QCOMPARE(QFileInfo(Path(name)).symLinkTarget(), elsewhere.filePath(name));
    }
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot).size(), 3);
    QCOMPARE(QDir(elsewhere.path()).entryList(QDir::Files | QDir::NoDotAndDotDot).size(), 3);
    ExpectCheckPasses();
    TaskStore store;
    QVERIFY(store.OpenTaskStore(false));
    QCOMPARE(Descriptions(store).size(), 15);
  }

  void oldLayoutIsUpgraded() {
    MakeOldTable(dir_->path(), kOldLayout, true);
    // Stale backups of an earlier upgrade are replaced.
    for (const char* stale : {"LWBAK.DBF", "LWBAK.FPT"}) {
      QFile f(Path(stale));
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("stale");
    }
    TaskStore store;
    store.TasqTable.SetDatabaseName(dir_->path());
    QVERIFY(store.IsOldLayout(store.TasqTable));
    QVERIFY(store.OpenTaskStore(false));
    QCOMPARE(messages_.shown.last(), QString("File update was successful"));
    // The new table gets the new names; the backup keeps the old table's spelling.
    QCOMPARE(Files(), QStringList({"LWBAK.DBF", "LWBAK.fpt", "LWISE.cdx", "LWISE.dbf", "LWISE.fpt"}));
    QVERIFY(!store.IsOldLayout(store.TasqTable));
    QVERIFY(store.OpenTaskStore(false));
    store.TasqEngine.SelectOrder(0);  // the old record order
    int i = 0;
    for (store.TasqTable.First(); !store.TasqTable.Eof(); store.TasqTable.Next(), ++i) {
      const OldTask& t = kOldTasks[i];
      TableDataSet& n = store.TasqTable;
      QCOMPARE(n.FieldByName("PRIORITY")->AsString(), QString("B"));
      QCOMPARE(n.FieldByName("DATE")->AsString(), QString(t.date).trimmed());
      QCOMPARE(n.FieldByName("TIME")->AsString(), QString(t.time).trimmed());
      QCOMPARE(n.FieldByName("DESCRIPT")->AsString(), QString(t.descript));
      QCOMPARE(n.FieldByName("DONE")->AsBoolean(), t.done);
      QCOMPARE(n.FieldByName("KEYS")->AsString(), QString(t.keys));
      QString note = t.note;
      if (note == "four") note = "four ";
      if (note == "abcdefgh\r\n") note = "abcdefgh \r\n";
      QCOMPARE(n.FieldByName("NOTE")->AsString(), note);
    }
    QCOMPARE(i, 4);
    store.TasqTable.Close();
    // The backup holds the old data, not the stale files.
    TaskStore check;
    QVERIFY(check.OpenBackupTable());
    QCOMPARE(check.ModTable.FieldCount(), 6);
    check.ModTable.First();
    QCOMPARE(check.ModTable.FieldByName("DESCRIPT")->AsString(), QString("Leap day call"));
  }

  void failedUpgradeLosesNothing_data() {
    QTest::addColumn<int>("step");
    QTest::newRow("rename memo") << int(TaskStore::UpgradeStep::RenameMemo);
    QTest::newRow("rename data") << int(TaskStore::UpgradeStep::RenameData);
    QTest::newRow("create") << int(TaskStore::UpgradeStep::Create);
    QTest::newRow("open") << int(TaskStore::UpgradeStep::Open);
    QTest::newRow("open backup") << int(TaskStore::UpgradeStep::OpenBackup);
    QTest::newRow("append") << int(TaskStore::UpgradeStep::Append);
  }
  void failedUpgradeLosesNothing() {
    QFETCH(int, step);
    MakeOldTable(dir_->path(), kOldLayout, true);
    FailingStore store{TaskStore::UpgradeStep(step)};
    QVERIFY(!store.OpenTaskStore(false));
    QVERIFY(messages_.shown.contains("There was an error updating the files."));
    // The old files are back under their names with every task, and still old.
    QVERIFY(store.IsOldLayout(store.TasqTable));
    QVERIFY(store.OpenBackupTable() == false || QFile::exists(Path("LWISE.DBF")));
    // Back under the name it had; the partial new table is gone.
    QCOMPARE(Table(), Path("LWISE.DBF"));
    int code = -1;
    const QString out = Xbtool({"dump", Path("LWISE.DBF")}, &code);
    QCOMPARE(code, 0);
    for (const OldTask& t : kOldTasks) QVERIFY2(out.contains(t.descript), qPrintable(out));
    QVERIFY(out.contains("line two and more"));
  }

  void tableWithoutKeysIsNotOld() {
    MakeOldTable(dir_->path(), {{"DATE", "C", 8}, {"TIME", "C", 5}, {"DESCRIPT", "C", 50}, {"NOTE", "M", 10}, {"DONE", "L", 1}}, false);
    TaskStore store;
    store.TasqTable.SetDatabaseName(dir_->path());
    QFile dbf(Path("LWISE.DBF"));
    QVERIFY(dbf.open(QIODevice::ReadOnly));
    const QByteArray before = dbf.readAll();
    dbf.close();
    QVERIFY(!store.IsOldLayout(store.TasqTable));
    store.OpenTaskStore(false);  // the tags need KEYS: the open fails, but nothing is upgraded
    QVERIFY(!QFile::exists(Path("LWBAK.DBF")));
    QVERIFY(dbf.open(QIODevice::ReadOnly));
    const QByteArray after = dbf.readAll();
    QCOMPARE(after.mid(4, 8), before.mid(4, 8));  // same record count, header and record size
    QCOMPARE(after.mid(32), before.mid(32));      // same fields and records
  }

  void openWhileAnotherProgramHoldsTheTable() {
    {
      TaskStore store;
      QVERIFY(store.OpenTaskStore(false));
    }
    QProcess holder;
    holder.start(QStringLiteral(XBTOOL_PATH), {"hold", Table(), "2", "60"});
    QVERIFY(holder.waitForReadyRead(10000));
    QVERIFY(holder.readAllStandardOutput().contains("held"));
    TaskStore store;
    QVERIFY(!store.OpenTaskStore(false));
    QCOMPARE(messages_.shown.last(), QString("Unable to open the Tasq file: LWISE.DBF"));
    QVERIFY(!store.OpenTaskStore(true));
    QCOMPARE(messages_.shown.last(),
             QString("Unable to open the Tasq file (LWISE.DBF) for reindexing.\rThe file may be in use by another user"));
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(10000));
    QVERIFY(store.OpenTaskStore(false));
  }

  void rebuildWithPackKeepsQueryAndOrder() {
    TaskStore store;
    QVERIFY(store.OpenTaskStore(false));
    for (int i = 0; i < 30; ++i) {
      store.TasqTable.Append();
      store.TasqTable.FieldByName("DATE")->SetAsString(QStringLiteral("202612%1").arg(i % 28 + 1, 2, 10, QLatin1Char('0')));
      store.TasqTable.FieldByName("DESCRIPT")->SetAsString(QStringLiteral("task %1").arg(i, 2, 10, QLatin1Char('0')));
      store.TasqTable.FieldByName("DONE")->SetAsBoolean(i % 3 == 0);
      store.TasqTable.Post();
    }
    store.TasqEngine.SelectOrder(0);
    store.TasqTable.First();
    for (int i = 0; i < 10; ++i) store.TasqTable.Delete();  // tasks 00..09 marked
    store.TasqEngine.SelectOrder(store.TasqEngine.TagOrder("DESCRIPT"));
    store.TasqEngine.ApplyQuery(".not.DONE");
    store.TasqTable.Close();
    QVERIFY(store.OpenTaskStore(true));
    store.TasqEngine.SelectOrder(store.TasqEngine.TagOrder("DESCRIPT"));
    store.TasqEngine.ApplyQuery(".not.DONE");
    store.RunRebuild(true);
    QCOMPARE(store.TasqEngine.RecordCount(), 20L);
    QCOMPARE(store.TasqEngine.CurrentQuery(), QString(".not.DONE"));
    QCOMPARE(store.TasqEngine.TagNameAt(store.TasqEngine.CurrentOrder()), QString("DESCRIPT"));
    const QStringList shown = Descriptions(store);
    QCOMPARE(shown.first(), QString("task 10"));
    QVERIFY(!shown.contains("task 12"));  // done, hidden by the query
    QCOMPARE(shown.size(), 14);
    store.TasqTable.Close();
    int code = -1;
    Xbtool({"check", Table()}, &code);
    QCOMPARE(code, 0);
  }

  void rebuildWithPackKeepsTaskIdentities() {
    AddTasks(12);
    const QString dbf = Table();
    auto uidsByDescription = [&](QHash<QString, QString>* out, TaskIdentity::ReconcileResult* result) {
      std::vector<TaskSlot> records;
      TableStamp stamp;
      QString error;
      TaskIdentity identity;
      QVERIFY2(ReadTaskTable(dbf, &records, &stamp, &error), qPrintable(error));
      QVERIFY2(identity.Open(dbf, &error), qPrintable(error));
      QVERIFY2(identity.Reconcile(records, stamp, result, &error), qPrintable(error));
      for (const TaskSlot& slot : records)
        if (!slot.deleted) out->insert(slot.task.descript, identity.ForRecord(slot.recno)->uid);
    };
    QHash<QString, QString> before;
    TaskIdentity::ReconcileResult result;
    uidsByDescription(&before, &result);
    QCOMPARE(result.added, 12);
    {
      TaskStore store;
      QVERIFY(store.OpenTaskStore(false));
      store.TasqEngine.SelectOrder(0);
      store.TasqTable.First();
      for (int i = 0; i < 4; ++i) store.TasqTable.Delete();  // the first four records
      store.TasqTable.Close();
      QVERIFY(store.OpenTaskStore(true));
      store.RunRebuild(true);
      QCOMPARE(store.TasqEngine.RecordCount(), 8L);
      store.TasqTable.Close();
    }
    QHash<QString, QString> after;
    uidsByDescription(&after, &result);
    QVERIFY(!result.rematched);  // the program's own pack needs no matching by content
    QCOMPARE(result.added + result.moved + result.gone, 0);
    QCOMPARE(after.size(), 8);
    for (auto it = after.cbegin(); it != after.cend(); ++it) QCOMPARE(it.value(), before.value(it.key()));
  }

  void gaugeAddsEachTagsShare() {
    TaskStore store;
    TRebuildInd dialog(&store.TasqTable, &store.TasqEngine, dir_->path() + "/lwise.cdx");
    auto report = [&](int percent) {
      QKeyEvent key(QEvent::KeyPress, (-percent) & 0xFFFF, Qt::NoModifier);
      QCoreApplication::sendEvent(&dialog, &key);
      return key.isAccepted();
    };
    QList<int> afterTag;
    for (int tag = 0; tag < 5; ++tag) {
      for (int p = 1; p <= 100; p += 33) report(p);
      report(100);
      afterTag << dialog.Gauge1->Progress();
    }
    // Each tag after the first starts "near 0": its first step is not counted, so four tags
    // reported from 1 to 100 leave the gauge at 99 and the fifth fills it.
    QCOMPARE(afterTag, QList<int>({25, 50, 75, 99, 100}));
    // An ordinary key is not a progress report and passes through.
    QKeyEvent a(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
    QCoreApplication::sendEvent(&dialog, &a);
    QCOMPARE(dialog.Gauge1->Progress(), 100);
  }
};

QTEST_MAIN(TaskStoreTest)
#include "tst_TaskStore.moc"
