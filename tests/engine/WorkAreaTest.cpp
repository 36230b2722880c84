// Work areas, aliases, navigation boundaries and the refusals of the xb_ calls.

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "xbengine.h"

using namespace xbtest;

TEST(WorkAreas, SelectAliasAndClose) {
  TempDir dir;
  int a = CreateTaskTable(dir.File("ONE.DBF"));
  ASSERT_NE(a, 0);
  xb_Close(a);
  int one = xb_Use(dir.File("ONE.DBF").c_str(), "", XB_SHARED, XB_DRIVER_FOX);
  int two = xb_Use(dir.File("ONE.DBF").c_str(), "other", XB_SHARED, XB_DRIVER_FOX);
  ASSERT_NE(one, 0);
  ASSERT_NE(two, 0);
  EXPECT_NE(one, two);
  EXPECT_EQ(xb_WorkArea("one"), one);
  EXPECT_EQ(xb_WorkArea("OTHER"), two);
  EXPECT_EQ(xb_WorkArea("missing"), 0);
  EXPECT_EQ(xb_WorkArea(nullptr), two);  // the last open is current
  EXPECT_EQ(xb_Select(one), two);
  EXPECT_EQ(xb_WorkArea(nullptr), one);
  // The same alias twice is refused and leaves the areas as they were.
  EXPECT_EQ(xb_Use(dir.File("ONE.DBF").c_str(), "OTHER", XB_SHARED, XB_DRIVER_FOX), 0);
  EXPECT_NE(std::string(xb_ErrorText()).find("alias"), std::string::npos);
  EXPECT_EQ(xb_WorkArea(nullptr), one);
  EXPECT_TRUE(xb_Close(two));
  EXPECT_EQ(xb_WorkArea("OTHER"), 0);
  EXPECT_TRUE(xb_CloseAll());
  EXPECT_EQ(xb_WorkArea("ONE"), 0);
  // With nothing open every call fails cleanly.
  EXPECT_EQ(xb_RecCount(), 0);
  EXPECT_EQ(xb_AppendBlank(), 0);
  EXPECT_EQ(xb_Error() != 0, true);
  long len = 7;
  char* m = xb_GetMemo("NOTE", &len);
  EXPECT_STREQ(m, "");
  EXPECT_EQ(len, 0);
  xb_MemDealloc(m);
}

TEST(WorkAreas, AllAreasCanBeUsed) {
  TempDir dir;
  ASSERT_NE(CreateTaskTable(dir.File("T.DBF")), 0);
  xb_CloseAll();
  std::string path = dir.File("T.DBF");
  for (int i = 1; i <= XB_MAX_AREAS; ++i)
    ASSERT_NE(xb_Use(path.c_str(), ("A" + std::to_string(i)).c_str(), XB_READONLY, XB_DRIVER_FOX), 0)
        << "area " << i << ": " << xb_ErrorText();
  EXPECT_EQ(xb_Use(path.c_str(), "ONEMORE", XB_READONLY, XB_DRIVER_FOX), 0);
  EXPECT_EQ(xb_SysProp(65000, -1), XB_MAX_AREAS);
  xb_CloseAll();
}

TEST(WorkAreas, NavigationBoundaries) {
  TempDir dir;
  ASSERT_NE(CreateTaskTable(dir.File("T.DBF")), 0);
  // Empty table: top and bottom are both the end.
  xb_GoTop();
  EXPECT_TRUE(xb_Eof());
  EXPECT_TRUE(xb_Bof());
  EXPECT_EQ(xb_RecNo(), 1);
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(xb_AppendBlank());
    std::string d = "task " + std::to_string(i + 1);
    xb_Replace("DESCRIPT", XB_VAL_STRING, d.c_str());
  }
  xb_GoTop();
  EXPECT_EQ(xb_RecNo(), 1);
  EXPECT_FALSE(xb_Bof());
  xb_Skip(-1);
  EXPECT_TRUE(xb_Bof());
  EXPECT_EQ(xb_RecNo(), 1);
  xb_Skip(10);
  EXPECT_TRUE(xb_Eof());
  EXPECT_EQ(xb_RecNo(), 6);
  EXPECT_EQ(Field("DESCRIPT"), std::string(50, ' '));  // the blank record at the end
  EXPECT_EQ(xb_Replace("DESCRIPT", XB_VAL_STRING, "x"), 0);  // nothing to change there
  xb_Skip(-1);
  EXPECT_EQ(xb_RecNo(), 5);
  xb_Go(99);
  EXPECT_TRUE(xb_Eof());
  xb_Go(3);
  xb_Delete();
  xb_Go(1);
  xb_Delete();
  xb_SetDeleted(1);
  xb_GoTop();
  EXPECT_EQ(xb_RecNo(), 2);
  xb_Skip(1);
  EXPECT_EQ(xb_RecNo(), 4);
  xb_Skip(-1);
  EXPECT_EQ(xb_RecNo(), 2);
  xb_Skip(-1);
  EXPECT_TRUE(xb_Bof());
  EXPECT_EQ(xb_RecNo(), 2);
  xb_SetDeleted(0);
  xb_GoTop();
  EXPECT_EQ(xb_RecNo(), 1);
}

