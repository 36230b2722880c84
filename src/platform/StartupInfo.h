#pragma once

// The show state a process was started with. This platform gives a process none, so the answer
// is "show normally" (1) unless a test asks for another to exercise the minimised start.
class StartupInfo {
 public:
  static int ShowState();
  static void SetShowStateForTest(int state);
};
