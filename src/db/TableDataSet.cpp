#include "db/TableDataSet.h"

#include <QFileInfo>
#include <algorithm>

#include "db/Cp1252.h"
#include "db/CursorLayer.h"
#include "db/DataSetSource.h"

namespace {
CursorLayer& Layer() { return CursorLayer::Instance(); }
}  // namespace

TableDataSet::TableDataSet(QObject* parent) : QObject(parent) {}

TableDataSet::~TableDataSet() {
  try {
    Close();
  } catch (const EDatabaseError&) {
    // A destructor cannot report; the close itself cannot lose a posted record.
  }
  for (DataSetSource* s : std::vector<DataSetSource*>(sources_)) s->SetDataSet(nullptr);
}

void TableDataSet::CheckInactive() const {
  if (state_ != dsInactive) throw EDatabaseError(QStringLiteral("Cannot perform this operation on an open dataset"));
}

void TableDataSet::CheckActive() const {
  if (state_ == dsInactive) throw EDatabaseError(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

void TableDataSet::Check(int status) const {
  if (status == kCursorOk) return;
  QString text = CursorLayer::StatusText(status);
  const QString engine = Layer().LastEngineMessage();
  if (status == kCursorEngineFailed && !engine.isEmpty()) text = engine;
  throw EDatabaseError(text, status);
}

QString TableDataSet::DriverName() const {
  switch (tableType_) {
    case ttParadox: return QStringLiteral("PARADOX");
    case ttDBase: return QStringLiteral("DBASE");
    case ttASCII: return QStringLiteral("ASCIIDRV");
    case ttXBNTX: return QStringLiteral("XBNTX");
    case ttXBFOX: return QStringLiteral("XBFOX");
    case ttXBXSX: return QStringLiteral("XBXSX");
    case ttDefault: break;
  }
  const QString ext = QFileInfo(tableName_).suffix().toUpper();
  if (ext == QLatin1String("DBF")) return QStringLiteral("XBFOX");
  if (ext == QLatin1String("TXT")) return QStringLiteral("ASCIIDRV");
  return QStringLiteral("PARADOX");
}

// ---- Fields ---------------------------------------------------------------------------------

void TableDataSet::AddCalcField(const QString& name, FieldKind kind, int size) {
  CheckInactive();
  calcDefs_.push_back({name, kind, size});
}

namespace {

// Field names compare without case. Handlers look fields up by name for every record they
// see, so names of another length are passed over without comparing, and a name spelt as
// defined is found without folding case.
bool SameFieldName(const QString& a, const QString& b) {
  return a.size() == b.size() && (a == b || a.compare(b, Qt::CaseInsensitive) == 0);
}

}  // namespace

DataSetField* TableDataSet::FindField(const QString& name) const {
  // A handler names its fields with the same string constants on every call: a name whose
  // characters are the very ones looked up before gives the same field. The cache holds a
  // reference to each name, so its characters cannot be freed and reused for another text;
  // the field's own name is compared still, for text that is not the string's own.
  for (const FoundField& found : foundFields_)
    if (found.name.constData() == name.constData() && found.name.size() == name.size() &&
        !name.isNull() && SameFieldName(found.field->FieldName(), name))
      return found.field;
  DataSetField* field = nullptr;
  for (const auto& f : fields_) {
    if (SameFieldName(f->FieldName(), name)) {
      field = f.get();
      break;
    }
  }
  if (field != nullptr) {
    foundFields_[nextFound_] = {name, field};
    nextFound_ = (nextFound_ + 1) % foundFields_.size();
  }
  return field;
}

size_t TableDataSet::CalcIndex(const DataSetField* field) const {
  // Calculated fields follow the data fields in the order of their definitions; with no two
  // names alike the field's own place says which value is its own, without comparing names.
  if (calcNamesDistinct_ && fields_.size() >= calcDefs_.size()) {
    const size_t first = fields_.size() - calcDefs_.size();
    for (size_t i = 0; i < calcDefs_.size(); ++i)
      if (fields_[first + i].get() == field) return i;
  }
  for (size_t i = 0; i < calcDefs_.size(); ++i)
    if (SameFieldName(calcDefs_[i].name, field->FieldName())) return i;
  return calcDefs_.size();
}

DataSetField* TableDataSet::FieldByName(const QString& name) const {
  DataSetField* f = FindField(name);
  if (f == nullptr) throw EDatabaseError(QStringLiteral("Field '%1' not found").arg(name));
  return f;
}

void TableDataSet::UpdateFieldDefs() {
  if (Active()) {
    Check(Layer().GetFieldDescs(cursor_, &fieldDefs_));
    return;
  }
  // Read the definitions by opening the table briefly; an area that already has the table
  // open under the same alias is simply asked.
  const bool started = Layer().Acquire() == kCursorOk;
  if (!started) throw EDatabaseError(CursorLayer::StatusText(kCursorEngineVersion), kCursorEngineVersion);
  int db = 0, cursor = 0;
  int status = Layer().OpenDatabase(databaseName_, &db);
  if (status == kCursorOk) status = Layer().OpenTable(db, tableName_, DriverName(), QString(), true, false, &cursor);
  if (status == kCursorOk) {
    status = Layer().GetFieldDescs(cursor, &fieldDefs_);
    Layer().CloseTable(cursor);
  }
  if (db != 0) Layer().CloseDatabase(db);
  Layer().Release();
  Check(status);
}

void TableDataSet::UpdateIndexDefs() {
  indexDefs_.clear();
  if (!Active()) return;
  std::vector<IndexDesc> descs;
  Check(Layer().GetIndexDescs(cursor_, &descs));
  for (const IndexDesc& d : descs) indexDefs_ << d.tagName;
}

void TableDataSet::CreateFields() {
  foundFields_ = {};
  fields_.clear();
  for (const FieldDesc& d : fieldDefs_) {
    const int size = d.kind == FieldKind::String ? d.units1 : d.width;
    fields_.push_back(std::make_unique<DataSetField>(this, d.name, d.kind, d.number, size, false));
  }
  for (const CalcDef& c : calcDefs_)
    fields_.push_back(std::make_unique<DataSetField>(this, c.name, c.kind, 0, c.size, true));
  calcNamesDistinct_ = true;
  for (size_t i = 0; i < calcDefs_.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (SameFieldName(calcDefs_[i].name, calcDefs_[j].name)) calcNamesDistinct_ = false;
}

// ---- Opening --------------------------------------------------------------------------------

void TableDataSet::SetActive(bool on) {
  if (on) Open();
  else Close();
}

void TableDataSet::Open() {
  if (Active()) return;
  const int started = Layer().Acquire();
  if (started != kCursorOk) throw EDatabaseError(QStringLiteral("Unable to start the storage engine"), started);
  acquired_ = true;
  int status = Layer().OpenDatabase(databaseName_, &database_);
  if (status == kCursorOk)
    status = Layer().OpenTable(database_, tableName_, DriverName(), indexName_, readOnly_, exclusive_, &cursor_);
  if (status == kCursorOk) status = Layer().GetFieldDescs(cursor_, &fieldDefs_);
  if (status != kCursorOk) {
    const QString engine = Layer().LastEngineMessage();
    if (cursor_ != 0) Layer().CloseTable(cursor_);
    if (database_ != 0) Layer().CloseDatabase(database_);
    cursor_ = database_ = 0;
    acquired_ = false;
    Layer().Release();
    QString text = CursorLayer::StatusText(status);
    if (!engine.isEmpty()) text += QStringLiteral(": ") + engine;
    throw EDatabaseError(text, status);
  }
  CreateFields();
  state_ = dsBrowse;
  UpdateIndexDefs();
  First();
  for (DataSetSource* s : sources_) s->NotifyActiveChanged();
  if (AfterOpen) AfterOpen(*this);
}

void TableDataSet::Close() {
  if (!Active()) return;
  if (BeforeClose) BeforeClose(*this);
  if (state_ == dsEdit || state_ == dsInsert) Cancel();
  Layer().CloseTable(cursor_);
  Layer().CloseDatabase(database_);
  cursor_ = database_ = 0;
  state_ = dsInactive;
  foundFields_ = {};
  fields_.clear();
  current_ = Buffer();
  edit_ = Buffer();
  bof_ = eof_ = true;
  if (acquired_) {
    acquired_ = false;
    Layer().Release();
  }
  for (DataSetSource* s : sources_) s->NotifyActiveChanged();
}

void TableDataSet::SetIndexName(const QString& name) {
  if (!Active()) {
    indexName_ = name;
    return;
  }
  CheckBrowseMode();
  Check(Layer().SwitchToIndex(cursor_, name));
  indexName_ = name;
  UpdateIndexDefs();
  // The current record stays current in the new order; the bound controls hear of it once,
  // as a changed record set.
  ++disabled_;
  try {
    if (current_.recno != 0) GotoBookmark(current_.recno);
    else First();
  } catch (...) {
    --disabled_;
    throw;
  }
  --disabled_;
  NotifyChanged();
}

// ---- Records --------------------------------------------------------------------------------

void TableDataSet::ClearCurrent() {
  current_ = Buffer();
  Layer().InitRecord(cursor_, &current_.image);
  current_.calc.assign(calcDefs_.size(), QVariant());
}

void TableDataSet::Load(const QByteArray& image, const RecordInfo& info) {
  current_ = Buffer();
  current_.image = image;
  current_.recno = quint32(info.recno);
  current_.deleted = info.deleted;
  CalculateFields(&current_);
}

void TableDataSet::CalculateFields(Buffer* buffer) {
  buffer->calc.assign(calcDefs_.size(), QVariant());
  if (!OnCalcFields || calcDefs_.empty()) return;
  const TDataSetState saved = state_;
  Buffer* savedTarget = calcTarget_;
  calcTarget_ = buffer;
  state_ = dsCalcFields;
  try {
    OnCalcFields(*this);
  } catch (...) {
    state_ = saved;
    calcTarget_ = savedTarget;
    throw;
  }
  state_ = saved;
  calcTarget_ = savedTarget;
}

TableDataSet::Buffer& TableDataSet::WorkBuffer() {
  if (calcTarget_ != nullptr) return *calcTarget_;
  return (state_ == dsEdit || state_ == dsInsert) ? edit_ : current_;
}

const TableDataSet::Buffer& TableDataSet::ActiveBuffer() const {
  if (calcTarget_ != nullptr) return *calcTarget_;
  return (state_ == dsEdit || state_ == dsInsert) ? edit_ : current_;
}

const QByteArray& TableDataSet::ActiveImage() const { return ActiveBuffer().image; }

void TableDataSet::PositionEngine() const {
  if (cursor_ == 0) return;
  Layer().SetToBookmark(cursor_, current_.recno);
}

QVariant TableDataSet::FieldValue(const DataSetField* field) const {
  if (!Active()) return QVariant();
  const Buffer& b = ActiveBuffer();
  if (field->Calculated()) {
    const size_t i = CalcIndex(field);
    return i < b.calc.size() ? b.calc[i] : QVariant();
  }
  if (field->DataType() == FieldKind::Memo) {
    auto it = b.memos.find(field->FieldNo());
    if (it != b.memos.end()) return it->second.isEmpty() ? QVariant() : QVariant(it->second);
    if (b.recno == 0) return QVariant();
    // Memos are read on demand: a grid walking a million rows never pays for them.
    Layer().SetToBookmark(cursor_, b.recno);
    QString text;
    const int status = Layer().GetBlob(cursor_, field->FieldNo(), &text);
    if (status == kCursorMemoUnreadable) {
      // Shown empty, but not taken for an empty note (the layer has told the user).
      const_cast<Buffer&>(b).unreadableMemos.insert(field->FieldNo());
      return QVariant();
    }
    if (status != kCursorOk) return QVariant();
    const_cast<Buffer&>(b).memos[field->FieldNo()] = text;
    return text.isEmpty() ? QVariant() : QVariant(text);
  }
  QVariant value;
  bool blank = true;
  if (Layer().GetField(cursor_, field->FieldNo(), b.image, &value, &blank) != kCursorOk || blank) return QVariant();
  return value;
}

void TableDataSet::SetFieldValue(DataSetField* field, const QVariant& value) {
  CheckActive();
  if (field->Calculated()) {
    if (state_ != dsCalcFields)
      throw EDatabaseError(QStringLiteral("Field '%1' cannot be modified").arg(field->FieldName()));
    Buffer& b = WorkBuffer();
    if (calcNamesDistinct_) {
      const size_t i = CalcIndex(field);
      if (i < b.calc.size()) b.calc[i] = value;
      return;
    }
    for (size_t i = 0; i < calcDefs_.size(); ++i)
      if (SameFieldName(calcDefs_[i].name, field->FieldName()) && i < b.calc.size())
        b.calc[i] = value;
    return;
  }
  if (state_ != dsEdit && state_ != dsInsert)
    throw EDatabaseError(QStringLiteral("Dataset not in edit or insert mode"));
  if (field->DataType() == FieldKind::Memo) {
    QString text = value.isValid() ? value.toString() : QString();
    if (!Cp1252::FirstUnencodable(text).isNull())
      throw EDatabaseError(CursorLayer::StatusText(kCursorBadText), kCursorBadText);
    // Only a text other than the stored one is a change; a note that could not be read
    // counts as empty here, so writing back what was shown leaves it alone.
    const int no = field->FieldNo();
    if (edit_.changedMemos.count(no) == 0 && text == FieldValue(field).toString()) return;
    edit_.memos[no] = text;
    edit_.changedMemos.insert(no);
  } else {
    Check(Layer().PutField(cursor_, field->FieldNo(), &edit_.image, value));
  }
  NotifyRecord(field);
}

// ---- States and changes ------------------------------------------------------------------------

void TableDataSet::SetState(TDataSetState state) {
  if (state_ == state) return;
  state_ = state;
  NotifyEditing();
}

void TableDataSet::Edit() {
  CheckActive();
  if (state_ == dsEdit || state_ == dsInsert) return;
  if (readOnly_) throw EDatabaseError(QStringLiteral("Cannot modify a read-only dataset"));
  if (current_.recno == 0) {
    Append();
    return;
  }
  // Another program sharing the table may have changed the record: edit what is stored now,
  // holding its lock until the post or cancel.
  PositionEngine();
  QByteArray image;
  RecordInfo info;
  Check(Layer().LockCurrent(cursor_, &image, &info));
  locked_ = true;
  const quint32 recno = current_.recno;
  current_.image = image;
  current_.deleted = info.deleted;
  current_.memos.clear();
  current_.unreadableMemos.clear();
  current_.recno = recno;
  CalculateFields(&current_);
  edit_ = current_;
  SetState(dsEdit);
}

void TableDataSet::Append() {
  CheckActive();
  if (state_ == dsEdit || state_ == dsInsert) CheckBrowseMode();
  if (readOnly_) throw EDatabaseError(QStringLiteral("Cannot modify a read-only dataset"));
  edit_ = Buffer();
  Layer().InitRecord(cursor_, &edit_.image);
  edit_.calc.assign(calcDefs_.size(), QVariant());
  SetState(dsInsert);
  NotifyChanged();
}

void TableDataSet::Post() {
  CheckActive();
  if (state_ != dsEdit && state_ != dsInsert) return;
  for (DataSetSource* s : sources_) s->NotifyUpdateData();
  if (BeforePost) BeforePost(*this);
  const bool inserting = state_ == dsInsert;
  // The record goes to the table in one step with the notes the user changed (and only
  // those: a note merely read, or one that could not be read, is never written back).
  std::map<int, QString> notes;
  for (int fieldNo : edit_.changedMemos) notes[fieldNo] = edit_.memos[fieldNo];
  quint32 appended = 0;
  if (!inserting) PositionEngine();
  int status = Layer().StoreRecord(cursor_, inserting ? 0 : edit_.recno, edit_.image, notes, &appended);
  if (status == kCursorOk) {
    if (inserting) edit_.recno = appended;
    // Reported as stored only once it is on the disk.
    if (syncEachPost_) status = Layer().Commit(cursor_);
    if (status != kCursorOk) {
      const QString why = Layer().LastEngineMessage();
      RollBackPost(inserting, edit_.recno);
      Layer().Commit(cursor_);
      if (inserting) edit_.recno = 0;
      throw EDatabaseError(why.isEmpty() ? CursorLayer::StatusText(status) : why, status);
    }
  }
  Check(status);
  if (locked_) {
    Layer().SetToBookmark(cursor_, edit_.recno);
    Layer().ReleaseRecordLock(cursor_, false);
    locked_ = false;
  }
  const quint32 recno = edit_.recno;
  edit_ = Buffer();
  state_ = dsBrowse;
  // The posted record stays current, wherever the order puts it now.
  Layer().SetToBookmark(cursor_, recno);
  QByteArray image;
  Layer().InitRecord(cursor_, &image);
  RecordInfo now;
  now.recno = recno;
  {
    QByteArray fresh;
    if (Layer().ReadRecord(cursor_, recno, &fresh, &now) == kCursorOk) image = fresh;
  }
  Load(image, now);
  bof_ = eof_ = false;
  NotifyEditing();
  NotifyChanged();
  if (AfterPost) AfterPost(*this);
}

void TableDataSet::Commit() {
  CheckActive();
  Check(Layer().Commit(cursor_));
}

void TableDataSet::RollBackPost(bool inserted, quint32 recno) {
  if (inserted) {
    Layer().TakeBackInsert(cursor_, recno);
  } else {
    // The image read under the lock when the edit began, memo pointers included: the notes
    // written for the edit become unused blocks.
    Layer().StoreRecord(cursor_, recno, current_.image, {}, nullptr);
  }
  PositionEngine();
}

void TableDataSet::Cancel() {
  if (state_ != dsEdit && state_ != dsInsert) return;
  if (locked_) {
    PositionEngine();
    Layer().ReleaseRecordLock(cursor_, false);
    locked_ = false;
  }
  const bool wasInsert = state_ == dsInsert;
  edit_ = Buffer();
  state_ = dsBrowse;
  NotifyEditing();
  if (wasInsert) NotifyChanged();
  else NotifyRecord(nullptr);
}

void TableDataSet::CheckBrowseMode() {
  if (state_ == dsEdit || state_ == dsInsert) Post();
}

void TableDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert) {
    Cancel();
    return;
  }
  if (state_ == dsEdit) Cancel();
  if (readOnly_) throw EDatabaseError(QStringLiteral("Cannot modify a read-only dataset"));
  if (current_.recno == 0) throw EDatabaseError(QStringLiteral("Cannot perform this operation on an empty dataset"));
  PositionEngine();
  Check(Layer().DeleteRecord(cursor_));
  const int synced = Layer().Commit(cursor_);
  if (synced != kCursorOk) {
    // Not known to be on the disk: the mark is taken off again, and the delete reported failed.
    const QString why = Layer().LastEngineMessage();
    PositionEngine();
    Layer().RecallRecord(cursor_);
    Layer().Commit(cursor_);
    throw EDatabaseError(why.isEmpty() ? CursorLayer::StatusText(synced) : why, synced);
  }
  // The next record becomes current, or the one before when the deleted one was the last.
  PositionEngine();
  QByteArray image;
  RecordInfo info;
  int status = Layer().GetNextRecord(cursor_, false, &image, &info);
  if (status == kCursorOk && info.recno == long(current_.recno)) status = Layer().GetNextRecord(cursor_, false, &image, &info);
  if (status == kCursorOk) {
    Load(image, info);
    bof_ = eof_ = false;
  } else {
    Last();
  }
  NotifyChanged();
}

// ---- Moves ------------------------------------------------------------------------------------

void TableDataSet::First() {
  CheckActive();
  CheckBrowseMode();
  Check(Layer().SetToBegin(cursor_));
  QByteArray image;
  RecordInfo info;
  const int status = Layer().GetNextRecord(cursor_, false, &image, &info);
  if (status == kCursorEof) {
    ClearCurrent();
    bof_ = eof_ = true;
  } else {
    Check(status);
    Load(image, info);
    bof_ = true;
    eof_ = false;
  }
  NotifyScrolled(0);
}

void TableDataSet::Last() {
  CheckActive();
  CheckBrowseMode();
  Check(Layer().SetToEnd(cursor_));
  QByteArray image;
  RecordInfo info;
  const int status = Layer().GetPriorRecord(cursor_, false, &image, &info);
  if (status == kCursorBof || status == kCursorEof) {
    ClearCurrent();
    bof_ = eof_ = true;
  } else {
    Check(status);
    Load(image, info);
    bof_ = false;
    eof_ = true;
  }
  NotifyScrolled(0);
}

void TableDataSet::Next() { MoveBy(1); }
void TableDataSet::Prior() { MoveBy(-1); }

int TableDataSet::MoveBy(int distance) {
  CheckActive();
  CheckBrowseMode();
  if (current_.recno == 0) {
    bof_ = eof_ = true;
    return 0;
  }
  int moved = 0;
  PositionEngine();
  // Records are read into a buffer kept between moves: a walk over a million tasks must not
  // allocate for each of them.
  QByteArray& image = scratch_;
  RecordInfo info;
  while (moved != distance) {
    const int status = distance > 0 ? Layer().GetNextRecord(cursor_, false, &image, &info)
                                    : Layer().GetPriorRecord(cursor_, false, &image, &info);
    if (status == kCursorEof || status == kCursorBof) break;
    Check(status);
    moved += distance > 0 ? 1 : -1;
  }
  if (moved != 0) {
    current_.memos.clear();
    current_.unreadableMemos.clear();
    std::swap(current_.image, image);
    current_.recno = quint32(info.recno);
    current_.deleted = info.deleted;
    CalculateFields(&current_);
  }
  bof_ = distance < 0 && moved != distance;
  eof_ = distance > 0 && moved != distance;
  if (moved != distance) PositionEngine();
  if (moved != 0) NotifyScrolled(moved);
  return moved;
}

void TableDataSet::Resync(bool setChanged) {
  CheckActive();
  QByteArray image;
  RecordInfo info;
  const int status = Layer().GetRecord(cursor_, false, &image, &info);
  if (status == kCursorOk) {
    const bool moved = quint32(info.recno) != current_.recno;
    Load(image, info);
    bof_ = eof_ = false;
    // An engine call that changed nothing but the position is a move, not a new record set.
    if (setChanged) NotifyChanged();
    else if (moved) NotifyScrolled(0);
    return;
  }
  if (status == kCursorNotInQuery) {
    // The engine moved past the record that stopped qualifying; take the next one that does.
    const int next = Layer().GetNextRecord(cursor_, false, &image, &info);
    if (next == kCursorOk) {
      Load(image, info);
      bof_ = eof_ = false;
      NotifyChanged();
      return;
    }
  }
  if (status == kCursorBof) {
    First();
  } else {
    // At the end: the last record is current, as after Last.
    Last();
  }
  NotifyChanged();
}

void TableDataSet::Refresh() {
  CheckActive();
  CheckBrowseMode();
  if (current_.recno == 0) {
    First();
  } else {
    GotoBookmark(current_.recno);
  }
  NotifyChanged();
}

bool TableDataSet::BookmarkValid(quint32 bookmark) const {
  if (!Active() || bookmark == 0) return false;
  QByteArray image;
  RecordInfo info;
  return Layer().ReadRecord(cursor_, bookmark, &image, &info) == kCursorOk;
}

void TableDataSet::GotoBookmark(quint32 bookmark) {
  CheckActive();
  CheckBrowseMode();
  QByteArray image;
  RecordInfo info;
  const int status = Layer().ReadRecord(cursor_, bookmark, &image, &info);
  if (status != kCursorOk) throw EDatabaseError(QStringLiteral("Record not found"), status);
  Load(image, info);
  bof_ = eof_ = false;
  NotifyScrolled(0);
}

bool TableDataSet::FetchRow(quint32 recno, const std::vector<DataSetField*>& fields, std::vector<QVariant>* values) {
  values->clear();
  if (!Active()) return false;
  QByteArray image;
  RecordInfo info;
  if (Layer().ReadRecord(cursor_, recno, &image, &info) != kCursorOk) return false;
  RowValues(recno, image, fields, values);
  return true;
}

void TableDataSet::RowValues(quint32 recno, const QByteArray& image, const std::vector<DataSetField*>& fields,
                       std::vector<QVariant>* values) {
  values->clear();
  if (!Active()) return;
  Buffer row;
  row.image = image;
  row.recno = recno;
  row.deleted = ImageDeleted(image);
  CalculateFields(&row);
  // Field reads go to the row's buffer for the moment, as calculated fields do.
  Buffer* saved = calcTarget_;
  calcTarget_ = &row;
  for (DataSetField* f : fields) values->push_back(f != nullptr ? FieldValue(f) : QVariant());
  calcTarget_ = saved;
}

// ---- Notifications ------------------------------------------------------------------------------

void TableDataSet::EnableControls() {
  if (disabled_ > 0 && --disabled_ == 0) NotifyChanged();
}

void TableDataSet::NotifyScrolled(int distance) {
  if (disabled_ == 0)
    for (DataSetSource* s : sources_) s->NotifyScrolled(distance);
  if (AfterScroll) AfterScroll(*this);
}

void TableDataSet::NotifyChanged() {
  if (disabled_ > 0) return;
  for (DataSetSource* s : sources_) s->NotifyDataSetChanged();
}

void TableDataSet::NotifyRecord(DataSetField* field) {
  if (disabled_ > 0 || state_ == dsCalcFields) return;
  for (DataSetSource* s : sources_) s->NotifyRecordChanged(field);
}

void TableDataSet::NotifyEditing() {
  if (disabled_ > 0) return;
  for (DataSetSource* s : sources_) s->NotifyEditingChanged();
}

void TableDataSet::AddDataSource(DataSetSource* source) { sources_.push_back(source); }

void TableDataSet::RemoveDataSource(DataSetSource* source) {
  sources_.erase(std::remove(sources_.begin(), sources_.end(), source), sources_.end());
}

TableDataSet::ImageField TableDataSet::FieldInImage(const QString& name) const {
  for (const FieldDesc& f : FieldDefs())
    if (f.name.compare(name, Qt::CaseInsensitive) == 0 && !f.variable && f.offset >= 1 && f.width >= 1)
      return {f.offset - 1, f.width};
  return {};
}

bool TableDataSet::ImageDeleted(const QByteArray& image) { return !image.isEmpty() && image.at(0) == '*'; }

QString TableDataSet::ImageText(const QByteArray& image, ImageField field) {
  if (field.width < 1 || field.offset >= image.size()) return QString();
  return QString::fromLatin1(image.mid(field.offset, field.width)).trimmed();
}

bool TableDataSet::ImageLogical(const QByteArray& image, ImageField field) {
  if (field.width < 1 || field.offset >= image.size()) return false;
  const char c = image.at(field.offset);
  return c == 'T' || c == 't' || c == 'Y' || c == 'y';
}
