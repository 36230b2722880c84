#include "db/DataSetSource.h"

#include <algorithm>

#include "db/DataSetLink.h"
#include "db/TableDataSet.h"

DataSetSource::DataSetSource(QObject* parent) : QObject(parent) {}

DataSetSource::~DataSetSource() {
  SetDataSet(nullptr);
  // Links outlive their source only as detached links.
  for (DataSetLink* link : links_) link->source_ = nullptr;
}

void DataSetSource::SetDataSet(TableDataSet* dataSet) {
  if (dataSet_ == dataSet) return;
  if (dataSet_ != nullptr) dataSet_->RemoveDataSource(this);
  dataSet_ = dataSet;
  if (dataSet_ != nullptr) dataSet_->AddDataSource(this);
  NotifyActiveChanged();
}

void DataSetSource::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  NotifyActiveChanged();
}

void DataSetSource::AddLink(DataSetLink* link) { links_.push_back(link); }

void DataSetSource::RemoveLink(DataSetLink* link) {
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
}

template <typename F>
void DataSetSource::ForEach(F f) {
  if (!enabled_) return;
  // A link may detach itself while it is told; work on a copy.
  const std::vector<DataSetLink*> links = links_;
  for (DataSetLink* link : links)
    if (std::find(links_.begin(), links_.end(), link) != links_.end()) f(link);
}

void DataSetSource::NotifyActiveChanged() {
  ForEach([](DataSetLink* l) { l->ActiveChanged(); });
}
void DataSetSource::NotifyDataSetChanged() {
  ForEach([](DataSetLink* l) { l->DataSetChanged(); });
}
void DataSetSource::NotifyScrolled(int distance) {
  ForEach([distance](DataSetLink* l) { l->DataSetScrolled(distance); });
}
void DataSetSource::NotifyRecordChanged(DataSetField* field) {
  ForEach([field](DataSetLink* l) { l->RecordChanged(field); });
}
void DataSetSource::NotifyEditingChanged() {
  ForEach([](DataSetLink* l) { l->EditingChanged(); });
}
void DataSetSource::NotifyUpdateData() {
  ForEach([](DataSetLink* l) { l->UpdateData(); });
}
