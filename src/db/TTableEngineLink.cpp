#include "db/TTableEngineLink.h"

#include "db/TTableEngine.h"

void TTableEngineLink::ActiveChanged() { engine_->DataSetActivated(); }
