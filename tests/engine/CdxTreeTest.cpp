// Tag trees against a model: random inserts, removes, seeks and cursor walks checked against a
// std::set, the consistency check after every batch, and the file re-read after each flush.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

#include "CdxBulkBuilder.h"
#include "CdxInteriorNode.h"
#include "CdxLeafNode.h"
#include "CdxTestSupport.h"

using namespace xb;
using namespace cdxtest;

namespace {

using Model = std::set<Entry>;
using KeyGen = std::function<std::string(std::mt19937&)>;

std::string Pad(std::string s, size_t n, char fill = ' ') {
  s.resize(n, fill);
  return s;
}

struct Shape {
  const char* name;
  size_t key_length;
  uint8_t fill;
  KeyGen key;
  int operations;
};

// Keys like the task table's: few distinct values, many duplicates, shared prefixes, blanks.
std::vector<Shape> Shapes() {
  static const char* words[] = {"ALPHA", "ALPHABET", "BETA", "CALL", "CALL DENTIST", "ZOO", "É"};
  auto phrase = [](std::mt19937& rng, size_t n) {
    std::string s;
    for (size_t w = rng() % 4; w > 0; --w) s += std::string(words[rng() % 7]) + " ";
    return Pad(s, n);
  };
  return {
      {"logical", 1, ' ', [](std::mt19937& rng) { return std::string(1, "TFTF ?"[rng() % 6]); },
       20000},
      {"datetime", 13, ' ',
       [](std::mt19937& rng) {
         if (rng() % 20 == 0) return std::string(13, ' ');
         char buf[16];
         std::snprintf(buf, sizeof buf, "2024%02u%02u%02u:%02u", 1 + static_cast<unsigned>(rng() % 3),
                       1 + static_cast<unsigned>(rng() % 28), static_cast<unsigned>(rng() % 24),
                       static_cast<unsigned>(rng() % 4) * 15);
         return rng() % 10 == 0 ? Pad(std::string(buf, 8), 13) : std::string(buf, 13);
       },
       20000},
      {"numeric", 8, 0,
       [](std::mt19937& rng) {
         return NumericKey(static_cast<double>(static_cast<int>(rng() % 2000) - 1000) / 4);
       },
       15000},
      {"descript", 50, ' ', [=](std::mt19937& rng) { return phrase(rng, 50); }, 15000},
      {"keys", 60, ' ', [=](std::mt19937& rng) { return phrase(rng, 60); }, 15000},
      {"long", 240, ' ',
       [](std::mt19937& rng) {
         // Long shared prefixes make leaves that need three pages once a split cuts them.
         std::string s(rng() % 241, 'A');
         for (char& c : s) c = rng() % 16 == 0 ? 'B' : 'A';
         return Pad(s, 240);
       },
       10000},
      {"long_distinct", 240, ' ',
       [](std::mt19937& rng) {
         // Two entries per page on every level: splits must not leave one-child chains.
         std::string s(1 + rng() % 240, 'a');
         for (char& c : s) c = static_cast<char>('a' + rng() % 26);
         return Pad(s, 240);
       },
       8000},
  };
}

uint32_t RandomRecno(std::mt19937& rng) {
  switch (rng() % 8) {
    case 0: return 1 + rng() % 0x00FFFFFF;  // forces wider leaf entries
    case 1: return 0xFFFFFFF0u + rng() % 16;
    default: return 1 + rng() % 5000;
  }
}

std::vector<Entry> Walk(CdxTag* tag) {
  std::vector<Entry> out;
  EXPECT_TRUE(tag->First().ok());
  while (tag->Valid()) {
    out.emplace_back(std::string(tag->Key()), tag->Recno());
    EXPECT_TRUE(tag->Next().ok());
  }
  return out;
}

// Builds the tag in a fresh in-memory file from the given pairs.
CdxTag* Build(const std::shared_ptr<Bytes>& bytes, std::unique_ptr<CdxFile>* file,
              const CdxTagSpec& spec, const std::vector<Entry>& pairs) {
  EXPECT_TRUE(CdxFile::CreateOnDevice(std::make_unique<CdxMemoryFile>(bytes, "mem.cdx"), file).ok());
  std::vector<uint8_t> keys;
  std::vector<uint32_t> recnos;
  for (const Entry& e : pairs) {
    keys.insert(keys.end(), e.first.begin(), e.first.end());
    recnos.push_back(e.second);
  }
  CdxTag* tag = nullptr;
  Status s = (*file)->AddTag(spec, keys, recnos, &tag);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return tag;
}

void ExpectReopenedMatches(const std::shared_ptr<Bytes>& bytes, const char* name, uint8_t fill,
                           const Model& model) {
  std::unique_ptr<CdxFile> again;
  Status s = OpenCopy(*bytes, true, &again);
  ASSERT_TRUE(s.ok()) << s.ToString();
  CdxTag* tag = again->FindTag(name);
  ASSERT_NE(tag, nullptr);
  ASSERT_TRUE(tag->SetKeyFill(fill).ok());
  EXPECT_EQ(AllEntries(tag), std::vector<Entry>(model.begin(), model.end()));
  s = again->Check();
  EXPECT_TRUE(s.ok()) << s.ToString();
}

class CdxTreeModel : public ::testing::TestWithParam<Shape> {};

TEST_P(CdxTreeModel, RandomChangesSeeksAndWalksAgreeWithTheModel) {
  const Shape& shape = GetParam();
  std::mt19937 rng(static_cast<unsigned>(shape.key_length * 7919 + shape.fill));
  auto bytes = std::make_shared<Bytes>();
  std::unique_ptr<CdxFile> file;
  Model model;
  while (model.size() < 1500) model.emplace(shape.key(rng), RandomRecno(rng));
  std::vector<Entry> initial(model.begin(), model.end());
  std::shuffle(initial.begin(), initial.end(), rng);
  CdxTagSpec spec{"T", "KEYEXPR", ".NOT.DELETED()", shape.key_length, false, false, shape.fill};
  CdxTag* tag = Build(bytes, &file, spec, initial);
  ASSERT_NE(tag, nullptr);
  std::vector<Entry> pool(model.begin(), model.end());  // for picking a random present pair

  auto expect_at = [&](Model::const_iterator it, const char* what) {
    if (it == model.end()) {
      EXPECT_FALSE(tag->Valid()) << what;
      return false;
    }
    EXPECT_TRUE(tag->Valid()) << what;
    if (!tag->Valid()) return false;
    EXPECT_EQ(Entry(std::string(tag->Key()), tag->Recno()), *it) << what;
    return true;
  };
  auto remove_from_pool = [&](const Entry& e) {
    auto p = std::find(pool.begin(), pool.end(), e);
    *p = pool.back();
    pool.pop_back();
  };

  for (int op = 1; op <= shape.operations; ++op) {
    const unsigned dice = rng() % 100;
    if (dice < 45) {
      Entry e(shape.key(rng), RandomRecno(rng));
      if (rng() % 5 == 0 && !pool.empty()) e.first = pool[rng() % pool.size()].first;
      Status s = tag->Insert(e.first, e.second);
      if (model.count(e) != 0) {
        EXPECT_EQ(s.code(), Status::kInvalidArgument);
      } else {
        ASSERT_TRUE(s.ok()) << s.ToString();
        model.insert(e);
        pool.push_back(e);
      }
    } else if (dice < 80) {
      if (pool.empty() || rng() % 10 == 0) {
        Entry e(shape.key(rng), RandomRecno(rng));
        if (model.count(e) == 0) {
          EXPECT_EQ(tag->Remove(e.first, e.second).code(), Status::kNotFound);
        }
        continue;
      }
      const Entry e = pool[rng() % pool.size()];
      Status s = tag->Remove(e.first, e.second);
      ASSERT_TRUE(s.ok()) << s.ToString();
      model.erase(e);
      remove_from_pool(e);
    } else if (dice < 92) {
      // Seek a prefix of a present or random key, then walk a few steps either way.
      std::string key = !pool.empty() && rng() % 2 ? pool[rng() % pool.size()].first : shape.key(rng);
      key.resize(rng() % (shape.key_length + 1));
      CdxSeekResult result;
      ASSERT_TRUE(tag->Seek(key, &result).ok());
      auto it = model.lower_bound(Entry(key, 0));
      if (!expect_at(it, "seek")) {
        EXPECT_EQ(result, CdxSeekResult::kEnd);
        continue;
      }
      const bool match = it->first.compare(0, key.size(), key) == 0;
      EXPECT_EQ(result, !match ? CdxSeekResult::kGreater
                        : key.size() == shape.key_length ? CdxSeekResult::kExact
                                                         : CdxSeekResult::kPrefix);
      const bool forward = rng() % 2;
      for (int step = 0; step < 5 && it != model.end(); ++step) {
        if (forward) {
          ASSERT_TRUE(tag->Next().ok());
          ++it;
        } else {
          ASSERT_TRUE(tag->Prev().ok());
          if (it == model.begin()) {
            EXPECT_FALSE(tag->Valid());
            break;
          }
          --it;
        }
        if (!expect_at(it, forward ? "next" : "prev")) break;
      }
    } else if (!pool.empty()) {
      // The cursor keeps its place while the tag changes under it.
      const Entry at = pool[rng() % pool.size()];
      bool exact = false;
      ASSERT_TRUE(tag->SeekPair(at.first, at.second, &exact).ok());
      ASSERT_TRUE(exact);
      for (int k = 0; k < 8; ++k) {
        Entry e(shape.key(rng), RandomRecno(rng));
        if (model.insert(e).second) {
          ASSERT_TRUE(tag->Insert(e.first, e.second).ok());
          pool.push_back(e);
        }
        const Entry gone = pool[rng() % pool.size()];
        if (gone != at) {
          ASSERT_TRUE(tag->Remove(gone.first, gone.second).ok());
          model.erase(gone);
          remove_from_pool(gone);
        }
      }
      if (rng() % 2) {
        ASSERT_TRUE(tag->Next().ok());
        expect_at(std::next(model.find(at)), "next after changes");
      } else {
        ASSERT_TRUE(tag->Prev().ok());
        auto it = model.find(at);
        expect_at(it == model.begin() ? model.end() : std::prev(it), "prev after changes");
      }
    }
    if (op % 2500 == 0) {
      Status s = tag->Check();
      ASSERT_TRUE(s.ok()) << shape.name << " op " << op << ": " << s.ToString();
      ASSERT_TRUE(file->Flush().ok());
      ExpectReopenedMatches(bytes, "T", shape.fill, model);
    }
  }
  EXPECT_EQ(Walk(tag), std::vector<Entry>(model.begin(), model.end()));

  // Empty the tag: leaves are unlinked and freed, the root shrinks back to one empty leaf, and
  // the pages are reused by the next inserts instead of growing the file.
  ASSERT_TRUE(file->Flush().ok());
  const size_t peak = bytes->size();
  const std::vector<Entry> all(model.begin(), model.end());
  for (const Entry& e : all) ASSERT_TRUE(tag->Remove(e.first, e.second).ok());
  EXPECT_TRUE(AllEntries(tag).empty());
  ASSERT_TRUE(tag->Check().ok());
  ASSERT_TRUE(file->Flush().ok());
  EXPECT_GT(file->FreePageCount(), 0u);
  ASSERT_TRUE(file->Check().ok()) << file->Check().ToString();
  ExpectReopenedMatches(bytes, "T", shape.fill, Model());
  for (const Entry& e : all) ASSERT_TRUE(tag->Insert(e.first, e.second).ok());
  ASSERT_TRUE(file->Close().ok());
  EXPECT_LE(bytes->size(), peak + 2 * kCdxPageSize);
  ExpectReopenedMatches(bytes, "T", shape.fill, model);
}

INSTANTIATE_TEST_SUITE_P(KeyShapes, CdxTreeModel, ::testing::ValuesIn(Shapes()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CdxBulkBuild, SortsAnyInputAndFillsEachLeafUntilTheNextEntryWouldNotFit) {
  std::mt19937 rng(11);
  std::vector<Entry> pairs;
  for (uint32_t r = 1; r <= 20000; ++r) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "2024%04u%02u:00", static_cast<unsigned>(rng() % 400),
                  static_cast<unsigned>(rng() % 24));
    pairs.emplace_back(std::string(buf, 13), r);
  }
  std::shuffle(pairs.begin(), pairs.end(), rng);
  auto bytes = std::make_shared<Bytes>();
  std::unique_ptr<CdxFile> file;
  CdxTag* tag = Build(bytes, &file, {"DATETIME", "DATE+TIME", "", 13, false, false, ' '}, pairs);
  ASSERT_TRUE(file->Close().ok());
  std::sort(pairs.begin(), pairs.end());

