#pragma once

#include <QObject>
#include <QString>

class QTimer;
class QWidget;

// For drivers that send real mouse and key events to the program from outside (the X server's
// test extension): while it lives, and `path` is not empty, it writes the visible windows every
// few tenths of a second to `path` as JSON: every visible widget with its object name, class,
// text and screen rectangle, the actions of open menus, the visible cells of item views, and
// which window and control are active. The driver takes its coordinates from there instead of
// fixed numbers. Written to a temporary name and renamed, so a reader never sees half a file.
class GeometryDump : public QObject {
 public:
  explicit GeometryDump(const QString& path, QObject* parent = nullptr);

  // The JSON text of what is on the screen now.
  static QByteArray Snapshot();

 private:
  void Write();
  QString path_;
  QByteArray last_;
};
