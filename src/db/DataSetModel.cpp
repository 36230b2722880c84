#include "db/DataSetModel.h"

#include <QTimer>

#include "db/CursorLayer.h"
#include "db/DataSetSource.h"
#include "db/DataSetField.h"
#include "db/TableDataSet.h"

class DataSetModel::Link : public DataSetLink {
 public:
  explicit Link(DataSetModel* model) : model_(model) {}
  void ActiveChanged() override { model_->DataSetChanged(); }
  void DataSetChanged() override { model_->DataSetChanged(); }
  void DataSetScrolled(int) override { model_->Scrolled(); }
  void RecordChanged(DataSetField*) override { model_->RecordChanged(); }

 private:
  DataSetModel* model_;
};

DataSetModel::DataSetModel(DataSetSource* source, QObject* parent)
    : QAbstractTableModel(parent), link_(std::make_unique<Link>(this)), rowCache_(2000) {
  link_->SetDataSource(source);
  Reload();
}

DataSetModel::~DataSetModel() = default;

TableDataSet* DataSetModel::DataSet() const { return link_->DataSet(); }

void DataSetModel::SetColumns(const QList<Column>& columns) {
  beginResetModel();
  columns_ = columns;
  ResolveFields();
  rowCache_.clear();
  endResetModel();
}

void DataSetModel::ResolveFields() {
  fields_.clear();
  TableDataSet* t = DataSet();
  const bool open = t != nullptr && t->Active();
  for (const Column& c : columns_) fields_.push_back(open ? t->FindField(c.field) : nullptr);
  for (const QString& f : extraFields_) fields_.push_back(open ? t->FindField(f) : nullptr);
}

void DataSetModel::SetExtraFields(const QStringList& fields) {
  beginResetModel();
  extraFields_ = fields;
  ResolveFields();
  rowCache_.clear();
  endResetModel();
}

const std::vector<QVariant>* DataSetModel::RowValues(int row) const {
  TableDataSet* t = DataSet();
  if (t == nullptr || !t->Active()) return nullptr;
  const quint32 recno = RecnoAt(row);
  if (recno == 0) return nullptr;
  std::vector<QVariant>* values = rowCache_.object(row);
  if (values == nullptr) {
    auto fetched = std::make_unique<std::vector<QVariant>>();
    if (!t->FetchRow(recno, fields_, fetched.get())) return nullptr;
    values = fetched.get();
    rowCache_.insert(row, fetched.release());
  }
  return values;
}

QVariant DataSetModel::FieldValue(int row, const QString& field) const {
  const std::vector<QVariant>* values = RowValues(row);
  if (values == nullptr) return QVariant();
  for (size_t i = 0; i < fields_.size(); ++i)
    if (fields_[i] != nullptr && fields_[i]->FieldName().compare(field, Qt::CaseInsensitive) == 0)
      return (*values)[i];
  return QVariant();
}

void DataSetModel::Reload() {
  beginResetModel();
  blocks_.clear();
  rowCache_.clear();
  rows_ = 0;
  currentRow_ = -1;
  currentRecno_ = 0;
  ResolveFields();
  TableDataSet* t = DataSet();
  if (t != nullptr && t->Active()) {
    long count = 0;
    if (CursorLayer::Instance().CountVisible(t->CursorHandle(), &count) == kCursorOk)
      rows_ = int(std::min<long>(count, INT_MAX));
  }
  endResetModel();
}

int DataSetModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int DataSetModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(columns_.size()); }

const std::vector<quint32>* DataSetModel::Block(int block) const {
  auto found = blocks_.find(block);
  if (found != blocks_.end()) return &found->second;
  TableDataSet* t = DataSet();
  if (t == nullptr || !t->Active()) return nullptr;
  CursorLayer& layer = CursorLayer::Instance();
  const int cursor = t->CursorHandle();
  const int firstRow = block * kBlock;
  // Start from the nearest place whose record is known: the top, the bottom, or the first row
  // of a block already read. StepFrom counts from the top for start 0 and steps >= 0, from
  // the bottom for start 0 and steps < 0.
  quint32 start = 0;
  long steps = firstRow;
  auto consider = [&](quint32 from, long by) {
    if (std::labs(by) < std::labs(steps)) {
      start = from;
      steps = by;
    }
  };
  consider(0, -long(rows_ - firstRow));
  auto after = blocks_.lower_bound(block);
  if (after != blocks_.end() && !after->second.empty())
    consider(after->second.front(), -long(after->first - block) * kBlock);
  if (after != blocks_.begin()) {
    auto before = std::prev(after);
    if (!before->second.empty()) consider(before->second.front(), long(block - before->first) * kBlock);
  }
  quint32 first = 0;
  if (layer.StepFrom(cursor, start, steps, &first) != kCursorOk || first == 0) return nullptr;
  std::vector<quint32> recnos;
  layer.Collect(cursor, first, std::min(kBlock, rows_ - firstRow), &recnos);
  auto [it, inserted] = blocks_.emplace(block, std::move(recnos));
  return &it->second;
}

