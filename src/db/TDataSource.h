#pragma once

#include <QObject>
#include <vector>

class TDataLink;
class TTable;
class TField;

// Connects a dataset to the controls and components bound to it: the dataset reports its
// events here and the data source passes them to every link while it is enabled.
class TDataSource : public QObject {
  Q_OBJECT
 public:
  explicit TDataSource(QObject* parent = nullptr);
  ~TDataSource() override;

  TTable* DataSet() const { return dataSet_; }
  void SetDataSet(TTable* dataSet);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);

  // Called by the dataset.
  void NotifyActiveChanged();
  void NotifyDataSetChanged();
  void NotifyScrolled(int distance);
  void NotifyRecordChanged(TField* field);
  void NotifyEditingChanged();
  void NotifyUpdateData();

 private:
  friend class TDataLink;
  void AddLink(TDataLink* link);
  void RemoveLink(TDataLink* link);
  template <typename F>
  void ForEach(F f);

  TTable* dataSet_ = nullptr;
  bool enabled_ = true;
  std::vector<TDataLink*> links_;
};
