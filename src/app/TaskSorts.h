#pragma once

#include <QString>
#include <array>

// The four orders of the task list: the File menu's Sort items and the Sort button's menu
// offer the same ones, each standing for one index tag of the task file.
class TaskSorts {
 public:
  struct Command {
    const char* caption;
    const char* tag;   // the index tag, upper case
    const char* name;  // object name of its menu item (the File menu's items add "main")
  };
  static const std::array<Command, 4> kCommands;

  // The command that stands for the tag named `tagName` (any case), or -1: then no item is
  // checked.
  static int IndexOf(const QString& tagName);
};
