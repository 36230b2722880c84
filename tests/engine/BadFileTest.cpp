// Damaged tables and memo files: a failure with a message, never a crash or a read outside the
// file (this suite also runs under AddressSanitizer).

#include <gtest/gtest.h>

#include <random>

#include "TestUtil.h"
#include "xbengine.h"

using namespace xbtest;

namespace {

// Makes a small task table with memos and returns the bytes of its two files.
void MakeTable(const TempDir& dir, std::vector<uint8_t>* dbf, std::vector<uint8_t>* fpt) {
  ASSERT_NE(CreateTaskTable(dir.File("GOOD.DBF")), 0);
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(xb_AppendBlank());
    std::string d = "task " + std::to_string(i);
    xb_Replace("DESCRIPT", XB_VAL_STRING, d.c_str());
    std::string note(static_cast<size_t>(40 * i), static_cast<char>('a' + i));
    xb_ReplaceMemo("NOTE", note.data(), static_cast<long>(note.size()));
  }
  xb_CloseAll();
  *dbf = ReadBytes(dir.File("GOOD.DBF"));
  *fpt = ReadBytes(dir.File("GOOD.fpt"));
}

// Opens the damaged table and, if it opens, reads every record and memo.
bool OpenAndReadAll(const TempDir& dir) {
  int area = xb_Use(dir.File("BAD.DBF").c_str(), "BAD", XB_READONLY, XB_DRIVER_FOX);
  if (area == 0) {
    EXPECT_NE(xb_ErrorText()[0], 0) << "a refused open must say why";
    return false;
  }
  std::vector<char> rec(static_cast<size_t>(xb_RecSize()));
  for (xb_GoTop(); !xb_Eof(); xb_Skip(1)) {
    xb_GetRecord(rec.data());
    for (int f = 1; f <= xb_FieldCount(); ++f) {
      if (xb_FieldType(f) != 'M') continue;
      long len = 0;
      char* m = xb_GetMemo(xb_FieldName(f), &len);
      xb_MemDealloc(m);
    }
  }
  xb_Close(area);
  return true;
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

TEST(BadFiles, DamagedHeadersAreRefusedWithAMessage) {
  TempDir dir;
  std::vector<uint8_t> dbf, fpt;
  MakeTable(dir, &dbf, &fpt);
  WriteBytes(dir.File("BAD.fpt"), fpt);
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    const char* message;
  } cases[] = {
      {"empty file", [](auto& b) { b.clear(); }, "too short"},
      {"cut inside the header", [](auto& b) { b.resize(100); }, "header length"},
      {"cut inside a record", [](auto& b) { b.resize(258 + 136 * 3 + 50); }, "truncated"},
      {"record count past the end", [](auto& b) { Put32(b, 4, 1000); }, "truncated"},
      {"huge record count", [](auto& b) { Put32(b, 4, 0xFFFFFFFF); }, "truncated"},
      {"header length too small", [](auto& b) { b[8] = 10; b[9] = 0; }, "too small"},
      {"header length past the end", [](auto& b) { b[8] = 0xFF; b[9] = 0xFF; }, "past the end"},
      {"record length smaller than the fields", [](auto& b) { b[10] = 100; b[11] = 0; }, "overruns"},
      {"no terminator", [](auto& b) { b[256] = 'X'; }, ""},
      {"unknown version", [](auto& b) { b[0] = 0x42; }, "version"},
      {"dBASE memo version", [](auto& b) { b[0] = 0x83; }, "memo"},
      {"field of unknown type", [](auto& b) { b[32 + 11] = 'Q'; }, "unknown type"},
      {"field width 0", [](auto& b) { b[32 + 16] = 0; }, "width 0"},
      {"memo field with the wrong width", [](auto& b) { b[32 * 4 + 16] = 8; }, "memo field"},
  };
  for (auto& c : cases) {
    auto bad = dbf;
    c.damage(bad);
    WriteBytes(dir.File("BAD.DBF"), bad);
    EXPECT_FALSE(OpenAndReadAll(dir)) << c.what;
    EXPECT_NE(std::string(xb_ErrorText()).find(c.message), std::string::npos)
        << c.what << ": " << xb_ErrorText();
    EXPECT_NE(std::string(xb_ErrorText()).find("BAD.DBF"), std::string::npos) << c.what;
  }
}

