#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <unistd.h>

SingleInstance::SingleInstance(const QString& name, const QString& dataDir, QObject* parent) : QObject(parent) {
  key_ = QStringLiteral("%1-%2").arg(name).arg(getuid());
  if (!dataDir.isEmpty()) {
    // The folder by its canonical path, so two spellings of one folder share one copy; hashed,
    // because the key names a socket, whose path is short.
    const QString canonical = QFileInfo(dataDir).canonicalFilePath();
    const QByteArray path = (canonical.isEmpty() ? QDir(dataDir).absolutePath() : canonical).toUtf8();
    key_ += QLatin1Char('-') + QString::fromLatin1(QCryptographicHash::hash(path, QCryptographicHash::Sha1).toHex().left(16));
  }
  lock_ = std::make_unique<QLockFile>(LockPath());
  if (lock_->tryLock(0)) {
    server_ = new QLocalServer(this);
    QLocalServer::removeServer(key_);  // a socket file left by a killed copy
    server_->listen(key_);
    connect(server_, &QLocalServer::newConnection, this, [this] {
      while (QLocalSocket* s = server_->nextPendingConnection()) {
        connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
        Raise();
      }
    });
    return;
  }
  another_ = true;
  QLocalSocket socket;
  socket.connectToServer(key_);
  if (socket.waitForConnected(2000)) {
    socket.write("raise");
    socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
  }
}

SingleInstance::~SingleInstance() {
  if (server_ != nullptr) server_->close();
  if (!another_) lock_->unlock();
}

QString SingleInstance::LockPath() const {
  // The user's runtime folder when the session has one; asking Qt for it without one only
  // produces a warning, so the temporary folder is taken directly then.
  QString dir;
  if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
    dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (dir.isEmpty()) dir = QDir::tempPath();
  return QDir(dir).filePath(key_ + QStringLiteral(".lock"));
}

void SingleInstance::Raise() {
  if (!window_) return;
  if (window_->isMinimized()) window_->showNormal();
  window_->raise();
  window_->activateWindow();
}
