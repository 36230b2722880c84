#include "app/ICalCommands.h"

#include "app/KeyWordList.h"
#include "platform/UserMessages.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QHash>
#include <QMenu>
#include <QSet>

#include "db/EDatabaseError.h"
#include "db/TableDataSet.h"
#include "dialogs/TaskEditorTextGuard.h"
#include "store/StoreHelpers.h"
#include "sync/ICalFile.h"
#include "sync/TaskIdentity.h"
#include "sync/TaskRecordFields.h"

namespace {

constexpr auto kFilter = "iCalendar files (*.ics);;All files (*)";
// A long list of skipped tasks would make a box taller than the screen.
constexpr int kReasonsShown = 10;

QString NameOf(const QString& summary) {
  return summary.isEmpty() ? QStringLiteral("A task without a summary") : QLatin1Char('"') + summary + QLatin1Char('"');
}

// The identities of the tasks, brought in step with the table; an empty map when the identity
// table cannot be used (the export then gives fresh UIDs, which loses nothing).
QHash<quint32, QString> UidsOf(const QString& dataDirectory, const QString& tableName) {
  QHash<quint32, QString> uids;
  const QString path = dataDirectory + tableName;
  std::vector<TaskSlot> records;
  TableStamp stamp;
  QString error;
  TaskIdentity identity;
  if (!ReadTaskTable(path, &records, &stamp, &error) || !identity.Open(path, &error) ||
      !identity.Reconcile(records, stamp, nullptr, &error))
    return uids;
  for (const IdentityRow& row : identity.Rows())
    if (row.recno != 0) uids.insert(row.recno, row.uid);
  return uids;
}

}  // namespace

void ICalCommands::AddMenuItems(QMenu* file, const Target& target) {
  QAction* exportItem = file->addAction(QStringLiteral("&Export to iCalendar..."));
  exportItem->setObjectName(QStringLiteral("ExporttoiCalendar1"));
  QObject::connect(exportItem, &QAction::triggered, target.window, [target] { ExportClick(target); });
  QAction* importItem = file->addAction(QStringLiteral("&Import from iCalendar..."));
  importItem->setObjectName(QStringLiteral("ImportfromiCalendar1"));
  QObject::connect(importItem, &QAction::triggered, target.window, [target] { ImportClick(target); });
}

QString ICalCommands::ExportView(TableDataSet& table, const QString& dataDirectory, const QString& path, int* written) {
  *written = 0;
  if (!table.Active()) return QStringLiteral("The task list is not open.");
  try {
    table.CheckBrowseMode();  // a pending edit of the note goes in first
  } catch (const EDatabaseError& e) {
    return e.Message();
  }
  const QHash<quint32, QString> uids = UidsOf(dataDirectory, table.TableName());
  std::vector<ICalFile::Entry> entries;
  const quint32 here = table.GetBookmark();
  table.DisableControls();
  try {
    for (table.First(); !table.Eof() && !table.IsEmpty(); table.Next())
      entries.push_back({ReadCurrentTask(table), uids.value(quint32(table.RecNo()))});
  } catch (const EDatabaseError& e) {
    if (here != 0 && table.BookmarkValid(here)) table.GotoBookmark(here);
    table.EnableControls();
    return e.Message();
  }
  if (here != 0 && table.BookmarkValid(here)) table.GotoBookmark(here);
  table.EnableControls();
  const QString error = ICalFile::Save(path, entries);
  if (error.isEmpty()) *written = int(entries.size());
  return error;
}

