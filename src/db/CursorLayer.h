#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "db/CursorTypes.h"

// The record-oriented cursor service that table datasets work through: databases (directory
// slots), tables opened as engine work areas, field descriptors, whole-record moves, field
// conversion inside record images, memos, orders, ranges and key searches. Every operation
// selects its cursor's work area, acts, and selects the previously current area again, so the
// callers never see the engine's current area change. Results are statuses (0 = success).
//
// A cursor is the engine work area number; the layer keeps one descriptor per open area.
class CursorLayer {
 public:
  static constexpr int kMaxDatabases = 199;
  static constexpr int kMaxPath = 254;
  static constexpr int kMaxAreas = 256;

  static CursorLayer& Instance();

  // Where the layer's messages for the user go (an engine too old, too many databases open, a
  // field type it cannot read). The layer shows nothing itself: the program installs a
  // reporter that does; until one is installed the messages are dropped.
  using Reporter = std::function<void(const QString& text)>;
  static void SetReporter(Reporter reporter);

  // ---- Engine connection: started by the first dataset that needs it, ended by the last ----
  int Acquire();   // starts the engine on the first call; the status of the start
  void Release();
  bool EngineStarted() const { return users_ > 0 && started_; }

  // ---- Databases ----
  int OpenDatabase(const QString& directory, int* handle);  // "" = the default directory
  int SetDirectory(int handle, const QString& path);
  int CloseDatabase(int handle);
  QString DatabasePath(int handle) const;

  // Gives up the read leases of the tables this layer opened shared (see OpenTable); the event
  // loop gives them up by itself once it gets control back. Call it before waiting for
  // another program without the event loop, or that program's changes wait for this one.
  static void ReleaseLeases();

  // ---- Tables ----
  int OpenTable(int database, const QString& tableName, const QString& driverName,
                const QString& indexName, bool readOnly, bool exclusive, int* cursor);
  int CloseTable(int cursor);
  int GetFieldDescs(int cursor, std::vector<FieldDesc>* fields);
  int GetCursorProps(int cursor, CursorProps* props);
  int GetIndexDescs(int cursor, std::vector<IndexDesc>* indexes);
  int DriverOf(int cursor) const;
  static int DriverCode(const QString& driverName);
  static QString AliasBase(const QString& tableName);

  // ---- Navigation ----
  int SetToBegin(int cursor);
  int SetToEnd(int cursor);
  int GetNextRecord(int cursor, bool lock, QByteArray* image, RecordInfo* info);
  int GetPriorRecord(int cursor, bool lock, QByteArray* image, RecordInfo* info);
  int GetRecord(int cursor, bool lock, QByteArray* image, RecordInfo* info);
  int GetBookmark(int cursor, quint32* bookmark);
  int SetToBookmark(int cursor, quint32 bookmark);
  int SetToCursor(int cursor, int other);
  // Goes to record `recno` and copies it; 8706 when there is no such record.
  int ReadRecord(int cursor, quint32 recno, QByteArray* image, RecordInfo* info);
  // Locks the record the engine stands on and copies it as it is stored now.
  int LockCurrent(int cursor, QByteArray* image, RecordInfo* info);

  // ---- Walks for the grid (no record images) ----
  // Records that navigation visits in the order and query in force.
  int CountVisible(int cursor, long* count);
  // From record `start` (0: the first record, or the last when `steps` < 0) moves `steps`
  // records; *landed is 0 when the walk left the table.
  int StepFrom(int cursor, quint32 start, long steps, quint32* landed);
  // Up to `count` record numbers from `start` (included) onwards in the order in force.
  int Collect(int cursor, quint32 start, int count, std::vector<quint32>* out);
  // Number of visible records before record `recno` in the order in force; -1 when the
  // record is not visible.
  int RowOf(int cursor, quint32 recno, long* row);
  // Every record in record-number order (marked ones too), its image handed to `visit`, which
  // returns false to stop. The position is left where it was.
  int ScanRecords(int cursor, const std::function<bool(quint32 recno, const QByteArray& image)>& visit);
  // The record numbers navigation visits in the order and query in force, first to last, until
  // `visit` returns false. No record image is copied.
  int WalkOrder(int cursor, const std::function<bool(quint32 recno)>& visit);

