// The five tags of the task table: their orders, seeks, conditions, and what survives a reopen,
// a pack and an emptying of the table.

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "xbengine.h"

using namespace xbtest;

namespace {

struct Row {
  const char* date;
  const char* time;
  const char* descript;
  const char* keys;
  const char* priority;
  bool done;
};

const Row kRows[] = {
    {"20240105", "09:30", "Call dentist", "HOME call", "A", false},   // 1
    {"20240105", "08:00", "buy milk", "shop", "C", true},            // 2
    {"", "", "Plan holiday", "home", "B", false},                    // 3
    {"20231231", "23:59", "Pay invoice 42", "WORK bills", "A", false},  // 4
    {"20240210", "", "apple pie", "home baking", "", false},          // 5
    {"20240120", "18:30", "Zoo visit", "family", "B", true},          // 6
};

void BuildTaskTags() {
  const char* names[] = {"DATETIME", "DESCRIPT", "DONE", "KEYS", "PRIORITY"};
  const char* keys[] = {"DATE+TIME", "upper(DESCRIPT)", "DONE", "upper(KEYS)",
                        "upper(PRIORITY)+DATE+TIME"};
  for (int i = 0; i < 5; ++i)
    ASSERT_EQ(xb_IndexTag("", names[i], keys[i], 0, 0, "not Deleted()"), i + 1) << xb_ErrorText();
}

void FillTable() {
  for (const Row& r : kRows) {
    ASSERT_TRUE(xb_AppendBlank());
    xb_Replace("DATE", XB_VAL_STRING, r.date);
    xb_Replace("TIME", XB_VAL_STRING, r.time);
    xb_Replace("DESCRIPT", XB_VAL_STRING, r.descript);
    xb_Replace("KEYS", XB_VAL_STRING, r.keys);
    xb_Replace("PRIORITY", XB_VAL_STRING, r.priority);
    int done = r.done;
    xb_Replace("DONE", XB_VAL_LOGICAL, &done);
  }
}

std::vector<long> Walk() {
  std::vector<long> out;
  for (xb_GoTop(); !xb_Eof(); xb_Skip(1)) out.push_back(xb_RecNo());
  return out;
}

std::vector<long> WalkBack() {
  std::vector<long> out;
  for (xb_GoBottom(); !xb_Eof() && !xb_Bof(); xb_Skip(-1)) out.insert(out.begin(), xb_RecNo());
  return out;
}

class TaskTags : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(CreateTaskTable(dir_.File("LWISE.DBF")), 0);
    FillTable();
    BuildTaskTags();
  }
  TempDir dir_;
};

}  // namespace

TEST_F(TaskTags, OrdersSortAsTheTaskListNeeds) {
  EXPECT_EQ(xb_SysProp(3000, -1), 5);
  EXPECT_STREQ(xb_TagName(1), "DATETIME");
  EXPECT_STREQ(xb_TagName(6), "");
  EXPECT_EQ(xb_TagArea("priority"), 5);
  EXPECT_STREQ(xb_IndexKeyField(3), "DONE");
  EXPECT_STREQ(xb_IndexKeyField(1), "");
  EXPECT_STREQ(xb_IndexFor(1), ".NOT.Deleted()");  // stored in the form other tools read

  xb_SetOrder(1);  // blank dates first, then by date and time
  EXPECT_EQ(Walk(), (std::vector<long>{3, 4, 2, 1, 6, 5}));
  EXPECT_EQ(WalkBack(), (std::vector<long>{3, 4, 2, 1, 6, 5}));
  xb_SetOrder(2);  // letter case ignored
  EXPECT_EQ(Walk(), (std::vector<long>{5, 2, 1, 4, 3, 6}));
  xb_SetOrder(3);
  EXPECT_EQ(Walk(), (std::vector<long>{1, 3, 4, 5, 2, 6}));
  xb_SetOrder(5);  // blank priority first, then A, B, C
  EXPECT_EQ(Walk(), (std::vector<long>{5, 4, 1, 3, 6, 2}));
  xb_SetOrder(0);
  EXPECT_EQ(Walk(), (std::vector<long>{1, 2, 3, 4, 5, 6}));
}

TEST_F(TaskTags, SeeksFullPartialAndSoft) {
  xb_SetOrder(1);
  EXPECT_TRUE(xb_Seek("2024010509:30"));
  EXPECT_EQ(xb_RecNo(), 1);
  EXPECT_TRUE(xb_Seek("20240105"));  // a date finds its first task
  EXPECT_EQ(xb_RecNo(), 2);
  EXPECT_FALSE(xb_Seek("20240106"));
  EXPECT_TRUE(xb_Eof());
  xb_SetSoftSeek(1);
  EXPECT_TRUE(xb_Seek("20240106"));  // the next task after that date
  EXPECT_EQ(xb_RecNo(), 6);
  EXPECT_FALSE(xb_Seek("20990101"));
  EXPECT_TRUE(xb_Eof());
  xb_SetSoftSeek(0);
  xb_SetOrder(2);
  EXPECT_TRUE(xb_Seek("ZOO"));
  EXPECT_EQ(xb_RecNo(), 6);
  xb_SetOrder(0);
  EXPECT_FALSE(xb_Seek("x"));
  EXPECT_NE(xb_Error(), 0);
}

