#include "platform/BusyCursor.h"

#include <QApplication>

BusyCursor::BusyCursor() : on_(qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
  if (on_) QApplication::setOverrideCursor(Qt::WaitCursor);
}

void BusyCursor::Release() {
  if (on_) QApplication::restoreOverrideCursor();
  on_ = false;
}
