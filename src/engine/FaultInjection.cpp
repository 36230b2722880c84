#include "FaultInjection.h"

#include <csignal>

namespace xb {

std::atomic<uint64_t> FaultInjection::armed_{0};
std::atomic<uint64_t> FaultInjection::kill_at_{0};
std::atomic<int> FaultInjection::active_{0};

namespace {
std::atomic<FaultInjection::Observer> g_observer{nullptr};
std::atomic<uint64_t> g_passed{0};
std::atomic<bool> g_fired{false};
}  // namespace

void FaultInjection::Arm(uint64_t n) {
  g_passed = 0;
  g_fired = false;
  armed_ = n;
  UpdateActive();
}

void FaultInjection::UpdateActive() {
  active_ = (armed_ != 0 || kill_at_ != 0 || g_observer.load() != nullptr) ? 1 : 0;
}

void FaultInjection::Observe(Observer observer) {
  g_observer = observer;
  UpdateActive();
}

void FaultInjection::KillAt(uint64_t n) {
  g_passed = 0;
  kill_at_ = n;
  UpdateActive();
}

uint64_t FaultInjection::Passed() { return g_passed.load(); }

bool FaultInjection::Fired() { return g_fired.load(); }

Status FaultInjection::Reach(const char* what, const std::string& path) {
  if (Observer observer = g_observer.load()) observer(what, path);
  const uint64_t n = ++g_passed;
  if (n == kill_at_.load()) std::raise(SIGKILL);
  if (n != armed_.load()) return Status::Ok();
  g_fired = true;
  return Status::IoError((path.empty() ? std::string() : path + ": ") + "cannot " + what +
                         ": input/output error (injected)");
}

}  // namespace xb
