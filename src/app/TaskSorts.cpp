#include "app/TaskSorts.h"

const std::array<TaskSorts::Command, 4> TaskSorts::kCommands = {{
    {"Sort by Date+Time", "DATETIME", "mnuSortDateTime"},
    {"Sort by Description", "DESCRIPT", "mnuSortDescription"},
    {"Sort by Priority", "PRIORITY", "mnuSortPriority"},
    {"Sort by Key Words", "KEYS", "mnuSortKeyWords"},
}};

int TaskSorts::IndexOf(const QString& tagName) {
  const QString upper = tagName.toUpper();
  for (size_t i = 0; i < kCommands.size(); ++i)
    if (upper == QLatin1String(kCommands[i].tag)) return int(i);
  return -1;
}
