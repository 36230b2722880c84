#pragma once

#include "db/DataSetLink.h"

class TTableEngine;

// Tells a table engine component when the dataset behind its data source changes or opens.
class TTableEngineLink : public DataSetLink {
 public:
  explicit TTableEngineLink(TTableEngine* engine) : engine_(engine) {}
  TTableEngine* Engine() const { return engine_; }
  void ActiveChanged() override;

 private:
  TTableEngine* engine_;
};
