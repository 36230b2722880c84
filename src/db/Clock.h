#pragma once

#include <functional>
#include <type_traits>
#include <utility>

// The present moment, as a date-time value, for everything that asks for "today" or "now":
// the quick dates, the grid's emphasis of today's tasks, the bulk delete of past tasks, the
// pickers' starting points. The program uses the system clock; tests hand in a fixed one.
class Clock {
 public:
  using Source = std::function<double()>;

  // The system clock.
  Clock() = default;
  // `now` gives the moment; an empty function is the system clock. Implicit, so that a lambda
  // is a clock.
  template <typename F, typename = std::enable_if_t<std::is_invocable_r_v<double, F>>>
  Clock(F now) : now_(std::move(now)) {}  // NOLINT(google-explicit-constructor)

  double Now() const;
  // The date of Now() (its whole days) and its time of day (the fraction).
  double Today() const;
  double TimeOfDay() const;

 private:
  Source now_;
};
