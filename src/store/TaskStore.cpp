#include "store/TaskStore.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QRegularExpression>

#include <memory>

#include "db/CursorLayer.h"
#include "db/TaskFileNames.h"
#include "platform/UserMessages.h"
#include "store/StoreHelpers.h"
#include "store/TRebuildInd.h"
#include "store/WindowPlacement.h"
#include "sync/PackIdentityGuard.h"

namespace {

// Lets the window repaint during long steps, not more often than every 30 ms.
void ProcessMessages(bool now = false) {
  static QElapsedTimer since;
  if (now || !since.isValid() || since.elapsed() >= 30) {
    since.restart();
    QCoreApplication::processEvents();
  }
}

bool Exists(const char* bareName) { return QFile::exists(TaskStore::StoredName(bareName)); }

// Removes a file under both spellings of its extension: an index (rebuilt from the table) or a
// stale backup.
void RemoveBothSpellings(const char* bareName) {
  const QString used = TaskStore::StoredName(bareName);
  QFile::remove(used);
  const QString other = TaskStore::StoredName(bareName);
  if (other != used) QFile::remove(other);
}

// The backup of a task file keeps the spelling of its extension, so it is found again under it
// and goes back under the name it had.
QString RenamedStem(const QString& path, const char* stem) {
  return TaskStore::FileName(stem) + QLatin1Char('.') + QFileInfo(path).suffix();
}

// What stands in place of a task file when it is not a regular file (a named pipe would block
// every open of it for ever, before any window shows): its kind, or "" when the name is a
// regular file, a link to one, or nothing.
QString NotAFile(const QString& name) {
  struct stat st;
  const QByteArray path = QFile::encodeName(name);
  if (::stat(path.constData(), &st) != 0 || S_ISREG(st.st_mode)) return QString();
  if (S_ISFIFO(st.st_mode)) return QStringLiteral("a named pipe");
  if (S_ISDIR(st.st_mode)) return QStringLiteral("a folder");
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return QStringLiteral("a device");
  return QStringLiteral("not a regular file");
}

}  // namespace

TaskStore::TaskStore(QObject* parent) : QObject(parent) {
  // The table layer has no windows of its own: what it has to tell the user is shown here.
  CursorLayer::SetReporter(
      [](const QString& text) { UserMessages::Current().Information(QStringLiteral("Information"), text); });
  TasqTable.setObjectName(QStringLiteral("TasqTable"));
  TasqTable.SetTableName(QStringLiteral("LWISE.DBF"));
  TasqDataSource.setObjectName(QStringLiteral("TasqDataSource"));
  TasqDataSource.SetDataSet(&TasqTable);
  TasqEngine.setObjectName(QStringLiteral("TasqEngine"));
  TasqEngine.SetDataSource(&TasqDataSource);
  EngineEnv1.setObjectName(QStringLiteral("EngineEnv1"));
  ModTable.setObjectName(QStringLiteral("ModTable"));
  ModDataSource.setObjectName(QStringLiteral("ModDataSource"));
  ModDataSource.SetDataSet(&ModTable);
  ModEngine.setObjectName(QStringLiteral("ModEngine"));
  ModEngine.SetDataSource(&ModDataSource);
}

TaskStore::~TaskStore() {
  try {
    TasqTable.Close();
    ModTable.Close();
  } catch (const EDatabaseError&) {
  }
}

QString TaskStore::FileName(const char* bareName) {
  return StoreHelpers::DataDirectory() + QString::fromLatin1(bareName);
}

QString TaskStore::CompanionFile(const QString& dbfPath, const char* ext) {
  return TaskFileNames::Companion(dbfPath, QString::fromLatin1(ext));
}

QString TaskStore::StoredName(const char* bareName) {
  return TaskFileNames::Stored(StoreHelpers::DataDirectory(), QString::fromLatin1(bareName));
}

QStringList TaskStore::DoubleSpelled() {
  return TaskFileNames::DoubleSpelled(StoreHelpers::DataDirectory());
}

void TaskStore::NameTaskTable() {
  TasqTable.SetDatabaseName(StoreHelpers::DataDirectory());
  TasqTable.SetTableName(QFileInfo(StoredName("LWISE.DBF")).fileName());
}

void TaskStore::UpdateStatus(const QString& text) {
  if (statusLabel_) statusLabel_->setText(text);
  ProcessMessages(true);
}

// ---- Opening --------------------------------------------------------------------------------