  std::unique_ptr<CdxFile> again;
  ASSERT_TRUE(OpenCopy(*bytes, true, &again).ok());
  tag = again->Tag(0);
  EXPECT_EQ(AllEntries(tag), pairs);
  ASSERT_TRUE(again->Check().ok());
  EXPECT_EQ(again->FreePageCount(), 0u);
  std::vector<uint32_t> pages;
  ASSERT_TRUE(tag->Check(&pages).ok());
  size_t leaves = 0, full = 0;
  for (uint32_t at : pages) {
    if (((*bytes)[at] & kCdxAttrLeaf) == 0) continue;
    CdxLeafNode leaf(13, ' ');
    ASSERT_TRUE(leaf.DecodeFrom(&(*bytes)[at], CdxWhere("f", "t", at, "leaf")).ok());
    ++leaves;
    if (leaf.right() == kCdxNoPage) continue;
    CdxLeafNode next(13, ' ');
    ASSERT_TRUE(next.DecodeFrom(&(*bytes)[leaf.right()], CdxWhere("f", "t", at, "leaf")).ok());
    EXPECT_FALSE(leaf.TryAppend(next.key(0), next.recno(0))) << "leaf at " << at;
    ++full;
  }
  EXPECT_EQ(full + 1, leaves);
  EXPECT_GT(leaves, 200u);
}

