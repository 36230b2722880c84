// Behaviour that needs a second, real process: file locks between programs, a program killed in
// the middle of writing, and a disk that fills up.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <set>

#include "TestUtil.h"
#include "xbengine.h"

using namespace xbtest;

namespace {

// Runs `body` in a child process and returns its exit code.
template <typename F>
int InChild(F body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

// Which of read-only, shared and exclusive opens succeed in another process, as bits 1, 2, 4.
int OpensInOtherProcess(const std::string& path) {
  return InChild([&] {
    int ok = 0;
    const int modes[] = {XB_READONLY, XB_SHARED, XB_EXCLUSIVE};
    for (int i = 0; i < 3; ++i) {
      std::string alias = "CHILD" + std::to_string(i);
      int area = xb_Use(path.c_str(), alias.c_str(), modes[i], XB_DRIVER_FOX);
      if (area != 0) {
        ok |= 1 << i;
        xb_Close(area);
      }
    }
    return ok;
  });
}

std::string Pattern(long recno) {
  return "record " + std::to_string(recno) + " of the kill test";
}

}  // namespace

TEST(Processes, ExclusiveAndSharedOpensConflict) {
  TempDir dir;
  const std::string path = dir.File("LOCK.DBF");
  ASSERT_NE(CreateTaskTable(path), 0);  // created tables are open exclusively
  EXPECT_EQ(OpensInOtherProcess(path), 0);
  xb_CloseAll();
  EXPECT_EQ(OpensInOtherProcess(path), 1 | 2 | 4);

  ASSERT_NE(xb_Use(path.c_str(), "", XB_SHARED, XB_DRIVER_FOX), 0);
  EXPECT_EQ(OpensInOtherProcess(path), 1 | 2);
  xb_CloseAll();
  ASSERT_NE(xb_Use(path.c_str(), "", XB_READONLY, XB_DRIVER_FOX), 0);
  EXPECT_EQ(OpensInOtherProcess(path), 1 | 2);
  xb_CloseAll();
  ASSERT_NE(xb_Use(path.c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX), 0);
  EXPECT_EQ(OpensInOtherProcess(path), 0);
  EXPECT_NE(std::string(xb_ErrorText()).find(""), std::string::npos);
  xb_CloseAll();
}

TEST(Processes, SharedWritersSeeEachOthersAppends) {
  TempDir dir;
  const std::string path = dir.File("SHARE.DBF");
  ASSERT_NE(CreateTaskTable(path), 0);
  xb_CloseAll();
  ASSERT_NE(xb_Use(path.c_str(), "", XB_SHARED, XB_DRIVER_FOX), 0);
  ASSERT_TRUE(xb_AppendBlank());
  xb_Replace("DESCRIPT", XB_VAL_STRING, "parent 1");
  int rc = InChild([&] {
    int area = xb_Use(path.c_str(), "KID", XB_SHARED, XB_DRIVER_FOX);
    if (area == 0) return 1;
    for (int i = 0; i < 50; ++i) {
      if (!xb_AppendBlank()) return 2;
      xb_Replace("DESCRIPT", XB_VAL_STRING, "child");
      xb_ReplaceMemo("NOTE", "child note", 10);
    }
    xb_Close(area);
    return 0;
  });
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(xb_RecCount(), 51);
  ASSERT_TRUE(xb_AppendBlank());  // lands after the child's records, not over them
  EXPECT_EQ(xb_RecNo(), 52);
  xb_ReplaceMemo("NOTE", "parent note", 11);
  xb_CloseAll();
  ASSERT_NE(xb_Use(path.c_str(), "", XB_READONLY, XB_DRIVER_FOX), 0);
  EXPECT_EQ(xb_RecCount(), 52);
  xb_Go(2);
  EXPECT_EQ(Memo("NOTE"), "child note");
  xb_Go(51);
  EXPECT_EQ(Field("DESCRIPT").substr(0, 5), "child");
  xb_Go(52);
  EXPECT_EQ(Memo("NOTE"), "parent note");
}

// A writer killed at any moment leaves a table that opens, with every record whose writes had
// returned, and with no record count or memo pointer that points at garbage.
TEST(Processes, KilledWriterLosesNothingThatWasWritten) {
  TempDir dir;
  const std::string path = dir.File("KILL.DBF");
  ASSERT_NE(CreateTaskTable(path), 0);
  xb_CloseAll();
  std::mt19937 rng(99);
  // Records appended by a writer that was killed before it finished them stay as they were left.
  std::set<long> unfinished;
  for (int round = 0; round < 6; ++round) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      if (xb_Use(path.c_str(), "", round % 2 ? XB_SHARED : XB_EXCLUSIVE, XB_DRIVER_FOX) == 0) _exit(1);
      for (;;) {
        if (!xb_AppendBlank()) _exit(2);
        long n = xb_RecNo();
        std::string d = Pattern(n);
        xb_Replace("DESCRIPT", XB_VAL_STRING, d.c_str());
        std::string note(static_cast<size_t>(n % 300), static_cast<char>('a' + n % 26));
        xb_ReplaceMemo("NOTE", note.data(), static_cast<long>(note.size()));
        if (n % 7 == 0) {  // rewrite an earlier memo, in place or appended
          xb_Go(n / 2);
          std::string again(static_cast<size_t>((n / 2) % 300), static_cast<char>('a' + (n / 2) % 26));
          xb_ReplaceMemo("NOTE", again.data(), static_cast<long>(again.size()));
        }
        if (write(fds[1], &n, sizeof n) != sizeof n) _exit(3);
      }
    }
    close(fds[1]);
    long last = 0, n = 0;
    const long stop_after = 200 + static_cast<long>(rng() % 3000);
    while (read(fds[0], &n, sizeof n) == sizeof n) {
      last = n;
      if (n >= stop_after) break;
    }
    usleep(rng() % 2000);
    kill(pid, SIGKILL);
    while (read(fds[0], &n, sizeof n) == sizeof n) last = n;
    close(fds[0]);
    waitpid(pid, nullptr, 0);

