#include "db/TTableEngine.h"

#include <QFile>
#include <QFileInfo>

#include "db/Cp1252.h"
#include "db/TCTextBuffers.h"
#include "db/DataSetSource.h"
#include "db/TableDataSet.h"
#include "xbengine.h"

TTableEngine::TTableEngine(QObject* parent) : QObject(parent), link_(this) {}

TTableEngine::~TTableEngine() = default;

void TTableEngine::SetDataSource(DataSetSource* source) {
  link_.SetDataSource(source);
  dataSet_ = source != nullptr ? source->DataSet() : nullptr;
}

QString TTableEngine::LastEngineError() { return QString::fromLocal8Bit(xb_ErrorText()); }

// ---- Entering and leaving the dataset's work area ------------------------------------------

WorkAreaScope TTableEngine::DatasetArea() {
  if (dataSet_ == nullptr) {
    if (DataSource() == nullptr) return WorkAreaScope::None();
    dataSet_ = DataSource()->DataSet();
  }
  return WorkAreaScope::ForDataset(IsTableOpen() ? dataSet_->CursorHandle() : 0);
}

// A call that moves the engine for the dataset: the dataset's pending change is posted and the
// engine put on its record first; End() lets the dataset read what the call left.
class TTableEngine::Sync {
 public:
  explicit Sync(TTableEngine& engine) : engine_(engine), area_(engine.DatasetArea()) {
    if (engine_.IsTableOpen()) {
      engine_.dataSet_->CheckBrowseMode();
      engine_.dataSet_->PositionEngine();
    }
  }
  void End(bool setChanged = true) {
    if (engine_.IsTableOpen()) engine_.dataSet_->Resync(setChanged);
    area_.Leave();
  }
  // The work area put back without the dataset reading anything.
  void Leave() { area_.Leave(); }

 private:
  TTableEngine& engine_;
  WorkAreaScope area_;
};

// ---- Creating tables --------------------------------------------------------------------------

bool TTableEngine::CreateTable(const QString& path, int driver, int fieldCount) {
  WorkAreaScope scope = DatasetArea();
  createPrevious_ = quint16(scope.Previous());
  const int area = xb_CreateNew(QFile::encodeName(path).constData(), "XXXXXXXXXX", driver, fieldCount);
  createArea_ = quint16(area);
  scope.Leave();
  return area != 0;
}

void TTableEngine::DefineField(const QString& name, const QString& type, int width, int decimals) {
  xb_Select(createArea_);
  TCTextBuffers texts;
  texts.Add(name);
  texts.Add(type);
  xb_CreateField(texts.Item(0), texts.Item(1), width, decimals);
}

bool TTableEngine::CommitCreate() {
  xb_Select(createArea_);
  const bool ok = xb_CreateExec() != 0;
  // A failed create must still release the area, or the pending definition blocks the next one.
  if (xb_WorkArea(nullptr) == createArea_) xb_Close(createArea_);
  if (createPrevious_ != 0 && createPrevious_ != createArea_) xb_Select(createPrevious_);
  return ok;
}

// ---- Orders ---------------------------------------------------------------------------------

int TTableEngine::AddIndexTag(const QString& indexFile, const QString& tag, const QString& key, int option,
                              bool descending, const QString& condition) {
  Sync sync(*this);
  TCTextBuffers texts;
  texts.Add(indexFile);
  texts.Add(tag);
  texts.Add(key);
  texts.Add(condition);
  const int order = xb_IndexTag(texts.Item(0), texts.Item(1), texts.Item(2), option, descending ? 1 : 0,
                                texts.Item(3));
  sync.End();
  if (order > 0 && dataSet_ != nullptr && dataSet_->Active()) {
    dataSet_->UpdateIndexDefs();
    dataSet_->SetIndexName(tag);
  }
  return order;
}

int TTableEngine::OpenIndexFile(const QString& fileName) {
  Sync sync(*this);
  TCTextBuffers texts;
  texts.Add(fileName);
  const int order = xb_IndexOpen(texts.Item(0));
  const QString tag = order > 0 ? QString::fromLatin1(xb_TagName(order)) : QString();
  sync.End();
  if (order > 0 && dataSet_ != nullptr && dataSet_->Active()) {
    dataSet_->UpdateIndexDefs();
    dataSet_->SetIndexName(tag);
  }
  return order;
}

void TTableEngine::CloseIndexFiles() {
  WorkAreaScope area = DatasetArea();
  xb_CloseIndexes();
}