TEST_F(TaskTags, DeletionLeavesEveryTagAtOnceAndRecallReturns) {
  xb_SetOrder(1);
  xb_Go(1);
  ASSERT_TRUE(xb_Delete());
  for (int o = 1; o <= 5; ++o) {
    xb_SetOrder(o);
    auto w = Walk();
    EXPECT_EQ(std::count(w.begin(), w.end(), 1), 0) << "order " << o;
    EXPECT_EQ(w.size(), 5u);
  }
  xb_SetOrder(0);
  EXPECT_EQ(Walk().size(), 6u);  // still in the table
  xb_Go(1);
  ASSERT_TRUE(xb_Recall());
  xb_SetOrder(1);
  EXPECT_EQ(Walk(), (std::vector<long>{3, 4, 2, 1, 6, 5}));
  // A changed key moves the record.
  xb_Go(5);
  xb_Replace("DATE", XB_VAL_STRING, "20200101");
  EXPECT_EQ(Walk(), (std::vector<long>{3, 5, 4, 2, 1, 6}));
}

TEST_F(TaskTags, ReopenPackZapAndQueries) {
  xb_Go(2);
  xb_Delete();
  xb_Go(4);
  xb_Delete();
  xb_CloseAll();
  ASSERT_NE(xb_Use(dir_.File("LWISE.DBF").c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX), 0);
  EXPECT_EQ(xb_SysProp(3000, -1), 5);  // the structural index opens with the table
  xb_SetOrder(1);
  EXPECT_EQ(Walk(), (std::vector<long>{3, 1, 6, 5}));
  ASSERT_TRUE(xb_Query(".not. DONE"));
  EXPECT_EQ(Walk(), (std::vector<long>{3, 1, 5}));
  EXPECT_EQ(xb_QueryRecCount(), 3);
  EXPECT_STREQ(xb_DBFilter(), ".not. DONE");
  EXPECT_FALSE(xb_Query("DONE = "));  // refused, the old query stays
  EXPECT_STREQ(xb_DBFilter(), ".not. DONE");
  EXPECT_EQ(Walk(), (std::vector<long>{3, 1, 5}));
  ASSERT_TRUE(xb_Query(""));
  ASSERT_TRUE(xb_Pack()) << xb_ErrorText();
  EXPECT_EQ(xb_RecCount(), 4);
  xb_SetOrder(1);
  EXPECT_EQ(Walk(), (std::vector<long>{2, 1, 4, 3}));  // records renumbered
  xb_Go(1);
  EXPECT_EQ(Field("DESCRIPT").substr(0, 12), "Call dentist");
  ASSERT_TRUE(xb_Zap());
  EXPECT_EQ(xb_RecCount(), 0);
  EXPECT_EQ(xb_SysProp(3000, -1), 5);
  ASSERT_TRUE(xb_AppendBlank());
  xb_Replace("DATE", XB_VAL_STRING, "20250101");
  xb_SetOrder(1);
  EXPECT_TRUE(xb_Seek("2025"));
  EXPECT_EQ(xb_RecNo(), 1);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("LWISE.DBF-journal")));
}

// A pack killed while its journal was complete leaves the index copy written for the new
// table beside it; finishing the switch at the next open must not leave it for good.
TEST_F(TaskTags, FinishedSwitchRemovesTheLeftIndexCopy) {
  xb_CloseAll();
  const std::string copy = dir_.File("LWISE.cdx.new");
  std::FILE* f = std::fopen(copy.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("half-written index", f);
  std::fclose(f);
  f = std::fopen(dir_.File("LWISE.DBF-journal").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("end\n", f);
  std::fclose(f);
  ASSERT_NE(xb_Use(dir_.File("LWISE.DBF").c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX), 0)
      << xb_ErrorText();
  EXPECT_FALSE(std::filesystem::exists(copy));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("LWISE.DBF-journal")));
  EXPECT_EQ(xb_SysProp(3000, -1), 5);
}

// A pack killed just after it created its journal, before writing a line of it: the journal
// names nothing, yet its new files must go with it, and the table stays as it was.
TEST_F(TaskTags, EmptyJournalTakesThePackFilesAway) {
  const long records = xb_RecCount();
  xb_CloseAll();
  for (const char* name : {"LWISE.DBF.pack", "LWISE.fpt.pack", "LWISE.DBF-journal"}) {
    std::FILE* f = std::fopen(dir_.File(name).c_str(), "w");
    ASSERT_NE(f, nullptr);
    if (std::string(name).find("pack") != std::string::npos) std::fputs("half-written", f);
    std::fclose(f);
  }
  ASSERT_NE(xb_Use(dir_.File("LWISE.DBF").c_str(), "", XB_READONLY, XB_DRIVER_FOX), 0)
      << xb_ErrorText();
  for (const char* name : {"LWISE.DBF.pack", "LWISE.fpt.pack", "LWISE.DBF-journal"})
    EXPECT_FALSE(std::filesystem::exists(dir_.File(name))) << name;
  EXPECT_EQ(xb_RecCount(), records);
  EXPECT_EQ(xb_SysProp(3000, -1), 5);
}

TEST_F(TaskTags, EvaluationCalls) {
  xb_Go(4);
  EXPECT_EQ(xb_EvalLogical("PRIORITY = \"A\" .and. \"WORK\" $ UPPER(KEYS)"), 1);
  char buf[64];
  EXPECT_GT(xb_EvalString("DATE+TIME", buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "2023123123:59");
  EXPECT_EQ(xb_EvalTest("DATE+TIME"), 'C');
  EXPECT_EQ(xb_EvalTest("DATE+"), 0);
  EXPECT_NE(std::string(xb_ErrorText()).find("position"), std::string::npos);
  xb_SetOrder(1);
  xb_Go(4);
  EXPECT_EQ(xb_KeyData(buf, sizeof buf), 13);
  EXPECT_STREQ(buf, "2023123123:59");
}
