#pragma once

class TDataSource;
class TTable;
class TField;

// What a bound control (or any other party) is told about the dataset behind a data source.
// Subclasses override the events they care about; the base does nothing.
class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return source_; }
  void SetDataSource(TDataSource* source);
  TTable* DataSet() const;
  bool Active() const;

  // The dataset opened or closed.
  virtual void ActiveChanged() {}
  // The record set changed (open, post, delete, order, query, refresh): re-read everything.
  virtual void DataSetChanged() {}
  // The current record moved by `distance` records (0 when unknown).
  virtual void DataSetScrolled(int /*distance*/) {}
  // A field of the current record changed (null: several or unknown fields).
  virtual void RecordChanged(TField* /*field*/) {}
  // The dataset entered or left the edit or insert state.
  virtual void EditingChanged() {}
  // The dataset is about to post: controls holding edits write them into the fields.
  virtual void UpdateData() {}

 private:
  friend class TDataSource;
  TDataSource* source_ = nullptr;
};
