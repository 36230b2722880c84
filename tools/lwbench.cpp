// Figures for the program above the engine on a table of a million tasks: the grid model
// (opening, first paint, scrolling to the end, a new order, a new query) and the start of the
// whole main window. Prints "figure NAME VALUE UNIT" lines like xbbench.
//
// Usage: lwbench [--records N] [--dir DIR] [--keep] [--reuse]

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "app/TMainScreen.h"
#include "db/TaskFileNames.h"
#include "db/DataSetModel.h"
#include "platform/UserMessages.h"
#include "store/StoreHelpers.h"
#include "store/TaskStore.h"
#include "widgets/TFlatButton.h"
#include "xbengine.h"

namespace {

void Figure(const char* name, double value, const char* unit) {
  std::printf("figure %s %.3f %s\n", name, value, unit);
  std::fflush(stdout);
}

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "lwbench: %s failed: %s\n", what, xb_ErrorText());
  std::exit(1);
}

class Quiet : public UserMessages {
 public:
  void Information(const QString&, const QString& text) override {
    std::fprintf(stderr, "lwbench: message: %s\n", qPrintable(text));
  }
  bool YesNo(const QString&, const QString&) override { return false; }
};

// A task table of `records` tasks with its five tags, written straight through the engine.
void MakeTable(const QString& dir, long records) {
  const QByteArray path = QFile::encodeName(TaskFileNames::TaskTable(dir));
  if (!xb_CreateNew(path.constData(), "BENCH", 2, 7)) Die("create");
  const char* fields[7][2] = {{"DATE", "C"}, {"TIME", "C"}, {"DESCRIPT", "C"}, {"NOTE", "M"},
                              {"DONE", "L"}, {"KEYS", "C"}, {"PRIORITY", "C"}};
  const int widths[7] = {8, 5, 50, 10, 1, 60, 1};
  for (int i = 0; i < 7; ++i) xb_CreateField(fields[i][0], fields[i][1], widths[i], 0);
  if (!xb_CreateExec()) Die("create exec");
  xb_Close(0);
  const int area = xb_Use(path.constData(), "BENCH", XB_EXCLUSIVE, XB_DRIVER_FOX);
  if (area == 0) Die("use");
  std::mt19937_64 rng(20261207);
  static const char* words[] = {"HOME", "WORK", "CALL", "SHOP", "CAR", "BILLS", "GARDEN", "READ"};
  std::string rec(size_t(xb_RecSize()), ' ');
  const int date = xb_FieldOffset(1) - 1, time = xb_FieldOffset(2) - 1, descript = xb_FieldOffset(3) - 1,
            done = xb_FieldOffset(5) - 1, keys = xb_FieldOffset(6) - 1, priority = xb_FieldOffset(7) - 1;
  char buf[64];
  for (long i = 0; i < records; ++i) {
    std::fill(rec.begin(), rec.end(), ' ');
    if (rng() % 10 != 0) {
      std::snprintf(buf, sizeof buf, "%04d%02d%02d", 2020 + int(rng() % 10), 1 + int(rng() % 12), 1 + int(rng() % 28));
      rec.replace(size_t(date), 8, buf);
      if (rng() % 2) {
        std::snprintf(buf, sizeof buf, "%02d:%02d", int(rng() % 24), int(rng() % 60));
        rec.replace(size_t(time), 5, buf);
      }
    }
    const std::string d = "Task " + std::to_string(rng() % 1000000) + " " + words[rng() % 8];
    rec.replace(size_t(descript), d.size(), d);
    rec[size_t(done)] = rng() % 3 == 0 ? 'T' : 'F';
    const std::string k = std::string(words[rng() % 8]) + " " + words[rng() % 8];
    rec.replace(size_t(keys), k.size(), k);
    rec[size_t(priority)] = "ABC "[rng() % 4];
    if (!xb_AppendBlank() || !xb_PutRecord(rec.data())) Die("append");
  }
  const char* tags[5][2] = {{"DATETIME", "DATE+TIME"}, {"DESCRIPT", "upper(DESCRIPT)"}, {"DONE", "DONE"},
                            {"KEYS", "upper(KEYS)"}, {"PRIORITY", "upper(PRIORITY)+DATE+TIME"}};
  for (auto& t : tags)
    if (xb_IndexTag("", t[0], t[1], 0, 0, ".NOT.DELETED()") <= 0) Die("index");
  xb_Close(area);
}