  // ---- Records ----
  int InitRecord(int cursor, QByteArray* image);
  // Appends `image` as a new record. When the record cannot be completed (its lock refused,
  // its image not stored) it is taken back before the failure is returned, so no blank or
  // half-written record is left for a retry to double.
  int InsertRecord(int cursor, bool lock, const QByteArray& image, RecordInfo* info);
  // Takes back record `recno`, appended by this cursor and not acknowledged to anyone: it
  // leaves the table when it is still the last record; when another program appended after
  // it, it is marked deleted instead, so it never passes for a task. Then the table is synced.
  int TakeBackInsert(int cursor, quint32 recno);
  // Forces the table's changes (records, memos, indexes) to the disk.
  int Commit(int cursor);
  int ModifyRecord(int cursor, const QByteArray& image, bool unlock);
  // Stores a whole record with new texts for some of its memo fields (by field number) in one
  // step: the texts go to fresh memo blocks first, then the record image, memo pointers and
  // all, is appended (`recno` 0; *appended gets its number) or written over record `recno`.
  // A program stopped at any moment leaves the old record with its old notes or the new one
  // with its new notes, never one without the other. Memo pointers of fields not listed are
  // written as `image` holds them (blank for an append).
  int StoreRecord(int cursor, quint32 recno, const QByteArray& image, const std::map<int, QString>& memos,
                  quint32* appended);
  int DeleteRecord(int cursor);
  int RecallRecord(int cursor);
  int ReleaseRecordLock(int cursor, bool all);

  // ---- Fields (converted inside the image, no engine call except for variable fields) ----
  int GetField(int cursor, int fieldNumber, const QByteArray& image, QVariant* value, bool* blank);
  int PutField(int cursor, int fieldNumber, QByteArray* image, const QVariant& value);

  // ---- Memos (of the record the engine stands on) ----
  int GetBlobSize(int cursor, int fieldNumber, long* size);
  // The memo of the current record. A memo that cannot be read gives kCursorMemoUnreadable
  // and an empty text; the user is told once per record and field while the table is open.
  int GetBlob(int cursor, int fieldNumber, QString* text);
  int PutBlob(int cursor, int fieldNumber, const QString& text, long length = -1);

  // ---- Orders, ranges, keys ----
  int SwitchToIndex(int cursor, const QString& indexName);
  int SetRange(int cursor, const QString& lowKey, const QString& highKey);
  int SetRangeFromImages(int cursor, const QByteArray* low, const QByteArray* high);
  int ResetRange(int cursor);
  int GetRecordForKey(int cursor, const QString& key, SearchMode mode);
  int GetRecordForImage(int cursor, const QByteArray& image, SearchMode mode);
  int ExtractKey(int cursor, const QByteArray* image, QString* key);
  int DropQuery(int cursor);

  // ---- Properties and unsupported operations ----
  int GetDatabaseType(QString* type);
  int GetProp(unsigned property);
  int Unsupported(const char* operation);

  static QString StatusText(int status);
  // The last engine message behind a failed status, for error reports.
  QString LastEngineMessage() const { return engineMessage_; }

  // Day counts of date fields: day 1 is 1 January of the year 1.
  static int DayCount(int year, int month, int day);
  static bool FromDayCount(int days, int* year, int* month, int* day);

 private:
  struct Cursor {
    std::vector<FieldDesc> fields;
    bool described = false;
    int recordSize = 0;
    int driver = 2;
    QByteArray image;
    std::set<std::pair<long, int>> unreadableTold;  // (record, field) of memos reported
  };

  CursorLayer() = default;
  Cursor* Find(int cursor);
  const Cursor* Find(int cursor) const;
  int Describe(int cursor, Cursor* c);
  int EngineStart();
  void EngineEnd();
  int CopyCurrent(int cursor, bool lock, QByteArray* image, RecordInfo* info);
  QString KeyFromImage(int cursor, const QByteArray& image);
  int Search(const QByteArray& key, SearchMode mode, bool fromText, long startRecno);
  void NoteEngineFailure();
  int EngineFailed();

  std::array<std::optional<QString>, kMaxDatabases + 1> databases_;
  std::array<std::unique_ptr<Cursor>, kMaxAreas + 1> cursors_;
  QString currentPath_;
  QByteArray scratch_;
  QString engineMessage_;
  int users_ = 0;
  bool started_ = false;
};
