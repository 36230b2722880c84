// The memo file under damage and kills: new notes never land on notes in use, whatever the
// header says; the check covers the memo file; a replaced note is the old one or the new one
// after a kill at any moment; a note that cannot be read is reported and its pointer kept.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <random>
#include <thread>

#include "Engine.h"
#include "TestUtil.h"
#include "xbengine.h"

using namespace xbtest;

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Be32(const Bytes& b, size_t at) {
  return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}
void PutBe32(Bytes* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// Where record r's NOTE pointer lies in the table file (r from 1).
size_t PointerAt(const Bytes& dbf, long r) {
  const size_t header = dbf[8] | (dbf[9] << 8), length = dbf[10] | (dbf[11] << 8);
  return header + static_cast<size_t>(r - 1) * length + 1 + 50 + 8 + 5;  // after DATE TIME DESCRIPT
}
std::string PointerText(const Bytes& dbf, long r) {
  const size_t at = PointerAt(dbf, r);
  return std::string(dbf.begin() + static_cast<long>(at), dbf.begin() + static_cast<long>(at) + 10);
}
void SetPointer(Bytes* dbf, long r, long block) {
  std::string text = block == 0 ? std::string(10, ' ') : std::to_string(block);
  text.insert(0, 10 - text.size(), ' ');
  std::copy(text.begin(), text.end(), dbf->begin() + static_cast<long>(PointerAt(*dbf, r)));
}

std::string NoteOf(long r) { return "note of task " + std::to_string(r) + std::string(static_cast<size_t>(r * 37 % 200), 'x'); }

// A closed task table of `count` tasks, each with its note.
std::string MakeTasks(const TempDir& dir, long count) {
  const std::string path = dir.File("T.DBF");
  EXPECT_NE(CreateTaskTable(path), 0) << xb_ErrorText();
  for (long r = 1; r <= count; ++r) {
    EXPECT_TRUE(xb_AppendBlank());
    xb_Replace("DESCRIPT", XB_VAL_STRING, ("task " + std::to_string(r)).c_str());
    const std::string note = NoteOf(r);
    EXPECT_TRUE(xb_ReplaceMemo("NOTE", note.data(), static_cast<long>(note.size())));
  }
  xb_CloseAll();
  return path;
}

// The problems the engine's memo check finds in the open table, one string.
std::string MemoProblems() {
  std::vector<std::string> lines;
  xb::Status s = xb::Engine::Instance().Current()->table().CheckMemos(&lines);
  std::string out = s.ok() ? "" : s.message();
  for (const auto& l : lines) out += "\n" + l;
  return out;
}

std::string CheckTable(const std::string& path, int* exit_code) {
  const std::string cmd = std::string(XBTOOL_PATH) + " check '" + path + "' 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[512];
  while (p != nullptr && fgets(buf, sizeof buf, p) != nullptr) out += buf;
  const int status = p != nullptr ? pclose(p) : -1;
  *exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

void ExpectNotesIntact(const std::string& path, long count) {
  ASSERT_NE(xb_Use(path.c_str(), "", XB_READONLY, XB_DRIVER_FOX), 0) << xb_ErrorText();
  for (long r = 1; r <= count; ++r) {
    xb_Go(r);
    EXPECT_EQ(Memo("NOTE"), NoteOf(r)) << "record " << r;
  }
  EXPECT_EQ(MemoProblems(), "");
  xb_CloseAll();
}

}  // namespace

// A next-free pointer set back among the notes in use, or into the header: the check says so,
// the table still opens for writing, and new notes go past every note in the file.
TEST(MemoSafety, WrongNextFreeNeverLeadsOntoNotesInUse) {
  for (const uint32_t wrong : {8u, 2u, 0u}) {
    TempDir dir;
    const std::string path = MakeTasks(dir, 20);
    Bytes fpt = ReadBytes(dir.File("T.fpt"));
    const uint32_t good = Be32(fpt, 0);
    PutBe32(&fpt, 0, wrong);
    WriteBytes(dir.File("T.fpt"), fpt);

    int code = 0;
    const std::string out = CheckTable(path, &code);
    EXPECT_EQ(code, 1) << out;
    EXPECT_NE(out.find("next free block " + std::to_string(wrong)), std::string::npos) << out;
    EXPECT_NE(out.find("problem found in the memo file"), std::string::npos) << out;

    for (const int mode : {XB_SHARED, XB_EXCLUSIVE}) {
      ASSERT_NE(xb_Use(path.c_str(), "", mode, XB_DRIVER_FOX), 0) << xb_ErrorText();
      ASSERT_TRUE(xb_AppendBlank());
      const std::string added = "added in mode " + std::to_string(mode);
      ASSERT_TRUE(xb_ReplaceMemo("NOTE", added.data(), static_cast<long>(added.size())));
      EXPECT_GE(std::atol(Field("NOTE").c_str()), static_cast<long>(good));
      xb_CloseAll();
    }
    ExpectNotesIntact(path, 20);
    EXPECT_GT(Be32(ReadBytes(dir.File("T.fpt")), 0), good);
    EXPECT_EQ(CheckTable(path, &code).find("memo"), std::string::npos);
    EXPECT_EQ(code, 0);
  }
}

// Opening for writing alone repairs a header whose next-free pointer lies inside it.
TEST(MemoSafety, HeaderInsideItselfIsRepairedAtOpen) {
  TempDir dir;
  const std::string path = MakeTasks(dir, 5);
  Bytes fpt = ReadBytes(dir.File("T.fpt"));
  const uint32_t good = Be32(fpt, 0);
  PutBe32(&fpt, 0, 1);
  WriteBytes(dir.File("T.fpt"), fpt);
  ASSERT_NE(xb_Use(path.c_str(), "", XB_READONLY, XB_DRIVER_FOX), 0) << xb_ErrorText();
  EXPECT_NE(MemoProblems().find("lies inside the header"), std::string::npos);
  xb_CloseAll();
  ASSERT_NE(xb_Use(path.c_str(), "", XB_SHARED, XB_DRIVER_FOX), 0) << xb_ErrorText();
  xb_CloseAll();
  EXPECT_EQ(Be32(ReadBytes(dir.File("T.fpt")), 0), good);
  ExpectNotesIntact(path, 5);
}

// Every kind of damage the check must name: pointers outside the file or into the header,
// unknown block types, lengths past the end, pointers that are no number, notes sharing blocks.
TEST(MemoSafety, CheckNamesEachDamagedNote) {
  TempDir dir;
  const std::string path = MakeTasks(dir, 8);
  const Bytes dbf = ReadBytes(dir.File("T.DBF"));
  const Bytes fpt = ReadBytes(dir.File("T.fpt"));
  auto block_of = [&](long r) { return std::atol(PointerText(dbf, r).c_str()); };
  struct Case {
    const char* what;
    std::function<void(Bytes*, Bytes*)> damage;
    const char* expect;
  };
  const std::vector<Case> cases = {
      {"outside", [&](Bytes* d, Bytes*) { SetPointer(d, 2, 999999); }, "record 2 field NOTE: memo block 999999 is outside"},
      {"header", [&](Bytes* d, Bytes*) { SetPointer(d, 3, 3); }, "record 3 field NOTE: memo block 3 is outside"},
      {"type", [&](Bytes*, Bytes* f) { PutBe32(f, static_cast<size_t>(block_of(4)) * 64, 7); }, "record 4 field NOTE: memo block"},
      {"length", [&](Bytes*, Bytes* f) { PutBe32(f, static_cast<size_t>(block_of(5)) * 64 + 4, 1u << 30); }, "past the end of the memo file"},
      {"digits", [&](Bytes* d, Bytes*) { (*d)[PointerAt(*d, 6) + 9] = 'z'; }, "record 6 field NOTE holds an invalid memo pointer"},
      {"shared", [&](Bytes* d, Bytes*) { SetPointer(d, 7, block_of(1)); }, "shares blocks with the memo of record"},
  };
  for (const Case& c : cases) {
    Bytes bad_dbf = dbf, bad_fpt = fpt;
    c.damage(&bad_dbf, &bad_fpt);
    WriteBytes(dir.File("T.DBF"), bad_dbf);
    WriteBytes(dir.File("T.fpt"), bad_fpt);
    ASSERT_NE(xb_Use(path.c_str(), "", XB_READONLY, XB_DRIVER_FOX), 0) << c.what << ": " << xb_ErrorText();
    const std::string problems = MemoProblems();
    EXPECT_NE(problems.find("1 problem found in the memo file"), std::string::npos) << c.what << problems;
    EXPECT_NE(problems.find(c.expect), std::string::npos) << c.what << problems;
    xb_CloseAll();
  }
  // Deleted records own their notes until a pack: a pointer into one is a shared block too.
  Bytes bad_dbf = dbf;
  bad_dbf[PointerAt(bad_dbf, 1) - 64] = '*';
  SetPointer(&bad_dbf, 8, block_of(1));
  WriteBytes(dir.File("T.DBF"), bad_dbf);
  WriteBytes(dir.File("T.fpt"), fpt);
  ASSERT_NE(xb_Use(path.c_str(), "", XB_READONLY, XB_DRIVER_FOX), 0);
  EXPECT_NE(MemoProblems().find("shares blocks"), std::string::npos);
}

// A changed note goes to fresh blocks at the end; the old blocks keep the old text; an
// unchanged note keeps its blocks; an empty note frees the pointer.
TEST(MemoSafety, ReplacedNotesGoToFreshBlocks) {
  TempDir dir;
  const std::string path = MakeTasks(dir, 3);
  ASSERT_NE(xb_Use(path.c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX), 0);
  xb_Go(2);
  const long old_block = std::atol(Field("NOTE").c_str());
  const Bytes before = ReadBytes(dir.File("T.fpt"));
  const uint32_t next_free = Be32(before, 0);
  for (const std::string& text : {std::string("shorter"), std::string(5000, 'L')}) {
    ASSERT_TRUE(xb_ReplaceMemo("NOTE", text.data(), static_cast<long>(text.size())));
    EXPECT_EQ(Memo("NOTE"), text);
  }
  xb_Commit();
  Bytes after = ReadBytes(dir.File("T.fpt"));
  EXPECT_EQ(std::atol(Field("NOTE").c_str()), static_cast<long>(next_free) + 1);  // "shorter" took one block
  const size_t old_at = static_cast<size_t>(old_block) * 64;
  const size_t old_len = 8 + NoteOf(2).size();
  EXPECT_TRUE(std::equal(before.begin() + static_cast<long>(old_at), before.begin() + static_cast<long>(old_at + old_len),
                         after.begin() + static_cast<long>(old_at)));
  const std::string block_now = Field("NOTE");
  const std::string same(5000, 'L');
  ASSERT_TRUE(xb_ReplaceMemo("NOTE", same.data(), static_cast<long>(same.size())));
  EXPECT_EQ(Field("NOTE"), block_now);
  EXPECT_EQ(Be32(ReadBytes(dir.File("T.fpt")), 0), Be32(after, 0));
  ASSERT_TRUE(xb_ReplaceMemo("NOTE", "", 0));
  EXPECT_EQ(Field("NOTE"), std::string(10, ' '));
  EXPECT_EQ(MemoProblems(), "");
}

// A damaged pointer: reading reports it (the caller can tell the user), and nothing but a new
// note replaces the pointer: not an empty note written back, not a record image, not an edit
// of another field.
TEST(MemoSafety, UnreadableNoteIsReportedAndKept) {
  TempDir dir;
  const std::string path = MakeTasks(dir, 3);
  Bytes dbf = ReadBytes(dir.File("T.DBF"));
  const Bytes fpt = ReadBytes(dir.File("T.fpt"));
  SetPointer(&dbf, 2, static_cast<long>(fpt.size() / 64 + 50));
  WriteBytes(dir.File("T.DBF"), dbf);
  const std::string damaged = PointerText(dbf, 2);

  ASSERT_NE(xb_Use(path.c_str(), "", XB_SHARED, XB_DRIVER_FOX), 0);
  xb_Go(2);
  EXPECT_EQ(Memo("NOTE"), "");
  EXPECT_EQ(xb_Error(), 2);  // kCorrupt
  const std::string message = xb_ErrorText();
  EXPECT_NE(message.find("record 2 field NOTE cannot be read"), std::string::npos) << message;
  EXPECT_EQ(xb_MemoLen("NOTE"), 0);
  EXPECT_EQ(xb_Error(), 2);
  xb_Go(1);
  EXPECT_EQ(Memo("NOTE"), NoteOf(1));
  EXPECT_EQ(xb_Error(), 0);

  xb_Go(2);
  EXPECT_TRUE(xb_ReplaceMemo("NOTE", "", 0));
  EXPECT_TRUE(xb_Replace("DESCRIPT", XB_VAL_STRING, "edited"));
  std::vector<char> image(static_cast<size_t>(xb_RecSize()), ' ');
  ASSERT_TRUE(xb_GetRecord(image.data()));
  std::fill(image.begin() + 64, image.begin() + 74, ' ');  // a stale image with no note
  EXPECT_TRUE(xb_PutRecord(image.data()));
  xb_CloseAll();
  EXPECT_EQ(PointerText(ReadBytes(dir.File("T.DBF")), 2), damaged);

  ASSERT_NE(xb_Use(path.c_str(), "", XB_SHARED, XB_DRIVER_FOX), 0);
  xb_Go(2);
  ASSERT_TRUE(xb_ReplaceMemo("NOTE", "written anew", 12));
  EXPECT_EQ(Memo("NOTE"), "written anew");
  EXPECT_EQ(xb_Error(), 0);
  EXPECT_EQ(MemoProblems(), "");
}

// Writers killed at random moments while they replace large notes (the kill lands inside the
// save: the writer says when it starts one): afterwards every note is one whole version, old
// or new, never a mix, and the check passes.
TEST(MemoSafety, KilledWhileReplacingLeavesOldOrNewNote) {
  TempDir dir;
  const std::string path = dir.File("K.DBF");
  ASSERT_NE(CreateTaskTable(path), 0);
  for (int r = 0; r < 2; ++r) {
    ASSERT_TRUE(xb_AppendBlank());
    ASSERT_TRUE(xb_ReplaceMemo("NOTE", "v0", 2));
  }
  xb_CloseAll();
  // Version v of a record's note: large, with every byte telling which version it belongs to.
  auto version = [](long v) {
    std::string text = "v" + std::to_string(v) + ":";
    text.resize((size_t{3} << 20) + static_cast<size_t>(v % 5) * 400000, static_cast<char>('a' + v % 26));
    return text;
  };
  auto whole_version = [&](const std::string& note) {
    if (note == "v0") return true;
    const long v = std::atol(note.c_str() + 1);
    return v > 0 && note == version(v);
  };
  std::mt19937 rng(20261208);
  long next = 1;
  int rounds = 0;
  for (int round = 0; round < 30; ++round) {
    const long first = next;
    next += 1000;
    const int mode = round % 3 == 0 ? XB_EXCLUSIVE : XB_SHARED;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      if (xb_Use(path.c_str(), "", mode, XB_DRIVER_FOX) == 0) _exit(1);
      for (long v = first;; ++v) {
        xb_Go(1 + v % 2);
        const std::string text = version(v);
        if (write(fds[1], &v, sizeof v) != sizeof v) _exit(3);
        if (!xb_ReplaceMemo("NOTE", text.data(), static_cast<long>(text.size()))) _exit(2);
      }
    }
    close(fds[1]);
    // Into the first, second or third save, at a random point of it.
    const int saves = 1 + static_cast<int>(rng() % 3);
    long v = 0;
    for (int i = 0; i < saves; ++i) ASSERT_EQ(read(fds[0], &v, sizeof v), static_cast<ssize_t>(sizeof v));
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 4000));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    close(fds[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself: " << status;
    ASSERT_NE(xb_Use(path.c_str(), "", XB_READONLY, XB_DRIVER_FOX), 0) << xb_ErrorText();
    for (long r = 1; r <= 2; ++r) {
      xb_Go(r);
      const std::string note = Memo("NOTE");
      ASSERT_EQ(xb_Error(), 0) << xb_ErrorText();
      ASSERT_TRUE(whole_version(note)) << "round " << round << " record " << r << ": a torn note of "
                                       << note.size() << " bytes starting " << note.substr(0, 12);
    }
    EXPECT_EQ(MemoProblems(), "") << "round " << round;
    xb_CloseAll();
    // The memo file grows with every replaced note; a pack now and then takes the space back.
    if (round % 6 == 5) {
      ASSERT_NE(xb_Use(path.c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX), 0);
      ASSERT_TRUE(xb_Pack()) << xb_ErrorText();
      xb_CloseAll();
    }
    ++rounds;
  }
  EXPECT_EQ(rounds, 30);
}
