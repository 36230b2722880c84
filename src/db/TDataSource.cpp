#include "db/TDataSource.h"

#include <algorithm>

#include "db/TDataLink.h"
#include "db/TTable.h"

TDataSource::TDataSource(QObject* parent) : QObject(parent) {}

TDataSource::~TDataSource() {
  SetDataSet(nullptr);
  // Links outlive their source only as detached links.
  for (TDataLink* link : links_) link->source_ = nullptr;
}

void TDataSource::SetDataSet(TTable* dataSet) {
  if (dataSet_ == dataSet) return;
  if (dataSet_ != nullptr) dataSet_->RemoveDataSource(this);
  dataSet_ = dataSet;
  if (dataSet_ != nullptr) dataSet_->AddDataSource(this);
  NotifyActiveChanged();
}

void TDataSource::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  NotifyActiveChanged();
}

void TDataSource::AddLink(TDataLink* link) { links_.push_back(link); }

void TDataSource::RemoveLink(TDataLink* link) {
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
}

template <typename F>
void TDataSource::ForEach(F f) {
  if (!enabled_) return;
  // A link may detach itself while it is told; work on a copy.
  const std::vector<TDataLink*> links = links_;
  for (TDataLink* link : links)
    if (std::find(links_.begin(), links_.end(), link) != links_.end()) f(link);
}

void TDataSource::NotifyActiveChanged() {
  ForEach([](TDataLink* l) { l->ActiveChanged(); });
}
void TDataSource::NotifyDataSetChanged() {
  ForEach([](TDataLink* l) { l->DataSetChanged(); });
}
void TDataSource::NotifyScrolled(int distance) {
  ForEach([distance](TDataLink* l) { l->DataSetScrolled(distance); });
}
void TDataSource::NotifyRecordChanged(TField* field) {
  ForEach([field](TDataLink* l) { l->RecordChanged(field); });
}
void TDataSource::NotifyEditingChanged() {
  ForEach([](TDataLink* l) { l->EditingChanged(); });
}
void TDataSource::NotifyUpdateData() {
  ForEach([](TDataLink* l) { l->UpdateData(); });
}