TEST(CdxBulkBuild, RadixSortOrdersRecordsAsUnsignedBytes) {
  std::mt19937 rng(5);
  for (size_t size : {1u, 5u, 7u, 17u, 64u}) {
    // Large inputs are split two bytes at a time; give them a constant byte to skip first.
    for (size_t n : {0u, 1u, 23u, 24u, 25u, 5000u, size == 5 || size == 7 ? 150000u : 0u}) {
      std::vector<uint8_t> records(n * size);
      for (auto& b : records) b = "\x00\x01 A\x7F\x80\xFF"[rng() % 7];
      for (size_t i = 0; n > 5000 && i < n; ++i) records[i * size] = 'C';
      std::vector<std::string> expected;
      for (size_t i = 0; i < n; ++i) {
        expected.emplace_back(reinterpret_cast<const char*>(&records[i * size]), size);
      }
      std::sort(expected.begin(), expected.end());
      CdxBulkBuilder::SortRecords(records.data(), n, size);
      for (size_t i = 0; i < n; ++i) {
        ASSERT_EQ(std::string(reinterpret_cast<const char*>(&records[i * size]), size), expected[i]);
      }
    }
  }
}

TEST(CdxBulkBuild, UniqueKeepsTheLowestRecordAndDescendingIsOnlyAFlag) {
  auto bytes = std::make_shared<Bytes>();
  std::unique_ptr<CdxFile> file;
  const std::vector<Entry> pairs = {{"B", 9}, {"A", 4}, {"B", 2}, {"A", 7}, {"C", 3}};
  CdxTag* u = Build(bytes, &file, {"U", "X", "", 1, true, true, ' '}, pairs);
  EXPECT_EQ(AllEntries(u), (std::vector<Entry>{{"A", 4}, {"B", 2}, {"C", 3}}));
  ASSERT_TRUE(file->Close().ok());
  std::unique_ptr<CdxFile> again;
  ASSERT_TRUE(OpenCopy(*bytes, true, &again).ok());
  const CdxTagInfo info = again->Tags()[0];
  EXPECT_TRUE(info.unique);
  EXPECT_TRUE(info.descending);
  EXPECT_EQ(info.options, kCdxOptCompact | kCdxOptCompound | kCdxOptUnique);
}

