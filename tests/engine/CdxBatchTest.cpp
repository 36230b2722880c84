// Batched changes and the faster build paths: sorted batches merged leaf by leaf against a
// model, the key-only and two-thread sorts against a plain sort, and a large task table whose
// appended batch and pack take the parallel paths, checked record by record.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <set>

#include "CdxBulkBuilder.h"
#include "CdxTestSupport.h"
#include "Engine.h"
#include "TaskOrders.h"
#include "TestUtil.h"
#include "WorkArea.h"
#include "xbengine.h"

using namespace xb;
using namespace cdxtest;

namespace {

using Model = std::set<Entry>;

struct BatchShape {
  const char* name;
  size_t key_length;
  uint8_t fill;
  std::function<std::string(std::mt19937&)> key;
};

std::string Padded(std::string s, size_t n, char fill = ' ') {
  s.resize(n, fill);
  return s;
}

std::vector<BatchShape> BatchShapes() {
  static const char* words[] = {"HOME", "WORK", "CALL", "SHOP", "GARDEN", "READ"};
  return {
      {"logical", 1, ' ', [](std::mt19937& rng) { return std::string(1, "TF"[rng() % 2]); }},
      {"datetime", 13, ' ',
       [](std::mt19937& rng) {
         char buf[16];
         std::snprintf(buf, sizeof buf, "2025%02u%02u%02u:%02u",
                       1 + static_cast<unsigned>(rng() % 12), 1 + static_cast<unsigned>(rng() % 28),
                       static_cast<unsigned>(rng() % 24), static_cast<unsigned>(rng() % 60));
         return rng() % 8 == 0 ? Padded(std::string(buf, 8), 13) : std::string(buf, 13);
       }},
      {"keys", 60, ' ',
       [](std::mt19937& rng) {
         return Padded(std::string(words[rng() % 6]) + " " + words[rng() % 6], 60);
       }},
      {"long", 240, ' ',
       [](std::mt19937& rng) {
         std::string s(rng() % 241, 'A');
         for (char& c : s) c = static_cast<char>('A' + rng() % 3);
         return Padded(s, 240);
       }},
  };
}

// Sorted, distinct pairs in the builder's layout (key, big-endian record number).
std::vector<uint8_t> PairsOf(const std::vector<Entry>& sorted, size_t key_length) {
  std::vector<uint8_t> out;
  for (const Entry& e : sorted) {
    out.insert(out.end(), e.first.begin(), e.first.end());
    uint8_t be[4];
    CdxPutBE32(be, e.second);
    out.insert(out.end(), be, be + 4);
  }
  EXPECT_EQ(out.size(), sorted.size() * (key_length + 4));
  return out;
}

class CdxBatchModel : public ::testing::TestWithParam<BatchShape> {};

// Random batches (some pairs already present, some beyond every key at the right edge) merged
// into a tag, with single removes and a cursor walk in between: the tag holds exactly the
// model's pairs, passes its check after every batch, and reads back the same from the file.
TEST_P(CdxBatchModel, SortedBatchesAgreeWithTheModel) {
  const BatchShape& shape = GetParam();
  std::mt19937 rng(11);
  auto bytes = std::make_shared<Bytes>();
  std::unique_ptr<CdxFile> file;
  ASSERT_TRUE(
      CdxFile::CreateOnDevice(std::make_unique<CdxMemoryFile>(bytes, "mem.cdx"), &file).ok());
  Model model;
  std::vector<uint8_t> keys;
  std::vector<uint32_t> recnos;
  uint32_t next_recno = 1;
  for (int i = 0; i < 3000; ++i) {
    const std::string k = shape.key(rng);
    keys.insert(keys.end(), k.begin(), k.end());
    recnos.push_back(next_recno);
    model.insert({k, next_recno++});
  }
  CdxTag* tag = nullptr;
  const CdxTagSpec spec{"T", "X", "", shape.key_length, false, false, shape.fill};
  ASSERT_TRUE(file->AddTag(spec, keys, recnos, &tag).ok());
  for (int round = 0; round < 12; ++round) {
    // Mostly new records; a few pairs that are already there; every third round a run of
    // keys above all others, as records arriving in key order.
    std::set<Entry> batch;
    // Two rounds bring a batch large enough to rebuild the tree from old and new pairs.
    const bool rebuild = round == 5 || round == 10;
    const int size =
        rebuild ? 25000 : 1 + static_cast<int>(rng() % (round % 4 == 0 ? 4000 : 300));
    for (int i = 0; i < size; ++i) {
      std::string k =
          round % 3 == 2
              ? Padded(std::string(1, '\xF0') + std::to_string(round * 10000 + i), shape.key_length)
              : shape.key(rng);
      // Some keys of the first rebuilding batch run to their last byte: the rebuilt tree must
      // carry keys wider than any it held before, and the next rebuild must see them there.
      if (round == 5 && i % 7 == 0) k.back() = 'x';
      batch.insert({k, next_recno++});
    }
    size_t present = 0;
    for (int i = 0; i < 5 && !model.empty(); ++i) {
      auto at = model.begin();
      std::advance(at, static_cast<long>(rng() % model.size()));
      present += batch.insert(*at).second ? 1 : 0;
    }
    const std::vector<Entry> sorted(batch.begin(), batch.end());
    const std::vector<uint8_t> pairs = PairsOf(sorted, shape.key_length);
    size_t skipped = 0;
    Status s = tag->InsertSorted(pairs.data(), sorted.size(), &skipped,
                                 rebuild ? model.size() : 0);
    ASSERT_TRUE(s.ok()) << s.ToString();
    EXPECT_EQ(skipped, present) << "round " << round;
    model.insert(batch.begin(), batch.end());
    for (int i = 0; i < 40 && !model.empty(); ++i) {
      auto at = model.begin();
      std::advance(at, static_cast<long>(rng() % model.size()));
      ASSERT_TRUE(tag->Remove(at->first, at->second).ok());
      model.erase(at);
    }
    s = file->Check();
    ASSERT_TRUE(s.ok()) << "round " << round << ": " << s.ToString();
    ASSERT_EQ(AllEntries(tag), std::vector<Entry>(model.begin(), model.end())) << "round " << round;
    // The cursor walks the same pairs in both directions.
    std::vector<Entry> walked;
    ASSERT_TRUE(tag->First().ok());
    while (tag->Valid()) {
      walked.emplace_back(tag->Key(), tag->Recno());
      ASSERT_TRUE(tag->Next().ok());
    }
    EXPECT_EQ(walked, std::vector<Entry>(model.begin(), model.end()));
    std::vector<Entry> back;
    ASSERT_TRUE(tag->Last().ok());
    while (tag->Valid()) {
      back.emplace_back(tag->Key(), tag->Recno());
      ASSERT_TRUE(tag->Prev().ok());
    }
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(back, walked);
    ASSERT_TRUE(file->Flush().ok());
    std::unique_ptr<CdxFile> again;
    ASSERT_TRUE(OpenCopy(*bytes, true, &again).ok());
    CdxTag* reread = again->FindTag("T");
    ASSERT_NE(reread, nullptr);
    ASSERT_TRUE(reread->SetKeyFill(shape.fill).ok());
    EXPECT_EQ(AllEntries(reread), std::vector<Entry>(model.begin(), model.end()))
        << "round " << round;
  }
}

INSTANTIATE_TEST_SUITE_P(KeyShapes, CdxBatchModel, ::testing::ValuesIn(BatchShapes()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CdxBatch, RefusesPairsOutOfOrderOrWithRecordZeroAndChangesNothing) {
  auto bytes = std::make_shared<Bytes>();
  std::unique_ptr<CdxFile> file;
  ASSERT_TRUE(
      CdxFile::CreateOnDevice(std::make_unique<CdxMemoryFile>(bytes, "mem.cdx"), &file).ok());
  const std::vector<uint8_t> keys = {'B'};
  const std::vector<uint32_t> recnos = {5};
  CdxTag* tag = nullptr;
  ASSERT_TRUE(file->AddTag({"T", "X", "", 1, false, false, ' '}, keys, recnos, &tag).ok());
  size_t skipped = 0;
  const std::vector<uint8_t> unordered = PairsOf({{"C", 1}, {"A", 2}}, 1);
  EXPECT_EQ(tag->InsertSorted(unordered.data(), 2, &skipped).code(), Status::kInvalidArgument);
  const std::vector<uint8_t> twice = PairsOf({{"A", 2}, {"A", 2}}, 1);
  EXPECT_EQ(tag->InsertSorted(twice.data(), 2, &skipped).code(), Status::kInvalidArgument);
  const std::vector<uint8_t> zero = PairsOf({{"A", 0}}, 1);
  EXPECT_EQ(tag->InsertSorted(zero.data(), 1, &skipped).code(), Status::kInvalidArgument);
  EXPECT_EQ(AllEntries(tag), (std::vector<Entry>{{"B", 5}}));
  // A good batch still works afterwards: nothing was marked broken.
  const std::vector<uint8_t> good = PairsOf({{"A", 1}, {"C", 2}}, 1);
  ASSERT_TRUE(tag->InsertSorted(good.data(), 2, &skipped).ok());
  EXPECT_EQ(AllEntries(tag), (std::vector<Entry>{{"A", 1}, {"B", 5}, {"C", 2}}));
}

// Sorting on a key prefix keeps equal keys in their input order, and the two-thread sort of a
// large input gives exactly what the one-thread sort gives.
TEST(CdxBatch, KeyOnlyAndParallelSortsMatchAStableSort) {
  std::mt19937 rng(3);
  for (size_t key_length : {1u, 13u, 60u}) {
    const size_t size = key_length + 4;
    for (size_t n : {30u, 5000u, 100000u}) {
      std::vector<uint8_t> records(n * size);
      for (size_t i = 0; i < n; ++i) {
        uint8_t* rec = &records[i * size];
        // 13-byte keys all start with the same two bytes, which every pass must look past.
        const size_t shared = key_length == 13 ? 2 : 0;
        for (size_t b = 0; b < key_length; ++b) {
          // Few distinct values with long runs of blanks: many ties to keep in order.
          rec[b] = b < shared       ? 'Q'
                   : b < shared + 3 ? static_cast<uint8_t>("AB "[rng() % 3])
                                    : ' ';
        }
        CdxPutBE32(rec + key_length, static_cast<uint32_t>(i + 1));
      }
      std::vector<std::string> expected;
      for (size_t i = 0; i < n; ++i) {
        expected.emplace_back(reinterpret_cast<const char*>(&records[i * size]), size);
      }
      std::stable_sort(expected.begin(), expected.end(),
                       [&](const std::string& a, const std::string& b) {
                         return a.compare(0, key_length, b, 0, key_length) < 0;
                       });
      for (bool parallel : {false, true}) {
        std::vector<uint8_t> sorted = records;
        CdxBulkBuilder::SortRecords(sorted.data(), n, size, key_length, parallel);
        for (size_t i = 0; i < n; ++i) {
          ASSERT_EQ(std::string(reinterpret_cast<const char*>(&sorted[i * size]), size),
                    expected[i])
              << "key " << key_length << ", " << n << " records, parallel " << parallel << ", at "
              << i;
        }
      }
    }
  }
}

// Pairs handed over already in order are taken as they are; in any order they are sorted: both
// give the same file.
// Unsorted pairs are sorted carrying only the bytes their keys use when the rest is fill:
// the file must come out the same as from pairs given in order, whatever that width is, for
// unique tags too (which keep the first record of each key).
TEST(CdxBatch, PresortedAndUnsortedPairsBuildTheSameFile) {
  struct Case {
    const char* name;
    size_t key_length;
    bool unique;
    std::function<std::string(std::mt19937&, uint32_t)> key;
  };
  const std::vector<Case> cases = {
      {"short numbers", 13, false,
       [](std::mt19937& rng, uint32_t) { return std::to_string(rng() % 3000); }},
      {"words in a wide key", 60, false,
       [](std::mt19937& rng, uint32_t) { return "W" + std::to_string(rng() % 500) + " X"; }},
      {"words, unique", 60, true,
       [](std::mt19937& rng, uint32_t) { return "W" + std::to_string(rng() % 500); }},
      {"one key uses the last byte", 40, false,
       [](std::mt19937& rng, uint32_t r) {
         return r == 777 ? std::string(40, 'Z') : std::to_string(rng() % 3000);
       }},
      {"keys of every length", 24, false,
       [](std::mt19937& rng, uint32_t) { return std::string(rng() % 25, "AB "[rng() % 3]); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937 rng(9);
    std::vector<Entry> pairs;
    for (uint32_t r = 1; r <= 20000; ++r) pairs.push_back({Padded(c.key(rng, r), c.key_length), r});
    std::vector<Entry> sorted = pairs;
    std::sort(sorted.begin(), sorted.end());
    std::vector<Entry> expected;
    for (const Entry& e : sorted)
      if (!c.unique || expected.empty() || expected.back().first != e.first) expected.push_back(e);
    const CdxTagSpec spec{"T", "X", "", c.key_length, false, c.unique, ' '};
    auto build = [&](const std::vector<Entry>& input) {
      auto bytes = std::make_shared<Bytes>();
      std::unique_ptr<CdxFile> file;
      EXPECT_TRUE(
          CdxFile::CreateOnDevice(std::make_unique<CdxMemoryFile>(bytes, "mem.cdx"), &file).ok());
      CdxPairBuffer records;
      for (const Entry& e : input) {
        records.insert(records.end(), e.first.begin(), e.first.end());
        uint8_t be[4];
        CdxPutBE32(be, e.second);
        records.insert(records.end(), be, be + 4);
      }
      Status s = file->AddTagRecords(spec, std::move(records));
      EXPECT_TRUE(s.ok()) << s.ToString();
      EXPECT_TRUE(file->Close().ok());
      return *bytes;
    };
    const Bytes from_sorted = build(sorted), from_input = build(pairs);
    EXPECT_EQ(from_sorted, from_input);
    std::unique_ptr<CdxFile> file;
    ASSERT_TRUE(OpenCopy(from_input, true, &file).ok());
    EXPECT_TRUE(file->FindTag("T")->Check().ok());
    EXPECT_EQ(AllEntries(file->FindTag("T")), expected);
  }
}

// A task table large enough that an appended batch goes into two tags at once and a pack
// rebuilds two tags at a time: every tag still holds exactly the table's records.
TEST(CdxBatch, LargeTableAppendsAndPackKeepEveryTagExact) {
  xbtest::TempDir dir;
  const std::string path = dir.File("BIG.DBF");
  ASSERT_NE(xbtest::CreateTaskTable(path), 0) << xb_ErrorText();
  const int reclen = xb_RecSize();
  std::mt19937 rng(21);
  auto append = [&](long count) {
    std::vector<char> rec(static_cast<size_t>(reclen));
    for (long i = 0; i < count; ++i) {
      std::memset(rec.data(), ' ', rec.size());
      char buf[32];
      std::snprintf(buf, sizeof buf, "2025%02u%02u", 1 + static_cast<unsigned>(rng() % 12),
                    1 + static_cast<unsigned>(rng() % 28));
      std::memcpy(rec.data() + 1, buf, 8);
      const std::string d = "Task " + std::to_string(rng() % 100000);
      std::memcpy(rec.data() + 14, d.data(), d.size());
      rec[74] = rng() % 3 == 0 ? 'T' : 'F';
      const std::string k =
          std::string(rng() % 2 ? "home" : "WORK") + " " + std::to_string(rng() % 50);
      std::memcpy(rec.data() + 75, k.data(), k.size());
      rec[135] = "ABC "[rng() % 4];
      if (!xb_AppendBlank() || !xb_PutRecord(rec.data())) return false;
    }
    return true;
  };
  ASSERT_TRUE(append(100000));
  xb_CloseAll();
  ASSERT_NE(xb_Use(path.c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX), 0) << xb_ErrorText();
  xbtest::BuildTaskTags();
  if (HasFatalFailure()) return;
  ASSERT_TRUE(append(20000));
  ASSERT_TRUE(xb_Commit()) << xb_ErrorText();
  auto sound = [](const char* when) {
    std::vector<std::string> report;
    Status s = Engine::Instance().Current()->table().CheckIndexes(&report);
    std::string lines;
    for (const auto& line : report) lines += "\n  " + line;
    EXPECT_TRUE(s.ok()) << when << ": " << s.ToString() << lines;
  };
  sound("after the appended batch");
  for (long r = 1; r <= xb_RecCount(); r += 7) {
    xb_Go(r);
    ASSERT_TRUE(xb_Delete());
  }
  ASSERT_TRUE(xb_Pack()) << xb_ErrorText();
  EXPECT_EQ(xb_RecCount(), 120000 - (120000 + 6) / 7);
  sound("after the pack");
  xb_CloseAll();
}

// Keys of a table this large are collected on two threads taking slices of records in turn.
// Records the condition leaves out, in clumps and scattered, leave gaps in slices that are
// closed up afterwards: every tag must still hold exactly the qualifying records, in order.
TEST(CdxBatch, KeysCollectedInSlicesSkipRecordsTheConditionLeavesOut) {
  xbtest::TempDir dir;
  const std::string path = dir.File("SLICES.DBF");
  ASSERT_NE(xbtest::CreateTaskTable(path), 0) << xb_ErrorText();
  std::vector<char> rec(static_cast<size_t>(xb_RecSize()));
  const long kRecords = 210000;  // three full slices of 65,536 and part of a fourth
  long done = 0;
  for (long n = 1; n <= kRecords; ++n) {
    std::memset(rec.data(), ' ', rec.size());
    const std::string d = "Task " + std::to_string((n * 7919) % 100003);
    std::memcpy(rec.data() + 14, d.data(), d.size());
    const bool is_done = n % 3 == 0 || (n > 70000 && n <= 140000);
    rec[74] = is_done ? 'T' : 'F';
    done += is_done ? 1 : 0;
    ASSERT_TRUE(xb_AppendBlank() && xb_PutRecord(rec.data())) << xb_ErrorText();
  }
  ASSERT_TRUE(xb_Commit()) << xb_ErrorText();
  ASSERT_GT(xb_IndexTag("", "OPEN", "upper(DESCRIPT)", 0, 0, ".not.DONE"), 0) << xb_ErrorText();
  ASSERT_GT(xb_IndexTag("", "CLOSED", "DESCRIPT", 0, 1, "DONE"), 0) << xb_ErrorText();
  std::vector<std::string> report;
  Status s = Engine::Instance().Current()->table().CheckIndexes(&report);
  std::string lines;
  for (const auto& line : report) lines += "\n  " + line;
  EXPECT_TRUE(s.ok()) << s.ToString() << lines;
  for (const auto& [tag, expected] : {std::pair{"OPEN", kRecords - done}, std::pair{"CLOSED", done}}) {
    xb_SetOrder(xb_TagArea(tag));
    long walked = 0;
    for (xb_GoTop(); !xb_Eof(); xb_Skip(1)) ++walked;
    EXPECT_EQ(walked, expected) << tag;
  }
  xb_CloseAll();
}

// A pack rebuilds most tags from their old entries with the records' new numbers; tags whose
// keys or conditions look at record numbers must be keyed afresh. Either way the packed file
// must hold exactly what a rebuild from the records writes.
// With tags that look at record numbers the pack rebuilds after the switch; without them it
// writes renumbered copies of the old tags before the switch. Both must give a full rebuild's
// bytes and leave no copy behind.
void PackAndCompareWithRebuild(bool recno_tags) {
  xbtest::TempDir dir;
  const std::string path = dir.File("PACKED.DBF");
  ASSERT_NE(xbtest::CreateTaskTable(path), 0) << xb_ErrorText();
  const int reclen = xb_RecSize();
  std::mt19937 rng(5);
  std::vector<char> rec(static_cast<size_t>(reclen));
  for (int i = 0; i < 5000; ++i) {
    std::memset(rec.data(), ' ', rec.size());
    char buf[32];
    std::snprintf(buf, sizeof buf, "2025%02u%02u", 1 + static_cast<unsigned>(rng() % 12),
                  1 + static_cast<unsigned>(rng() % 28));
    if (rng() % 5 != 0) std::memcpy(rec.data() + 1, buf, 8);
    const std::string d = "Task " + std::to_string(rng() % 700);
    std::memcpy(rec.data() + 14, d.data(), d.size());
    rec[74] = rng() % 3 == 0 ? 'T' : 'F';
    ASSERT_TRUE(xb_AppendBlank() && xb_PutRecord(rec.data())) << xb_ErrorText();
  }
  xbtest::BuildTaskTags();
  if (::testing::Test::HasFatalFailure()) return;
  if (recno_tags) {
    ASSERT_GT(xb_IndexTag("", "BYNUMBER", "STR(RECNO(),7)", 0, 0, ""), 0) << xb_ErrorText();
    ASSERT_GT(
        xb_IndexTag("", "LATE", "UPPER(DESCRIPT)", 0, 0, "RECNO() > 1000 .AND. .NOT. DONE"), 0)
        << xb_ErrorText();
  }
  ASSERT_GT(xb_IndexTag("", "UNDONE", "DATE", 0, 1, ".NOT. DONE .AND. .NOT. DELETED()"), 0)
      << xb_ErrorText();
  // Removed records all over the table, the first and the last among them.
  xb_SetOrder(0);
  for (long r = 1; r <= xb_RecCount(); ++r) {
    if (r == 1 || r == xb_RecCount() || rng() % 6 == 0) {
      xb_Go(r);
      ASSERT_TRUE(xb_Delete());
    }
  }
  ASSERT_TRUE(xb_Pack()) << xb_ErrorText();
  Table& table = Engine::Instance().Current()->table();
  std::vector<std::string> report;
  Status s = table.CheckIndexes(&report);
  std::string lines;
  for (const auto& line : report) lines += "\n  " + line;
  ASSERT_TRUE(s.ok()) << s.ToString() << lines;
  const std::string cdx = dir.File("PACKED.cdx");
  const std::vector<uint8_t> packed = xbtest::ReadBytes(cdx);
  EXPECT_FALSE(std::filesystem::exists(cdx + ".new"));
  ASSERT_TRUE(table.RebuildIndexes(nullptr).ok());
  xb_CloseAll();
  EXPECT_TRUE(packed == xbtest::ReadBytes(cdx));
}

TEST(CdxBatch, PackedTagsMatchAFullRebuildByteForByte) {
  PackAndCompareWithRebuild(true);
  if (HasFatalFailure()) return;
  PackAndCompareWithRebuild(false);
}

}  // namespace

namespace {

// The index file holding one tag of `count` random keys of the shape, built with the leaves
// filled on one thread or on two.
std::vector<uint8_t> BuiltFile(const BatchShape& shape, size_t count, bool two_threads) {
  CdxBulkBuilder::SetParallelLeafMinimum(two_threads ? 0 : SIZE_MAX);
  std::mt19937 rng(static_cast<unsigned>(count));
  std::vector<uint8_t> keys;
  std::vector<uint32_t> recnos;
  for (size_t i = 0; i < count; ++i) {
    const std::string k = shape.key(rng);
    keys.insert(keys.end(), k.begin(), k.end());
    recnos.push_back(static_cast<uint32_t>(i + 1));
  }
  auto bytes = std::make_shared<Bytes>();
  std::unique_ptr<CdxFile> file;
  EXPECT_TRUE(
      CdxFile::CreateOnDevice(std::make_unique<CdxMemoryFile>(bytes, "mem.cdx"), &file).ok());
  const CdxTagSpec spec{"T", "X", "", shape.key_length, false, false, shape.fill};
  EXPECT_TRUE(file->AddTag(spec, keys, recnos).ok());
  EXPECT_TRUE(file->Close().ok());
  CdxBulkBuilder::SetParallelLeafMinimum(200000);
  return std::vector<uint8_t>(bytes->begin(), bytes->end());
}

}  // namespace

// Leaves planned from the middle by a second thread must join the first thread's plan exactly:
// the file is the one-thread file byte for byte, for one leaf, a few and many, of every shape.
TEST(CdxBatch, LeavesFilledOnTwoThreadsMatchOneThread) {
  for (const BatchShape& shape : BatchShapes()) {
    for (size_t count : {size_t{2}, size_t{3}, size_t{40}, size_t{700}, size_t{25000}}) {
      const std::vector<uint8_t> one = BuiltFile(shape, count, false);
      const std::vector<uint8_t> two = BuiltFile(shape, count, true);
      EXPECT_TRUE(one == two) << shape.name << ", " << count << " keys";
    }
  }
}

// Pages a bulk build writes past the end the file had at its last flush go straight to the
// device; a reused free page may still be part of the tree on disk, so it waits in the cache
// for the flush. Both read back as written.
TEST(CdxBatch, NewPagesSkipTheCacheOnlyPastTheFlushedEnd) {
  auto bytes = std::make_shared<Bytes>();
  CdxPager pager(std::make_unique<CdxMemoryFile>(bytes, "mem.cdx"), false);
  ASSERT_TRUE(pager.Open().ok());
  std::vector<uint32_t> first;
  ASSERT_TRUE(pager.AllocateMany(4, &first).ok());
  std::vector<uint8_t> old(4 * kCdxPageSize, 0xAA);
  for (size_t k = 0; k < 4; ++k) pager.Write(first[k], 1, old.data() + k * kCdxPageSize, false);
  ASSERT_TRUE(pager.Flush().ok());
  ASSERT_EQ(bytes->size(), 4 * kCdxPageSize);

  pager.Free(first[1]);
  std::vector<uint32_t> again;
  ASSERT_TRUE(pager.AllocateMany(3, &again).ok());
  ASSERT_EQ(again[0], first[1]);  // the free page first, then new ones at the end
  ASSERT_EQ(again[1], 4 * kCdxPageSize);
  ASSERT_EQ(again[2], 5 * kCdxPageSize);
  std::vector<uint8_t> fresh(3 * kCdxPageSize);
  for (size_t i = 0; i < fresh.size(); ++i) fresh[i] = static_cast<uint8_t>(i / kCdxPageSize + 1);
  ASSERT_TRUE(pager.WriteNew(again.data(), 3, fresh.data()).ok());

  ASSERT_EQ(bytes->size(), 6 * kCdxPageSize);  // the new pages are in the file already
  EXPECT_EQ((*bytes)[4 * kCdxPageSize], 2);
  EXPECT_EQ((*bytes)[5 * kCdxPageSize], 3);
  EXPECT_EQ((*bytes)[first[1]], 0xAA);  // the reused page is not, until the flush
  for (size_t k = 0; k < 3; ++k) {
    uint8_t page[kCdxPageSize];
    ASSERT_TRUE(pager.Read(again[k], 1, page).ok());
    EXPECT_EQ(page[0], k + 1);
    EXPECT_EQ(page[kCdxPageSize - 1], k + 1);
  }
  ASSERT_TRUE(pager.Flush().ok());
  EXPECT_EQ((*bytes)[first[1]], 1);

  // After a flush the file's end is its new end: a page below it waits for the next flush
  // even when nothing of it is cached any more.
  pager.SetCacheCapacity(0);
  pager.Free(again[2]);
  ASSERT_TRUE(pager.Flush().ok());
  std::vector<uint32_t> last;
  ASSERT_TRUE(pager.AllocateMany(1, &last).ok());
  ASSERT_EQ(last[0], again[2]);
  ASSERT_TRUE(pager.WriteNew(last.data(), 1, old.data()).ok());
  EXPECT_EQ((*bytes)[again[2] + 100], 0);  // still the free-list image
  ASSERT_TRUE(pager.Flush().ok());
  EXPECT_EQ((*bytes)[again[2] + 100], 0xAA);
}
