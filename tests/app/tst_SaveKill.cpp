// The program killed (SIGKILL, as kill -9) inside the save of each command that changes tasks:
// New, Edit, Delete, the note pane, a bulk delete, Undo Delete and Rebuild Indexes. The main
// window runs in a child process (this program started again with --child) on a copy of a
// task folder; the child kills itself at the n-th file write, growth, sync or rename of the
// command. Then the program is started on the folder again, and it must open and hold every
// task exactly once, each as it was before the command or as the command leaves it, never a
// mix, and the table must pass the check. A command the child saw end must be there.

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <map>

#include "db/TaskFileNames.h"
#include "FaultInjection.h"
#include "MainScreenFixture.h"
#include "dialogs/TTaskEditor.h"
#include "platform/UserMessages.h"
#include "store/StoreHelpers.h"
#include "xbengine.h"

namespace {

// What a started program finds: per description, "keys|note|deleted" of each copy.
using Found = std::map<QString, QStringList>;

const QList<Task> kTasks = {
    {"20260110", "09:00", "TASK-1", false, "k1", "A", "note of TASK-1"},
    {"20260111", "09:00", "TASK-2", false, "k2", "B", "note of TASK-2"},
    {"20260112", "09:00", "TASK-3", false, "k3", "B", "note of TASK-3"},
    {"20260113", "09:00", "TASK-4", false, "k4", "C", "note of TASK-4"},
    {"20260114", "09:00", "TASK-5", false, "k5", "B", "note of TASK-5"},
    {"20260115", "09:00", "TASK-6", false, "k6", "B", "note of TASK-6"},
    {"20260116", "09:00", "TASK-7", true, "k7", "B", "note of TASK-7"},
    {"20260117", "09:00", "TASK-8", true, "k8", "B", "note of TASK-8"},
};

QString Entry(const QString& keys, const QString& note, bool deleted) {
  return keys + QLatin1Char('|') + note + QLatin1Char('|') + (deleted ? QLatin1Char('*') : QLatin1Char(' '));
}

// The seeded folder: the tasks above, TASK-6 deleted (so that a rebuild has one to pack away).
Found Seeded() {
  Found f;
  for (const Task& t : kTasks) f[t.descript] << Entry(t.keys, t.note, t.descript == QLatin1String("TASK-6"));
  return f;
}

// ---- The child: the main window, one command, a kill -------------------------------------

bool Select(TMainScreen& w, const QString& descript) {
  const int row = GridRowOf(w, descript);
  if (row < 0) return false;
  Grid(w)->SetCurrentRow(row);
  return w.Store().TasqTable.FieldByName("DESCRIPT")->AsString() == descript;
}

void EditWith(const QString& task, const QString& keys, const QString& note) {
  WhenModal<TTaskEditor>([=](TTaskEditor& editor) {
    if (!task.isEmpty()) editor.Task->setText(task);
    editor.KeyWords->setText(keys);
    editor.Notes->setPlainText(note);
    editor.OKButtonClick();
  });
}

// Lists the table as it is on the disk, read with the engine in an area of its own.
void PrintTable(const QString& dir) {
  const int previous = xb_WorkArea(nullptr);
  const int area = xb_Use(QFile::encodeName(TaskFileNames::TaskTable(dir)).constData(), "LISTER",
                          XB_READONLY, XB_DRIVER_FOX);
  if (area == 0) {
    std::printf("cannot read: %s\n", xb_ErrorText());
    return;
  }
  for (long r = 1; r <= xb_RecCount(); ++r) {
    xb_Go(r);
    char descript[64] = {}, keys[128] = {};
    xb_GetField("DESCRIPT", descript, sizeof descript);
    xb_GetField("KEYS", keys, sizeof keys);
    long length = 0;
    char* memo = xb_GetMemo("NOTE", &length);
    const QString note = QString::fromLatin1(memo, int(length)).replace(QLatin1Char('\r'), QLatin1Char('^')).replace(QLatin1Char('\n'), QLatin1Char('~'));
    xb_MemDealloc(memo);
    std::printf("task %s=%s\n", qPrintable(QString::fromLatin1(descript).trimmed()),
                qPrintable(Entry(QString::fromLatin1(keys).trimmed(), note, xb_Deleted() != 0)));
  }
  xb_Close(area);
  if (previous > 0) xb_Select(previous);
}

int RunChild(const QString& command, quint64 killAt, const QString& dir) {
  RecordedMessages yes;
  UserMessages::Install(&yes);
  StoreHelpers::SetDataDirectory(dir);
  std::unique_ptr<TMainScreen> w = OpenMainScreen(command == QLatin1String("seed") ? kTasks : QList<Task>(), dir);
  if (!w) {
    std::printf("the program did not open\n");
    return 3;
  }
  bool prepared = true;
  if (command == QLatin1String("seed")) {
    prepared = Select(*w, "TASK-6");
    if (prepared) Control<TFlatButton>(*w, "DeleteButton")->click();
  } else if (command == QLatin1String("edit") || command == QLatin1String("delete") ||
             command == QLatin1String("pane")) {
    prepared = Select(*w, command == QLatin1String("edit") ? "TASK-3" : command == QLatin1String("delete") ? "TASK-4" : "TASK-5");
  } else if (command == QLatin1String("undo")) {
    Trigger(*w, "AllMarkedDone1");  // deletes TASK-7 and TASK-8, before the kill is armed
  }
  if (!prepared) {
    std::printf("the task to change is not there\n");
    return 3;
  }
  // Without a point to die at, the run only counts the points the command passes.
  xb::FaultInjection::KillAt(killAt != 0 ? killAt : ~quint64(0));
  if (command == QLatin1String("new")) {
    EditWith("KILL-NEW", "fresh", "note of KILL-NEW!");
    Control<TFlatButton>(*w, "Newbutton")->click();
  } else if (command == QLatin1String("edit")) {
    EditWith(QString(), "edited", "edited note");
    Control<TFlatButton>(*w, "Editbutton")->click();
  } else if (command == QLatin1String("delete")) {
    Control<TFlatButton>(*w, "DeleteButton")->click();
  } else if (command == QLatin1String("pane")) {
    Control<QPlainTextEdit>(*w, "ActiveNotes")->setPlainText(QStringLiteral("pane note"));
    LeaveNotesPane(*w);
  } else if (command == QLatin1String("bulk")) {
    Trigger(*w, "AllMarkedDone1");
  } else if (command == QLatin1String("undo")) {
    Trigger(*w, "UndoDelete1");
  } else if (command == QLatin1String("rebuild")) {
    Trigger(*w, "RebuildIndexes1");
  }
  const quint64 passed = xb::FaultInjection::Passed();
  xb::FaultInjection::KillAt(0);
  std::printf("points %llu\n", static_cast<unsigned long long>(passed));
  for (const QString& m : yes.shown) std::printf("message %s\n", qPrintable(QString(m).replace(QLatin1Char('\r'), QLatin1Char(' '))));
  PrintTable(dir);
  std::fflush(stdout);
  // Ended as a kill would end it: whatever the command reported must already be on the disk.
  std::_Exit(0);
}

// ---- The parent ---------------------------------------------------------------------------

struct ChildRun {
  bool killed = false, ended = false;
  quint64 points = 0;
  Found tasks;
  QString output;
};

ChildRun Start(const QString& command, quint64 killAt, const QString& dir) {
  QProcess child;
  child.setProcessChannelMode(QProcess::MergedChannels);
  child.start(QCoreApplication::applicationFilePath(),
              {QStringLiteral("--child"), command, QString::number(killAt), dir});
  ChildRun run;
  if (!child.waitForFinished(120000)) {
    child.kill();
    child.waitForFinished();
  }
  run.output = QString::fromLocal8Bit(child.readAll());
  run.killed = child.exitStatus() == QProcess::CrashExit;
  run.ended = child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
  for (const QString& line : run.output.split(QLatin1Char('\n'))) {
    if (line.startsWith(QLatin1String("points "))) run.points = line.mid(7).toULongLong();
    if (line.startsWith(QLatin1String("task "))) {
      const qsizetype eq = line.indexOf(QLatin1Char('='));
      run.tasks[line.mid(5, eq - 5)] << line.mid(eq + 1).replace(QLatin1Char('^'), QLatin1Char('\r')).replace(QLatin1Char('~'), QLatin1Char('\n'));
    }
  }
  return run;
}

bool CopyFolder(const QString& from, const QString& to) {
  QDir target(to);
  for (const QString& name : target.entryList(QDir::Files | QDir::Hidden)) target.remove(name);
  for (const QString& name : QDir(from).entryList(QDir::Files | QDir::Hidden))
    if (!QFile::copy(from + QLatin1Char('/') + name, to + QLatin1Char('/') + name)) return false;
  return true;
}

bool CheckPasses(const QString& dir, QString* output) {
  QProcess tool;
  tool.setProcessChannelMode(QProcess::MergedChannels);
  tool.start(QStringLiteral(XBTOOL_PATH), {QStringLiteral("check"), TaskFileNames::TaskTable(dir)});
  tool.waitForFinished(60000);
  *output = QString::fromLocal8Bit(tool.readAll());
  return tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

QString Describe(const Found& f) {
  QStringList out;
  for (const auto& [name, copies] : f) out << name + QLatin1Char('=') + copies.join(QLatin1String(" + "));
  return out.join(QLatin1String("; "));
}

}  // namespace

class SaveKillTest : public QObject {
  Q_OBJECT
 private:
  QTemporaryDir seed_, work_;
  int rounds_ = 0, mixed_ = 0, unopened_ = 0, unchecked_ = 0;