TEST(CdxBulkBuild, RefusesBadTagDefinitionsAndPairsWithoutChangingTheFile) {
  auto bytes = std::make_shared<Bytes>();
  std::unique_ptr<CdxFile> file;
  ASSERT_TRUE(CdxFile::CreateOnDevice(std::make_unique<CdxMemoryFile>(bytes), &file).ok());
  const std::vector<uint8_t> keys = {'A', 'B'};
  const std::vector<uint32_t> recnos = {1, 2};
  const CdxTagSpec good{"OK", "X", "", 1, false, false, ' '};
  struct Case {
    const char* what;
    CdxTagSpec spec;
    std::vector<uint8_t> keys;
    std::vector<uint32_t> recnos;
  };
  CdxTagSpec long_name = good, bad_char = good, digit_first = good, zero_length = good,
             too_long = good, no_key = good, huge_expr = good;
  long_name.name = "ELEVENCHARS";
  bad_char.name = "A-B";
  digit_first.name = "1A";
  zero_length.key_length = 0;
  too_long.key_length = 241;
  no_key.key_expression = "";
  huge_expr.for_expression = std::string(510, 'x');
  const std::vector<Case> cases = {
      {"name too long", long_name, keys, recnos},
      {"bad character", bad_char, keys, recnos},
      {"starts with a digit", digit_first, keys, recnos},
      {"key length 0", zero_length, {}, {}},
      {"key length 241", too_long, {}, {}},
      {"no key expression", no_key, keys, recnos},
      {"expressions too long", huge_expr, keys, recnos},
      {"key bytes do not match", good, {'A'}, recnos},
      {"record number 0", good, keys, {1, 0}},
      {"pair given twice", good, {'A', 'A'}, {3, 3}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(file->AddTag(c.spec, c.keys, c.recnos).code(), Status::kInvalidArgument) << c.what;
  }
  ASSERT_TRUE(file->AddTag(good, keys, recnos).ok());
  CdxTagSpec again = good;
  again.name = "ok";
  EXPECT_EQ(file->AddTag(again, keys, recnos).code(), Status::kInvalidArgument);
  EXPECT_EQ(file->TagCount(), 1u);
  ASSERT_TRUE(file->Check().ok());
}

TEST(CdxFileTags, RebuildWritesAFreshFileWithTagsInCreationOrder) {
  const std::string path = ::testing::TempDir() + "/rebuild.cdx";
  {
    Bytes old = ReadAll(DataPath("big5000.cdx"));
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(old.data()),
                                                static_cast<std::streamsize>(old.size()));
  }
  std::unique_ptr<CdxFile> file;
  ASSERT_TRUE(CdxFile::Create(path, &file).ok());
  const char* names[] = {"DATETIME", "DESCRIPT", "DONE", "KEYS", "PRIORITY"};
  const size_t lengths[] = {13, 50, 1, 60, 14};
  for (int t = 0; t < 5; ++t) {
    std::vector<uint8_t> keys;
    std::vector<uint32_t> recnos;
    for (uint32_t r = 1; r <= 3000; ++r) {
      for (size_t i = 0; i < lengths[t]; ++i) keys.push_back(static_cast<uint8_t>('A' + (r * 7 + i) % 26));
      recnos.push_back(r);
    }
    ASSERT_TRUE(file->AddTag({names[t], "EXPR", ".NOT.DELETED()", lengths[t]}, keys, recnos).ok());
  }
  ASSERT_TRUE(file->Close().ok());
  ASSERT_TRUE(CdxFile::Open(path, false, &file).ok());
  EXPECT_EQ(file->FreePageCount(), 0u);
  ASSERT_TRUE(file->Check().ok());
  const std::vector<CdxTagInfo> tags = file->Tags();
  ASSERT_EQ(tags.size(), 5u);
  for (size_t t = 0; t < 5; ++t) {
    EXPECT_EQ(tags[t].name, names[t]);
    EXPECT_EQ(tags[t].order, t + 1);
    EXPECT_EQ(tags[t].options, 0x68);
    if (t > 0) {
      EXPECT_GT(tags[t].header_offset, tags[t - 1].header_offset);
    }
    EXPECT_EQ(AllEntries(file->Tag(t)).size(), 3000u);
  }
  // A tag added to an existing file comes after the others.
  ASSERT_TRUE(file->AddTag({"EXTRA", "X", "", 2}, std::vector<uint8_t>{'Z', 'Z'},
                           std::vector<uint32_t>{5}).ok());
  ASSERT_TRUE(file->Close().ok());
  ASSERT_TRUE(CdxFile::Open(path, true, &file).ok());
  EXPECT_EQ(file->Tags().back().name, "EXTRA");
  EXPECT_EQ(file->Tags().back().order, 6u);
  EXPECT_GT(file->Tags()[5].header_offset, file->Tags()[4].header_offset);
  ASSERT_TRUE(file->Check().ok());
}

