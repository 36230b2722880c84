#pragma once

class DataSetSource;
class TableDataSet;
class DataSetField;

// What a bound control (or any other party) is told about the dataset behind a data source.
// Subclasses override the events they care about; the base does nothing.
class DataSetLink {
 public:
  DataSetLink() = default;
  virtual ~DataSetLink();
  DataSetLink(const DataSetLink&) = delete;
  DataSetLink& operator=(const DataSetLink&) = delete;

  DataSetSource* DataSource() const { return source_; }
  void SetDataSource(DataSetSource* source);
  TableDataSet* DataSet() const;
  bool Active() const;

  // The dataset opened or closed.
  virtual void ActiveChanged() {}
  // The record set changed (open, post, delete, order, query, refresh): re-read everything.
  virtual void DataSetChanged() {}
  // The current record moved by `distance` records (0 when unknown).
  virtual void DataSetScrolled(int /*distance*/) {}
  // A field of the current record changed (null: several or unknown fields).
  virtual void RecordChanged(DataSetField* /*field*/) {}
  // The dataset entered or left the edit or insert state.
  virtual void EditingChanged() {}
  // The dataset is about to post: controls holding edits write them into the fields.
  virtual void UpdateData() {}

 private:
  friend class DataSetSource;
  DataSetSource* source_ = nullptr;
};
