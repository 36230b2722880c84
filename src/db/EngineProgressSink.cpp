#include "db/EngineProgressSink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPointer>
#include <map>

#include "xbengine.h"

namespace {
std::map<long, QPointer<QObject>>& Windows() {
  static std::map<long, QPointer<QObject>> windows;
  return windows;
}
long g_next = 1;
}  // namespace

long EngineProgressSink::Register(QObject* window) {
  xb_SetProgressSink(&EngineProgressSink::Report);
  for (const auto& [handle, w] : Windows())
    if (w == window) return handle;
  const long handle = g_next++;
  Windows()[handle] = window;
  return handle;
}

void EngineProgressSink::Unregister(QObject* window) {
  for (auto it = Windows().begin(); it != Windows().end();) {
    if (it->second == window || it->second.isNull()) it = Windows().erase(it);
    else ++it;
  }
}

void EngineProgressSink::Report(long window, int keyCode) {
  auto it = Windows().find(window);
  if (it == Windows().end() || it->second.isNull()) return;
  QCoreApplication::postEvent(it->second, new QKeyEvent(QEvent::KeyPress, keyCode & 0xFFFF, Qt::NoModifier));
  // The engine works on this thread: let the window paint now and then, not for every report.
  static QElapsedTimer sinceLast;
  if (!sinceLast.isValid() || sinceLast.elapsed() >= 30) {
    sinceLast.restart();
    QCoreApplication::processEvents();
  }
}