// Changing a tree another tool wrote (wider leaves than ours, stale bytes in interior pages,
// a free page) keeps it correct.
TEST(CdxFileTags, ChangesToAnotherWritersFileStayConsistent) {
  auto bytes = std::make_shared<Bytes>(ReadAll(DataPath("big5000.cdx")));
  std::unique_ptr<CdxFile> file;
  ASSERT_TRUE(OpenShared(bytes, false, &file).ok());
  EXPECT_EQ(file->FreePageCount(), 1u);
  std::mt19937 rng(3);
  for (size_t t = 0; t < file->TagCount(); ++t) {
    CdxTag* tag = file->Tag(t);
    std::vector<Entry> entries = AllEntries(tag);
    Model model(entries.begin(), entries.end());
    for (int i = 0; i < 3000; ++i) {
      const Entry& victim = entries[rng() % entries.size()];
      if (model.erase(victim) != 0) {
        ASSERT_TRUE(tag->Remove(victim.first, victim.second).ok());
      }
      Entry added(victim.first, 5000 + static_cast<uint32_t>(i) + 1);
      ASSERT_TRUE(tag->Insert(added.first, added.second).ok());
      model.insert(added);
    }
    EXPECT_EQ(AllEntries(tag), std::vector<Entry>(model.begin(), model.end())) << tag->name();
    ASSERT_TRUE(tag->Check().ok()) << tag->Check().ToString();
  }
  ASSERT_TRUE(file->Flush().ok());
  ASSERT_TRUE(file->Check().ok()) << file->Check().ToString();
  std::unique_ptr<CdxFile> again;
  ASSERT_TRUE(OpenCopy(*bytes, true, &again).ok());
  ASSERT_TRUE(again->Check().ok());
}

