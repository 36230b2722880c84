#include "platform/StartupInfo.h"

namespace {
int g_state = 1;
}

int StartupInfo::ShowState() { return g_state; }
void StartupInfo::SetShowStateForTest(int state) { g_state = state; }
