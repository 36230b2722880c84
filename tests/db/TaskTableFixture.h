#pragma once

// A task table in a temporary folder, made through the table engine component the way the
// program makes it, with the five tags.

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "db/DataSetSource.h"
#include "db/TableDataSet.h"
#include "db/TTableEngine.h"
#include "db/CursorLayer.h"
#include "db/TaskFileNames.h"

// Collects what the table layer reports for the user while it is installed.
class RecordedMessages {
 public:
  void Install() {
    CursorLayer::SetReporter([this](const QString& text) { shown << text; });
  }
  static void Uninstall() { CursorLayer::SetReporter({}); }
  QStringList shown;
};

struct TaskTableFixture {
  QTemporaryDir dir;
  TableDataSet table;
  DataSetSource source;
  TTableEngine engine;

  TaskTableFixture() {
    source.SetDataSet(&table);
    engine.SetDataSource(&source);
    table.SetDatabaseName(dir.path());
    table.SetTableName(QFileInfo(TablePath()).fileName());
  }

  // The task table's path, under the name the program gives it.
  QString TablePath() const { return TaskFileNames::TaskTable(dir.path()); }

  bool Create() {
    if (!engine.CreateTable(TablePath(), 2, 7)) return false;
    engine.DefineField("DATE", "C", 8, 0);
    engine.DefineField("TIME", "C", 5, 0);
    engine.DefineField("DESCRIPT", "C", 50, 0);
    engine.DefineField("NOTE", "M", 10, 0);
    engine.DefineField("DONE", "L", 1, 0);
    engine.DefineField("KEYS", "C", 60, 0);
    engine.DefineField("PRIORITY", "C", 1, 0);
    if (!engine.CommitCreate()) return false;
    table.SetExclusive(true);
    table.Open();
    const char* tags[5][2] = {{"DATETIME", "DATE+TIME"},
                              {"DESCRIPT", "upper(DESCRIPT)"},
                              {"DONE", "DONE"},
                              {"KEYS", "upper(KEYS)"},
                              {"PRIORITY", "upper(PRIORITY)+DATE+TIME"}};
    for (auto& t : tags)
      if (engine.AddIndexTag("", t[0], t[1], 0, false, "not Deleted()") <= 0) return false;
    table.Close();
    table.SetExclusive(false);
    table.SetIndexName(QStringLiteral("DATETIME"));
    return true;
  }

  void Add(const QString& date, const QString& time, const QString& descript, bool done = false,
           const QString& keys = QString(), const QString& priority = QStringLiteral("B"),
           const QString& note = QString()) {
    table.Append();
    table.FieldByName("DATE")->SetAsString(date);
    table.FieldByName("TIME")->SetAsString(time);
    table.FieldByName("DESCRIPT")->SetAsString(descript);
    table.FieldByName("DONE")->SetAsBoolean(done);
    table.FieldByName("KEYS")->SetAsString(keys);
    table.FieldByName("PRIORITY")->SetAsString(priority);
    if (!note.isEmpty()) table.FieldByName("NOTE")->SetAsString(note);
    table.Post();
  }

  // The descriptions in the dataset's current order, from the first record on.
  QStringList Walk() {
    QStringList out;
    table.First();
    while (!table.Eof() && !table.IsEmpty()) {
      out << table.FieldByName("DESCRIPT")->AsString();
      table.Next();
    }
    return out;
  }
};
