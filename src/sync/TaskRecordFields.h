#pragma once

#include "sync/TaskRecord.h"

class TTable;

// A task between the table dataset and a plain value: the current record read out, and the
// fields of a record in edit or insert state set (the caller appends or edits, then posts).
// Raises EDatabaseError as the dataset does.
TaskRecord ReadCurrentTask(TTable& table);
void WriteCurrentTask(TTable& table, const TaskRecord& task);
