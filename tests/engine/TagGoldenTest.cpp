// The five task tags against index files another tool wrote: built from the same table they
// give the same file, and the other tool's files are navigated and kept correct when the
// records change.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <sstream>

#include "CdxTestSupport.h"
#include "Engine.h"
#include "TaskOrders.h"
#include "TestUtil.h"
#include "xbengine.h"

using namespace xbtest;

namespace {

void CopyFixture(const std::string& name, const std::string& to) { WriteBytes(to, ReadBytes(DataFile(name))); }

std::string HexAt(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, size_t at) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "0x%zX: ours %02X, theirs %02X", at, a[at], b[at]);
  return buf;
}

}  // namespace

// Built from the fixture table, our index file has the other tool's page map, tag list, tag
// headers and leaves. Byte for byte, except what the format leaves to each writer:
//  * bytes 8-11 of a header: the change counter, which our writer moves on every change of a
//    tree (the tag list changed once per tag added) and the other tool leaves at 0;
//  * bytes 16-23 of a header: reserved; the other tool writes its header and page sizes there
//    (and a four-letter signature in the tag list's header), we write zeros;
//  * the stored FOR text: the program passes "not Deleted()", which we store in the dotted form
//    other tools read, keeping the caller's letter case (".NOT.Deleted()"); the other tool
//    stores ".NOT.DELETED()". Expression text is not case-sensitive, so it is compared so.
TEST(TagGolden, TagsBuiltFromTheSmallTableMatchTheOtherToolsFile) {
  TempDir dir;
  const std::string dbf = dir.File("small.dbf");
  std::vector<uint8_t> table = ReadBytes(DataFile("small.dbf"));
  ASSERT_EQ(table[28], 0x01);
  table[28] = 0;  // no structural index: the engine must not look for one
  WriteBytes(dbf, table);
  CopyFixture("small.fpt", dir.File("small.fpt"));
  ASSERT_NE(xb_Use(dbf.c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX), 0) << xb_ErrorText();
  ASSERT_EQ(xb_SysProp(3000, -1), 0);
  for (int t = 0; t < 5; ++t) ASSERT_EQ(xb_IndexTag("", kTaskTags[t], kTaskKeys[t], 0, 0, "not Deleted()"), t + 1) << xb_ErrorText();
  ASSERT_TRUE(OrdersMatchTable("after building"));
  ASSERT_TRUE(xb_CloseAll());

  // Building tags changes nothing in the table but the flag that announces the index.
  EXPECT_EQ(ReadBytes(dbf), ReadBytes(DataFile("small.dbf")));

  const std::vector<uint8_t> ours = ReadBytes(dir.File("small.cdx"));
  const std::vector<uint8_t> theirs = ReadBytes(DataFile("small.cdx"));
  ASSERT_EQ(ours.size(), theirs.size());

  std::unique_ptr<xb::CdxFile> a, b;
  ASSERT_TRUE(xb::CdxFile::Open(dir.File("small.cdx"), true, &a).ok());
  ASSERT_TRUE(xb::CdxFile::Open(DataFile("small.cdx"), true, &b).ok());
  ASSERT_TRUE(a->Check().ok()) << a->Check().ToString();
  const auto ta = a->Tags(), tb = b->Tags();
  ASSERT_EQ(ta.size(), tb.size());
  std::vector<uint32_t> headers = {0};
  std::vector<uint32_t> leaves;
  for (size_t t = 0; t < ta.size(); ++t) {
    EXPECT_EQ(ta[t].name, tb[t].name);
    EXPECT_EQ(ta[t].key_expression, tb[t].key_expression);
    EXPECT_EQ(cdxtest::Upper(ta[t].for_expression), cdxtest::Upper(tb[t].for_expression));
    EXPECT_EQ(ta[t].key_length, tb[t].key_length);
    EXPECT_EQ(ta[t].options, tb[t].options);
    EXPECT_EQ(ta[t].descending, tb[t].descending);
    EXPECT_EQ(ta[t].header_offset, tb[t].header_offset) << ta[t].name;
    EXPECT_EQ(cdxtest::AllEntries(a->Tag(t)), cdxtest::AllEntries(b->Tag(t))) << ta[t].name;
    headers.push_back(ta[t].header_offset);
    std::vector<uint32_t> pages;
    ASSERT_TRUE(a->Tag(t)->Check(&pages).ok());
    for (uint32_t p : pages) leaves.push_back(p);
  }
  if (HasFailure()) return;

  std::vector<bool> checked(ours.size(), false);
  for (uint32_t h : headers) {
    for (size_t i = 8; i < 12; ++i) checked[h + i] = true;
    for (size_t i = 16; i < 24; ++i) checked[h + i] = true;
    for (size_t i = 512; i < 1024; ++i) {
      EXPECT_EQ(std::toupper(ours[h + i]), std::toupper(theirs[h + i])) << "expression pool " << HexAt(ours, theirs, h + i);
      checked[h + i] = true;
    }
  }
  size_t differences = 0;
  for (size_t i = 0; i < ours.size(); ++i) {
    if (checked[i] || ours[i] == theirs[i]) continue;
    if (++differences <= 10) ADD_FAILURE() << "byte " << HexAt(ours, theirs, i);
  }
  EXPECT_EQ(differences, 0u);
  // The leaves were part of that comparison: each tag is one full-page root leaf here.
  EXPECT_EQ(leaves.size(), 5u);
  for (uint32_t p : leaves) EXPECT_EQ(ours[p], xb::kCdxAttrLeaf | xb::kCdxAttrRoot);
}

