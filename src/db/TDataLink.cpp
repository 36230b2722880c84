#include "db/TDataLink.h"

#include "db/TDataSource.h"
#include "db/TTable.h"

TDataLink::~TDataLink() { SetDataSource(nullptr); }

void TDataLink::SetDataSource(TDataSource* source) {
  if (source_ == source) return;
  if (source_ != nullptr) source_->RemoveLink(this);
  source_ = source;
  if (source_ != nullptr) source_->AddLink(this);
}

TTable* TDataLink::DataSet() const { return source_ != nullptr ? source_->DataSet() : nullptr; }

bool TDataLink::Active() const {
  TTable* t = DataSet();
  return t != nullptr && t->Active();
}
