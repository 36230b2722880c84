#pragma once

#include <QPointer>
#include <QObject>

// Delivers the engine's progress reports to windows as key-press events, the way the rebuild
// dialog expects them: the engine calls a sink with a window handle and a key code (the negated
// percentage as a 16-bit number), and the window's key handler reads the code. A window gets a
// handle from Register(); the handle is what TTableEngine::SetProgressWindow passes on.
class EngineProgressSink {
 public:
  // Installs the sink into the engine (once) and returns the window's handle.
  static long Register(QObject* window);
  static void Unregister(QObject* window);

 private:
  static void Report(long window, int keyCode);
};