// The other tool's index opens with the table and is kept correct by our changes: replaced
// keys, deletions, recalls and appends that split its single-leaf trees.
TEST(TagGolden, TheOtherToolsSmallIndexIsNavigatedAndMaintained) {
  TempDir dir;
  const std::string dbf = dir.File("small.dbf");
  for (const char* ext : {".dbf", ".fpt", ".cdx"}) CopyFixture(std::string("small") + ext, dir.File(std::string("small") + ext));
  ASSERT_NE(xb_Use(dbf.c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX), 0) << xb_ErrorText();
  ASSERT_TRUE(OrdersMatchTable("opened"));
  EXPECT_STREQ(xb_TagName(1), "DATETIME");
  EXPECT_STREQ(xb_IndexFor(3), ".NOT.DELETED()");

  xb_Go(1);
  ASSERT_TRUE(xb_Replace("DESCRIPT", XB_VAL_STRING, "aardvark first"));
  xb_Go(5);
  ASSERT_TRUE(xb_Replace("DATE", XB_VAL_STRING, "20231201"));
  ASSERT_TRUE(OrdersMatchTable("after replacing keys"));
  xb_Go(2);
  ASSERT_TRUE(xb_Delete());
  xb_Go(4);
  ASSERT_EQ(xb_Deleted(), 1);  // marked in the fixture
  ASSERT_TRUE(xb_Recall());
  ASSERT_TRUE(OrdersMatchTable("after a deletion and a recall"));
  std::mt19937 rng(5);
  for (int i = 0; i < 60; ++i) {
    ASSERT_TRUE(xb_AppendBlank());
    std::string d = "added task " + std::to_string(rng() % 1000) + std::string(rng() % 30, 'x');
    std::string date = std::to_string(20240101 + rng() % 27);
    ASSERT_TRUE(xb_Replace("DESCRIPT", XB_VAL_STRING, d.c_str()));
    ASSERT_TRUE(xb_Replace("DATE", XB_VAL_STRING, date.c_str()));
    ASSERT_TRUE(xb_Replace("TIME", XB_VAL_STRING, i % 3 ? "10:00" : ""));
    ASSERT_TRUE(xb_Replace("KEYS", XB_VAL_STRING, (std::string(1 + rng() % 50, 'k') + d).c_str()));
    ASSERT_TRUE(xb_Replace("PRIORITY", XB_VAL_STRING, i % 2 ? "b" : "A"));
    int done = i % 4 == 0;
    ASSERT_TRUE(xb_Replace("DONE", XB_VAL_LOGICAL, &done));
    ASSERT_TRUE(xb_ReplaceMemo("NOTE", d.data(), static_cast<long>(d.size())));
  }
  ASSERT_TRUE(OrdersMatchTable("after appends"));
  ASSERT_TRUE(xb_CloseAll());

  std::unique_ptr<xb::CdxFile> file;
  ASSERT_TRUE(xb::CdxFile::Open(dir.File("small.cdx"), true, &file).ok());
  EXPECT_TRUE(file->Check().ok()) << file->Check().ToString();
  std::vector<uint32_t> pages;
  ASSERT_TRUE(file->Tag(3)->Check(&pages).ok());
  EXPECT_GT(pages.size(), 3u);  // KEYS grew beyond its single leaf
  file.reset();

  ASSERT_NE(xb_Use(dbf.c_str(), "", XB_SHARED, XB_DRIVER_FOX), 0) << xb_ErrorText();
  ASSERT_TRUE(OrdersMatchTable("reopened shared"));
  xb_Go(7);
  ASSERT_TRUE(xb_Recall());
  xb_Go(3);
  ASSERT_TRUE(xb_Replace("PRIORITY", XB_VAL_STRING, "c"));
  ASSERT_TRUE(OrdersMatchTable("after changes in shared mode"));
  xb_Go(1);
  EXPECT_EQ(Memo("NOTE").empty(), false);  // the fixture's memos are still read
}

