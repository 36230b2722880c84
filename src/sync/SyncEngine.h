#pragma once

#include <QMultiHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

#include "sync/CalDavClient.h"
#include "sync/TaskIdentity.h"
#include "sync/TaskTableWriter.h"

// What one sync did, counted for the result message.
struct SyncResult {
  bool ok = false;
  bool cancelled = false;
  QString error;  // why the sync stopped (empty when it ran to the end)

  int received = 0;         // new tasks from the server
  int updated = 0;          // tasks changed here by the server's version
  int deletedHere = 0;      // tasks deleted here because they were deleted on the server
  int sent = 0;             // new tasks put on the server
  int sentChanges = 0;      // changed tasks put on the server
  int deletedThere = 0;     // tasks deleted on the server
  int conflicts = 0;        // changed on both sides: the server's version added beside ours
  int editsKept = 0;        // deleted on one side, edited on the other: the edit kept
  QStringList conflictTasks;  // descriptions of the conflict copies
  QStringList skipped;        // server tasks the task list cannot hold, with the reason

  bool Changed() const {
    return received + updated + deletedHere + sent + sentChanges + deletedThere + conflicts + editsKept > 0;
  }
  // The message for people: what happened, or why it stopped (and that nothing was lost).
  QString Message() const;
};

// Progress of a sync: a step name, and how far it is (done of total; total 0 = unknown).
// Returns false to cancel; the sync then stops at the next request.
using SyncProgress = std::function<bool(const QString& step, int done, int total)>;

// Two-way sync of the task table of one data folder with one task collection of a CalDAV
// server (docs/sync.md). Every change on either side is recorded in the identity table right
// after it is made, and the server's sync token is stored last, so a sync stopped at any
// instant is carried on by the next one without losing or doubling a task.
class SyncEngine {
 public:
  // `dbfPath`: the task table (LWISE.DBF); `collection`: the collection's href on the server.
  SyncEngine(const QString& dbfPath, CalDavClient* client, const QString& collection);
  ~SyncEngine();

  void SetProgress(SyncProgress progress) { progress_ = std::move(progress); }
  SyncResult Run();

 private:
  struct ServerChanges {
    std::vector<DavItem> changed;  // href + ETag
    QStringList removed;
    QString token;
  };
  bool Prepare();
  bool FetchChanges(ServerChanges* changes);
  bool ApplyServerItem(const DavItem& item);
  bool ApplyServerRemoval(const QString& href);
  bool SendLocalChanges();
  bool SendNew(const IdentityRow& row, const TaskSlot& slot);
  bool SendChange(const IdentityRow& row, const TaskSlot& slot);
  // After a PUT the server took: the row records the resource's ETag (fetched when the server
  // did not say it) and the content it now holds; `counter` counts the task in the result.
  bool RecordSent(IdentityRow row, QString etag, int* counter);
  bool SendDeletion(const IdentityRow& row);

  // Local table helpers: each keeps slots_ in step with the file.
  bool AppendTask(const TaskRecord& task, uint32_t* recno);
  bool ReplaceTask(uint32_t recno, const TaskRecord& task);
  bool DeleteTask(uint32_t recno);
  const TaskSlot* Slot(uint32_t recno) const;
  bool LiveRecord(const IdentityRow& row) const;
  // A task of ours with that content that the server does not know yet: a copy made by a sync
  // that was stopped before it recorded the link.
  const IdentityRow* Unlinked(const QString& fingerprint, const QString& uid) const;
  bool Put(const IdentityRow& row);
  bool Fail(const QString& message);
  bool Fail(const DavError& error);
  bool Step(const QString& step, int done, int total);

  QString dbfPath_;
  CalDavClient* client_;
  QString collection_;
  SyncProgress progress_;
  TaskIdentity identity_;
  TaskTableWriter table_;
  std::vector<TaskSlot> slots_;
  QMultiHash<QString, QString> unlinked_;  // fingerprint -> UID of tasks the server never had
  SyncResult result_;
  bool skippedAny_ = false;
};
