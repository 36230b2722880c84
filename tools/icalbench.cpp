// Speed of the task identities and the iCalendar files on a large task list: the first
// identity pass over N tasks (a row for each), a pass with nothing to do, and writing and
// reading N tasks as one .ics file.
//
//   icalbench [N]     (default 10000)

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>

#include "db/TaskFileNames.h"
#include "Table.h"
#include "sync/ICalFile.h"
#include "sync/TaskIdentity.h"

namespace {

bool MakeTable(const std::string& path, int count) {
  const std::vector<xb::FieldDef> fields = {{"DATE", 'C', 8, 0, 0},     {"TIME", 'C', 5, 0, 0},
                                            {"DESCRIPT", 'C', 50, 0, 0}, {"NOTE", 'M', 10, 0, 0},
                                            {"DONE", 'L', 1, 0, 0},      {"KEYS", 'C', 60, 0, 0},
                                            {"PRIORITY", 'C', 1, 0, 0}};
  if (!xb::Table::Create(path, fields, 64).ok()) return false;
  std::unique_ptr<xb::Table> table;
  if (!xb::Table::Open(path, xb::Table::Mode::kExclusive, &table).ok()) return false;
  std::vector<uint8_t> image = table->BlankRecord();
  for (int i = 0; i < count; ++i) {
    std::memset(image.data(), ' ', image.size());
    char text[64];
    std::snprintf(text, sizeof text, "2026%02d%02d", i % 12 + 1, i % 28 + 1);
    std::memcpy(image.data() + table->fields()[0].offset, text, 8);
    const int n = std::snprintf(text, sizeof text, "task number %d of the benchmark", i);
    std::memcpy(image.data() + table->fields()[2].offset, text, size_t(n));
    image[size_t(table->fields()[4].offset)] = i % 3 == 0 ? 'T' : 'F';
    image[size_t(table->fields()[6].offset)] = uint8_t("ABC"[i % 3]);
    uint32_t recno = 0;
    if (!table->AppendRecord(image.data(), &recno).ok()) return false;
  }
  return table->Close().ok();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  QTemporaryDir dir;
  const QString dbf = TaskFileNames::TaskTable(dir.path());
  if (!MakeTable(dbf.toStdString(), count)) {
    std::fprintf(stderr, "cannot make the task table\n");
    return 1;
  }
  QString error;
  QElapsedTimer clock;
  auto pass = [&](const char* what) {
    clock.restart();
    std::vector<TaskSlot> records;
    TableStamp stamp;
    TaskIdentity identity;
    TaskIdentity::ReconcileResult result;
    if (!ReadTaskTable(dbf, &records, &stamp, &error) || !identity.Open(dbf, &error) ||
        !identity.Reconcile(records, stamp, &result, &error)) {
      std::fprintf(stderr, "%s\n", qPrintable(error));
      std::exit(1);
    }
    std::printf("%-40s %8lld ms (%d rows added)\n", what, clock.elapsed(), result.added);
  };
  pass("identities, first pass");
  pass("identities, nothing to do");

  std::vector<TaskSlot> records;
  TableStamp stamp;
  ReadTaskTable(dbf, &records, &stamp, &error);
  std::vector<ICalFile::Entry> entries;
  for (const TaskSlot& slot : records) entries.push_back({slot.task, QString()});
  clock.restart();
  const QByteArray file = ICalFile::Write(entries);
  std::printf("%-40s %8lld ms (%lld bytes)\n", "write .ics", clock.elapsed(), static_cast<long long>(file.size()));
  clock.restart();
  const ICalFileContents read = ICalFile::Parse(file);
  std::printf("%-40s %8lld ms (%zu tasks)\n", "read .ics", clock.elapsed(), read.tasks.size());
  return read.tasks.size() == size_t(count) ? 0 : 1;
}
