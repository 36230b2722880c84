#pragma once

#include "sync/TaskRecord.h"

class TableDataSet;

// A task between the table dataset and a plain value: the current record read out, and the
// fields of a record in edit or insert state set (the caller appends or edits, then posts).
// Raises EDatabaseError as the dataset does.
TaskRecord ReadCurrentTask(TableDataSet& table);
void WriteCurrentTask(TableDataSet& table, const TaskRecord& task);
