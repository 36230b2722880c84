#pragma once

#include <QLockFile>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <memory>

class QLocalServer;

// One running copy per user, program name and task folder. The first copy holds a lock file and listens on
// a local socket of the same name; a later start finds the lock taken, asks the first copy to
// bring its window forward and ends without touching any file. A lock left by a killed copy is
// recognised as stale (its process is gone) and taken over.
class SingleInstance : public QObject {
  Q_OBJECT
 public:
  // `name` is the executable's file name; tests pass their own. `dataDir` is the task folder
  // (empty: one copy per user and name).
  explicit SingleInstance(const QString& name, const QString& dataDir = QString(), QObject* parent = nullptr);
  ~SingleInstance() override;

  // True when another copy runs; it has then been asked to come forward.
  bool AnotherIsRunning() const { return another_; }
  // The window to bring forward when a later copy starts.
  void SetWindow(QWidget* window) { window_ = window; }
  QString LockPath() const;

 private:
  void Raise();

  QString key_;
  std::unique_ptr<QLockFile> lock_;
  QLocalServer* server_ = nullptr;
  QPointer<QWidget> window_;
  bool another_ = false;
};