int TTableEngine::SelectOrder(int order) {
  WorkAreaScope area = DatasetArea();
  const int previous = xb_IndexOrd();
  area.Leave();
  if (dataSet_ == nullptr || !dataSet_->Active()) return previous;
  dataSet_->UpdateIndexDefs();
  const QStringList defs = dataSet_->IndexDefs();
  if (order == 0) dataSet_->SetIndexName(QString());
  else if (order >= 1 && order <= defs.size()) dataSet_->SetIndexName(defs.at(order - 1));
  return previous;
}

int TTableEngine::CurrentOrder() {
  WorkAreaScope area = DatasetArea();
  const int order = xb_IndexOrd();
  return order;
}

int TTableEngine::TagOrder(const QString& tag) {
  Sync sync(*this);
  TCTextBuffers texts;
  texts.Add(tag);
  const int order = xb_TagArea(texts.Item(0));
  sync.End(false);
  return order;
}

QString TTableEngine::TagNameAt(int order) {
  WorkAreaScope area = DatasetArea();
  const QString name = QString::fromLatin1(xb_TagName(order));
  return name;
}

QString TTableEngine::OrderFileName(int order) {
  WorkAreaScope area = DatasetArea();
  const QString name = QString::fromLocal8Bit(xb_IndexName(order));
  return name;
}

QString TTableEngine::WithDefaultExtension(const QString& name) const {
  if (!QFileInfo(name).suffix().isEmpty() || dataSet_ == nullptr) return name;
  switch (dataSet_->TableType()) {
    case TableDataSet::ttXBNTX: return name + QStringLiteral(".NTX");
    case TableDataSet::ttXBFOX: return name + QStringLiteral(".IDX");
    case TableDataSet::ttXBXSX: return name + QStringLiteral(".XSX");
    default: return name;
  }
}

void TTableEngine::RefreshIndexes() {
  const int remembered = CurrentOrder();
  SelectOrder(0);
  int restore = remembered;
  for (const QString& name : extraIndexes_) {
    const int order = OpenIndexFile(WithDefaultExtension(name));
    if (remembered == 0 && restore == 0 && order > 0) restore = order;
  }
  SelectOrder(restore);
}

void TTableEngine::SetExtraIndexes(const QStringList& names) {
  extraIndexes_ = names;
  if (IsTableOpen()) RefreshIndexes();
}

// ---- Queries and tests ------------------------------------------------------------------------

int TTableEngine::ApplyQuery(const QString& expression) {
  filter_ = expression;
  if (!IsTableOpen()) return 0;
  Sync sync(*this);
  TCTextBuffers texts;
  texts.Add(expression);
  const int result = xb_Query(texts.Item(0));
  sync.End();
  return result;
}

QString TTableEngine::CurrentQuery() {
  WorkAreaScope area = DatasetArea();
  // The query went to the engine in the task files' code page; it comes back the same way.
  const QString text = Cp1252::Decode(QByteArray(xb_DBFilter()));
  return text;
}

long TTableEngine::QueryCount() {
  WorkAreaScope area = DatasetArea();
  const long count = xb_QueryRecCount();
  return count;
}

int TTableEngine::TestQuery(const QString& expression) {
  Sync sync(*this);
  TCTextBuffers texts;
  texts.Add(expression);
  const int result = xb_QueryTest(texts.Item(0));
  sync.End(false);
  return result;
}

bool TTableEngine::EvaluateCondition(const QString& expression) {
  WorkAreaScope area = DatasetArea();
  // The engine is moved to the dataset's record only when it stands elsewhere, and put back
  // afterwards, so that an evaluation never disturbs a walk in progress.
  savedRecno_ = 0;
  const long engineRecno = xb_RecNo();
  const long count = xb_RecCount();
  const long datasetRecno = DatasetRecordNumber();
  if (engineRecno != datasetRecno && datasetRecno != count + 1) {
    savedRecno_ = engineRecno;
    xb_Go(datasetRecno);
  }
  TCTextBuffers texts;
  texts.Add(expression);
  const bool result = xb_EvalLogical(texts.Item(0)) != 0;
  if (savedRecno_ != 0 && IsTableOpen()) xb_Go(savedRecno_);
  savedRecno_ = 0;
  return result;
}

bool TTableEngine::IsRecordDeleted() {
  if (dataSet_ != nullptr && dataSet_->State() == TableDataSet::dsCalcFields) {
    WorkAreaScope area = DatasetArea();
    const bool deleted = xb_Deleted() != 0;
    return deleted;
  }
  if (dataSet_ == nullptr || !dataSet_->Active()) return false;
  recordBuffer_ = dataSet_->ActiveImage();
  if (recordBuffer_.isEmpty()) return false;
  const char first = recordBuffer_.at(0);
  return first != ' ' && first != 'E';
}

