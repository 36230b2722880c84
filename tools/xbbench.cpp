// Benchmarks of the storage engine on a task table. Prints one line per figure:
//   figure NAME VALUE UNIT
// Usage: xbbench [--records N] [--dir DIR] [--keep]

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "xbengine.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The CPU time of the process at the last Mark(): on a machine shared with other work the
// wall clock says more about the neighbours than about the engine, so every timed figure is
// followed by its CPU seconds (more than the wall time where work runs on two cores).
double cpu_mark = 0;
double mono_mark = 0;

// The monotonic clock, which `perf record -k CLOCK_MONOTONIC` also stamps its samples with: the
// "span" lines on stderr let a profile of the whole run be cut down to one figure's work.
double MonoSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

Clock::time_point Mark() {
  cpu_mark = CpuSeconds();
  mono_mark = MonoSeconds();
  return Clock::now();
}

// Rates ("1/s") are timed work as well, so they get a span and their CPU seconds too.
void Figure(const char* name, double value, const char* unit) {
  std::printf("figure %s %.3f %s\n", name, value, unit);
  const bool timed = std::strcmp(unit, "s") == 0 || std::strcmp(unit, "1/s") == 0;
  if (timed) {
    std::fprintf(stderr, "span %s %.6f,%.6f\n", name, mono_mark, MonoSeconds());
    std::printf("cpu %s %.3f s\n", name, CpuSeconds() - cpu_mark);
  }
  std::fflush(stdout);
}

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "xbbench: %s: %s\n", what, xb_ErrorText());
  std::exit(1);
}

struct TaskGen {
  std::mt19937_64 rng{20261207};
  std::string Word() {
    static const char* words[] = {"HOME", "WORK", "CALL", "SHOP", "CAR", "BILLS", "GARDEN",
                                  "SCHOOL", "DOCTOR", "TRAVEL", "MEET", "READ"};
    return words[rng() % 12];
  }
  // Fills a record image of the task table layout.
  void Record(char* rec, int reclen) {
    std::memset(rec, ' ', static_cast<size_t>(reclen));
    char buf[64];
    if (rng() % 10 != 0) {
      std::snprintf(buf, sizeof buf, "%04d%02d%02d", 2020 + static_cast<int>(rng() % 8),
                    1 + static_cast<int>(rng() % 12), 1 + static_cast<int>(rng() % 28));
      std::memcpy(rec + 1, buf, 8);
      if (rng() % 2) {
        std::snprintf(buf, sizeof buf, "%02d:%02d", static_cast<int>(rng() % 24),
                      static_cast<int>(rng() % 60));
        std::memcpy(rec + 9, buf, 5);
      }
    }
    std::string d = "Task " + std::to_string(rng() % 1000000) + " " + Word() + " " + Word();
    std::memcpy(rec + 14, d.data(), std::min<size_t>(d.size(), 50));
    rec[74] = rng() % 3 == 0 ? 'T' : 'F';
    std::string k = Word() + " " + Word();
    std::memcpy(rec + 75, k.data(), k.size());
    rec[135] = "ABC "[rng() % 4];
  }
  std::string Note() {
    size_t n = 50 + rng() % 451;
    std::string s(n, ' ');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + rng() % 26);
    return s;
  }
};

// Appends `count` tasks the way the program's dataset does (a blank record, then its image), with
// a note on every third one.
void AppendTasks(TaskGen& gen, long count, const std::vector<std::string>& notes, char* rec,
                 int reclen) {
  for (long i = 0; i < count; ++i) {
    gen.Record(rec, reclen);
    if (!xb_AppendBlank()) Die("append");
    if (!xb_PutRecord(rec)) Die("put record");
    if (i % 3 == 0) {
      const std::string& n = notes[static_cast<size_t>(i) % notes.size()];
      if (!xb_ReplaceMemo("NOTE", n.data(), static_cast<long>(n.size()))) Die("memo");
    }
  }
}

double RawRead(const std::vector<std::string>& files) {
  std::string cmd = "cat";
  for (const auto& f : files) cmd += " '" + f + "'";
  cmd += " > /dev/null";
  auto t = Clock::now();
  if (std::system(cmd.c_str()) != 0) {
    std::fprintf(stderr, "xbbench: %s failed\n", cmd.c_str());
    std::exit(1);
  }
  return Seconds(t);
}

}  // namespace

