// Times the three exports over a large task table without notes. Prints one line per figure:
//   figure NAME VALUE UNIT
//   cpu NAME SECONDS s, and with --repeat the spread of the runs (best, median, worst)
// Usage: exportbench [--records N] [--dir DIR] [--repeat N]
// Each figure is the best of N runs (1 by default).
// The table is written with the storage engine directly (faster than the dataset), then opened
// the way the program opens it, so the missing tags are built by the program's own rebuild.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "app/TaskDisplayTexts.h"
#include "db/TaskFileNames.h"
#include "db/DateTimeText.h"
#include "db/RegionalFormats.h"
#include "BenchTasks.h"
#include "db/DataSetField.h"
#include "platform/UserMessages.h"
#include "report/TaskExporter.h"
#include "store/StoreHelpers.h"
#include "store/TaskStore.h"
#include "xbengine.h"

namespace {

class Agreeing : public UserMessages {
 public:
  void Information(const QString& caption, const QString& text) override {
    std::fprintf(stderr, "exportbench: %s: %s\n", qPrintable(caption), qPrintable(text));
  }
  bool YesNo(const QString&, const QString&) override { return true; }
};

// CPU seconds of this process: on a machine shared with other work the wall clock says more
// about the neighbours than about the export.
double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void Figure(const char* name, double value, const char* unit) {
  std::printf("figure %s %.3f %s\n", name, value, unit);
  std::fflush(stdout);
}

// The best of the runs as the figure (the one least disturbed by other work on the machine),
// then the CPU time, and the spread of both: best, median, worst.
void Report(const char* name, std::vector<double> walls, std::vector<double> cpus) {
  std::sort(walls.begin(), walls.end());
  std::sort(cpus.begin(), cpus.end());
  Figure(name, walls.front(), "s");
  std::printf("cpu %s %.3f s\n", name, cpus.front());
  if (walls.size() > 1) {
    std::printf("spread %s wall %.3f %.3f %.3f cpu %.3f %.3f %.3f s (%zu runs)\n", name,
                walls.front(), walls[walls.size() / 2], walls.back(), cpus.front(),
                cpus[cpus.size() / 2], cpus.back(), walls.size());
  }
}

// The main window's display texts of the current record.
void CalcFields(TableDataSet& t) { TaskDisplayTexts::Fill(t); }

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  long records = 1000000;
  int repeat = 1;
  QString dir = QDir::tempPath() + QStringLiteral("/exportbench");
  const QStringList args = app.arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == QLatin1String("--records") && i + 1 < args.size())
      records = args[++i].toLong();
    else if (args[i] == QLatin1String("--dir") && i + 1 < args.size())
      dir = args[++i];
    else if (args[i] == QLatin1String("--repeat") && i + 1 < args.size())
      repeat = args[++i].toInt();
    else {
      std::fprintf(stderr, "usage: exportbench [--records N] [--dir DIR] [--repeat N]\n");
      return 2;
    }
  }
  if (records < 1 || repeat < 1) {
    std::fprintf(stderr, "exportbench: --records and --repeat must be at least 1\n");
    return 2;
  }
  Agreeing messages;
  UserMessages::Install(&messages);
  std::printf("records %ld dir %s\n", records, qPrintable(dir));
  if (!PrepareBenchFolder(dir)) return 1;
  QElapsedTimer timer;
  timer.start();
  if (!WriteBenchTasks(TaskFileNames::TaskTable(dir), records)) {
    std::fprintf(stderr, "exportbench: writing the tasks failed: %s\n", xb_ErrorText());
    return 1;
  }
  Figure("write_tasks_s", timer.elapsed() / 1000.0, "s");

  TaskStore store;
  TableDataSet& table = store.TasqTable;
  table.AddCalcField(QStringLiteral("ShowPriority"), FieldKind::String, 6);
  table.AddCalcField(QStringLiteral("ShowDate"), FieldKind::String, 30);
  table.AddCalcField(QStringLiteral("ShowTime"), FieldKind::String, 8);
  table.AddCalcField(QStringLiteral("IsDone"), FieldKind::String, 8);
  table.OnCalcFields = CalcFields;
  timer.restart();
  if (!store.OpenTaskStore(false)) return 1;
  Figure("open_and_build_tags_s", timer.elapsed() / 1000.0, "s");

  // The floor under every export: the engine alone stepping through the tasks in the window's
  // order and copying each record.
  {
    const int previous = xb_Select(table.CursorHandle());
    QByteArray image(xb_RecSize(), ' ');
    std::vector<double> walls, cpus;
    long visited = 0;
    for (int r = 0; r < repeat; ++r) {
      timer.restart();
      const double cpu_start = CpuSeconds();
      visited = 0;
      for (xb_GoTop(); !xb_Eof(); xb_Skip(1), ++visited) xb_GetRecord(image.data());
      walls.push_back(timer.nsecsElapsed() / 1e9);
      cpus.push_back(CpuSeconds() - cpu_start);
    }
    if (previous > 0) xb_Select(previous);
    table.First();
    Report("walk_order_s", walls, cpus);
    std::printf("walked %ld records\n", visited);
  }

  TaskExporter exporter(table, store.TasqEngine);
  const struct {
    const char* figure;
    const char* file;
  } runs[] = {
      {"export_html_s", "Tasq.htm"}, {"export_rtf_s", "Tasq.rtf"}, {"export_text_s", "Tasq.txt"}};
  for (const auto& run : runs) {
    const QString path = dir + QLatin1Char('/') + QLatin1String(run.file);
    std::vector<double> walls, cpus;
    for (int r = 0; r < repeat; ++r) {
      timer.restart();
      const double cpu_start = CpuSeconds();
      bool ok = false;
      if (run.file[5] == 'h')
        ok = exporter.CopyHTML(path, QStringLiteral("FFFF80"), QStringLiteral("Listwise"), false);
      else if (run.file[5] == 'r')
        ok = exporter.CopyRTF(path, QStringLiteral("Listwise"), false);
      else
        ok = exporter.CopyText(path, QStringLiteral("Listwise"), false);
      walls.push_back(timer.nsecsElapsed() / 1e9);
      cpus.push_back(CpuSeconds() - cpu_start);
      if (!ok) return 1;
    }
    Report(run.figure, walls, cpus);
    std::printf("size %s %lld bytes\n", run.file, static_cast<long long>(QFileInfo(path).size()));
  }
  UserMessages::Install(nullptr);
  return 0;
}