TEST(WorkAreas, ReplaceConvertsAndRefuses) {
  TempDir dir;
  ASSERT_TRUE(xb_CreateNew(dir.File("TYPES.DBF").c_str(), "", XB_DRIVER_FOX, 6));
  xb_CreateField("BIG", "N", 20, 0);
  xb_CreateField("NAME", "C", 10, 0);
  xb_CreateField("QTY", "N", 8, 2);
  xb_CreateField("FLAG", "L", 1, 0);
  xb_CreateField("DAY", "D", 8, 0);
  xb_CreateField("NOTE", "M", 10, 0);
  ASSERT_TRUE(xb_CreateExec()) << xb_ErrorText();
  ASSERT_TRUE(xb_AppendBlank());
  // Long numbers given as text keep every digit.
  EXPECT_TRUE(xb_Replace("BIG", XB_VAL_STRING, "12345678901234567890"));
  EXPECT_EQ(Field("BIG"), "12345678901234567890");
  EXPECT_TRUE(xb_Replace("BIG", XB_VAL_STRING, "-0"));
  EXPECT_EQ(Field("BIG"), std::string(19, ' ') + "0");
  double q = 12.5;
  EXPECT_TRUE(xb_Replace("QTY", XB_VAL_DOUBLE, &q));
  EXPECT_EQ(Field("QTY"), "   12.50");
  q = -3.25;
  EXPECT_TRUE(xb_Replace("qty", XB_VAL_DOUBLE, &q));
  EXPECT_EQ(Field("QTY"), "   -3.25");
  q = 123456.78;  // 9 characters do not fit 8
  EXPECT_FALSE(xb_Replace("QTY", XB_VAL_DOUBLE, &q));
  EXPECT_EQ(Field("QTY"), "   -3.25");
  EXPECT_FALSE(xb_Replace("QTY", XB_VAL_STRING, "12x"));
  EXPECT_TRUE(xb_Replace("QTY", XB_VAL_STRING, " -0.5 "));
  EXPECT_EQ(Field("QTY"), "   -0.50");
  EXPECT_TRUE(xb_Replace("QTY", XB_VAL_STRING, "1.005"));  // more decimals than the field: rounded
  EXPECT_EQ(Field("QTY").substr(0, 7), "    1.0");
  EXPECT_FALSE(xb_Replace("QTY", XB_VAL_STRING, "123456.5"));
  EXPECT_EQ(Field("QTY").substr(0, 7), "    1.0");
  EXPECT_TRUE(xb_Replace("FLAG", XB_VAL_STRING, ".T."));
  EXPECT_EQ(Field("FLAG"), "T");
  EXPECT_FALSE(xb_Replace("FLAG", XB_VAL_STRING, "maybe"));
  EXPECT_TRUE(xb_Replace("DAY", XB_VAL_STRING, "20240105"));
  EXPECT_FALSE(xb_Replace("DAY", XB_VAL_STRING, "2024-01-05"));
  EXPECT_FALSE(xb_Replace("DAY", XB_VAL_STRING, "20241399"));
  EXPECT_FALSE(xb_Replace("DAY", XB_VAL_STRING, "20230229"));
  EXPECT_TRUE(xb_Replace("DAY", XB_VAL_STRING, "20240229"));
  EXPECT_TRUE(xb_Replace("DAY", XB_VAL_STRING, "20240105"));
  EXPECT_EQ(Field("DAY"), "20240105");
  EXPECT_TRUE(xb_Replace("NAME", XB_VAL_STRING, "a much longer name"));
  EXPECT_EQ(Field("NAME"), "a much lon");  // cut to the width
  EXPECT_FALSE(xb_Replace("NOPE", XB_VAL_STRING, "x"));
  EXPECT_NE(std::string(xb_ErrorText()).find("NOPE"), std::string::npos);
}

TEST(WorkAreas, CreateRefusesBadDefinitions) {
  TempDir dir;
  struct Case {
    const char* name;
    const char* type;
    int width;
  } cases[] = {{"", "C", 5}, {"TOOLONGNAME1", "C", 5}, {"1ABC", "C", 5}, {"A B", "C", 5},
               {"X", "Q", 5}, {"X", "C", 0}, {"X", "C", 300}, {"X", "N", 30}};
  for (const auto& c : cases) {
    ASSERT_TRUE(xb_CreateNew(dir.File("BAD.DBF").c_str(), "BAD", XB_DRIVER_FOX, 1));
    xb_CreateField(c.name, c.type, c.width, 0);
    EXPECT_FALSE(xb_CreateExec()) << c.name << " " << c.type << " " << c.width;
    EXPECT_NE(xb_ErrorText()[0], 0);
    xb_Close(0);
  }
  ASSERT_TRUE(xb_CreateNew(dir.File("BAD.DBF").c_str(), "BAD", XB_DRIVER_FOX, 2));
  xb_CreateField("SAME", "C", 5, 0);
  xb_CreateField("same", "C", 5, 0);
  EXPECT_FALSE(xb_CreateExec());
  xb_Close(0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("BAD.DBF")));
  // Nothing left behind by the refused creations.
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  EXPECT_EQ(xb_Use(dir.File("NONE.DBF").c_str(), "", XB_SHARED, XB_DRIVER_FOX), 0);
  EXPECT_NE(std::string(xb_ErrorText()).find("NONE.DBF"), std::string::npos);
}

