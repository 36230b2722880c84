#pragma once

#include <QString>

// Empties `dir` and makes it the program's data folder with an empty task table and no index
// file, ready for WriteBenchTasks. False when the task table could not be created.
bool PrepareBenchFolder(const QString& dir);

// Writes `count` generated tasks (varied dates, times, priorities, done marks, key words; no
// notes) into the task table `dbf`, which must exist with the task layout and have no index
// open. The benchmarks build their million-task lists with it. False when the engine refused.
bool WriteBenchTasks(const QString& dbf, long count);
