#pragma once

// The program calls the engine from one thread. A few long jobs (keying and sorting a large
// index, writing thousands of changed pages, syncing two files) hand part of their work to one
// helper thread and wait for it before they return, so no caller ever sees a second thread.
// Whether a job splits is decided here, by one setting and each job's own threshold: a job
// splits when threads are allowed and it holds at least its threshold of work (below that the
// thread costs more than it saves). The result of a job never depends on the decision; the
// tests run the same work both ways and compare the bytes.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace xb {

class Parallel {
 public:
  enum class Mode {
    kAuto,       // split large jobs when the machine has a second core
    kOneThread,  // never start a thread
    kAlways,     // split every job that can be split, however small (for tests)
  };

  static void SetMode(Mode mode) { mode_.store(mode, std::memory_order_relaxed); }
  static Mode mode() { return mode_.load(std::memory_order_relaxed); }

  // Whether a job with `work` units of work and a threshold of `threshold` units splits.
  static bool Worth(size_t work, size_t threshold) {
    bool split = false;
    switch (mode()) {
      case Mode::kOneThread: return false;
      case Mode::kAlways: split = true; break;
      case Mode::kAuto: split = work >= threshold && std::thread::hardware_concurrency() > 1;
    }
    if (split) splits_.fetch_add(1, std::memory_order_relaxed);
    return split;
  }
  // Jobs split so far (tests check that the work they compare did take the split paths).
  static uint64_t splits() { return splits_.load(std::memory_order_relaxed); }

  // Whether work that mostly waits on the device (syncing files) may overlap on a thread;
  // that needs no second core.
  static bool Allowed() { return mode() != Mode::kOneThread; }

  // Sets the mode for one scope and puts the previous one back (tests).
  class ModeScope {
   public:
    explicit ModeScope(Mode mode) : previous_(Parallel::mode()) { SetMode(mode); }
    ~ModeScope() { SetMode(previous_); }
    ModeScope(const ModeScope&) = delete;
    ModeScope& operator=(const ModeScope&) = delete;

   private:
    Mode previous_;
  };

 private:
  static inline std::atomic<Mode> mode_{Mode::kAuto};
  static inline std::atomic<uint64_t> splits_{0};
};

}  // namespace xb
