#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "db/CursorTypes.h"
#include "db/EDatabaseError.h"
#include "db/DataSetField.h"

class DataSetSource;

// A table dataset: one table opened through the cursor layer, with its fields, a current
// record, the browse/edit/insert states and the moves the program's windows use. Failures
// raise EDatabaseError. The dataset keeps the record it stands on; the engine's position is
// set from it before every move, so other parties (the grid model, the table engine
// component) may move the engine in between.
class TableDataSet : public QObject {
  Q_OBJECT
 public:
  enum TTableType { ttDefault, ttParadox, ttDBase, ttASCII, ttXBNTX, ttXBFOX, ttXBXSX };
  enum TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert, dsCalcFields };

  explicit TableDataSet(QObject* parent = nullptr);
  ~TableDataSet() override;

  // ---- Properties ----
  QString DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const QString& name) { CheckInactive(); databaseName_ = name; }
  QString TableName() const { return tableName_; }
  void SetTableName(const QString& name) { CheckInactive(); tableName_ = name; }
  TTableType TableType() const { return tableType_; }
  void SetTableType(TTableType type) { CheckInactive(); tableType_ = type; }
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool on) { CheckInactive(); exclusive_ = on; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool on) { CheckInactive(); readOnly_ = on; }
  QString IndexName() const { return indexName_; }
  void SetIndexName(const QString& name);  // switches the order when open
  bool Active() const { return state_ != dsInactive; }
  void SetActive(bool on);
  // The program's busy marker; the dataset itself never reads it.
  int Tag() const { return tag_; }
  void SetTag(int tag) { tag_ = tag; }
  // The driver name the table type (or, for the default type, the extension) gives.
  QString DriverName() const;

  // ---- Fields ----
  // Calculated fields are defined before the table opens; data fields come from the table.
  void AddCalcField(const QString& name, FieldKind kind = FieldKind::String, int size = 50);
  DataSetField* FindField(const QString& name) const;
  DataSetField* FieldByName(const QString& name) const;  // raises for a missing field
  int FieldCount() const { return int(fields_.size()); }
  DataSetField* Fields(int index) const { return fields_.at(size_t(index)).get(); }
  // The table's field definitions; read from the file (without keeping it open) when the
  // dataset is closed.
  const std::vector<FieldDesc>& FieldDefs() const { return fieldDefs_; }
  void UpdateFieldDefs();
  // Names of the index orders (tags) in order-number order.
  QStringList IndexDefs() const { return indexDefs_; }
  void UpdateIndexDefs();

  // ---- Opening ----
  void Open();
  void Close();

  // ---- States and changes ----
  TDataSetState State() const { return state_; }
  void Edit();
  void Append();
  void Insert() { Append(); }
  // Writes the edit: the record and the notes the user changed in one step, then synced. A
  // post that fails leaves nothing behind (an appended record is taken back, an edited one
  // gets its old image and notes again), raises, and keeps the dataset in
  // its edit or insert state with the user's values, so that a retry writes the task once and
  // a cancel drops it. A post that returns is on the disk.
  void Post();
  void Cancel();
  // Whether each post syncs the table before it returns (the default). A caller writing many
  // records at once (an upgrade copying every task) may turn it off and call Commit at the end,
  // taking on the duty to treat a failed Commit as the failure of all it wrote.
  void SetSyncEachPost(bool on) { syncEachPost_ = on; }
  // Forces every change made so far to the disk; raises when that fails.
  void Commit();
  // Marks the current record deleted; on the disk when it returns, unchanged when it raises.
  void Delete();
  // Posts a pending edit; nothing in browse state.
  void CheckBrowseMode();

  // ---- Moves ----
  void First();
  void Last();
  void Next();
  void Prior();
  int MoveBy(int distance);
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  bool IsEmpty() const { return current_.recno == 0 && state_ != dsInsert; }
  // Re-reads the current record set from the engine's position (after an engine-side move,
  // order change, query, pack): the engine's record becomes current. `setChanged` false says
  // the engine only moved (a seek, a test), so bound controls need not re-read every record.
  void Resync(bool setChanged = true);
  // Re-reads the current record where it is.
  void Refresh();

  // ---- Bookmarks: the physical record number, 0 = none ----
  quint32 GetBookmark() const { return state_ == dsInsert ? 0 : current_.recno; }
  bool BookmarkValid(quint32 bookmark) const;
  void GotoBookmark(quint32 bookmark);
  long RecNo() const { return long(current_.recno); }
  bool CurrentDeleted() const { return current_.deleted; }
  const QByteArray& ActiveImage() const;

  // ---- Controls ----
  void DisableControls() { ++disabled_; }
  void EnableControls();
  bool ControlsDisabled() const { return disabled_ > 0; }

  // ---- Cursor access for the table engine component and the grid model ----
  int CursorHandle() const { return cursor_; }
  // Puts the engine on the current record (or the end when there is none).
  void PositionEngine() const;
  // Fetches record `recno` as a row for display: its field values for `fields`, calculated
  // fields computed; the current record is not disturbed.
  bool FetchRow(quint32 recno, const std::vector<DataSetField*>& fields, std::vector<QVariant>* values);
  // The same for a record image the caller has read itself (a walk straight over the engine):
  // the values of `fields` in record `recno` whose bytes are `image`, calculated fields
  // computed. The current record stays as it is, and so does the engine's position unless a
  // calculation or a field asked for reads a memo (which goes to record `recno`).
  void RowValues(quint32 recno, const QByteArray& image, const std::vector<DataSetField*>& fields,
                 std::vector<QVariant>* values);

  // ---- Raw record images, as a walk straight over the engine reads them ----
  // Where a stored field lies in the image (width 0: not stored in place, or no such field).
  struct ImageField {
    int offset = 0;
    int width = 0;
  };
  ImageField FieldInImage(const QString& name) const;
  // Whether the image is of a record marked deleted.
  static bool ImageDeleted(const QByteArray& image);
  // The field's stored bytes as text (Latin-1), blanks trimmed; empty for no field.
  static QString ImageText(const QByteArray& image, ImageField field);
  // A logical field's value: true for T, t, Y or y, false otherwise and for no field.
  static bool ImageLogical(const QByteArray& image, ImageField field);

  // ---- Events ----
  std::function<void(TableDataSet&)> OnCalcFields;
  std::function<void(TableDataSet&)> BeforePost;
  std::function<void(TableDataSet&)> AfterPost;
  std::function<void(TableDataSet&)> AfterScroll;
  std::function<void(TableDataSet&)> AfterOpen;
  std::function<void(TableDataSet&)> BeforeClose;

 private:
  friend class DataSetField;
  friend class DataSetSource;
  struct Buffer {
    QByteArray image;
    quint32 recno = 0;
    bool deleted = false;
    std::vector<QVariant> calc;
    std::map<int, QString> memos;  // memo fields read or assigned, by field number
    // Memo fields given a text other than the stored one: the only ones a post writes, so a
    // note merely read (or one that could not be read) is never written back.
    std::set<int> changedMemos;
    std::set<int> unreadableMemos;  // memo fields whose stored text could not be read
  };
  // Undoes what a post wrote when it could not be synced (the appended record is taken back,
  // an edited one gets its old image and notes again), so the failure leaves the table as it was.
  void RollBackPost(bool inserted, quint32 recno);

  void CheckInactive() const;
  void CheckActive() const;
  void Check(int status) const;
  void SetState(TDataSetState state);
  void CreateFields();
  void Load(const QByteArray& image, const RecordInfo& info);
  void ClearCurrent();
  void CalculateFields(Buffer* buffer);
  void NotifyScrolled(int distance);
  void NotifyChanged();
  void NotifyRecord(DataSetField* field);
  void NotifyEditing();
  void AddDataSource(DataSetSource* source);
  void RemoveDataSource(DataSetSource* source);

  // Field access for DataSetField.
  QVariant FieldValue(const DataSetField* field) const;
  void SetFieldValue(DataSetField* field, const QVariant& value);
  Buffer& WorkBuffer();
  const Buffer& ActiveBuffer() const;

  QString databaseName_;
  QString tableName_;
  TTableType tableType_ = ttDefault;
  bool exclusive_ = false;
  bool readOnly_ = false;
  QString indexName_;
  int tag_ = 0;

  int database_ = 0;
  int cursor_ = 0;
  bool acquired_ = false;
  TDataSetState state_ = dsInactive;
  std::vector<std::unique_ptr<DataSetField>> fields_;
  struct FoundField {
    QString name;
    DataSetField* field = nullptr;
  };
  mutable std::array<FoundField, 16> foundFields_;  // names looked up lately, and their fields
  mutable size_t nextFound_ = 0;
  bool calcNamesDistinct_ = false;  // no two calculated fields share a name
  // The place of a calculated field's value in a buffer (calcDefs_.size() when none).
  size_t CalcIndex(const DataSetField* field) const;
  std::vector<FieldDesc> fieldDefs_;
  QStringList indexDefs_;
  struct CalcDef {
    QString name;
    FieldKind kind;
    int size;
  };
  std::vector<CalcDef> calcDefs_;

  Buffer current_;
  QByteArray scratch_;
  Buffer edit_;
  Buffer* calcTarget_ = nullptr;  // the buffer OnCalcFields fills
  bool bof_ = true;
  bool eof_ = true;
  bool locked_ = false;
  bool syncEachPost_ = true;
  int disabled_ = 0;
  std::vector<DataSetSource*> sources_;
};
