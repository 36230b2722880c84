#pragma once

// The engine has one selected work area that every call without an area argument works on.
// A scope selects the area it needs and selects the earlier one again when it ends, however it
// ends, so no caller has to remember to put it back.
class WorkAreaScope {
 public:
  // Selects `area` (> 0); the area selected before comes back at the end.
  explicit WorkAreaScope(int area);
  // For a dataset's call: selects `own`, the open dataset's area (0 while it is closed: then
  // nothing is selected). At the end the area selected before comes back unless it was `own`
  // itself: a call that selected a new area of its own (creating a table) leaves that selected.
  static WorkAreaScope ForDataset(int own);
  // Selects nothing and puts nothing back (a dataset engine without a dataset).
  static WorkAreaScope None() { return WorkAreaScope(0, 0); }
  ~WorkAreaScope() { Leave(); }
  WorkAreaScope(const WorkAreaScope&) = delete;
  WorkAreaScope& operator=(const WorkAreaScope&) = delete;

  // The area selected before the scope began (0 for none).
  int Previous() const { return previous_; }
  // Puts the earlier area back now rather than at the end; later calls do nothing.
  void Leave();

 private:
  WorkAreaScope(int previous, int own) : previous_(previous), own_(own) {}

  int previous_ = 0;
  int own_ = 0;  // the area the earlier one is not put back over (ForDataset), else 0
  bool left_ = false;
};