// Paints the view now, the way the screen would, and waits for it.
void Paint(QTableView& view) {
  view.viewport()->repaint();
  QCoreApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  long records = 1000000;
  QString dir = QStringLiteral("/tmp/lwbench");
  bool keep = false;
  bool reuse = false;  // keep the table a previous --keep run left in DIR
  const QStringList args = QCoreApplication::arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == "--records" && i + 1 < args.size()) records = args[++i].toLong();
    else if (args[i] == "--dir" && i + 1 < args.size()) dir = args[++i];
    else if (args[i] == "--keep") keep = true;
    else if (args[i] == "--reuse") reuse = true;
    else {
      std::fprintf(stderr, "usage: lwbench [--records N] [--dir DIR] [--keep] [--reuse]\n");
      return 2;
    }
  }
  if (!reuse || !QFile::exists(TaskFileNames::TaskTable(dir))) {
    reuse = false;
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
  }
  Quiet quiet;
  UserMessages::Install(&quiet);
  StoreHelpers::SetDataDirectory(dir);
  QElapsedTimer t;
  t.start();
  if (!reuse) {
    MakeTable(dir, records);
    Figure("make_table_s", t.elapsed() / 1000.0, "s");
  }
  {
    QFile ini(dir + "/TASQ.INI");
    if (!ini.open(QIODevice::WriteOnly)) return 1;
    ini.write("[Preferences]\nOrder=1\n[Reindex]\nNeeded=0\n");
  }

  {
    // The grid model alone, over the task table in DATETIME order with done tasks hidden.
    TaskStore store;
    store.TasqTable.AddCalcField("ShowDate", FieldKind::String, 30);
    t.restart();
    if (!store.OpenTaskStore(false)) return 1;
    DataSetModel model(&store.TasqDataSource);
    model.SetColumns({{"ShowDate", "Date"}, {"TIME", "Time"}, {"DESCRIPT", "Task"}, {"KEYS", "Key words"}});
    Figure("model_open_ms", double(t.elapsed()), "ms");
    QTableView view;
    view.resize(618, 400);
    view.setModel(&model);
    t.restart();
    view.show();
    Paint(view);
    Figure("model_first_paint_ms", double(t.elapsed()), "ms");
    t.restart();
    view.scrollToBottom();
    Paint(view);
    Figure("model_scroll_end_ms", double(t.elapsed()), "ms");
    t.restart();
    store.TasqEngine.SelectOrder(store.TasqEngine.TagOrder("DESCRIPT"));
    store.TasqTable.First();
    QCoreApplication::processEvents();
    Paint(view);
    Figure("model_reorder_ms", double(t.elapsed()), "ms");
    t.restart();
    store.TasqEngine.ApplyQuery("(.not.DONE)");
    store.TasqTable.First();
    QCoreApplication::processEvents();
    Paint(view);
    Figure("model_requery_ms", double(t.elapsed()), "ms");
    std::fprintf(stderr, "lwbench: rows under the query: %d\n", model.rowCount());
    // A walk of the whole dataset reading one field, as the key-word list is built.
    store.TasqEngine.ApplyQuery(QString());
    store.TasqEngine.SelectOrder(store.TasqEngine.TagOrder("DATETIME"));
    store.TasqTable.DisableControls();
    t.restart();
    long n = 0;
    DataSetField* keys = store.TasqTable.FieldByName("KEYS");
    for (store.TasqTable.First(); !store.TasqTable.Eof(); store.TasqTable.Next()) n += keys->AsString().size();
    Figure("dataset_walk_s", t.elapsed() / 1000.0, "s");
    store.TasqTable.EnableControls();
  }

  {
    // The whole program's start: window shown, store opened, key words read, grid filled.
    t.restart();
    TMainScreen window;
    window.show();
    auto* exit_button = window.findChild<QWidget*>(QStringLiteral("ExitButton"));
    while (!window.Opened() || !exit_button->isVisible()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    Paint(*window.findChild<QTableView*>(QStringLiteral("ActiveGrid")));
    Figure("startup_1m_s", t.elapsed() / 1000.0, "s");
    std::fprintf(stderr, "lwbench: key words found: %lld\n", static_cast<long long>(window.KeyWords().size()));
    window.close();
  }
  UserMessages::Install(nullptr);
  if (!keep) QDir(dir).removeRecursively();
  return 0;
}
