#pragma once

#include <QString>

#include <cstdint>
#include <memory>

#include "sync/TaskRecord.h"

namespace xb {
class Table;
}

// Writes tasks that come from outside (the sync) into the task table LWISE.DBF, opened shared
// beside the program's own open, through the storage engine so that the index tags follow.
// Each write is one step that a kill cannot split: the note goes to fresh memo blocks first and
// the record image, pointing at it, is then appended or replaced whole. So a task either is in
// the table complete, or not at all.
class TaskTableWriter {
 public:
  TaskTableWriter();
  ~TaskTableWriter();
  TaskTableWriter(const TaskTableWriter&) = delete;
  TaskTableWriter& operator=(const TaskTableWriter&) = delete;

  bool Open(const QString& dbfPath, QString* error);
  void Close();

  // Text outside Windows-1252 is refused (the caller has checked it; this is the last guard).
  bool Append(const TaskRecord& task, uint32_t* recno, QString* error);
  bool Replace(uint32_t recno, const TaskRecord& task, QString* error);
  bool MarkDeleted(uint32_t recno, QString* error);
  // Forces what was written to the disk.
  bool Commit(QString* error);

 private:
  bool Image(const TaskRecord& task, uint32_t oldRecno, std::string* image, QString* error);

  std::unique_ptr<xb::Table> table_;
  QString path_;
  int fields_[7] = {};
};
