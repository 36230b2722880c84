#include "sync/TaskRecordFields.h"

#include "db/DataSetField.h"
#include "db/TableDataSet.h"

TaskRecord ReadCurrentTask(TableDataSet& table) {
  TaskRecord t;
  auto text = [&](const char* name) {
    // PRIORITY is missing only from a table of the old layout.
    DataSetField* f = table.FindField(QString::fromLatin1(name));
    return f == nullptr ? QString() : f->AsString();
  };
  t.date = text("DATE").trimmed();
  t.time = text("TIME").trimmed();
  t.descript = text("DESCRIPT");
  t.note = text("NOTE");
  DataSetField* done = table.FindField(QStringLiteral("DONE"));
  t.done = done != nullptr && done->AsBoolean();
  t.keys = text("KEYS");
  t.priority = text("PRIORITY").trimmed();
  return t;
}

void WriteCurrentTask(TableDataSet& table, const TaskRecord& t) {
  table.FieldByName(QStringLiteral("DATE"))->SetAsString(t.date);
  table.FieldByName(QStringLiteral("TIME"))->SetAsString(t.time);
  table.FieldByName(QStringLiteral("DESCRIPT"))->SetAsString(t.descript);
  table.FieldByName(QStringLiteral("NOTE"))->SetAsString(t.note);
  table.FieldByName(QStringLiteral("DONE"))->SetAsBoolean(t.done);
  table.FieldByName(QStringLiteral("KEYS"))->SetAsString(t.keys);
  table.FieldByName(QStringLiteral("PRIORITY"))->SetAsString(t.priority);
}
