#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "Status.h"

namespace xb {

// Makes one chosen file write or sync fail, so that tests can see what every operation leaves
// behind when the disk gives out at that exact point. Every place that writes, grows, renames
// or syncs a table, memo or index file passes a point; with Arm(n) the n-th point passed from
// then on fails with an I/O error (once), and the count of points passed tells a test when an
// operation ran to its end without reaching the armed one. Disarmed (the normal state), a
// point costs one relaxed load.
class FaultInjection {
 public:
  // Fails the n-th point passed from now on (n >= 1); 0 disarms.
  static void Arm(uint64_t n);
  static void Disarm() { Arm(0); }
  // Crash tests: the process kills itself (SIGKILL, as kill -9 would) at the n-th point passed
  // from now on, before that write or sync happens; 0 disarms. Counting starts again at 0.
  static void KillAt(uint64_t n);
  // Tests that must act at an exact moment (another program opening a file in the middle of a
  // switch of files): `observer` is called at every point passed, before it counts; null stops.
  using Observer = void (*)(const char* what, const std::string& path);
  static void Observe(Observer observer);
  // Points passed since the last Arm, and whether the armed one was reached.
  static uint64_t Passed();
  static bool Fired();

  // A point: Ok, or the injected failure for `what` on `path`.
  static Status Point(const char* what, const std::string& path) {
    if (active_.load(std::memory_order_relaxed) == 0) return Status::Ok();
    return Reach(what, path);
  }
 private:
  static Status Reach(const char* what, const std::string& path);
  static std::atomic<uint64_t> armed_;
  static std::atomic<uint64_t> kill_at_;
  static std::atomic<int> active_;  // whether any of them is set
  static void UpdateActive();
};

}  // namespace xb
