#pragma once

// Marks an export or a printed report as running for its lifetime. While one runs the window
// keeps processing messages, so a second command could otherwise start another pass over the
// same task table and move it under the first; only one may run at a time.
class ReportRunGuard {
 public:
  ReportRunGuard();
  ~ReportRunGuard();
  ReportRunGuard(const ReportRunGuard&) = delete;
  ReportRunGuard& operator=(const ReportRunGuard&) = delete;

  // False when another run was already going on: the caller must not start.
  bool Acquired() const { return acquired_; }
  static bool Running();

 private:
  bool acquired_;
};
