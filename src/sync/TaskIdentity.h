#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "sync/TaskRecord.h"

namespace xb {
class Table;
}

// One record of the task table as a snapshot: its number, its deletion mark and its fields.
struct TaskSlot {
  uint32_t recno = 0;
  bool deleted = false;
  TaskRecord task;
};

// Which file the task table was, and how many records it had: a pack by another program
// changes one or the other.
struct TableStamp {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint32_t recordCount = 0;
  bool operator==(const TableStamp&) const = default;
};

// Reads every record of the task table at `dbfPath` (opened shared, read only, beside the
// program's own open). False with `error` set when it cannot be read.
bool ReadTaskTable(const QString& dbfPath, std::vector<TaskSlot>* records, TableStamp* stamp,
                   QString* error);
// The stamp of the task table file as it is now (recordCount from the header).
bool StampOfTable(const QString& dbfPath, TableStamp* stamp, QString* error);

// The identity of one task for the outside world.
struct IdentityRow {
  uint32_t recno = 0;  // record number in the task table; 0 when the record is gone
  QString uid;         // stable iCalendar UID
  QString fprint;      // fingerprint of the record as last seen
  QString syncfp;      // fingerprint when it last matched the server; empty = never synced
  QString href;        // the server's address of the task's resource; empty = not on the server
  QString etag;        // the server's ETag at the last sync

  bool ChangedLocally() const { return fprint != syncfp; }
};

// The companion table LWSYNC.DBF beside the task table: a stable UID, fingerprints and the
// server's change marks for every task, without a new field in the task table (docs/sync.md).
// It is read whole when opened; every change is written through at once, one record per row.
class TaskIdentity {
 public:
  static constexpr const char* kFileName = "LWSYNC.DBF";

  TaskIdentity();
  ~TaskIdentity();
  TaskIdentity(const TaskIdentity&) = delete;
  TaskIdentity& operator=(const TaskIdentity&) = delete;

  // Opens the companion of the task table at `taskTablePath` (creating it when missing). A pack
  // of ours that was stopped midway is settled here (applied or dropped, by the task table's
  // record count). A companion table that cannot be read is set aside (renamed .BAD) and made
  // again: identities can be found again by content, the tasks themselves are not in it.
  bool Open(const QString& taskTablePath, QString* error);
  void Close();
  bool IsOpen() const;
  QString Path() const;

  struct ReconcileResult {
    int added = 0;    // live records that got a new row
    int moved = 0;    // rows matched to another record number
    int gone = 0;     // rows whose record no longer exists
    bool rematched = false;  // a pack by another program was noticed
  };
  // Brings the rows in step with a snapshot of the whole task table (record 1 first, every
  // record, as ReadTaskTable gives it): new rows (fresh UIDs) for
  // live records without one, FPRINT refreshed, and after a pack by another program every row
  // matched again by content. Deleted records get no new row.
  bool Reconcile(const std::vector<TaskSlot>& table, const TableStamp& stamp,
                 ReconcileResult* result, QString* error);

  // Look-ups; null when there is no such row. Pointers stay valid until the next change.
  const IdentityRow* ForRecord(uint32_t recno) const;
  const IdentityRow* ForUid(const QString& uid) const;
  const IdentityRow* ForHref(const QString& href) const;
  // A row not on the server (no HREF) whose task has the fingerprint `fprint`: the local copy of
  // a server task whose row was not written before the program stopped, to be linked to the
  // server's resource again instead of adding the task a second time.
  const IdentityRow* ForUnlinkedPrint(const QString& fprint) const;
  std::vector<IdentityRow> Rows() const;
  size_t RowCount() const;

  // Stores the row (found by its UID; added when new), written through at once. A UID or href
  // longer than the table holds (254 bytes in UTF-8) is refused.
  bool Put(const IdentityRow& row, QString* error);
  // Changes the UID of a row (a local task that must be uploaded as a new resource).
  bool Rename(const QString& oldUid, const QString& newUid, QString* error);
  bool Remove(const QString& uid, QString* error);

  // The collection this table is in step with, and its sync token (or ctag).
  QString CollectionUrl() const;
  QString SyncToken() const;
  // Written last in a sync: a sync stopped earlier fetches the same changes again.
  bool SetCollectionState(const QString& url, const QString& token, QString* error);

  // Our own pack. Before it: `deleted[i]` is the deletion mark of record i + 1; every row learns
  // its record number after the pack. After it: the plan is applied when the task table has the
  // record count the plan expects, dropped otherwise. A program stopped between the two is
  // settled by the next Open.
  bool PreparePack(const std::vector<bool>& deleted, QString* error);
  bool FinishPack(const QString& taskTablePath, QString* error);

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

// The deletion marks of every record of the table open in the storage engine's work area
// `area` (record 1 first), for PreparePack while the program has the table open exclusively.
std::vector<bool> DeletionMarksOfArea(int area);