bool TaskStore::OpenTaskStore(bool maintenance) {
  for (const char* name : {"LWISE.DBF", "LWISE.FPT", "LWISE.CDX"}) {
    const QString kind = NotAFile(StoredName(name));
    if (kind.isEmpty()) continue;
    UserMessages::ShowInformation(QStringLiteral("Unable to open the Tasq file: %1 in %2 is %3, not a file.\r"
                                                 "Move it out of the folder and start the program again.")
                                      .arg(QFileInfo(StoredName(name)).fileName(), StoreHelpers::DataDirectory(), kind));
    return false;
  }
  // A task file under both spellings: the program, like the other tools, uses the one with the
  // lower-case extension. The other may hold notes the user wants, so it is left alone and
  // named, every time, until the user moves it away.
  for (const QString& pair : DoubleSpelled())
    UserMessages::ShowInformation(QStringLiteral("Both %1 are in %2.\rThe program uses the first; the second is left "
                                                 "untouched.\rMove one of them out of the folder.")
                                      .arg(pair, StoreHelpers::DataDirectory()));
  TasqTable.Close();
  NameTaskTable();
  if (!Exists("LWISE.DBF") && !CreateTaskTable()) {
    UserMessages::ShowInformation(QStringLiteral("Unable to open or create LWISE.DBF"));
    return false;
  }
  if (IsOldLayout(TasqTable)) {
    UserMessages::ShowInformation(QStringLiteral(
        "This version of LWS uses a new file structure\rwith the new PRIORITY field.\rYour existing data files "
        "are from an older version.\r\rThe program will now attempt to update the\rfiles to the new version. "
        "The old files\rwill be saved as LWBAK.DBF and LWBAK.FPT"));
    if (UpgradeTaskFiles()) {
      UserMessages::ShowInformation(QStringLiteral("File update was successful"));
    } else {
      UserMessages::ShowInformation(QStringLiteral("There was an error updating the files."));
      // The old files are back in place (or kept as the backup): the program cannot work on a
      // table without PRIORITY, so it must not go on as if it could.
      NameTaskTable();  // the old table is back under its own name, not the new table's
      if (!Exists("LWISE.DBF") || IsOldLayout(TasqTable)) return false;
    }
  }
  UpdateStatus(QStringLiteral("Opening files..."));
  TasqTable.Close();
  TasqTable.SetExclusive(maintenance);
  try {
    TasqTable.Open();
    // An index file that the engine could not read or cannot trust (damaged headers, a tree
    // that lost its shape, such as a page of zeros) is opened without its tags: it is rebuilt
    // like a missing one rather than leaving the program without its orders.
    if (!Exists("LWISE.CDX") || !HasAllTags()) {
      UpdateStatus(QStringLiteral("Creating indexes..."));
      TasqTable.Close();
      TasqTable.SetExclusive(true);
      TasqTable.Open();
      RunRebuild(false);
      TasqTable.Close();
      TasqTable.SetExclusive(maintenance);
      TasqTable.Open();
    }
    TasqEngine.SelectOrder(TasqEngine.TagOrder(QStringLiteral("DATETIME")));
    TasqEngine.EngineProperty(1303, 3);
    TasqTable.First();
    return true;
  } catch (const EDatabaseError&) {
    TasqTable.Close();
    TasqTable.SetExclusive(maintenance);
    UserMessages::ShowInformation(
        maintenance ? QStringLiteral("Unable to open the Tasq file (LWISE.DBF) for reindexing.\rThe file may be in "
                                     "use by another user")
                    : QStringLiteral("Unable to open the Tasq file: LWISE.DBF"));
    return false;
  }
}

bool TaskStore::HasAllTags() {
  for (const char* tag : {"DATETIME", "DESCRIPT", "DONE", "KEYS", "PRIORITY"})
    if (TasqEngine.TagOrder(QString::fromLatin1(tag)) <= 0) return false;
  return true;
}

bool TaskStore::CreateTaskTable() {
  if (!TasqEngine.CreateTable(StoredName("LWISE.DBF"), 2, 7)) return false;
  TasqEngine.DefineField(QStringLiteral("DATE"), QStringLiteral("C"), 8, 0);
  TasqEngine.DefineField(QStringLiteral("TIME"), QStringLiteral("C"), 5, 0);
  TasqEngine.DefineField(QStringLiteral("DESCRIPT"), QStringLiteral("C"), 50, 0);
  TasqEngine.DefineField(QStringLiteral("NOTE"), QStringLiteral("M"), 10, 0);
  TasqEngine.DefineField(QStringLiteral("DONE"), QStringLiteral("L"), 1, 0);
  TasqEngine.DefineField(QStringLiteral("KEYS"), QStringLiteral("C"), 60, 0);
  TasqEngine.DefineField(QStringLiteral("PRIORITY"), QStringLiteral("C"), 1, 0);
  return TasqEngine.CommitCreate() && Exists("LWISE.DBF");
}

