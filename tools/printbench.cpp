// Times the printed report over a large task table: printed to the PDF printer, and recorded
// for the preview. Prints one line per figure:
//   figure NAME VALUE UNIT
// Usage: printbench [--records N] [--dir DIR]
// The tasks are written with the storage engine directly, then opened the way the program opens
// them; the report runs inside its status form as it does for a person.

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPrinter>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "db/TaskFileNames.h"
#include "BenchTasks.h"
#include "db/DataSetField.h"
#include "platform/UserMessages.h"
#include "render/ReportPrinters.h"
#include "render/ReportPrinter.h"
#include "render/ReportRecorder.h"
#include "report/TReportPrint.h"
#include "store/StoreHelpers.h"
#include "store/TaskStore.h"
#include "widgets/TFlatButton.h"
#include "xbengine.h"

namespace {

class Quiet : public UserMessages {
 public:
  void Information(const QString& caption, const QString& text) override {
    std::fprintf(stderr, "printbench: %s: %s\n", qPrintable(caption), qPrintable(text));
  }
  bool YesNo(const QString&, const QString&) override { return false; }
};

void Figure(const char* name, double value, const char* unit) {
  std::printf("figure %s %.3f %s\n", name, value, unit);
  std::fflush(stdout);
}

// The grid's priority text, the one calculated field the report reads.
void CalcFields(TableDataSet& t) {
  if (t.Tag() == -1) return;
  const QString priority = t.FieldByName(QStringLiteral("PRIORITY"))->AsString().toUpper();
  const char* text = priority == QLatin1String("A")   ? "High"
                     : priority == QLatin1String("B") ? "Medium"
                     : priority == QLatin1String("C") ? "Low"
                                                      : "";
  t.FieldByName(QStringLiteral("ShowPriority"))->SetAsString(QLatin1String(text));
}

// Runs the report in its status form, closing the form when the run is over.
ReportEngine::RunResult RunReport(TaskStore& store, bool to_printer, QBuffer* stream) {
  store.TasqTable.First();
  TReportPrint status(store.TasqTable, store.TasqEngine);
  status.HeaderTitle = QStringLiteral("Benchmark");
  status.PrintCheckboxes = true;
  status.ToPrinter = to_printer;
  status.TestRecorderEngine->SetStream(stream);
  for (ReportEngine* e : {static_cast<ReportEngine*>(status.TestPrinterEngine),
                           static_cast<ReportEngine*>(status.TestRecorderEngine)}) {
    e->BeforePrint = [&status](ReportEngine& r) { status.BeforePrintReport(r); };
    e->PrintStep = [&status](ReportEngine& r) { status.PrintReport1(r); };
  }
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (status.Finished()) status.CancelButton->click();
  });
  closer.start(5);
  status.exec();
  return status.Result();
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  long records = 10000;
  QString dir = QDir::tempPath() + QStringLiteral("/printbench");
  const QStringList args = app.arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == QLatin1String("--records") && i + 1 < args.size())
      records = args[++i].toLong();
    else if (args[i] == QLatin1String("--dir") && i + 1 < args.size())
      dir = args[++i];
    else {
      std::fprintf(stderr, "usage: printbench [--records N] [--dir DIR]\n");
      return 2;
    }
  }
  if (records < 1) {
    std::fprintf(stderr, "printbench: --records must be at least 1\n");
    return 2;
  }
  Quiet messages;
  UserMessages::Install(&messages);
  std::printf("records %ld dir %s\n", records, qPrintable(dir));
  if (!PrepareBenchFolder(dir)) return 1;
  if (!WriteBenchTasks(TaskFileNames::TaskTable(dir), records)) {
    std::fprintf(stderr, "printbench: writing the tasks failed: %s\n", xb_ErrorText());
    return 1;
  }
  TaskStore store;
  store.TasqTable.AddCalcField(QStringLiteral("ShowPriority"), FieldKind::String, 6);
  store.TasqTable.OnCalcFields = CalcFields;
  if (!store.OpenTaskStore(false)) return 1;

  const QString pdf = dir + QStringLiteral("/report.pdf");
  ReportPrinters::SelectPrinter(ReportPrinters::PdfPrinterName());
  ReportPrinters::Device().setOutputFileName(pdf);
  ReportPrinters::Device().setPageSize(QPageSize(QPageSize::Letter));

  QElapsedTimer timer;
  timer.start();
  if (RunReport(store, true, nullptr) != ReportEngine::RunResult::Completed) {
    std::fprintf(stderr, "printbench: the print did not complete\n");
    return 1;
  }
  Figure("print_pdf_s", timer.elapsed() / 1000.0, "s");
  std::printf("size report.pdf %lld bytes\n", static_cast<long long>(QFileInfo(pdf).size()));

  QBuffer recording;
  recording.open(QIODevice::ReadWrite);
  timer.restart();
  if (RunReport(store, false, &recording) != ReportEngine::RunResult::Completed) {
    std::fprintf(stderr, "printbench: the preview recording did not complete\n");
    return 1;
  }
  Figure("preview_record_s", timer.elapsed() / 1000.0, "s");
  std::printf("size recording %lld bytes\n", static_cast<long long>(recording.size()));
  UserMessages::Install(nullptr);
  return 0;
}