TEST(CdxFileTags, EveryChangeMovesTheChangeCounterAndWidensLeavesWhenNeeded) {
  auto bytes = std::make_shared<Bytes>(ReadAll(DataPath("small.cdx")));
  std::unique_ptr<CdxFile> file;
  ASSERT_TRUE(OpenShared(bytes, false, &file).ok());
  CdxTag* tag = file->FindTag("DATETIME");
  const uint32_t before = CdxGetLE32(&(*bytes)[0x600 + 8]);
  ASSERT_TRUE(tag->Insert("2024010509:30", 70000).ok());
  ASSERT_TRUE(file->Flush().ok());
  EXPECT_EQ(CdxGetLE32(&(*bytes)[0x600 + 8]), before + 1);
  EXPECT_EQ((*bytes)[0xA00 + 23], 4);  // record 70000 needs 24 bits: 4-byte entries
  ASSERT_TRUE(tag->Remove("2024010509:30", 70000).ok());
  ASSERT_TRUE(tag->Remove("2024010509:30", 6).ok());
  EXPECT_EQ(tag->Remove("2024010509:30", 6).code(), Status::kNotFound);
  ASSERT_TRUE(file->Flush().ok());
  EXPECT_EQ(CdxGetLE32(&(*bytes)[0x600 + 8]), before + 3);
  EXPECT_EQ((*bytes)[0xA00 + 23], 3);
  EXPECT_EQ(tag->Insert("short", 1).code(), Status::kInvalidArgument);
  EXPECT_EQ(tag->Insert("2024010509:30", 0).code(), Status::kInvalidArgument);
  EXPECT_EQ(tag->Insert("2024010509:30", 1).code(), Status::kInvalidArgument);
  ASSERT_TRUE(file->Check().ok());

  std::unique_ptr<CdxFile> read_only;
  ASSERT_TRUE(OpenCopy(*bytes, true, &read_only).ok());
  EXPECT_EQ(read_only->Tag(0)->Insert("2024010509:30", 77).code(), Status::kReadOnly);
  EXPECT_EQ(read_only->AddTag({"NEW", "X", "", 1}, {}, {}).code(), Status::kReadOnly);
}

// A device that remembers the order of writes.
class RecordingFile : public CdxMemoryFile {
 public:
  using CdxMemoryFile::CdxMemoryFile;
  Status WriteAt(uint64_t offset, const uint8_t* data, size_t n) override {
    for (size_t p = 0; p < n; p += kCdxPageSize) writes->push_back(static_cast<uint32_t>(offset + p));
    return CdxMemoryFile::WriteAt(offset, data, n);
  }
  std::shared_ptr<std::vector<uint32_t>> writes = std::make_shared<std::vector<uint32_t>>();
};

TEST(CdxFileTags, NewPagesReachTheFileBeforeThePagesAndHeadersThatPointToThem) {
  auto bytes = std::make_shared<Bytes>(ReadAll(DataPath("small.cdx")));
  const uint32_t old_end = static_cast<uint32_t>(bytes->size());
  auto device = std::make_unique<RecordingFile>(bytes, "small.cdx");
  auto writes = device->writes;
  std::unique_ptr<CdxFile> file;
  ASSERT_TRUE(CdxFile::OpenDevice(std::move(device), false, &file).ok());
  CdxTag* tag = file->FindTag("DATETIME");
  for (uint32_t r = 100; r < 200; ++r) ASSERT_TRUE(tag->Insert("2025010100:00", r).ok());
  ASSERT_TRUE(file->Flush().ok());
  auto position = [&](uint32_t at) {
    return std::find(writes->begin(), writes->end(), at) - writes->begin();
  };
  ASSERT_EQ(position(0xA00) < static_cast<ptrdiff_t>(writes->size()), true);
  for (size_t i = 0; i < writes->size(); ++i) {
    if ((*writes)[i] >= old_end) {
      EXPECT_LT(static_cast<ptrdiff_t>(i), position(0xA00));
    }
  }
  // The old root (now a leaf) and the new pages come before the tag header that names the new
  // root, and the header pages are the last writes: the tag's, then the file header with its
  // change counter.
  EXPECT_LT(position(0xA00), position(0x600));
  EXPECT_EQ(position(0x600), static_cast<ptrdiff_t>(writes->size()) - 4);
  EXPECT_EQ(position(0), static_cast<ptrdiff_t>(writes->size()) - 2);
  ASSERT_TRUE(file->Check().ok());
}

}  // namespace

