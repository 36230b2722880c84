#pragma once

// A task table as the main window presents it to the exports: opened through the task store in
// a temporary data directory, carrying the grid's calculated display fields, computed the way
// the main window computes them.

#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "db/DateTimeText.h"
#include "db/RegionalFormats.h"
#include "db/DataSetField.h"
#include "store/StoreHelpers.h"
#include "store/TaskStore.h"

struct TestTask {
  QString date;  // "yyyymmdd" or blank
  QString time;  // "hh:nn" or blank
  QString descript;
  QString priority;
  bool done = false;
  QString keys;
  QString note;
};

class ReportTestTable {
 public:
  ReportTestTable() {
    StoreHelpers::SetDataDirectory(dir_.path());
    store_ = std::make_unique<TaskStore>();
    TableDataSet& t = store_->TasqTable;
    t.AddCalcField(QStringLiteral("ShowPriority"), FieldKind::String, 6);
    t.AddCalcField(QStringLiteral("ShowDate"), FieldKind::String, 30);
    t.AddCalcField(QStringLiteral("ShowTime"), FieldKind::String, 8);
    t.AddCalcField(QStringLiteral("IsDone"), FieldKind::String, 8);
    t.OnCalcFields = [](TableDataSet& table) { CalcFields(table); };
    opened_ = store_->OpenTaskStore(false);
  }
  ~ReportTestTable() {
    store_.reset();
    StoreHelpers::SetDataDirectory(QString());
  }

  bool Opened() const { return opened_; }
  TableDataSet& Table() { return store_->TasqTable; }
  TTableEngine& Engine() { return store_->TasqEngine; }
  QString Path(const QString& name) const { return dir_.filePath(name); }

  void Add(const TestTask& task) {
    TableDataSet& t = Table();
    t.Append();
    t.FieldByName(QStringLiteral("DATE"))->SetAsString(task.date);
    t.FieldByName(QStringLiteral("TIME"))->SetAsString(task.time);
    t.FieldByName(QStringLiteral("DESCRIPT"))->SetAsString(task.descript);
    t.FieldByName(QStringLiteral("DONE"))->SetAsBoolean(task.done);
    t.FieldByName(QStringLiteral("KEYS"))->SetAsString(task.keys);
    t.FieldByName(QStringLiteral("PRIORITY"))->SetAsString(task.priority);
    t.FieldByName(QStringLiteral("NOTE"))->SetAsString(task.note);
    t.Post();
  }

  // The main window's display texts of the current record.
  static void CalcFields(TableDataSet& t) {
    if (t.Tag() == -1) return;
    double value = 0;
    const QString date = t.FieldByName(QStringLiteral("DATE"))->AsString();
    const QString rearranged =
        date.mid(4, 2) + QLatin1Char('/') + date.mid(6, 2) + QLatin1Char('/') + date.left(4);
    if (date.size() == 8 && DateTimeText::TryStrToDate(rearranged, RegionalFormats::Fixed(), value))
      t.FieldByName(QStringLiteral("ShowDate"))
          ->SetAsString(DateTimeText::FormatDateTime(QStringLiteral("dd mmm yyyy"), value));
    t.FieldByName(QStringLiteral("IsDone"))
        ->SetAsString(t.FieldByName(QStringLiteral("DONE"))->AsBoolean() ? QStringLiteral("Y")
                                                                         : QStringLiteral("N"));
    const QString time = t.FieldByName(QStringLiteral("TIME"))->AsString();
    if (!time.isEmpty() && DateTimeText::TryStrToTime(time, RegionalFormats::Fixed(), value))
      t.FieldByName(QStringLiteral("ShowTime"))
          ->SetAsString(DateTimeText::FormatDateTime(QStringLiteral(" hh:mmam/pm"), value));
    const QString priority = t.FieldByName(QStringLiteral("PRIORITY"))->AsString().toUpper();
    const char* text = priority == QLatin1String("A")   ? "High"
                       : priority == QLatin1String("B") ? "Medium"
                       : priority == QLatin1String("C") ? "Low"
                                                        : nullptr;
    if (text != nullptr)
      t.FieldByName(QStringLiteral("ShowPriority"))->SetAsString(QLatin1String(text));
  }

 private:
  QTemporaryDir dir_;
  std::unique_ptr<TaskStore> store_;
  bool opened_ = false;
};