int main(int argc, char** argv) {
  long records = 1000000;
  std::string dir = "/tmp/xbbench";
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--records" && i + 1 < argc) {
      records = std::atol(argv[++i]);
    } else if (a == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else if (a == "--keep") {
      keep = true;
    } else {
      std::fprintf(stderr, "usage: xbbench [--records N] [--dir DIR] [--keep]\n");
      return 2;
    }
  }
  if (records < 1) {
    std::fprintf(stderr, "xbbench: --records must be at least 1\n");
    return 2;
  }
  std::error_code dir_error;
  std::filesystem::create_directories(dir, dir_error);
  if (dir_error || !std::filesystem::is_directory(dir)) {
    std::fprintf(stderr, "xbbench: cannot use %s as the folder for the test table\n", dir.c_str());
    return 1;
  }
  const std::string dbf = dir + "/BENCH.DBF";
  const std::string fpt = dir + "/BENCH.fpt";
  std::printf("records %ld dir %s\n", records, dir.c_str());

  // ---- Append ----
  if (!xb_CreateNew(dbf.c_str(), "BENCH", XB_DRIVER_FOX, 7)) Die("create");
  xb_CreateField("DATE", "C", 8, 0);
  xb_CreateField("TIME", "C", 5, 0);
  xb_CreateField("DESCRIPT", "C", 50, 0);
  xb_CreateField("NOTE", "M", 10, 0);
  xb_CreateField("DONE", "L", 1, 0);
  xb_CreateField("KEYS", "C", 60, 0);
  xb_CreateField("PRIORITY", "C", 1, 0);
  if (!xb_CreateExec()) Die("create");
  const int reclen = xb_RecSize();
  std::vector<char> rec(static_cast<size_t>(reclen));
  TaskGen gen;
  std::vector<std::string> notes;
  for (int i = 0; i < 997; ++i) notes.push_back(gen.Note());
  auto t = Mark();
  AppendTasks(gen, records, notes, rec.data(), reclen);
  if (!xb_Commit()) Die("commit");
  Figure(records == 1000000 ? "append_1m_s" : "append_s", Seconds(t), "s");
  xb_CloseAll();

  // ---- Read everything back ----
  double raw = RawRead({dbf, fpt});
  t = Mark();
  if (!xb_Use(dbf.c_str(), "BENCH", XB_READONLY, XB_DRIVER_FOX)) Die("open");
  unsigned long checksum = 0, memo_bytes = 0, seen = 0;
  for (xb_GoTop(); !xb_Eof(); xb_Skip(1)) {
    xb_GetRecord(rec.data());
    checksum += static_cast<unsigned char>(rec[14]) + static_cast<unsigned char>(rec[135]);
    long len = 0;
    char* memo = xb_GetMemo("NOTE", &len);
    if (len > 0) checksum += static_cast<unsigned char>(memo[len - 1]);
    memo_bytes += static_cast<unsigned long>(len);
    xb_MemDealloc(memo);
    ++seen;
  }
  double read_all = Seconds(t);
  double raw2 = RawRead({dbf, fpt});
  if (raw2 < raw) raw = raw2;
  if (seen != static_cast<unsigned long>(records)) {
    std::fprintf(stderr, "xbbench: read %lu records, expected %ld\n", seen, records);
    return 1;
  }
  Figure("read_all_s", read_all, "s");
  Figure("raw_read_s", raw, "s");
  Figure("read_ratio", read_all / raw, "x");
  std::printf("memo_bytes %lu checksum %lu\n", memo_bytes, checksum);
  xb_CloseAll();

  // ---- Indexes ----
  if (!xb_Use(dbf.c_str(), "BENCH", XB_EXCLUSIVE, XB_DRIVER_FOX)) Die("open");
  const char* tag_names[] = {"DATETIME", "DESCRIPT", "DONE", "KEYS", "PRIORITY"};
  const char* tag_keys[] = {"DATE+TIME", "upper(DESCRIPT)", "DONE", "upper(KEYS)",
                            "upper(PRIORITY)+DATE+TIME"};
  t = Mark();
  for (int i = 0; i < 5; ++i)
    if (!xb_IndexTag("", tag_names[i], tag_keys[i], 0, 0, "not Deleted()")) Die("index");
  if (!xb_Commit()) Die("commit");
  Figure("tags_build_s", Seconds(t), "s");

  // Random exact seeks of keys that exist.
  const int datetime = xb_TagArea("DATETIME");
  xb_SetOrder(0);
  std::vector<std::string> keys;
  std::mt19937_64 pick(42);
  char kbuf[32];
  for (int i = 0; i < 100000; ++i) {
    xb_Go(static_cast<long>(1 + pick() % static_cast<unsigned long>(records)));
    xb_EvalString("DATE+TIME", kbuf, sizeof kbuf);
    keys.emplace_back(kbuf);
  }
  xb_SetOrder(datetime);
  long found = 0;
  t = Mark();
  for (const auto& k : keys) found += xb_Seek(k.c_str());
  double seek_s = Seconds(t);
  if (found != static_cast<long>(keys.size())) {
    std::fprintf(stderr, "xbbench: %ld of %zu seeks found their key\n", found, keys.size());
    return 1;
  }
  Figure("seeks_per_s", static_cast<double>(keys.size()) / seek_s, "1/s");

  // Counting a filter over the whole table.
  xb_SetOrder(0);
  t = Mark();
  if (!xb_Query("(.not.DONE).and.(\"HOME\"$UPPER(KEYS).or.\"WORK\"$UPPER(KEYS))")) Die("query");
  long count = xb_QueryRecCount();
  Figure("query_count_s", Seconds(t), "s");
  std::printf("query_count %ld\n", count);

  // Walking the date order under a query.
  xb_SetOrder(datetime);
  t = Mark();
  if (!xb_Query("(.not.DONE)")) Die("query");
  long walked = 0;
  for (xb_GoTop(); !xb_Eof(); xb_Skip(1)) ++walked;
  Figure("walk_query_s", Seconds(t), "s");
  std::printf("walked %ld\n", walked);
  xb_Query("");

  // Appends with the five tags kept current.
  const long more = records / 10;
  t = Mark();
  AppendTasks(gen, more, notes, rec.data(), reclen);
  if (!xb_Commit()) Die("commit");
  Figure(more == 100000 ? "append_indexed_100k_s" : "append_indexed_s", Seconds(t), "s");

  // Pack after marking a tenth of the records.
  xb_SetOrder(0);
  const long total = xb_RecCount();
  for (long r = 1; r <= total; r += 10) {
    xb_Go(r);
    xb_Delete();
  }
  if (!xb_Commit()) Die("commit");
  t = Mark();
  if (!xb_Pack()) Die("pack");
  Figure("pack_s", Seconds(t), "s");
  std::printf("after_pack %ld\n", xb_RecCount());
  xb_CloseAll();
  if (!keep) {
    std::filesystem::remove(dbf);
    std::filesystem::remove(fpt);
    std::filesystem::remove(dir + "/BENCH.cdx");
  }
  return 0;
}