// The big fixture's trees have several levels and a free page; a long run of random changes
// through the work area keeps them correct, and a rebuild gives the same orders.
// The fixture set here has no memo file for this table; an empty one stands in (the index does
// not read memos, and no memo is read below).
TEST(TagGolden, TheOtherToolsMultiLevelIndexIsMaintained) {
  TempDir dir;
  const std::string dbf = dir.File("big5000.dbf");
  CopyFixture("big5000.dbf", dbf);
  CopyFixture("big5000.cdx", dir.File("big5000.cdx"));
  std::vector<uint8_t> fpt(512, 0);
  fpt[3] = 8;   // next free block
  fpt[7] = 64;  // block size
  WriteBytes(dir.File("big5000.fpt"), fpt);
  ASSERT_NE(xb_Use(dbf.c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX), 0) << xb_ErrorText();
  ASSERT_EQ(xb_RecCount(), 5000);
  ASSERT_TRUE(OrdersMatchTable("opened"));
  std::mt19937 rng(11);
  const long n = xb_RecCount();
  for (int i = 1; i <= 1500; ++i) {
    const long r = 1 + static_cast<long>(rng() % static_cast<unsigned long>(n));
    xb_Go(r);
    switch (rng() % 6) {
      case 0: ASSERT_TRUE(xb_Delete()); break;
      case 1: ASSERT_TRUE(xb_Recall()); break;
      case 2: {
        std::string d = "changed " + std::to_string(rng() % 500);
        ASSERT_TRUE(xb_Replace("DESCRIPT", XB_VAL_STRING, d.c_str()));
        break;
      }
      case 3: {
        std::string date = std::to_string(20200101 + rng() % 28);
        ASSERT_TRUE(xb_Replace("DATE", XB_VAL_STRING, date.c_str()));
        break;
      }
      case 4: {
        int done = static_cast<int>(rng() % 2);
        ASSERT_TRUE(xb_Replace("DONE", XB_VAL_LOGICAL, &done));
        ASSERT_TRUE(xb_Replace("PRIORITY", XB_VAL_STRING, done ? "A" : "c"));
        break;
      }
      default: {
        ASSERT_TRUE(xb_AppendBlank());
        std::string k = "appended " + std::to_string(i);
        ASSERT_TRUE(xb_Replace("KEYS", XB_VAL_STRING, k.c_str()));
        ASSERT_TRUE(xb_ReplaceMemo("NOTE", k.data(), static_cast<long>(k.size())));
        break;
      }
    }
    if (i % 500 == 0) {
      ASSERT_TRUE(OrdersMatchTable("after " + std::to_string(i) + " changes"));
    }
  }
  ASSERT_TRUE(xb_CloseAll());
  ASSERT_NE(xb_Use(dbf.c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX), 0) << xb_ErrorText();
  ASSERT_TRUE(OrdersMatchTable("reopened"));
  std::vector<std::vector<long>> before;
  for (int t = 1; t <= 5; ++t) {
    xb_SetOrder(t);
    before.push_back(WalkForward());
  }
  ASSERT_TRUE(xb::Engine::Instance().Current()->table().RebuildIndexes(nullptr).ok());
  xb::Engine::Instance().Current()->OrdersChanged();
  ASSERT_TRUE(OrdersMatchTable("rebuilt"));
  for (int t = 1; t <= 5; ++t) {
    xb_SetOrder(t);
    EXPECT_EQ(WalkForward(), before[static_cast<size_t>(t - 1)]) << kTaskTags[t - 1];
  }
}
