#include "sync/PackIdentityGuard.h"

#include <QDir>
#include <QFileInfo>

#include "sync/TaskIdentity.h"

PackIdentityGuard::PackIdentityGuard(const QString& taskTablePath, int area) : taskTablePath_(taskTablePath) {
  const QString companion = QFileInfo(taskTablePath).absoluteDir().filePath(QLatin1String(TaskIdentity::kFileName));
  if (!QFileInfo::exists(companion)) return;
  auto identity = std::make_unique<TaskIdentity>();
  if (!identity->Open(taskTablePath, &problem_)) return;
  if (!identity->PreparePack(DeletionMarksOfArea(area), &problem_)) return;
  identity_ = std::move(identity);
}

PackIdentityGuard::~PackIdentityGuard() {
  if (!identity_) return;
  QString error;
  // A failure here leaves the plan marked; the next open of the identities settles it.
  identity_->FinishPack(taskTablePath_, &error);
}