bool TaskStore::IsOldLayout(TableDataSet& table) {
  try {
    table.Close();
    table.UpdateFieldDefs();
  } catch (const EDatabaseError&) {
    return false;
  }
  auto has = [&](const char* name) {
    for (const FieldDesc& f : table.FieldDefs())
      if (f.name.compare(QLatin1String(name), Qt::CaseInsensitive) == 0) return true;
    return false;
  };
  if (!has("DATE") || !has("TIME")) return false;
  return has("DESCRIPT") && has("NOTE") && has("DONE") && has("KEYS") && !has("PRIORITY");
}

bool TaskStore::OpenBackupTable() {
  ModTable.Close();
  ModTable.SetDatabaseName(StoreHelpers::DataDirectory());
  ModTable.SetTableName(QFileInfo(StoredName("LWBAK.DBF")).fileName());
  if (!Exists("LWBAK.DBF")) return false;
  try {
    ModTable.Close();
    ModTable.SetExclusive(true);
    ModTable.Open();
    return true;
  } catch (const EDatabaseError&) {
    return false;
  }
}

void TaskStore::RunRebuild(bool packToo) {
  // Task identities for the sync follow their records through the pack (docs/sync.md).
  std::unique_ptr<PackIdentityGuard> identities;
  if (packToo) identities = std::make_unique<PackIdentityGuard>(StoredName("LWISE.DBF"), TasqTable.CursorHandle());
  TRebuildInd dialog(&TasqTable, &TasqEngine,
                     CompanionFile(StoreHelpers::DataDirectory() + TasqTable.TableName(), "CDX"), dialogParent_);
  dialog.SetPackToo(packToo);
  WindowPlacement::PlaceDialog(&dialog);
  dialog.exec();
  if (dialog.Failed()) throw EDatabaseError(dialog.Failure());
}

// ---- Upgrade ----------------------------------------------------------------------------------

bool TaskStore::RestoreOldFiles() {
  // Put the old files back under their names; the partial new files go. Only when both old
  // files are safely back is the backup given up, so no step can lose an old task.
  try {
    TasqTable.Close();
    ModTable.Close();
  } catch (const EDatabaseError&) {
  }
  const bool dataBacked = Exists("LWBAK.DBF");
  const bool memoBacked = Exists("LWBAK.FPT");
  bool ok = true;
  if (dataBacked) {
    const QString backup = StoredName("LWBAK.DBF");
    QFile::remove(StoredName("LWISE.DBF"));  // the partial new table, if it was made
    ok = QFile::rename(backup, RenamedStem(backup, "LWISE")) && ok;
  }
  if (memoBacked) {
    const QString backup = StoredName("LWBAK.FPT");
    QFile::remove(StoredName("LWISE.FPT"));
    ok = QFile::rename(backup, RenamedStem(backup, "LWISE")) && ok;
  }
  RemoveBothSpellings("LWISE.CDX");
  if (!ok)
    UserMessages::ShowInformation(QStringLiteral("The old task files are kept as LWBAK.DBF and LWBAK.FPT in ") +
                                  StoreHelpers::DataDirectory());
  return ok;
}

bool TaskStore::UpgradeTaskFiles() {
  UpdateStatus(QStringLiteral("Backing up old TASQ Files..."));
  TasqTable.DisableControls();
  bool result = false;
  bool backedUp = false;
  [&] {
    try {
      TasqTable.Close();
      ModTable.Close();
    } catch (const EDatabaseError&) {
    }
    RemoveBothSpellings("LWBAK.DBF");
    RemoveBothSpellings("LWBAK.FPT");  // a stale backup of an earlier failed upgrade, not the notes in use
    RemoveBothSpellings("LWISE.CDX");
    // A stale backup that could not go would be taken for the real one if a later step failed,
    // and put back in place of the tasks: better not to start.
    if (Exists("LWBAK.DBF") || Exists("LWBAK.FPT")) {
      UserMessages::ShowInformation(QStringLiteral("Unable to rename old LWISE.* files"));
      return;
    }
    const QString memo = StoredName("LWISE.FPT");
    if (!StepAllowed(UpgradeStep::RenameMemo) || !QFile::rename(memo, RenamedStem(memo, "LWBAK"))) {
      UserMessages::ShowInformation(QStringLiteral("Unable to rename old LWISE.* files"));
      return;
    }
    backedUp = true;
    ProcessMessages(true);
    const QString table = StoredName("LWISE.DBF");
    if (!StepAllowed(UpgradeStep::RenameData) || !QFile::rename(table, RenamedStem(table, "LWBAK"))) {
      UserMessages::ShowInformation(QStringLiteral("Unable to rename old LWISE.* files"));
      return;
    }
    if (!Exists("LWBAK.DBF") || !Exists("LWBAK.FPT")) {
      UserMessages::ShowInformation(QStringLiteral("Unable to rename old LWISE.* files"));
      return;
    }
    UpdateStatus(QStringLiteral("Creating new style TASQ Files..."));
    if (!StepAllowed(UpgradeStep::Create) || !CreateTaskTable()) {
      UserMessages::ShowInformation(QStringLiteral("Unable to create new LWISE.* files"));
      return;
    }
    if (!StepAllowed(UpgradeStep::Open) || !OpenTaskStore(true)) {
      UserMessages::ShowInformation(QStringLiteral("Unable to open new LWISE.* files"));
      return;
    }
    TasqEngine.SelectOrder(0);
    if (!StepAllowed(UpgradeStep::OpenBackup) || !OpenBackupTable()) {
      UserMessages::ShowInformation(QStringLiteral("Unable to append records from old LWISE.* files"));
      return;
    }
    result = CopyOldTasks();
  }();
  TasqTable.EnableControls();
  try {
    TasqTable.Close();
    ModTable.Close();
  } catch (const EDatabaseError&) {
  }
  if (!result && backedUp) RestoreOldFiles();
  return result;
}

