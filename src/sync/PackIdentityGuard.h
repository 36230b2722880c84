#pragma once

#include <QString>

#include <memory>

class TaskIdentity;

// Keeps the task identities (LWSYNC.DBF) in step with a pack of the task table by this program:
// made just before the pack, while the table is open exclusively in the engine's work area
// `area`, it records where every record will go; destroyed after the pack, it applies that
// when the pack happened and drops it when not. Without an identity table it does nothing, and
// when the identity table cannot be opened the next sync finds the tasks again by content.
class PackIdentityGuard {
 public:
  PackIdentityGuard(const QString& taskTablePath, int area);
  ~PackIdentityGuard();
  PackIdentityGuard(const PackIdentityGuard&) = delete;
  PackIdentityGuard& operator=(const PackIdentityGuard&) = delete;

  // Why the identities could not be prepared; empty when they were, or when there are none.
  const QString& problem() const { return problem_; }

 private:
  QString taskTablePath_;
  std::unique_ptr<TaskIdentity> identity_;
  QString problem_;
};
