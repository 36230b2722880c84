// Times the three exports over a large task table without notes. Prints one line per figure:
//   figure NAME VALUE UNIT
// Usage: exportbench [--records N] [--dir DIR]
// The table is written with the storage engine directly (faster than the dataset), then opened
// the way the program opens it, so the missing tags are built by the program's own rebuild.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <string>

#include "app/TaskDisplayTexts.h"
#include "db/DateTimeText.h"
#include "db/RegionalFormats.h"
#include "BenchTasks.h"
#include "db/TField.h"
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

// The main window's display texts of the current record.
void CalcFields(TTable& t) { TaskDisplayTexts::Fill(t); }

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  long records = 1000000;
  QString dir = QDir::tempPath() + QStringLiteral("/exportbench");
  const QStringList args = app.arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == QLatin1String("--records") && i + 1 < args.size())
      records = args[++i].toLong();
    else if (args[i] == QLatin1String("--dir") && i + 1 < args.size())
      dir = args[++i];
    else {
      std::fprintf(stderr, "usage: exportbench [--records N] [--dir DIR]\n");
      return 2;
    }
  }
  if (records < 1) {
    std::fprintf(stderr, "exportbench: --records must be at least 1\n");
    return 2;
  }
  QDir(dir).removeRecursively();
  QDir().mkpath(dir);
  StoreHelpers::SetDataDirectory(dir);
  Agreeing messages;
  UserMessages::Install(&messages);
  std::printf("records %ld dir %s\n", records, qPrintable(dir));

  {
    TaskStore empty;
    if (!empty.OpenTaskStore(false)) return 1;
  }
  QFile::remove(dir + QStringLiteral("/LWISE.CDX"));
  QElapsedTimer timer;
  timer.start();
  if (!WriteBenchTasks(dir + QStringLiteral("/LWISE.DBF"), records)) {
    std::fprintf(stderr, "exportbench: writing the tasks failed: %s\n", xb_ErrorText());
    return 1;
  }
  Figure("write_tasks_s", timer.elapsed() / 1000.0, "s");

  TaskStore store;
  TTable& table = store.TasqTable;
  table.AddCalcField(QStringLiteral("ShowPriority"), FieldKind::String, 6);
  table.AddCalcField(QStringLiteral("ShowDate"), FieldKind::String, 30);
  table.AddCalcField(QStringLiteral("ShowTime"), FieldKind::String, 8);
  table.AddCalcField(QStringLiteral("IsDone"), FieldKind::String, 8);
  table.OnCalcFields = CalcFields;
  timer.restart();
  if (!store.OpenTaskStore(false)) return 1;
  Figure("open_and_build_tags_s", timer.elapsed() / 1000.0, "s");

  TaskExporter exporter(table, store.TasqEngine);
  const struct {
    const char* figure;
    const char* file;
  } runs[] = {
      {"export_html_s", "Tasq.htm"}, {"export_rtf_s", "Tasq.rtf"}, {"export_text_s", "Tasq.txt"}};
  for (const auto& run : runs) {
    const QString path = dir + QLatin1Char('/') + QLatin1String(run.file);
    timer.restart();
    const double cpuStart = CpuSeconds();
    bool ok = false;
    if (run.file[5] == 'h')
      ok = exporter.CopyHTML(path, QStringLiteral("FFFF80"), QStringLiteral("Listwise"), false);
    else if (run.file[5] == 'r')
      ok = exporter.CopyRTF(path, QStringLiteral("Listwise"), false);
    else
      ok = exporter.CopyText(path, QStringLiteral("Listwise"), false);
    const double seconds = timer.elapsed() / 1000.0;
    const double cpu = CpuSeconds() - cpuStart;
    if (!ok) return 1;
    Figure(run.figure, seconds, "s");
    std::printf("cpu %s %.3f s\n", run.figure, cpu);
    std::printf("size %s %lld bytes\n", run.file, static_cast<long long>(QFileInfo(path).size()));
  }
  UserMessages::Install(nullptr);
  return 0;
}
