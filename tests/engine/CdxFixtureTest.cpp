// Index files written by other tools: the tag list, and every tag's entries compared with keys
// computed from the table itself.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include "CdxTestSupport.h"

using namespace xb;
using namespace cdxtest;

namespace {

using KeyOf = std::function<std::string(const MiniTable&, size_t)>;

std::string Logical(const std::string& v) {
  return v.find_first_of("TtYy") == 0 ? "T" : "F";
}

// The five tags of the task table, each with its key expression spelled out.
const std::map<std::string, KeyOf>& TaskKeys() {
  static const std::map<std::string, KeyOf> kEys = {
      {"DATETIME", [](const MiniTable& t, size_t r) { return t.Get(r, "DATE") + t.Get(r, "TIME"); }},
      {"DESCRIPT", [](const MiniTable& t, size_t r) { return Upper(t.Get(r, "DESCRIPT")); }},
      {"DONE", [](const MiniTable& t, size_t r) { return Logical(t.Get(r, "DONE")); }},
      {"KEYS", [](const MiniTable& t, size_t r) { return Upper(t.Get(r, "KEYS")); }},
      {"PRIORITY",
       [](const MiniTable& t, size_t r) {
         return Upper(t.Get(r, "PRIORITY")) + t.Get(r, "DATE") + t.Get(r, "TIME");
       }},
  };
  return kEys;
}

std::vector<Entry> Expected(const MiniTable& table, const KeyOf& key, bool skip_deleted) {
  std::vector<Entry> entries;
  for (size_t r = 1; r <= table.count(); ++r) {
    if (skip_deleted && table.deleted(r)) continue;
    entries.emplace_back(key(table, r), static_cast<uint32_t>(r));
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

void ExpectTaskTagsMatchTable(const std::string& base, size_t live) {
  const MiniTable table(DataPath(base + ".dbf"));
  std::unique_ptr<CdxFile> cdx;
  ASSERT_TRUE(CdxFile::Open(DataPath(base + ".cdx"), true, &cdx).ok());
  ASSERT_EQ(cdx->TagCount(), 5u);
  for (const auto& [name, key] : TaskKeys()) {
    CdxTag* tag = cdx->FindTag(name);
    ASSERT_NE(tag, nullptr) << name;
    Status s;
    const std::vector<Entry> entries = AllEntries(tag, &s);
    ASSERT_TRUE(s.ok()) << s.ToString();
    EXPECT_EQ(entries.size(), live) << name;
    EXPECT_EQ(entries, Expected(table, key, true)) << name;
    // The same entries walking backwards through the left links.
    std::vector<Entry> backwards;
    ASSERT_TRUE(tag->Last().ok());
    while (tag->Valid()) {
      backwards.emplace_back(std::string(tag->Key()), tag->Recno());
      ASSERT_TRUE(tag->Prev().ok());
    }
    std::reverse(backwards.begin(), backwards.end());
    EXPECT_EQ(backwards, entries) << name;
  }
  EXPECT_TRUE(cdx->Check().ok()) << cdx->Check().ToString();
}

TEST(CdxFixtures, SmallFileListsItsTagsInHeaderOrder) {
  std::unique_ptr<CdxFile> cdx;
  ASSERT_TRUE(CdxFile::Open(DataPath("small.cdx"), true, &cdx).ok());
  const std::vector<CdxTagInfo> tags = cdx->Tags();
  ASSERT_EQ(tags.size(), 5u);
  const char* names[] = {"DATETIME", "DESCRIPT", "DONE", "KEYS", "PRIORITY"};
  const char* exprs[] = {"DATE+TIME", "upper(DESCRIPT)", "DONE", "upper(KEYS)",
                         "upper(PRIORITY)+DATE+TIME"};
  const size_t lengths[] = {13, 50, 1, 60, 14};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(tags[i].name, names[i]);
    EXPECT_EQ(tags[i].order, i + 1);
    EXPECT_EQ(tags[i].header_offset, 1536u * (i + 1));
    EXPECT_EQ(tags[i].key_expression, exprs[i]);
    EXPECT_EQ(tags[i].for_expression, ".NOT.DELETED()");
    EXPECT_EQ(tags[i].key_length, lengths[i]);
    EXPECT_EQ(tags[i].options, 0x68);
    EXPECT_FALSE(tags[i].descending);
    EXPECT_FALSE(tags[i].unique);
  }
  EXPECT_EQ(cdx->FindTag("priority"), cdx->Tag(4));
  EXPECT_EQ(cdx->FindTag("NOSUCH"), nullptr);
}

TEST(CdxFixtures, SmallFileTagsHoldTheLiveRecordsOfTheTable) {
  ExpectTaskTagsMatchTable("small", 10);
  ExpectTaskTagsMatchTable("small512", 10);
}

TEST(CdxFixtures, BigFileMultiLevelTreesHoldTheLiveRecordsOfTheTable) {
  ExpectTaskTagsMatchTable("big5000", 4900);
}

TEST(CdxFixtures, SeeksLandOnTheFirstKeyAtOrAfterTheGivenBytes) {
  std::unique_ptr<CdxFile> cdx;
  ASSERT_TRUE(CdxFile::Open(DataPath("small.cdx"), true, &cdx).ok());
  CdxTag* tag = cdx->FindTag("DATETIME");
  CdxSeekResult r;
  ASSERT_TRUE(tag->Seek("20240105", &r).ok());
  EXPECT_EQ(r, CdxSeekResult::kPrefix);
  EXPECT_EQ(tag->Key(), "2024010508:00");
  EXPECT_EQ(tag->Recno(), 2u);
  ASSERT_TRUE(tag->Seek("2024010509:30", &r).ok());
  EXPECT_EQ(r, CdxSeekResult::kExact);
  EXPECT_EQ(tag->Recno(), 1u);
  ASSERT_TRUE(tag->Next().ok());
  EXPECT_EQ(tag->Recno(), 6u);
  ASSERT_TRUE(tag->Seek("2024013", &r).ok());
  EXPECT_EQ(r, CdxSeekResult::kGreater);
  EXPECT_EQ(tag->Recno(), 5u);
  ASSERT_TRUE(tag->Seek("3", &r).ok());
  EXPECT_EQ(r, CdxSeekResult::kEnd);
  EXPECT_FALSE(tag->Valid());
  EXPECT_EQ(tag->Next().code(), Status::kInvalidArgument);
  ASSERT_TRUE(tag->Seek("", &r).ok());
  EXPECT_EQ(tag->Recno(), 3u);
  EXPECT_EQ(tag->Seek("2024010509:30x", &r).code(), Status::kInvalidArgument);
  bool exact = false;
  ASSERT_TRUE(tag->SeekPair("2024010509:30", 6, &exact).ok());
  EXPECT_TRUE(exact);
  ASSERT_TRUE(tag->SeekPair("2024010509:30", 4, &exact).ok());
  EXPECT_FALSE(exact);
  EXPECT_EQ(tag->Recno(), 6u);
  ASSERT_TRUE(tag->Prev().ok());
  EXPECT_EQ(tag->Recno(), 1u);

  // Every key of the big file is found exactly, on the lowest record that has it.
  const MiniTable table(DataPath("big5000.dbf"));
  std::unique_ptr<CdxFile> big;
  ASSERT_TRUE(CdxFile::Open(DataPath("big5000.cdx"), true, &big).ok());
  for (const auto& [name, key] : TaskKeys()) {
    CdxTag* t = big->FindTag(name);
    const std::vector<Entry> expected = Expected(table, key, true);
    for (size_t i = 0; i < expected.size(); i += 7) {
      ASSERT_TRUE(t->Seek(expected[i].first, &r).ok());
      ASSERT_EQ(r, CdxSeekResult::kExact) << name;
      const auto first = std::lower_bound(expected.begin(), expected.end(),
                                          Entry(expected[i].first, 0));
      EXPECT_EQ(t->Recno(), first->second) << name;
    }
  }
}

TEST(CdxFixtures, TypesFileNumericDateLogicalDescendingAndUniqueTags) {
  const MiniTable table(DataPath("types.dbf"));
  std::unique_ptr<CdxFile> cdx;
  ASSERT_TRUE(CdxFile::Open(DataPath("types.cdx"), true, &cdx).ok());
  ASSERT_EQ(cdx->TagCount(), 9u);
  auto number = [](const MiniTable& t, size_t r, const char* f) {
    return NumericKey(std::strtod(t.Get(r, f).c_str(), nullptr));
  };
  struct Case {
    const char* tag;
    uint8_t fill;
    KeyOf key;
    std::function<bool(const MiniTable&, size_t)> include;
  };
  auto all = [](const MiniTable&, size_t) { return true; };
  const std::vector<Case> cases = {
      {"NAME", ' ', [](const MiniTable& t, size_t r) { return t.Get(r, "NAME"); }, all},
      {"AMOUNT", 0, [&](const MiniTable& t, size_t r) { return number(t, r, "AMOUNT"); }, all},
      {"QTY", 0, [&](const MiniTable& t, size_t r) { return number(t, r, "QTY"); },
       [](const MiniTable& t, size_t r) { return std::stod(t.Get(r, "QTY")) > 0; }},
      {"DUE", 0, [](const MiniTable& t, size_t r) { return NumericKey(JulianDay(t.Get(r, "DUE"))); },
       all},
      {"DUES", ' ', [](const MiniTable& t, size_t r) { return t.Get(r, "DUE"); }, all},
      {"FLAG", ' ', [](const MiniTable& t, size_t r) { return Logical(t.Get(r, "FLAG")); }, all},
      {"NAMED", ' ', [](const MiniTable& t, size_t r) { return Upper(t.Get(r, "NAME")); }, all},
      {"AMTSTR", ' ', [](const MiniTable& t, size_t r) { return t.Get(r, "AMOUNT"); }, all},
  };
  for (const Case& c : cases) {
    CdxTag* tag = cdx->FindTag(c.tag);
    ASSERT_NE(tag, nullptr) << c.tag;
    ASSERT_TRUE(tag->SetKeyFill(c.fill).ok());
    std::vector<Entry> expected;
    for (size_t r = 1; r <= table.count(); ++r) {
      if (c.include(table, r)) expected.emplace_back(c.key(table, r), static_cast<uint32_t>(r));
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(AllEntries(tag), expected) << c.tag;
    EXPECT_TRUE(tag->Check().ok()) << c.tag;
  }
  EXPECT_EQ(AllEntries(cdx->FindTag("QTY")).size(), 4u);
  EXPECT_TRUE(cdx->FindTag("NAMED")->descending());

  // Unique: one entry per key value, from the lowest record number.
  CdxTag* unique = cdx->FindTag("NAMEU");
  EXPECT_TRUE(unique->unique());
  std::map<std::string, uint32_t> firsts;
  for (size_t r = table.count(); r >= 1; --r) firsts[Upper(table.Get(r, "NAME"))] = static_cast<uint32_t>(r);
  EXPECT_EQ(AllEntries(unique), std::vector<Entry>(firsts.begin(), firsts.end()));

  // A numeric tag read with the wrong fill byte is caught by the check.
  CdxTag* amount = cdx->FindTag("AMOUNT");
  ASSERT_TRUE(amount->SetKeyFill(' ').ok());
  EXPECT_NE(AllEntries(amount)[3].first, NumericKey(12.5));
}

}  // namespace
