#include "report/ReportRunGuard.h"

namespace {
// Everything runs on the user-interface thread, so a plain flag suffices.
bool running = false;
}  // namespace

ReportRunGuard::ReportRunGuard() : acquired_(!running) {
  running = true;
}

ReportRunGuard::~ReportRunGuard() {
  if (acquired_) running = false;
}

bool ReportRunGuard::Running() {
  return running;
}