  // Kills the command at up to `samples` points spread over all it passes, then lets it end.
  // `perTask`: a command over several tasks may stop between them; each task must still be
  // as before or as after, whole, and there once.
  void Exercise(const QString& command, const Found& before, const Found& after, bool perTask = false) {
    QVERIFY(CopyFolder(seed_.path(), work_.path()));
    const ChildRun full = Start(command, 0, work_.path());
    QVERIFY2(full.ended, qPrintable(full.output));
    QVERIFY2(full.tasks == after, qPrintable(command + QStringLiteral(" ended with ") + Describe(full.tasks)));
    QVERIFY2(full.points > 0, qPrintable(command + QStringLiteral(" passed no write")));
    const quint64 samples = 8;
    QList<quint64> points;
    for (quint64 i = 0; i < samples; ++i) {
      const quint64 p = 1 + i * (full.points - 1) / (samples - 1);
      if (points.isEmpty() || points.last() != p) points << p;
    }
    for (quint64 p : points) {
      QVERIFY(CopyFolder(seed_.path(), work_.path()));
      const ChildRun killed = Start(command, p, work_.path());
      ++rounds_;
      const QString when = command + QStringLiteral(" killed at point %1 of %2").arg(p).arg(full.points);
      QVERIFY2(killed.killed, qPrintable(when + QStringLiteral(": the child was not killed: ") + killed.output));
      // The program starts on what the kill left, and finds the tasks before or after, whole.
      const ChildRun reopened = Start(QStringLiteral("open"), 0, work_.path());
      if (!reopened.ended) ++unopened_;
      QVERIFY2(reopened.ended, qPrintable(when + QStringLiteral(": the program did not start: ") + reopened.output));
      bool whole = reopened.tasks == before || reopened.tasks == after;
      if (perTask && !whole) {
        whole = reopened.tasks.size() == after.size() || reopened.tasks.size() == before.size();
        for (const auto& [name, copies] : reopened.tasks) {
          const auto b = before.find(name), a = after.find(name);
          whole = whole && ((b != before.end() && b->second == copies) || (a != after.end() && a->second == copies));
        }
      }
      if (!whole) ++mixed_;
      QVERIFY2(whole, qPrintable(when + QStringLiteral(": found ") + Describe(reopened.tasks)));
      QString check;
      if (!CheckPasses(work_.path(), &check)) ++unchecked_;
      QVERIFY2(CheckPasses(work_.path(), &check), qPrintable(when + QStringLiteral(": ") + check));
    }
    qInfo("%s: %lld kill rounds over %llu points", qPrintable(command), static_cast<long long>(points.size()),
          static_cast<unsigned long long>(full.points));
  }

