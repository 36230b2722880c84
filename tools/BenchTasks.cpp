#include "BenchTasks.h"

#include <QDir>
#include <QFile>
#include <cstring>
#include <random>
#include <string>

#include "db/TaskFileNames.h"
#include "store/StoreHelpers.h"
#include "store/TaskStore.h"
#include "xbengine.h"

bool WriteBenchTasks(const QString& dbf, long count) {
  const QByteArray path = QFile::encodeName(dbf);
  const int area = xb_Use(path.constData(), "BENCH", XB_EXCLUSIVE, XB_DRIVER_FOX);
  if (area == 0) return false;
  const int reclen = xb_RecSize();
  std::string rec(size_t(reclen), ' ');
  std::mt19937_64 rng(20261207);
  char buf[64];
  for (long i = 0; i < count; ++i) {
    std::fill(rec.begin(), rec.end(), ' ');
    if (rng() % 10 != 0) {
      std::snprintf(buf, sizeof buf, "%04d%02d%02d", 2020 + int(rng() % 8), 1 + int(rng() % 12),
                    1 + int(rng() % 28));
      std::memcpy(&rec[1], buf, 8);
      if (rng() % 2) {
        std::snprintf(buf, sizeof buf, "%02d:%02d", int(rng() % 24), int(rng() % 60));
        std::memcpy(&rec[9], buf, 5);
      }
    }
    const std::string d = "Task number " + std::to_string(i) + " of the benchmark";
    std::memcpy(&rec[14], d.data(), std::min<size_t>(d.size(), 50));
    rec[74] = rng() % 3 == 0 ? 'T' : 'F';
    std::memcpy(&rec[75], "WORK", 4);
    rec[135] = "ABC "[rng() % 4];
    if (!xb_AppendBlank() || !xb_PutRecord(rec.data())) return false;
  }
  const bool ok = xb_Commit() != 0;
  xb_Close(area);
  return ok;
}

bool PrepareBenchFolder(const QString& dir) {
  QDir(dir).removeRecursively();
  QDir().mkpath(dir);
  StoreHelpers::SetDataDirectory(dir);
  {
    TaskStore empty;
    if (!empty.OpenTaskStore(false)) return false;
  }
  // The benchmarks time the program's own build of the tags after the tasks are written.
  QFile::remove(TaskFileNames::Stored(dir, QStringLiteral("LWISE.CDX")));
  return true;
}