namespace {

// The cursor's own leaf is emptied and freed under it: it moves on from where it was.
TEST(CdxCursor, SurvivesTheRemovalOfItsWholeLeaf) {
  std::vector<Entry> pairs;
  for (uint32_t r = 1; r <= 3000; ++r) pairs.emplace_back(Pad(std::to_string(r % 700), 13), r);
  std::sort(pairs.begin(), pairs.end());
  auto bytes = std::make_shared<Bytes>();
  std::unique_ptr<CdxFile> file;
  CdxTag* tag = Build(bytes, &file, {"T", "X", "", 13}, pairs);
  Model model(pairs.begin(), pairs.end());
  std::vector<uint32_t> pages;
  ASSERT_TRUE(tag->Check(&pages).ok());
  ASSERT_TRUE(file->Flush().ok());
  for (bool forward : {true, false}) {
    // Pick a leaf with neighbours on both sides and put the cursor on its second entry.
    CdxLeafNode leaf(13, ' ');
    for (uint32_t at : pages) {
      if (((*bytes)[at] & kCdxAttrLeaf) == 0) continue;
      ASSERT_TRUE(leaf.DecodeFrom(&(*bytes)[at], CdxWhere("f", "t", at, "leaf")).ok());
      if (leaf.left() != kCdxNoPage && leaf.right() != kCdxNoPage && leaf.count() > 2) break;
    }
    const std::string key(reinterpret_cast<const char*>(leaf.key(1)), 13);
    bool exact = false;
    ASSERT_TRUE(tag->SeekPair(key, leaf.recno(1), &exact).ok());
    ASSERT_TRUE(exact);
    const Entry at(key, leaf.recno(1));
    for (size_t i = 0; i < leaf.count(); ++i) {
      Entry e(std::string(reinterpret_cast<const char*>(leaf.key(i)), 13), leaf.recno(i));
      ASSERT_TRUE(tag->Remove(e.first, e.second).ok());
      model.erase(e);
    }
    ASSERT_TRUE(forward ? tag->Next().ok() : tag->Prev().ok());
    auto expected = forward ? model.upper_bound(at) : std::prev(model.lower_bound(at));
    ASSERT_TRUE(tag->Valid());
    EXPECT_EQ(Entry(std::string(tag->Key()), tag->Recno()), *expected);
    ASSERT_TRUE(file->Flush().ok());
    pages.clear();
    ASSERT_TRUE(tag->Check(&pages).ok());
  }
  EXPECT_GT(file->FreePageCount(), 1u);
}

// A leaf written with 1-byte entries (legal for readers) takes three times the room in our
// layout: the first change must spread it over several leaves, not lose or corrupt entries.
TEST(CdxTreeForeignLayout, AnOverfullLeafIsSpreadOverAsManyLeavesAsItNeeds) {
  auto bytes = std::make_shared<Bytes>();
  std::unique_ptr<CdxFile> file;
  CdxTag* tag = Build(bytes, &file, {"FLAG", "FLAG", "", 1}, {{"A", 1}});
  const uint32_t root = tag->header().root;
  ASSERT_TRUE(file->Close().ok());

  Bytes page(kCdxPageSize, 0);
  CdxPutLE16(&page[0], kCdxAttrLeaf | kCdxAttrRoot);
  CdxPutLE16(&page[2], 480);
  CdxPutLE32(&page[4], kCdxNoPage);
  CdxPutLE32(&page[8], kCdxNoPage);
  CdxPutLE16(&page[12], 0);
  CdxPutLE32(&page[14], 0x3F);  // 6 record bits, 1 duplicate bit, 1 trailing bit, 1 byte
  page[18] = page[19] = 1;
  page[20] = 6;
  page[21] = page[22] = 1;
  page[23] = 1;
  Model model;
  size_t i = 0, data = kCdxPageSize;
  for (char key = 'A'; key < 'I'; ++key) {
    for (uint32_t r = 1; r <= 60; ++r, ++i) {
      page[24 + i] = static_cast<uint8_t>(r | (r == 1 ? 0 : 1u << 6));
      if (r == 1) page[--data] = static_cast<uint8_t>(key);
      model.emplace(std::string(1, key), r);
    }
  }
  std::copy(page.begin(), page.end(), bytes->begin() + root);

  ASSERT_TRUE(OpenShared(bytes, false, &file).ok());
  tag = file->Tag(0);
  ASSERT_EQ(AllEntries(tag), std::vector<Entry>(model.begin(), model.end()));
  ASSERT_TRUE(tag->Remove("C", 30).ok());
  model.erase({"C", 30});
  ASSERT_TRUE(tag->Insert("C", 61).ok());
  model.emplace("C", 61);
  EXPECT_EQ(AllEntries(tag), std::vector<Entry>(model.begin(), model.end()));
  std::vector<uint32_t> pages;
  ASSERT_TRUE(tag->Check(&pages).ok()) << tag->Check().ToString();
  EXPECT_GE(pages.size(), 4u);  // at least three leaves under a new root
  ASSERT_TRUE(file->Close().ok());
  ExpectReopenedMatches(bytes, "FLAG", ' ', model);
}

}  // namespace