 private slots:
  void initTestCase() {
    const ChildRun seeded = Start(QStringLiteral("seed"), 0, seed_.path());
    QVERIFY2(seeded.ended, qPrintable(seeded.output));
    QVERIFY2(seeded.tasks == Seeded(), qPrintable(Describe(seeded.tasks)));
  }
  void cleanupTestCase() {
    qInfo("kill rounds inside saves: %d, start failures %d, tasks mixed/lost/doubled %d, checks failed %d",
          rounds_, unopened_, mixed_, unchecked_);
  }

  void newTask() {
    Found after = Seeded();
    after["KILL-NEW"] << Entry("fresh", "note of KILL-NEW!", false);
    Exercise("new", Seeded(), after);
  }
  void editTask() {
    Found after = Seeded();
    after["TASK-3"] = QStringList{Entry("edited", "edited note", false)};
    Exercise("edit", Seeded(), after);
  }
  void deleteTask() {
    Found after = Seeded();
    after["TASK-4"] = QStringList{Entry("k4", "note of TASK-4", true)};
    Exercise("delete", Seeded(), after);
  }
  void notePane() {
    Found after = Seeded();
    after["TASK-5"] = QStringList{Entry("k5", "pane note", false)};
    Exercise("pane", Seeded(), after);
  }
  void bulkDelete() {
    Found after = Seeded();
    after["TASK-7"] = QStringList{Entry("k7", "note of TASK-7", true)};
    after["TASK-8"] = QStringList{Entry("k8", "note of TASK-8", true)};
    Exercise("bulk", Seeded(), after, true);
  }
  void undoDelete() {
    Found before = Seeded();
    before["TASK-7"] = QStringList{Entry("k7", "note of TASK-7", true)};
    before["TASK-8"] = QStringList{Entry("k8", "note of TASK-8", true)};
    Exercise("undo", before, Seeded(), true);
  }
  void rebuildIndexes() {
    Found after = Seeded();
    after.erase("TASK-6");
    Exercise("rebuild", Seeded(), after);
  }
};

int main(int argc, char* argv[]) {
  if (argc == 5 && std::strcmp(argv[1], "--child") == 0) {
    QApplication app(argc, argv);
    if (std::strcmp(argv[2], "open") == 0) {
      RecordedMessages quiet;
      UserMessages::Install(&quiet);
      StoreHelpers::SetDataDirectory(QString::fromLocal8Bit(argv[4]));
      std::unique_ptr<TMainScreen> w = OpenMainScreen({}, QString::fromLocal8Bit(argv[4]));
      if (!w) {
        std::printf("the program did not open\n");
        return 3;
      }
      PrintTable(QString::fromLocal8Bit(argv[4]));
      std::fflush(stdout);
      std::_Exit(0);
    }
    return RunChild(QString::fromLocal8Bit(argv[2]), std::strtoull(argv[3], nullptr, 10), QString::fromLocal8Bit(argv[4]));
  }
  QCoreApplication app(argc, argv);
  SaveKillTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_SaveKill.moc"
