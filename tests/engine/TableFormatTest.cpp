// The files the engine writes, byte for byte, and the files other tools wrote, value for value.

#include <gtest/gtest.h>

#include <cstring>

#include "TestUtil.h"
#include "xbengine.h"

using namespace xbtest;

namespace {

uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint32_t Be32(const std::vector<uint8_t>& b, size_t at) {
  return (static_cast<uint32_t>(b[at]) << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
}

}  // namespace

TEST(TableFormat, TaskTableHeaderIsFoxProWithMemo) {
  TempDir dir;
  const std::string path = dir.File("LWISE.DBF");
  ASSERT_NE(CreateTaskTable(path), 0) << xb_ErrorText();
  EXPECT_EQ(xb_FieldCount(), 7);
  EXPECT_EQ(xb_RecSize(), 136);
  const int offsets[] = {2, 10, 15, 65, 75, 76, 136};
  const int widths[] = {8, 5, 50, 10, 1, 60, 1};
  const char types[] = "CCCMLCC";
  for (int i = 1; i <= 7; ++i) {
    EXPECT_EQ(xb_FieldOffset(i), offsets[i - 1]);
    EXPECT_EQ(xb_FieldWidth(i), widths[i - 1]);
    EXPECT_EQ(xb_FieldType(i), types[i - 1]);
    EXPECT_EQ(xb_FieldDecimals(i), 0);
  }
  EXPECT_EQ(xb_FieldNum("descript"), 3);
  EXPECT_EQ(xb_FieldNum("nosuch"), 0);
  ASSERT_TRUE(xb_AppendBlank());
  ASSERT_TRUE(xb_Replace("DESCRIPT", XB_VAL_STRING, "Call dentist"));
  ASSERT_TRUE(xb_Replace("NOTE", XB_VAL_STRING, "Ask about the filling"));
  ASSERT_TRUE(xb_Close(0));

  auto b = ReadBytes(path);
  ASSERT_EQ(b.size(), 258u + 136u + 1u);
  EXPECT_EQ(b[0], 0xF5);
  EXPECT_EQ(Le32(b, 4), 1u);
  EXPECT_EQ(Le16(b, 8), 258);
  EXPECT_EQ(Le16(b, 10), 136);
  EXPECT_EQ(b[29], 0x03);  // Windows-1252
  EXPECT_EQ(b[256], 0x0D);
  EXPECT_EQ(b[257], 0x00);
  EXPECT_EQ(b.back(), 0x1A);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(Le32(b, 32 + 32 * i + 12), static_cast<uint32_t>(offsets[i] - 1));
  EXPECT_EQ(std::string(b.begin() + 258 + 64, b.begin() + 258 + 74), "         8");

  auto m = ReadBytes(dir.File("LWISE.fpt"));
  ASSERT_EQ(m.size(), 512u + 8u + 21u);
  EXPECT_EQ(Be32(m, 0), 9u);  // next free block
  EXPECT_EQ(m[6] * 256 + m[7], 64);
  for (size_t i = 8; i < 512; ++i) ASSERT_EQ(m[i], 0) << "header byte " << i;
  EXPECT_EQ(Be32(m, 512), 1u);
  EXPECT_EQ(Be32(m, 516), 21u);
}

TEST(TableFormat, MemoBlockSizeSetting) {
  TempDir dir;
  int prev = xb_SetMemoBlockSize(512);
  ASSERT_NE(CreateTaskTable(dir.File("T512.DBF")), 0);
  xb_SetMemoBlockSize(1);  // units of 512 bytes for small values
  ASSERT_NE(CreateTaskTable(dir.File("T1.DBF")), 0);
  xb_SetMemoBlockSize(prev);
  xb_CloseAll();
  for (const char* name : {"T512.fpt", "T1.fpt"}) {
    auto m = ReadBytes(dir.File(name));
    EXPECT_EQ(m[6] * 256 + m[7], 512) << name;
    EXPECT_EQ(Be32(m, 0), 1u) << name;  // the header is block 0
  }
}

// Replays an update sequence whose results another tool recorded after each step. New memos
// land where the other tool put them (same block numbers, next-free pointers and bytes). A
// changed memo is not rewritten in place as the other tool does: it goes to fresh blocks at the
// next free block, so the old text stays whole until the record points at the new one, and the
// texts read back are the recorded ones.
class MemoGolden : public ::testing::TestWithParam<int> {};

TEST_P(MemoGolden, UpdatesMatchSnapshots) {
  const int bs = GetParam();
  const std::string base = "memo" + std::to_string(bs);
  TempDir dir;
  // The recorded texts, read from the snapshots with our own reader.
  auto snapshot_memos = [&](int step) {
    std::filesystem::copy_file(DataFile(base + "_" + std::to_string(step) + ".dbf.snap"),
                               dir.File("SNAP.DBF"),
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(DataFile(base + "_" + std::to_string(step) + ".fpt.snap"),
                               dir.File("SNAP.fpt"),
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_NE(xb_Use(dir.File("SNAP.DBF").c_str(), "SNAP", XB_READONLY, XB_DRIVER_FOX), 0)
        << xb_ErrorText();
    std::vector<std::string> memos;
    for (xb_GoTop(); !xb_Eof(); xb_Skip(1)) memos.push_back(Memo("NOTE"));
    xb_Close(0);
    return memos;
  };
  auto snapshot_first = snapshot_memos(1);
  ASSERT_EQ(snapshot_first.size(), 3u);

  xb_SetMemoBlockSize(bs);
  ASSERT_NE(CreateTaskTable(dir.File("OURS.DBF")), 0);
  xb_SetMemoBlockSize(64);
  const int ours = xb_WorkArea("OURS");
  for (int i = 0; i < 3; ++i) {
    xb_Select(ours);
    ASSERT_TRUE(xb_AppendBlank());
    ASSERT_TRUE(xb_ReplaceMemo("NOTE", snapshot_first[i].data(), static_cast<long>(snapshot_first[i].size())));
  }
  auto pointer = [](const std::vector<uint8_t>& dbf, int r) {
    const size_t at = 258 + 136 * static_cast<size_t>(r) + 64;
    return std::string(dbf.begin() + at, dbf.begin() + at + 10);
  };
  // Steps 2..5 change one record each; find which by comparing consecutive snapshots.
  std::vector<std::string> previous = snapshot_first;
  uint32_t next_free = 0;
  for (int step = 1; step <= 5; ++step) {
    auto want = snapshot_memos(step);
    xb_Select(ours);
    std::vector<bool> changed(3, false);
    for (int r = 0; r < 3; ++r) {
      if (step > 1 && want[r] != previous[r]) {
        xb_Go(r + 1);
        ASSERT_TRUE(xb_ReplaceMemo("NOTE", want[r].data(), static_cast<long>(want[r].size())));
        changed[static_cast<size_t>(r)] = true;
      }
    }
    previous = want;
    xb_Commit();
    for (int r = 0; r < 3; ++r) {
      xb_Go(r + 1);
      EXPECT_EQ(Memo("NOTE"), want[static_cast<size_t>(r)]) << "step " << step << " record " << r + 1;
    }
    auto snap_dbf = ReadBytes(DataFile(base + "_" + std::to_string(step) + ".dbf.snap"));
    auto snap_fpt = ReadBytes(DataFile(base + "_" + std::to_string(step) + ".fpt.snap"));
    auto our_dbf = ReadBytes(dir.File("OURS.DBF"));
    auto our_fpt = ReadBytes(dir.File("OURS.fpt"));
    if (step == 1) {
      for (int r = 0; r < 3; ++r)
        EXPECT_EQ(pointer(our_dbf, r), pointer(snap_dbf, r)) << "record " << r + 1;
      EXPECT_EQ(Be32(our_fpt, 0), Be32(snap_fpt, 0));
      ASSERT_EQ(our_fpt.size(), snap_fpt.size());
      for (int r = 0; r < 3; ++r) {
        const long block = std::atol(pointer(our_dbf, r).c_str());
        const size_t off = static_cast<size_t>(block) * static_cast<size_t>(bs);
        ASSERT_LE(off + 8, our_fpt.size());
        const size_t len = 8 + Be32(our_fpt, off + 4);
        EXPECT_TRUE(std::equal(our_fpt.begin() + off, our_fpt.begin() + off + len, snap_fpt.begin() + off))
            << "memo of record " << r + 1;
      }
    } else {
      // Each changed memo starts at the next free block as it was before it.
      uint32_t expect_next = next_free;
      for (int r = 0; r < 3; ++r) {
        if (!changed[static_cast<size_t>(r)] || want[static_cast<size_t>(r)].empty()) continue;
        EXPECT_EQ(std::atol(pointer(our_dbf, r).c_str()), static_cast<long>(expect_next))
            << "step " << step << " record " << r + 1;
        expect_next += static_cast<uint32_t>((8 + want[static_cast<size_t>(r)].size() + bs - 1) / bs);
      }
      EXPECT_EQ(Be32(our_fpt, 0), expect_next) << "next free after step " << step;
    }
    next_free = Be32(our_fpt, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, MemoGolden, ::testing::Values(64, 512));

TEST(TableFormat, ReadsTablesOfOtherTools) {
  TempDir dir;
  for (const char* ext : {"dbf", "fpt"}) {
    std::filesystem::copy_file(DataFile(std::string("small.") + ext), dir.File(std::string("small.") + ext));
    std::filesystem::copy_file(DataFile(std::string("pydbf.") + ext), dir.File(std::string("pydbf.") + ext));
  }
  ASSERT_NE(xb_Use(dir.File("small.dbf").c_str(), "", XB_READONLY, XB_DRIVER_FOX), 0) << xb_ErrorText();
  EXPECT_STREQ(xb_Alias(), "SMALL");
  EXPECT_EQ(xb_RecCount(), 12);
  xb_GoTop();
  EXPECT_EQ(Field("DATE"), "20240105");
  EXPECT_EQ(Field("TIME"), "09:30");
  EXPECT_EQ(Field("DESCRIPT"), Padded("Call dentist", 50));
  EXPECT_EQ(Memo("NOTE"), "Ask about the filling");
  xb_Go(3);
  EXPECT_EQ(Memo("NOTE"), "Look at flights\r\nand hotels");
  xb_Go(4);
  EXPECT_TRUE(xb_Deleted());
  EXPECT_EQ(Field("DESCRIPT").substr(0, 14), "Pay invoice 42");
  xb_Close(0);

  // A table whose header carries a backlink area and no end-of-file marker.
  ASSERT_NE(xb_Use(dir.File("pydbf.dbf").c_str(), "", XB_READONLY, XB_DRIVER_FOX), 0) << xb_ErrorText();
  EXPECT_EQ(xb_RecCount(), 3);
  EXPECT_EQ(xb_RecSize(), 136);
  xb_GoTop();
  EXPECT_EQ(Field("DATE"), "20240105");
  EXPECT_EQ(Memo("NOTE"), "Ask about the filling");
  xb_Go(2);
  EXPECT_TRUE(xb_Deleted());
  EXPECT_EQ(Field("DONE"), "T");
  xb_Go(3);
  EXPECT_EQ(Field("DATE"), "        ");
  EXPECT_EQ(Field("PRIORITY"), "B");
}

TEST(TableFormat, AppendingToAForeignTableKeepsItReadable) {
  TempDir dir;
  for (const char* ext : {"dbf", "fpt"})
    std::filesystem::copy_file(DataFile(std::string("pydbf.") + ext), dir.File(std::string("pydbf.") + ext));
  ASSERT_NE(xb_Use(dir.File("pydbf.dbf").c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX), 0);
  ASSERT_TRUE(xb_AppendBlank());
  ASSERT_TRUE(xb_Replace("DESCRIPT", XB_VAL_STRING, "added"));
  ASSERT_TRUE(xb_Replace("NOTE", XB_VAL_STRING, "a new note"));
  xb_Close(0);
  auto b = ReadBytes(dir.File("pydbf.dbf"));
  EXPECT_EQ(b.size(), 520u + 4u * 136u + 1u);
  EXPECT_EQ(b.back(), 0x1A);
  ASSERT_NE(xb_Use(dir.File("pydbf.dbf").c_str(), "", XB_READONLY, XB_DRIVER_FOX), 0);
  EXPECT_EQ(xb_RecCount(), 4);
  xb_GoBottom();
  EXPECT_EQ(Memo("NOTE"), "a new note");
  xb_Go(1);
  EXPECT_EQ(Memo("NOTE"), "Ask about the filling");
}