TEST(WorkAreas, EngineProperties) {
  char version[256] = {};
  EXPECT_GT(xb_Version(version), 7);
  EXPECT_GE(std::atoi(version + 6), 0);
  int prev = xb_SetSoftSeek(1);
  EXPECT_EQ(xb_SysProp(1000, 0), 1);
  EXPECT_EQ(xb_SysProp(1001, 0), 1);  // sets it off, returns the old value
  EXPECT_EQ(xb_SysProp(1000, 0), 0);
  xb_SetSoftSeek(prev);
  EXPECT_EQ(xb_SysProp(1303, 3), 0);
  EXPECT_EQ(xb_SysProp(1303, -1), 3);
  EXPECT_GT(xb_SysProp(65010, -1), 0);
}

namespace {

// Record numbers a full walk of the current order visits.
std::vector<long> Walk() {
  std::vector<long> seen;
  for (xb_GoTop(); !xb_Eof(); xb_Skip(1)) seen.push_back(xb_RecNo());
  return seen;
}

std::vector<long> WalkBack() {
  std::vector<long> seen;
  for (xb_GoBottom(); !xb_Bof() && !xb_Eof(); xb_Skip(-1)) seen.insert(seen.begin(), xb_RecNo());
  return seen;
}

}  // namespace

// Long walks under a query judge the whole table at once and keep the answers; every kind of
// change, a new query and a changed setting must still be seen at the next step.
TEST(WorkAreas, LongWalksUnderAQuerySeeEveryChange) {
  TempDir dir;
  ASSERT_NE(CreateTaskTable(dir.File("T.DBF")), 0);
  constexpr long kRecords = 20000;
  for (long i = 1; i <= kRecords; ++i) {
    ASSERT_TRUE(xb_AppendBlank());
    const std::string d = std::to_string(100000 - i);  // the tag reverses record order
    xb_Replace("DESCRIPT", XB_VAL_STRING, d.c_str());
    int done = i % 3 == 0;
    xb_Replace("DONE", XB_VAL_LOGICAL, &done);
  }
  ASSERT_TRUE(xb_IndexTag("", "DESCRIPT", "DESCRIPT", 0, 0, ""));
  ASSERT_TRUE(xb_SetOrder(xb_TagArea("DESCRIPT")));
  ASSERT_TRUE(xb_Query(".not.DONE"));

  auto expected = [](auto pass) {
    std::vector<long> want;
    for (long r = kRecords; r >= 1; --r)
      if (pass(r)) want.push_back(r);
    return want;
  };
  auto open = [](long r) { return r % 3 != 0; };
  // Twice: the second walk runs on the kept answers from its start.
  EXPECT_EQ(Walk(), expected(open));
  EXPECT_EQ(Walk(), expected(open));
  EXPECT_EQ(WalkBack(), expected(open));

  // A record changed to fail the query disappears, one changed to pass appears.
  xb_Go(4);
  int done = 1;
  ASSERT_TRUE(xb_Replace("DONE", XB_VAL_LOGICAL, &done));
  xb_Go(9);
  done = 0;
  ASSERT_TRUE(xb_Replace("DONE", XB_VAL_LOGICAL, &done));
  auto changed = [&](long r) { return r == 9 || (r != 4 && open(r)); };
  EXPECT_EQ(Walk(), expected(changed));
  EXPECT_EQ(Walk(), expected(changed));

  // Deletion marks count once SET DELETED is on, and again not once it is off.
  xb_Go(5);
  ASSERT_TRUE(xb_Delete());
  EXPECT_EQ(Walk(), expected(changed));
  xb_SetDeleted(1);
  auto live = [&](long r) { return r != 5 && changed(r); };
  EXPECT_EQ(Walk(), expected(live));
  EXPECT_EQ(Walk(), expected(live));
  xb_SetDeleted(0);
  EXPECT_EQ(Walk(), expected(changed));

  // A new query is judged afresh, and an appended record is judged too.
  ASSERT_TRUE(xb_Query("DONE"));
  auto closed = [&](long r) { return !changed(r); };
  EXPECT_EQ(Walk(), expected(closed));
  ASSERT_TRUE(xb_AppendBlank());
  ASSERT_TRUE(xb_Replace("DESCRIPT", XB_VAL_STRING, "Z"));  // last in the order
  done = 1;
  ASSERT_TRUE(xb_Replace("DONE", XB_VAL_LOGICAL, &done));
  std::vector<long> want = expected(closed);
  want.push_back(kRecords + 1);
  EXPECT_EQ(Walk(), want);
  EXPECT_EQ(xb_QueryRecCount(), static_cast<long>(want.size()));
}