namespace {

size_t Depth(const Bytes& file, uint32_t root, size_t key_length) {
  size_t depth = 1;
  for (uint32_t at = root; (file[at] & kCdxAttrLeaf) == 0 && depth < 100; ++depth) {
    at = CdxGetBE32(&file[at + CdxInteriorNode::kHeaderBytes + key_length + 4]);
  }
  return depth;
}

// Long distinct keys leave room for two entries in an interior page: inserting them in random
// order, with a record entering under a blank key first as a new record does, must keep the
// tree about as shallow as a binary tree, and removing most of them must not make it deeper.
TEST(CdxTreeShape, LongKeysInRandomOrderKeepTheTreeShallow) {
  auto bytes = std::make_shared<Bytes>();
  std::unique_ptr<CdxFile> file;
  CdxTag* tag = Build(bytes, &file, {"K", "K", "", 240}, {});
  std::mt19937 rng(1);
  const std::string blank(240, ' ');
  std::vector<Entry> entries;
  for (uint32_t r = 1; r <= 5000; ++r) {
    std::string key(240, ' ');
    for (char& c : key) c = static_cast<char>('a' + rng() % 26);
    ASSERT_TRUE(tag->Insert(blank, r).ok());
    ASSERT_TRUE(tag->Remove(blank, r).ok());
    ASSERT_TRUE(tag->Insert(key, r).ok());
    entries.emplace_back(key, r);
  }
  ASSERT_TRUE(file->Flush().ok());
  ASSERT_TRUE(tag->Check().ok());
  const size_t depth = Depth(*bytes, tag->header().root, 240);
  EXPECT_LE(depth, 18u);  // 5000 keys, one or two per leaf: a binary tree needs 12-13 levels
  std::shuffle(entries.begin(), entries.end(), rng);
  for (size_t i = 0; i < 4000; ++i) ASSERT_TRUE(tag->Remove(entries[i].first, entries[i].second).ok());
  ASSERT_TRUE(file->Flush().ok());
  ASSERT_TRUE(file->Check().ok()) << file->Check().ToString();
  EXPECT_LE(Depth(*bytes, tag->header().root, 240), depth);
  entries.erase(entries.begin(), entries.begin() + 4000);
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(AllEntries(tag), entries);
}


// Removing most of a three-level tree in random order merges interior nodes into both
// neighbours; the tree must stay ordered and consistent all the way down.
TEST(CdxTreeShape, ShrinkingATreeMergesInteriorNodesInOrder) {
  std::mt19937 rng(8);
  std::vector<Entry> entries;
  for (uint32_t r = 1; r <= 30000; ++r) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%013u", static_cast<unsigned>(rng() % 1000000));
    entries.emplace_back(std::string(buf, 13), r);
  }
  auto bytes = std::make_shared<Bytes>();
  std::unique_ptr<CdxFile> file;
  CdxTag* tag = Build(bytes, &file, {"N", "N", "", 13}, entries);
  ASSERT_TRUE(file->Flush().ok());
  ASSERT_GE(Depth(*bytes, tag->header().root, 13), 3u);
  std::shuffle(entries.begin(), entries.end(), rng);
  Model model(entries.begin(), entries.end());
  for (size_t i = 0; i + 50 < entries.size(); ++i) {
    ASSERT_TRUE(tag->Remove(entries[i].first, entries[i].second).ok());
    model.erase(entries[i]);
    if (i % 3000 == 0 || i + 51 == entries.size()) {
      Status s = tag->Check();
      ASSERT_TRUE(s.ok()) << "after " << i << ": " << s.ToString();
      ASSERT_EQ(AllEntries(tag), std::vector<Entry>(model.begin(), model.end()));
    }
  }
  ASSERT_TRUE(file->Flush().ok());
  ASSERT_TRUE(file->Check().ok()) << file->Check().ToString();
  // Leaves are freed only when empty, so about 50 remain; the interior nodes above them were
  // merged as they emptied (unmerged, some 20 nodes of two or three entries would remain).
  std::vector<uint32_t> pages;
  ASSERT_TRUE(tag->Check(&pages).ok());
  const size_t interior = static_cast<size_t>(std::count_if(
      pages.begin(), pages.end(), [&](uint32_t at) { return ((*bytes)[at] & kCdxAttrLeaf) == 0; }));
  EXPECT_LE(interior, 5u);
}

}  // namespace