ICalCommands::ImportResult ICalCommands::ImportFile(TableDataSet& table, const QString& path, KeyWordList* keyWords) {
  ImportResult result;
  const ICalFileContents contents = ICalFile::Read(path);
  if (!contents.error.isEmpty()) {
    result.error = contents.error;
    return result;
  }
  for (const ICalSkip& skip : contents.skipped) {
    const QString why = skip.unstorable.isEmpty() ? skip.problem : TaskEditorTextGuard::RefusalMessage(skip.unstorable);
    result.skipped << NameOf(skip.summary) + QStringLiteral(": ") + why;
  }
  if (contents.tasks.empty()) return result;
  try {
    table.CheckBrowseMode();
  } catch (const EDatabaseError& e) {
    result.error = e.Message();
    return result;
  }
  // A task the list already holds, field for field, is not added again: importing a file a
  // second time (after an import that was stopped, say) does not double its tasks.
  QSet<QString> present;
  {
    std::vector<TaskSlot> records;
    TableStamp stamp;
    QString error;
    if (!ReadTaskTable(QDir(table.DatabaseName()).filePath(table.TableName()), &records, &stamp, &error)) {
      result.error = error;
      return result;
    }
    for (const TaskSlot& slot : records)
      if (!slot.deleted) present.insert(slot.task.Fingerprint());
  }
  table.DisableControls();
  for (const ICalImport& item : contents.tasks) {
    const TaskRecord& t = item.task;
    if (present.contains(t.Fingerprint())) {
      result.skipped << NameOf(item.summary) + QStringLiteral(": The task list holds it already.");
      continue;
    }
    try {
      table.Append();
      WriteCurrentTask(table, t);
      table.Post();
    } catch (const EDatabaseError& e) {
      // The task that failed is not half there: its insert is given up.
      try {
        table.Cancel();
      } catch (const EDatabaseError&) {
      }
      result.error = QStringLiteral("%1 could not be added: %2").arg(NameOf(item.summary), e.Message());
      break;
    }
    ++result.added;
    if (keyWords != nullptr) keyWords->AddWordsOf(t.keys);
  }
  table.EnableControls();
  return result;
}

QString ICalCommands::ImportMessage(const ImportResult& result) {
  QStringList lines;
  if (!result.error.isEmpty() && result.added == 0 && result.skipped.isEmpty()) return result.error;
  lines << (result.added == 1 ? QStringLiteral("1 task was added.") : QStringLiteral("%1 tasks were added.").arg(result.added));
  if (!result.skipped.isEmpty()) {
    lines << (result.skipped.size() == 1 ? QStringLiteral("1 task was skipped:")
                                         : QStringLiteral("%1 tasks were skipped:").arg(result.skipped.size()));
    for (qsizetype i = 0; i < result.skipped.size() && i < kReasonsShown; ++i) lines << result.skipped[i];
    if (result.skipped.size() > kReasonsShown)
      lines << QStringLiteral("... and %1 more.").arg(result.skipped.size() - kReasonsShown);
  }
  if (!result.error.isEmpty()) lines << QString() << QStringLiteral("The import stopped: ") + result.error;
  return lines.join(QLatin1Char('\n'));
}

void ICalCommands::ExportClick(const Target& target) {
  const QString path = QFileDialog::getSaveFileName(target.window, QStringLiteral("Export to iCalendar"),
                                                    StoreHelpers::ExportDirectory() + QStringLiteral("tasks.ics"),
                                                    QString::fromLatin1(kFilter));
  if (path.isEmpty()) return;
  int written = 0;
  const QString error = ExportView(*target.table, StoreHelpers::DataDirectory(), path, &written);
  UserMessages::ShowInformation(error.isEmpty() ? (written == 1 ? QStringLiteral("1 task was exported.")
                                                                 : QStringLiteral("%1 tasks were exported.").arg(written))
                                                : error);
}

void ICalCommands::ImportClick(const Target& target) {
  const QString path = QFileDialog::getOpenFileName(target.window, QStringLiteral("Import from iCalendar"),
                                                    StoreHelpers::ExportDirectory(), QString::fromLatin1(kFilter));
  if (path.isEmpty()) return;
  target.table->SetTag(-1);  // busy: the grid computes no display texts meanwhile
  const ImportResult result = ImportFile(*target.table, path, target.keyWords);
  target.table->SetTag(0);
  if (target.imported) target.imported();
  UserMessages::ShowInformation(ImportMessage(result));
}
