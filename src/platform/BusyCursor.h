#pragma once

// The hourglass for the length of a scope, taken down again however the scope ends. Without a
// widget application (a console tool, a test without one) it does nothing.
class BusyCursor {
 public:
  BusyCursor();
  ~BusyCursor() { Release(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

  // Takes the hourglass down before the scope ends; later calls do nothing.
  void Release();

 private:
  bool on_;
};