TEST(BadFiles, DamagedMemosGiveEmptyTextAndAMessage) {
  TempDir dir;
  std::vector<uint8_t> dbf, fpt;
  MakeTable(dir, &dbf, &fpt);
  // Record 2's memo pointer past the end of the memo file, record 3's memo cut short.
  auto bad = dbf;
  std::string far = "    999999";
  std::copy(far.begin(), far.end(), bad.begin() + 258 + 136 + 64);
  std::string junk = "  12ab  34";
  std::copy(junk.begin(), junk.end(), bad.begin() + 258 + 136 * 4 + 64);
  WriteBytes(dir.File("BAD.DBF"), bad);
  auto cut = fpt;
  cut.resize(cut.size() - 30);
  WriteBytes(dir.File("BAD.fpt"), cut);
  ASSERT_NE(xb_Use(dir.File("BAD.DBF").c_str(), "BAD", XB_READONLY, XB_DRIVER_FOX), 0);
  xb_Go(1);
  EXPECT_EQ(Memo("NOTE"), "");  // record 1 has no memo
  EXPECT_EQ(xb_Error(), 0);
  xb_Go(2);
  EXPECT_EQ(Memo("NOTE"), "");
  EXPECT_NE(std::string(xb_ErrorText()).find("outside the memo file"), std::string::npos);
  xb_Go(5);
  EXPECT_EQ(Memo("NOTE"), "");
  EXPECT_NE(std::string(xb_ErrorText()).find("invalid memo pointer"), std::string::npos);
  xb_Go(6);
  EXPECT_EQ(Memo("NOTE"), "");
  EXPECT_NE(std::string(xb_ErrorText()).find("past the end"), std::string::npos);
  xb_Go(3);
  EXPECT_EQ(Memo("NOTE"), std::string(80, 'c'));
  xb_CloseAll();

  // A memo file too short for its header, or with block size 0, refuses the open.
  WriteBytes(dir.File("BAD.DBF"), dbf);
  WriteBytes(dir.File("BAD.fpt"), {0, 0, 0});
  EXPECT_FALSE(OpenAndReadAll(dir));
  auto zero = fpt;
  zero[6] = zero[7] = 0;
  WriteBytes(dir.File("BAD.fpt"), zero);
  EXPECT_FALSE(OpenAndReadAll(dir));
  std::filesystem::remove(dir.File("BAD.fpt"));
  EXPECT_FALSE(OpenAndReadAll(dir));
  EXPECT_NE(std::string(xb_ErrorText()).find("memo file is missing"), std::string::npos);
}

TEST(BadFiles, RandomByteFlipsNeverCrash) {
  TempDir dir;
  std::vector<uint8_t> dbf, fpt;
  MakeTable(dir, &dbf, &fpt);
  std::mt19937 rng(7);
  for (int round = 0; round < 400; ++round) {
    auto bad_dbf = dbf;
    auto bad_fpt = fpt;
    int flips = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < flips; ++i) {
      // Mostly the header and memo pointers, where damage matters most.
      if (rng() % 2) {
        size_t at = rng() % (rng() % 3 ? 300 : bad_dbf.size());
        bad_dbf[at] = static_cast<uint8_t>(rng());
      } else {
        size_t at = rng() % bad_fpt.size();
        bad_fpt[at] = static_cast<uint8_t>(rng());
      }
    }
    if (rng() % 5 == 0) bad_fpt.resize(rng() % bad_fpt.size());
    WriteBytes(dir.File("BAD.DBF"), bad_dbf);
    WriteBytes(dir.File("BAD.fpt"), bad_fpt);
    OpenAndReadAll(dir);
  }
}

TEST(BadFiles, WritesToAReadOnlyOpenAreRefused) {
  TempDir dir;
  std::vector<uint8_t> dbf, fpt;
  MakeTable(dir, &dbf, &fpt);
  ASSERT_NE(xb_Use(dir.File("GOOD.DBF").c_str(), "", XB_READONLY, XB_DRIVER_FOX), 0);
  xb_GoTop();
  EXPECT_FALSE(xb_AppendBlank());
  EXPECT_FALSE(xb_Replace("DESCRIPT", XB_VAL_STRING, "changed"));
  EXPECT_FALSE(xb_ReplaceMemo("NOTE", "x", 1));
  EXPECT_FALSE(xb_Delete());
  xb_CloseAll();
  EXPECT_EQ(ReadBytes(dir.File("GOOD.DBF")), dbf);
  EXPECT_EQ(ReadBytes(dir.File("GOOD.fpt")), fpt);
}

TEST(BadFiles, NextFreePointerFarPastTheEndIsNotFollowed) {
  TempDir dir;
  std::vector<uint8_t> dbf, fpt;
  MakeTable(dir, &dbf, &fpt);
  fpt[0] = 0xFF;
  fpt[1] = 0xFF;
  fpt[2] = 0xFF;
  fpt[3] = 0x00;
  WriteBytes(dir.File("GOOD.fpt"), fpt);
  ASSERT_NE(xb_Use(dir.File("GOOD.DBF").c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX), 0);
  xb_Go(1);
  ASSERT_TRUE(xb_ReplaceMemo("NOTE", "a new text", 10)) << xb_ErrorText();
  xb_Go(2);
  EXPECT_EQ(Memo("NOTE"), std::string(40, 'b'));  // nothing overwritten
  xb_CloseAll();
  EXPECT_LT(std::filesystem::file_size(dir.File("GOOD.fpt")), fpt.size() + 200);
  ASSERT_NE(xb_Use(dir.File("GOOD.DBF").c_str(), "", XB_READONLY, XB_DRIVER_FOX), 0);
  xb_Go(1);
  EXPECT_EQ(Memo("NOTE"), "a new text");
}