quint32 DataSetModel::RecnoAt(int row) const {
  if (row < 0 || row >= rows_) return 0;
  const std::vector<quint32>* b = Block(row / kBlock);
  if (b == nullptr || size_t(row % kBlock) >= b->size()) return 0;
  return (*b)[size_t(row % kBlock)];
}

QVariant DataSetModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows_ || index.column() >= int(columns_.size())) return QVariant();
  if (role == Qt::FontRole) return CellFont ? CellFont(*this, index.row(), index.column()) : QVariant();
  if (role != Qt::DisplayRole && role != Qt::EditRole) return QVariant();
  TableDataSet* t = DataSet();
  if (t == nullptr || !t->Active()) return QVariant();
  const quint32 recno = RecnoAt(index.row());
  if (recno == 0) return QVariant();
  // The current record may be in edit: show the values being edited.
  if (recno == t->GetBookmark() && t->State() != TableDataSet::dsBrowse) {
    DataSetField* f = fields_[size_t(index.column())];
    return f != nullptr ? QVariant(f->AsString()) : QVariant();
  }
  const std::vector<QVariant>* values = RowValues(index.row());
  if (values == nullptr) return QVariant();
  const QVariant& v = (*values)[size_t(index.column())];
  DataSetField* f = fields_[size_t(index.column())];
  if (f != nullptr && f->DataType() == FieldKind::Logical && v.isValid())
    return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
  return v.isValid() ? QVariant(v.toString()) : QVariant(QString());
}

QVariant DataSetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return QVariant();
  if (orientation == Qt::Horizontal) return section < int(columns_.size()) ? QVariant(columns_[section].title) : QVariant();
  return QVariant();
}

Qt::ItemFlags DataSetModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  TableDataSet* t = DataSet();
  DataSetField* field = index.column() < int(fields_.size()) ? fields_[size_t(index.column())] : nullptr;
  if (t != nullptr && !t->ReadOnly() && field != nullptr && !field->Calculated()) f |= Qt::ItemIsEditable;
  return f;
}

bool DataSetModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable)) return false;
  TableDataSet* t = DataSet();
  DataSetField* field = fields_[size_t(index.column())];
  const quint32 recno = RecnoAt(index.row());
  if (t == nullptr || field == nullptr || recno == 0) return false;
  try {
    if (t->GetBookmark() != recno) SetCurrentRow(index.row());
    t->Edit();
    field->SetAsString(value.toString());
    t->Post();
  } catch (const EDatabaseError&) {
    t->Cancel();
    return false;
  }
  return true;
}

int DataSetModel::CurrentRow() const {
  TableDataSet* t = DataSet();
  if (t == nullptr || !t->Active() || t->GetBookmark() == 0) return -1;
  const quint32 recno = t->GetBookmark();
  if (recno == currentRecno_ && currentRow_ >= 0 && RecnoAt(currentRow_) == recno) return currentRow_;
  currentRecno_ = recno;
  currentRow_ = -1;
  auto cached = [&]() {
    for (const auto& [block, recnos] : blocks_)
      for (size_t i = 0; i < recnos.size(); ++i)
        if (recnos[i] == recno) return block * kBlock + int(i);
    return -1;
  };
  if ((currentRow_ = cached()) >= 0) return currentRow_;
  // The first and last screens are where moves most often end (First, Last, a new order):
  // reading them is cheap, unlike counting from the top.
  if (rows_ > 0) {
    Block(0);
    Block((rows_ - 1) / kBlock);
    if ((currentRow_ = cached()) >= 0) return currentRow_;
  }
  long row = -1;
  CursorLayer::Instance().RowOf(t->CursorHandle(), recno, &row);
  if (row >= 0 && row < rows_) currentRow_ = int(row);
  return currentRow_;
}

void DataSetModel::SetCurrentRow(int row) {
  TableDataSet* t = DataSet();
  const quint32 recno = RecnoAt(row);
  if (t == nullptr || recno == 0 || t->GetBookmark() == recno) return;
  following_ = true;
  try {
    t->GotoBookmark(recno);
  } catch (const EDatabaseError&) {
  }
  following_ = false;
  currentRecno_ = recno;
  currentRow_ = row;
}

void DataSetModel::DataSetChanged() {
  Reload();
  ScheduleCurrentRow();
}

void DataSetModel::Scrolled() {
  if (following_) return;
  ScheduleCurrentRow();
}

void DataSetModel::ScheduleCurrentRow() {
  if (rowSignalPending_) return;
  rowSignalPending_ = true;
  QTimer::singleShot(0, this, [this] {
    rowSignalPending_ = false;
    emit CurrentRowChanged(CurrentRow());
  });
}

void DataSetModel::RecordChanged() {
  const int row = CurrentRow();
  if (row < 0) return;
  rowCache_.remove(row);
  emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}