    ASSERT_NE(xb_Use(path.c_str(), "", XB_READONLY, XB_DRIVER_FOX), 0) << xb_ErrorText();
    long count = xb_RecCount();
    ASSERT_GE(count, last) << "round " << round;
    for (long r = 1; r <= count; ++r) {
      xb_Go(r);
      std::string note = Memo("NOTE");
      ASSERT_EQ(xb_Error(), 0) << "record " << r << ": " << xb_ErrorText();
      if (r <= last && unfinished.count(r) == 0) {
        ASSERT_EQ(Field("DESCRIPT"), Padded(Pattern(r), 50)) << "record " << r;
        ASSERT_EQ(note, std::string(static_cast<size_t>(r % 300), static_cast<char>('a' + r % 26)))
            << "record " << r << " round " << round;
      }
    }
    for (long r = last + 1; r <= count; ++r) unfinished.insert(r);
    xb_CloseAll();
  }
}

// With no room left for the file, appends fail with a message and what was written stays whole.
TEST(Processes, FullDiskFailsCleanly) {
  TempDir dir;
  const std::string path = dir.File("FULL.DBF");
  ASSERT_NE(CreateTaskTable(path), 0);
  xb_CloseAll();
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int rc = InChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim = {200 * 1024, 200 * 1024};
    setrlimit(RLIMIT_FSIZE, &lim);
    if (xb_Use(path.c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX) == 0) return 1;
    long appended = 0;
    std::string note(150, 'n');
    for (int i = 0; i < 100000; ++i) {
      if (!xb_AppendBlank()) break;
      if (!xb_ReplaceMemo("NOTE", note.data(), static_cast<long>(note.size()))) break;
      appended = xb_RecNo();
    }
    if (xb_Error() == 0 || xb_ErrorText()[0] == 0) return 2;  // the failure must say so
    if (write(fds[1], &appended, sizeof appended) != sizeof appended) return 3;
    xb_CloseAll();
    return 0;
  });
  close(fds[1]);
  long appended = -1;
  ASSERT_EQ(read(fds[0], &appended, sizeof appended), static_cast<ssize_t>(sizeof appended));
  close(fds[0]);
  ASSERT_EQ(rc, 0);
  ASSERT_GT(appended, 100);
  ASSERT_NE(xb_Use(path.c_str(), "", XB_READONLY, XB_DRIVER_FOX), 0) << xb_ErrorText();
  EXPECT_GE(xb_RecCount(), appended);
  for (long r = 1; r <= appended; ++r) {
    xb_Go(r);
    ASSERT_EQ(Memo("NOTE"), std::string(150, 'n')) << "record " << r;
  }
}
