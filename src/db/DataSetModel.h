#pragma once

#include <QAbstractTableModel>
#include <QCache>
#include <QList>
#include <QStringList>
#include <functional>
#include <map>
#include <vector>

#include "db/DataSetLink.h"

class DataSetSource;
class DataSetField;
class TableDataSet;

// The task grid's model: one row per record that the dataset's order and query let through,
// one column per visible field. A table of a million tasks must open and scroll at once, so
// rows are mapped to record numbers lazily, a block at a time, by walking the order from the
// nearest known place; only the rows on screen are ever read.
//
// The dataset's current record and the grid's current row follow each other: CurrentRow()
// answers where the dataset stands, SetCurrentRow() moves the dataset.
class DataSetModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  struct Column {
    QString field;
    QString title;
  };

  explicit DataSetModel(DataSetSource* source, QObject* parent = nullptr);
  ~DataSetModel() override;

  void SetColumns(const QList<Column>& columns);
  const QList<Column>& Columns() const { return columns_; }
  // Fields read with every row without being shown (for emphasis rules and the like).
  void SetExtraFields(const QStringList& fields);
  // The value of `field` (a column's or an extra field) in `row`; invalid when blank or unknown.
  QVariant FieldValue(int row, const QString& field) const;
  // Decides the font of a cell (Qt::FontRole); none means the view's font.
  std::function<QVariant(const DataSetModel& model, int row, int column)> CellFont;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

  // Record number shown in `row` (0 when there is none).
  quint32 RecnoAt(int row) const;
  // Row of the dataset's current record, -1 when it is not among the rows.
  int CurrentRow() const;
  // Makes the record of `row` the dataset's current record.
  void SetCurrentRow(int row);
  // Drops everything known and counts the rows again.
  void Reload();

 signals:
  // The dataset moved to another record (or the rows were reloaded); the grid selects `row`.
  void CurrentRowChanged(int row);

 private:
  class Link;
  static constexpr int kBlock = 256;

  const std::vector<quint32>* Block(int block) const;
  void ResolveFields();
  void DataSetChanged();
  void Scrolled();
  void RecordChanged();
  // Tells the grid where the dataset stands once the current operation is over: an order
  // change followed by a move to the first record costs one lookup, not two.
  void ScheduleCurrentRow();

  TableDataSet* DataSet() const;

  std::unique_ptr<Link> link_;
  QList<Column> columns_;
  std::vector<DataSetField*> fields_;  // the columns' fields, then the extra fields
  QStringList extraFields_;
  const std::vector<QVariant>* RowValues(int row) const;
  int rows_ = 0;
  mutable std::map<int, std::vector<quint32>> blocks_;
  mutable QCache<int, std::vector<QVariant>> rowCache_;
  mutable int currentRow_ = -1;
  mutable quint32 currentRecno_ = 0;
  bool following_ = false;  // the dataset is being moved by the grid
  bool rowSignalPending_ = false;
};
