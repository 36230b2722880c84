#include "report/ReportRunGuard.h"

namespace {
// Everything runs on the user-interface thread, so a plain flag suffices.
bool g_running = false;
}  // namespace

ReportRunGuard::ReportRunGuard() : acquired_(!g_running) {
  g_running = true;
}

ReportRunGuard::~ReportRunGuard() {
  if (acquired_) g_running = false;
}

bool ReportRunGuard::Running() {
  return g_running;
}
