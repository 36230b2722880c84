#pragma once

#include <QScrollArea>

// One pane of a split container: a scroll box whose contents are the controls placed in it.
// Controls added with AddControl fill the pane (the way the main window's grid and notes fill
// theirs); the pane scrolls only when its contents ask for more room than it has.
class TSplitScrollPane : public QScrollArea {
  Q_OBJECT

 public:
  explicit TSplitScrollPane(QWidget* parent = nullptr);

  // The widget that holds the pane's controls.
  QWidget* Contents() const { return contents_; }
  // Places `control` in the pane, filling it (several controls share it top to bottom).
  void AddControl(QWidget* control);

  bool AutoScroll() const { return auto_scroll_; }
  void SetAutoScroll(bool auto_scroll);

 private:
  QWidget* contents_;
  bool auto_scroll_ = true;
};
