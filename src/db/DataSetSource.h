#pragma once

#include <QObject>
#include <vector>

class DataSetLink;
class TableDataSet;
class DataSetField;

// Connects a dataset to the controls and components bound to it: the dataset reports its
// events here and the data source passes them to every link while it is enabled.
class DataSetSource : public QObject {
  Q_OBJECT
 public:
  explicit DataSetSource(QObject* parent = nullptr);
  ~DataSetSource() override;

  TableDataSet* DataSet() const { return dataSet_; }
  void SetDataSet(TableDataSet* dataSet);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);

  // Called by the dataset.
  void NotifyActiveChanged();
  void NotifyDataSetChanged();
  void NotifyScrolled(int distance);
  void NotifyRecordChanged(DataSetField* field);
  void NotifyEditingChanged();
  void NotifyUpdateData();

 private:
  friend class DataSetLink;
  void AddLink(DataSetLink* link);
  void RemoveLink(DataSetLink* link);
  template <typename F>
  void ForEach(F f);

  TableDataSet* dataSet_ = nullptr;
  bool enabled_ = true;
  std::vector<DataSetLink*> links_;
};