// ---- Records ----------------------------------------------------------------------------------

void TTableEngine::GotoRecord(long recno) {
  Sync sync(*this);
  xb_Go(recno);
  sync.End(false);
}

bool TTableEngine::FindKey(const QString& key) {
  Sync sync(*this);
  TCTextBuffers texts;
  texts.Add(key);
  const bool found = xb_Seek(texts.Item(0)) != 0;
  if (found) {
    sync.End(false);
    return true;
  }
  sync.Leave();
  if (dataSet_ != nullptr && dataSet_->Active()) {
    dataSet_->Last();
    dataSet_->Next();  // past the last record: the dataset stands at its end
  }
  return false;
}

int TTableEngine::RemoveDeleted() {
  Sync sync(*this);
  const int result = xb_Pack();
  sync.End();
  return result;
}

int TTableEngine::EmptyTable() {
  Sync sync(*this);
  const int result = xb_Zap();
  sync.End();
  return result;
}

namespace {

// Sets (or clears) the deletion mark of each listed record that does not carry it yet (or
// does), syncs, and returns the records changed. When the sync fails the marks go back as they
// were and nothing is returned: a change reported is on the disk, one not reported is not.
std::vector<quint32> SetMarks(const std::vector<quint32>& recnos, bool deleted) {
  std::vector<quint32> changed;
  changed.reserve(recnos.size());
  const long count = xb_RecCount();
  for (quint32 r : recnos) {
    if (r == 0 || long(r) > count || xb_Go(long(r)) == 0) continue;
    if ((xb_Deleted() != 0) == deleted) continue;
    if ((deleted ? xb_Delete() : xb_Recall()) != 0) changed.push_back(r);
  }
  if (changed.empty() || xb_Commit() != 0) return changed;
  for (quint32 r : changed)
    if (xb_Go(long(r)) == 0) continue;
    else if (deleted) xb_Recall();
    else xb_Delete();
  xb_Commit();
  return {};
}

}  // namespace

std::vector<quint32> TTableEngine::MarkDeleted(const std::vector<quint32>& recnos) {
  if (!IsTableOpen()) return {};
  Sync sync(*this);
  std::vector<quint32> marked = SetMarks(recnos, true);
  sync.End();
  return marked;
}

std::vector<quint32> TTableEngine::RecallRecords(const std::vector<quint32>& recnos) {
  if (!IsTableOpen()) return {};
  Sync sync(*this);
  std::vector<quint32> recalled = SetMarks(recnos, false);
  sync.End();
  return recalled;
}

long TTableEngine::RecordCount() {
  WorkAreaScope area = DatasetArea();
  const long count = xb_RecCount();
  return count;
}

long TTableEngine::DatasetRecordNumber() const {
  if (dataSet_ != nullptr && dataSet_->Active() && dataSet_->GetBookmark() != 0) return long(dataSet_->GetBookmark());
  if (dataSet_ == nullptr || !dataSet_->Active()) return xb_RecCount() + 1;
  const int previous = xb_Select(dataSet_->CursorHandle());
  const long count = xb_RecCount();
  if (previous > 0) xb_Select(previous);
  return count + 1;
}

int TTableEngine::RecordSize() {
  WorkAreaScope area = DatasetArea();
  const int size = xb_RecSize();
  return size;
}

long TTableEngine::EngineProperty(int property, long value) {
  WorkAreaScope area = DatasetArea();
  const long result = xb_SysProp(property, value);
  return result;
}

long TTableEngine::SetProgressWindow(long window) { return xb_SetGaugeHook(window); }

bool TTableEngine::IsTableOpen() const { return dataSet_ != nullptr && dataSet_->Active(); }

void TTableEngine::SetTurboRead(bool on) {
  xb_SetTurboRead(on ? 1 : 0);
  turboRead_ = on;
}

void TTableEngine::DataSetActivated() {
  if (DataSource() != nullptr) dataSet_ = DataSource()->DataSet();
  if (dataSet_ == nullptr || !dataSet_->Active()) return;
  if (!filter_.isEmpty()) ApplyQuery(filter_);
  if (!extraIndexes_.isEmpty()) RefreshIndexes();
  if (recordBuffer_.isEmpty()) recordBuffer_ = QByteArray(RecordSize(), ' ');
}
