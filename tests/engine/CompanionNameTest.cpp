// The spelling of a table's memo and index files: new ones carry the table's name with lower-case
// extensions (what other tools on a case-sensitive file system look for), files stored with
// upper-case extensions are still found and kept, and of two spellings the lower-case one wins.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "Table.h"
#include "TestUtil.h"

namespace {

using xbtest::CreateTaskTable;
using xbtest::Memo;
using xbtest::ReadBytes;
using xbtest::TempDir;
namespace fs = std::filesystem;

std::set<std::string> Names(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path())) names.insert(e.path().filename().string());
  return names;
}

void MakeTable(const std::string& path, int count) {
  ASSERT_NE(CreateTaskTable(path), 0) << xb_ErrorText();
  for (int r = 1; r <= count; ++r) {
    ASSERT_TRUE(xb_AppendBlank());
    const std::string note = "note " + std::to_string(r);
    xb_Replace("DESCRIPT", XB_VAL_STRING, ("task " + std::to_string(r)).c_str());
    xb_ReplaceMemo("NOTE", note.data(), static_cast<long>(note.size()));
  }
  ASSERT_NE(xb_IndexTag("", "DESCRIPT", "DESCRIPT", 0, 0, ""), 0) << xb_ErrorText();
  ASSERT_TRUE(xb_Commit());
  xb_CloseAll();
}

std::string NoteOf(long recno) {
  xb_Go(recno);
  return Memo("NOTE");
}

TEST(CompanionNames, NewFilesHaveLowerCaseExtensions) {
  TempDir dir;
  MakeTable(dir.File("LWISE.DBF"), 3);
  EXPECT_EQ(Names(dir), (std::set<std::string>{"LWISE.DBF", "LWISE.fpt", "LWISE.cdx"}));
  EXPECT_EQ(xb::Table::CompanionPath(dir.File("LWISE.DBF"), "FPT"), dir.File("LWISE.fpt"));
  EXPECT_EQ(xb::Table::CompanionPath(dir.File("x.dbf"), "CDX"), dir.File("x.cdx"));
}

// Files written with upper-case extensions stay where they are through every change, a pack
// included: the notes are read from them and new notes go into them.
TEST(CompanionNames, UpperCaseFilesAreFoundAndKept) {
  TempDir dir;
  MakeTable(dir.File("LWISE.DBF"), 6);
  fs::rename(dir.File("LWISE.fpt"), dir.File("LWISE.FPT"));
  fs::rename(dir.File("LWISE.cdx"), dir.File("LWISE.CDX"));
  ASSERT_NE(xb_Use(dir.File("LWISE.DBF").c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX), 0) << xb_ErrorText();
  EXPECT_EQ(xb::Table::CompanionPath(dir.File("LWISE.DBF"), "FPT"), dir.File("LWISE.FPT"));
  EXPECT_EQ(NoteOf(4), "note 4");
  xb_Go(2);
  ASSERT_TRUE(xb_Delete());
  ASSERT_TRUE(xb_AppendBlank());
  const std::string added = "added after the rename";
  xb_ReplaceMemo("NOTE", added.data(), static_cast<long>(added.size()));
  ASSERT_TRUE(xb_Pack()) << xb_ErrorText();
  ASSERT_TRUE(xb_Commit());
  xb_CloseAll();
  EXPECT_EQ(Names(dir), (std::set<std::string>{"LWISE.DBF", "LWISE.FPT", "LWISE.CDX"}));
  ASSERT_NE(xb_Use(dir.File("LWISE.DBF").c_str(), "", XB_READONLY, XB_DRIVER_FOX), 0) << xb_ErrorText();
  EXPECT_EQ(xb_RecCount(), 6);
  EXPECT_EQ(NoteOf(1), "note 1");
  EXPECT_EQ(NoteOf(5), "note 6");
  EXPECT_EQ(NoteOf(6), added);
}

// Both spellings present: the lower-case file is the table's, the other is never written.
TEST(CompanionNames, OfTwoSpellingsTheLowerCaseOneIsUsed) {
  TempDir dir;
  MakeTable(dir.File("T.DBF"), 2);
  MakeTable(dir.File("OTHER.DBF"), 2);
  xb_Use(dir.File("OTHER.DBF").c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX);
  xb_Go(1);
  const std::string other = "the other file's note";
  xb_ReplaceMemo("NOTE", other.data(), static_cast<long>(other.size()));
  ASSERT_TRUE(xb_Commit());
  xb_CloseAll();
  fs::copy_file(dir.File("OTHER.fpt"), dir.File("T.FPT"), fs::copy_options::overwrite_existing);
  const auto upper = ReadBytes(dir.File("T.FPT"));

  ASSERT_NE(xb_Use(dir.File("T.DBF").c_str(), "", XB_SHARED, XB_DRIVER_FOX), 0) << xb_ErrorText();
  EXPECT_EQ(NoteOf(1), "note 1");
  const std::string changed = "changed";
  xb_Go(2);
  ASSERT_TRUE(xb_Rlock(2));
  xb_ReplaceMemo("NOTE", changed.data(), static_cast<long>(changed.size()));
  ASSERT_TRUE(xb_Commit());
  xb_CloseAll();
  EXPECT_EQ(ReadBytes(dir.File("T.FPT")), upper);
  ASSERT_NE(xb_Use(dir.File("T.DBF").c_str(), "", XB_READONLY, XB_DRIVER_FOX), 0) << xb_ErrorText();
  EXPECT_EQ(NoteOf(2), changed);
}

}  // namespace
