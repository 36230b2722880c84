// Random operations on a task table checked against a plain in-memory model, across reopens.

#include <gtest/gtest.h>

#include <random>

#include "TestUtil.h"
#include "xbengine.h"

using namespace xbtest;

namespace {

struct Task {
  std::string date, time, descript, keys, priority, note;
  bool done = false, deleted = false;
};

const char* kMemoSizes[] = {"0", "1", "63", "64", "65", "100000"};

class Model {
 public:
  explicit Model(uint32_t seed) : rng(seed) {}

  std::string Text(size_t max) {
    size_t n = rng() % (max + 1);
    std::string s(n, ' ');
    for (auto& c : s) c = static_cast<char>(0x20 + rng() % 0xDF);  // includes Windows-1252 letters
    return s;
  }
  std::string NoteText() {
    switch (rng() % 8) {
      case 0: return "";
      case 1: {
        size_t n = std::stoul(kMemoSizes[rng() % 6]);
        std::string s(n, 'x');
        for (auto& c : s) c = static_cast<char>(rng() % 256);  // any byte, NUL and CR LF too
        return s;
      }
      default: return Text(700);
    }
  }
  std::mt19937 rng;
  std::vector<Task> tasks;
};

void CheckAll(const Model& model) {
  ASSERT_EQ(xb_RecCount(), static_cast<long>(model.tasks.size()));
  for (size_t i = 0; i < model.tasks.size(); ++i) {
    const Task& t = model.tasks[i];
    ASSERT_TRUE(xb_Go(static_cast<long>(i + 1)));
    ASSERT_EQ(Field("DATE"), Padded(t.date, 8)) << "record " << i + 1;
    ASSERT_EQ(Field("TIME"), Padded(t.time, 5));
    ASSERT_EQ(Field("DESCRIPT"), Padded(t.descript, 50));
    ASSERT_EQ(Field("KEYS"), Padded(t.keys, 60));
    ASSERT_EQ(Field("PRIORITY"), Padded(t.priority, 1));
    ASSERT_EQ(Field("DONE"), t.done ? "T" : "F");
    ASSERT_EQ(xb_Deleted() != 0, t.deleted);
    ASSERT_EQ(Memo("NOTE"), t.note) << "record " << i + 1;
    ASSERT_EQ(xb_MemoLen("NOTE"), static_cast<long>(t.note.size()));
  }
}

// Natural-order navigation with deleted records hidden must visit exactly the live ones.
void CheckNavigation(const Model& model) {
  xb_SetDeleted(1);
  std::vector<long> want, forward, backward;
  for (size_t i = 0; i < model.tasks.size(); ++i)
    if (!model.tasks[i].deleted) want.push_back(static_cast<long>(i + 1));
  for (xb_GoTop(); !xb_Eof(); xb_Skip(1)) forward.push_back(xb_RecNo());
  EXPECT_EQ(forward, want);
  for (xb_GoBottom(); !xb_Bof() && !xb_Eof(); xb_Skip(-1)) backward.insert(backward.begin(), xb_RecNo());
  EXPECT_EQ(backward, want);
  xb_SetDeleted(0);
}

}  // namespace

TEST(TableModel, RandomOperationsMatchModel) {
  TempDir dir;
  const std::string path = dir.File("LWISE.DBF");
  ASSERT_NE(CreateTaskTable(path), 0);
  Model model(12345);
  auto& rng = model.rng;
  const int kOps = 6000;
  for (int op = 0; op < kOps; ++op) {
    int kind = static_cast<int>(rng() % 100);
    if (kind < 30 || model.tasks.empty()) {
      Task t;
      t.date = rng() % 5 ? std::to_string(20200101 + rng() % 80000).substr(0, 8) : "";
      t.time = rng() % 2 ? "09:30" : "";
      t.descript = model.Text(50);
      t.keys = model.Text(60);
      t.priority = std::string(1, "ABC "[rng() % 4]);
      if (t.priority == " ") t.priority = "";
      t.done = rng() % 2;
      t.note = model.NoteText();
      ASSERT_TRUE(xb_AppendBlank()) << xb_ErrorText();
      ASSERT_TRUE(xb_Replace("DATE", XB_VAL_STRING, t.date.c_str()));
      ASSERT_TRUE(xb_Replace("TIME", XB_VAL_STRING, t.time.c_str()));
      ASSERT_TRUE(xb_Replace("DESCRIPT", XB_VAL_STRING, t.descript.c_str()));
      ASSERT_TRUE(xb_Replace("KEYS", XB_VAL_STRING, t.keys.c_str()));
      ASSERT_TRUE(xb_Replace("PRIORITY", XB_VAL_STRING, t.priority.c_str()));
      int done = t.done;
      ASSERT_TRUE(xb_Replace("DONE", XB_VAL_LOGICAL, &done));
      ASSERT_TRUE(xb_ReplaceMemo("NOTE", t.note.data(), static_cast<long>(t.note.size())));
      model.tasks.push_back(t);
    } else {
      size_t i = rng() % model.tasks.size();
      Task& t = model.tasks[i];
      ASSERT_TRUE(xb_Go(static_cast<long>(i + 1)));
      if (kind < 55) {
        t.note = model.NoteText();
        ASSERT_TRUE(xb_ReplaceMemo("NOTE", t.note.data(), static_cast<long>(t.note.size())))
            << xb_ErrorText();
      } else if (kind < 70) {
        t.descript = model.Text(50);
        ASSERT_TRUE(xb_Replace("DESCRIPT", XB_VAL_STRING, t.descript.c_str()));
      } else if (kind < 80) {
        // A whole record image written back, as the cursor layer does, with other fields changed.
        std::vector<char> rec(136);
        ASSERT_TRUE(xb_GetRecord(rec.data()));
        t.keys = model.Text(60);
        std::string k = Padded(t.keys, 60);
        std::copy(k.begin(), k.end(), rec.begin() + 75);
        t.done = !t.done;
        rec[74] = t.done ? 'T' : 'F';
        std::fill(rec.begin() + 64, rec.begin() + 74, 'Z');  // a memo pointer must survive this
        ASSERT_TRUE(xb_PutRecord(rec.data()));
      } else if (kind < 90) {
        ASSERT_TRUE(xb_Delete());
        t.deleted = true;
      } else if (kind < 97) {
        ASSERT_TRUE(xb_Recall());
        t.deleted = false;
      } else {
        xb_Close(0);
        ASSERT_NE(xb_Use(path.c_str(), "", rng() % 2 ? XB_SHARED : XB_EXCLUSIVE, XB_DRIVER_FOX), 0)
            << xb_ErrorText();
        CheckAll(model);
        if (HasFatalFailure()) return;
      }
    }
  }
  CheckNavigation(model);
  xb_Close(0);
  ASSERT_NE(xb_Use(path.c_str(), "", XB_READONLY, XB_DRIVER_FOX), 0);
  CheckAll(model);
  CheckNavigation(model);
  auto size = std::filesystem::file_size(path);
  EXPECT_EQ(size, 258u + 136u * model.tasks.size() + 1u);
}