bool TaskStore::CopyOldTasks() {
  try {
    UpdateStatus(QStringLiteral("Appending from old style TASQ Files..."));
    // One sync at the end for the whole copy: a failure anywhere fails the upgrade, and the
    // old files are put back.
    TasqTable.SetSyncEachPost(false);
    struct SyncAgain {
      TableDataSet& table;
      ~SyncAgain() { table.SetSyncEachPost(true); }
    } syncAgain{TasqTable};
    ModTable.First();
    long count = 0;
    while (!ModTable.Eof() && !ModTable.IsEmpty()) {
      if (!StepAllowed(UpgradeStep::Append)) throw EDatabaseError(QStringLiteral("append refused"));
      TasqTable.Append();
      TasqTable.FieldByName(QStringLiteral("PRIORITY"))->SetAsString(QStringLiteral("B"));
      TasqTable.FieldByName(QStringLiteral("DATE"))->SetAsString(ModTable.FieldByName(QStringLiteral("DATE"))->AsString());
      TasqTable.FieldByName(QStringLiteral("TIME"))->SetAsString(ModTable.FieldByName(QStringLiteral("TIME"))->AsString());
      TasqTable.FieldByName(QStringLiteral("DESCRIPT"))
          ->SetAsString(ModTable.FieldByName(QStringLiteral("DESCRIPT"))->AsString());
      TasqTable.FieldByName(QStringLiteral("DONE"))->SetAsBoolean(ModTable.FieldByName(QStringLiteral("DONE"))->AsBoolean());
      TasqTable.FieldByName(QStringLiteral("KEYS"))->SetAsString(ModTable.FieldByName(QStringLiteral("KEYS"))->AsString());
      // The note goes through the memo's lines, as the old program carried it: a note whose
      // length is a multiple of four gains one blank at the end of its last line.
      const QString note = ModTable.FieldByName(QStringLiteral("NOTE"))->AsString();
      static const QRegularExpression kBreak(QStringLiteral("\r\n|\r|\n"));
      TempMemo = note.isEmpty() ? QStringList() : note.split(kBreak);
      const bool trailingBreak = TempMemo.size() > 1 && TempMemo.last().isEmpty();
      if (trailingBreak) TempMemo.removeLast();
      const QString joined = TempMemo.join(QStringLiteral("\r\n"));
      if (!TempMemo.isEmpty() && joined.size() > 0 && joined.size() % 4 == 0) TempMemo.last() += QLatin1Char(' ');
      QString text = TempMemo.join(QStringLiteral("\r\n"));
      if (trailingBreak) text += QStringLiteral("\r\n");
      TasqTable.FieldByName(QStringLiteral("NOTE"))->SetAsString(text);
      TasqTable.Post();
      if (TasqTable.State() == TableDataSet::dsEdit || TasqTable.State() == TableDataSet::dsInsert) TasqTable.Post();
      ModTable.Next();
      ++count;
      if (statusLabel_) statusLabel_->setText(QStringLiteral("Appended %1 old TASQ records...").arg(count));
      ProcessMessages();
    }
    TasqTable.Commit();
    return true;
  } catch (const EDatabaseError&) {
    UserMessages::ShowInformation(QStringLiteral("Unknown error while appending records from old LWISE.* files"));
    return false;
  }
}
