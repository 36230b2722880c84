// The tasks and settings the main window's tests start from, written the way the program
// writes them: the settings file as text, the tasks through the store.
#pragma once

#include <QFile>
#include <QList>
#include <QString>

#include "db/DataSetField.h"
#include "store/TaskStore.h"

struct Task {
  QString date, time, descript;
  bool done;
  QString keys, priority, note;
};

// Writes `settings` (unless empty) as the settings file in `dataDir` and adds `tasks` through
// the store, in the data directory in force; false when either fails.
inline bool SeedTasks(const QList<Task>& tasks, const QString& dataDir, const QString& settings = QString()) {
  if (!settings.isEmpty()) {
    QFile ini(dataDir + QStringLiteral("/TASQ.INI"));
    if (!ini.open(QIODevice::WriteOnly)) return false;
    ini.write(settings.toUtf8());
  }
  if (tasks.isEmpty()) return true;
  TaskStore store;
  if (!store.OpenTaskStore(false)) return false;
  for (const Task& t : tasks) {
    store.TasqTable.Append();
    store.TasqTable.FieldByName("DATE")->SetAsString(t.date);
    store.TasqTable.FieldByName("TIME")->SetAsString(t.time);
    store.TasqTable.FieldByName("DESCRIPT")->SetAsString(t.descript);
    store.TasqTable.FieldByName("DONE")->SetAsBoolean(t.done);
    store.TasqTable.FieldByName("KEYS")->SetAsString(t.keys);
    store.TasqTable.FieldByName("PRIORITY")->SetAsString(t.priority);
    store.TasqTable.FieldByName("NOTE")->SetAsString(t.note);
    store.TasqTable.Post();
  }
  return true;
}
