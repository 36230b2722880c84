#include "db/DataSetLink.h"

#include "db/DataSetSource.h"
#include "db/TableDataSet.h"

DataSetLink::~DataSetLink() { SetDataSource(nullptr); }

void DataSetLink::SetDataSource(DataSetSource* source) {
  if (source_ == source) return;
  if (source_ != nullptr) source_->RemoveLink(this);
  source_ = source;
  if (source_ != nullptr) source_->AddLink(this);
}

TableDataSet* DataSetLink::DataSet() const { return source_ != nullptr ? source_->DataSet() : nullptr; }

bool DataSetLink::Active() const {
  TableDataSet* t = DataSet();
  return t != nullptr && t->Active();
}
