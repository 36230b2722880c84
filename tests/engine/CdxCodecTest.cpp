// Page codecs of the compound index: golden decodes of known pages, byte-exact re-encoding,
// size bookkeeping of leaves, and decoders refusing damaged pages.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "CdxHeader.h"
#include "CdxInteriorNode.h"
#include "CdxLeafNode.h"
#include "CdxTestSupport.h"

using namespace xb;
using namespace cdxtest;

namespace {

const std::string kFile = "test.cdx";
const std::string kTag = "T";
CdxWhere Here(uint32_t offset = 0x600) { return CdxWhere(kFile, kTag, offset, "page"); }

Bytes Page(const Bytes& file, size_t offset, size_t size = kCdxPageSize) {
  return Bytes(file.begin() + static_cast<ptrdiff_t>(offset),
               file.begin() + static_cast<ptrdiff_t>(offset + size));
}

std::vector<Entry> Entries(const CdxLeafNode& leaf) {
  std::vector<Entry> out;
  for (size_t i = 0; i < leaf.count(); ++i) {
    out.emplace_back(std::string(reinterpret_cast<const char*>(leaf.key(i)), leaf.key_length()),
                     leaf.recno(i));
  }
  return out;
}

TEST(CdxHeaderCodec, DecodesTagListAndTagHeadersAndReencodesThem) {
  const Bytes file = ReadAll(DataPath("small.cdx"));
  ASSERT_EQ(file.size(), 9216u);
  CdxHeader list;
  ASSERT_TRUE(list.DecodeFrom(&file[0], Here(0), true).ok());
  EXPECT_EQ(list.root, 0x400u);
  EXPECT_EQ(list.free_list, 0u);
  EXPECT_EQ(list.key_length, 10);
  EXPECT_EQ(list.options, 0xE0);
  EXPECT_TRUE(list.key_expression.empty());
  EXPECT_TRUE(list.for_expression.empty());

  CdxHeader tag;
  ASSERT_TRUE(tag.DecodeFrom(&file[0x600], Here(), false).ok());
  EXPECT_EQ(tag.root, 0xA00u);
  EXPECT_EQ(tag.key_length, 13);
  EXPECT_EQ(tag.options, 0x68);
  EXPECT_FALSE(tag.descending);
  EXPECT_EQ(tag.key_expression, "DATE+TIME");
  EXPECT_EQ(tag.for_expression, ".NOT.DELETED()");
  EXPECT_FALSE(tag.unknown_collation);

  // The other writer leaves its own values in bytes 16-23; everything else must come back.
  for (size_t offset : {size_t{0}, size_t{0x600}, size_t{0xC00}, size_t{0x1E00}}) {
    CdxHeader h;
    ASSERT_TRUE(h.DecodeFrom(&file[offset], Here(), offset == 0).ok());
    Bytes again(kCdxHeaderSize);
    h.EncodeTo(again.data());
    Bytes original = Page(file, offset, kCdxHeaderSize);
    std::fill(original.begin() + 16, original.begin() + 24, 0);
    EXPECT_EQ(again, original) << "header at " << offset;
  }
}

TEST(CdxHeaderCodec, ReadsDescendingAndUniqueTags) {
  const Bytes file = ReadAll(DataPath("types.cdx"));
  CdxHeader named, nameu;
  ASSERT_TRUE(named.DecodeFrom(&file[0x2A00], Here(), false).ok());
  ASSERT_TRUE(nameu.DecodeFrom(&file[0x3000], Here(), false).ok());
  EXPECT_TRUE(named.descending);
  EXPECT_EQ(named.key_expression, "UPPER(NAME)");
  EXPECT_EQ(nameu.options & kCdxOptUnique, kCdxOptUnique);
  EXPECT_FALSE(nameu.descending);
}

TEST(CdxHeaderCodec, RefusesDamagedHeaders) {
  const Bytes file = ReadAll(DataPath("small.cdx"));
  struct Case {
    const char* what;
    size_t at;
    std::vector<uint8_t> bytes;
  };
  const std::vector<Case> cases = {
      {"key length 0", 12, {0, 0}},
      {"key length 241", 12, {241, 0}},
      {"not compact", 14, {0x48}},
      {"marked as tag list", 14, {0xE8}},
      {"order word 2", 502, {2, 0}},
      {"FOR outside the pool", 504, {0xFF, 0x01}},
      {"key length word 0", 510, {0, 0}},
      {"key not terminated", 510, {9, 0}},
  };
  for (const Case& c : cases) {
    Bytes header = Page(file, 0x600, kCdxHeaderSize);
    std::copy(c.bytes.begin(), c.bytes.end(), header.begin() + static_cast<ptrdiff_t>(c.at));
    CdxHeader h;
    Status s = h.DecodeFrom(header.data(), Here(), false);
    EXPECT_EQ(s.code(), Status::kCorrupt) << c.what;
    EXPECT_NE(s.message().find("test.cdx"), std::string::npos) << s.message();
  }
  Bytes list = Page(file, 0, kCdxHeaderSize);
  list[12] = 11;
  CdxHeader h;
  EXPECT_EQ(h.DecodeFrom(list.data(), Here(0), true).code(), Status::kCorrupt);
  Bytes collated = Page(file, 0x600, kCdxHeaderSize);
  collated[100] = 7;
  ASSERT_TRUE(h.DecodeFrom(collated.data(), Here(), false).ok());
  EXPECT_TRUE(h.unknown_collation);
}

TEST(CdxLeafCodec, DecodesTheDateTimeLeafOfTheSmallFile) {
  const Bytes file = ReadAll(DataPath("small.cdx"));
  CdxLeafNode leaf(13, ' ');
  ASSERT_TRUE(leaf.DecodeFrom(&file[0xA00], Here(0xA00)).ok());
  const std::vector<Entry> expected = {
      {"             ", 3},  {"2024010100:00", 10}, {"2024010508:00", 2},  {"2024010509:30", 1},
      {"2024010509:30", 6},  {"2024011510:00", 8},  {"2024012018:30", 9},  {"2024012108:00", 11},
      {"2024012208:00", 12}, {"20240210     ", 5}};
  EXPECT_EQ(Entries(leaf), expected);
  EXPECT_EQ(leaf.attributes(), 3);
  EXPECT_EQ(leaf.left(), kCdxNoPage);
  EXPECT_EQ(leaf.right(), kCdxNoPage);
  EXPECT_EQ(leaf.EncodedSize(), 512u - 406u);
}

TEST(CdxLeafCodec, DecodesTagListAndLogicalAndNumericLeaves) {
  const Bytes small = ReadAll(DataPath("small.cdx"));
  CdxLeafNode names(10, ' ');
  ASSERT_TRUE(names.DecodeFrom(&small[0x400], Here(0x400)).ok());
  const std::vector<Entry> tags = {{"DATETIME  ", 1536}, {"DESCRIPT  ", 3072}, {"DONE      ", 4608},
                                   {"KEYS      ", 6144}, {"PRIORITY  ", 7680}};
  EXPECT_EQ(Entries(names), tags);

  const Bytes types = ReadAll(DataPath("types.cdx"));
  CdxLeafNode flag(1, ' ');
  ASSERT_TRUE(flag.DecodeFrom(&types[0x2800], Here(0x2800)).ok());
  const std::vector<Entry> flags = {{"F", 2}, {"F", 4}, {"F", 5}, {"T", 1}, {"T", 3}, {"T", 6}};
  EXPECT_EQ(Entries(flag), flags);

  // Numeric keys lose trailing zero bytes, not blanks.
  CdxLeafNode amount(8, 0x00);
  ASSERT_TRUE(amount.DecodeFrom(&types[0x1000], Here(0x1000)).ok());
  const std::vector<Entry> amounts = {{NumericKey(-3.25), 2},   {NumericKey(-0.01), 5},
                                      {NumericKey(0), 3},       {NumericKey(12.5), 1},
                                      {NumericKey(99999.99), 6}, {NumericKey(1000000), 4}};
  EXPECT_EQ(Entries(amount), amounts);

  CdxLeafNode due(8, 0x00);
  ASSERT_TRUE(due.DecodeFrom(&types[0x1C00], Here(0x1C00)).ok());
  ASSERT_EQ(due.count(), 6u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(due.key(0)), 8), NumericKey(0));
  EXPECT_EQ(due.recno(0), 3u);
  bool found = false;
  for (size_t i = 0; i < due.count(); ++i) {
    if (due.recno(i) == 1) {
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(due.key(i)), 8), NumericKey(2460315));
      found = true;
    }
  }
  EXPECT_TRUE(found);
}

// Every node page of the fixtures decodes and encodes back to the same bytes where the other
// writer made the same choices as ours (smallest entry width of at least 3 bytes, zeros after
// the entries); elsewhere the re-encoded page decodes to the same content.
TEST(CdxLeafCodec, EveryFixtureNodeReencodesToTheSameBytesOrContent) {
  const std::map<std::string, uint8_t> zero_fill = {{"AMOUNT", 0}, {"QTY", 0}, {"DUE", 0}};
  size_t exact = 0, same_content = 0;
  for (const char* name : {"small.cdx", "big5000.cdx", "types.cdx"}) {
    const Bytes file = ReadAll(DataPath(name));
    std::unique_ptr<CdxFile> cdx;
    ASSERT_TRUE(OpenCopy(file, true, &cdx).ok()) << name;
    for (size_t t = 0; t < cdx->TagCount(); ++t) {
      CdxTag* tag = cdx->Tag(t);
      auto z = zero_fill.find(tag->name());
      const uint8_t fill = z == zero_fill.end() ? ' ' : z->second;
      std::vector<uint32_t> pages;
      ASSERT_TRUE(tag->SetKeyFill(fill).ok());
      ASSERT_TRUE(tag->Check(&pages).ok()) << name << " " << tag->name();
      for (uint32_t at : pages) {
        const Bytes original = Page(file, at);
        Bytes again(kCdxPageSize);
        bool same_choices = true;
        if (original[0] & kCdxAttrLeaf) {
          CdxLeafNode leaf(tag->key_length(), fill), back(tag->key_length(), fill);
          ASSERT_TRUE(leaf.DecodeFrom(original.data(), Here(at)).ok());
          ASSERT_TRUE(leaf.EncodeTo(again.data()));
          ASSERT_TRUE(back.DecodeFrom(again.data(), Here(at)).ok());
          EXPECT_EQ(Entries(back), Entries(leaf));
          same_choices = original[23] == leaf.EntryBytes();
        } else {
          CdxInteriorNode inner(tag->key_length()), back(tag->key_length());
          ASSERT_TRUE(inner.DecodeFrom(original.data(), Here(at)).ok());
          ASSERT_TRUE(inner.EncodeTo(again.data()));
          ASSERT_TRUE(back.DecodeFrom(again.data(), Here(at)).ok());
          const size_t used = CdxInteriorNode::kHeaderBytes + inner.count() * (tag->key_length() + 8);
          EXPECT_EQ(Bytes(again.begin(), again.begin() + static_cast<ptrdiff_t>(used)),
                    Bytes(original.begin(), original.begin() + static_cast<ptrdiff_t>(used)));
          same_choices = std::all_of(original.begin() + static_cast<ptrdiff_t>(used),
                                    original.end(), [](uint8_t b) { return b == 0; });
        }
        if (same_choices) {
          EXPECT_EQ(again, original) << name << " " << tag->name() << " page " << at;
          ++exact;
        } else {
          ++same_content;
        }
      }
    }
  }
  EXPECT_GT(exact, 300u);
  EXPECT_LT(same_content, exact / 4);
}

TEST(CdxInteriorCodec, DecodesTheBigFileRoot) {
  const Bytes file = ReadAll(DataPath("big5000.cdx"));
  CdxInteriorNode root(13);
  ASSERT_TRUE(root.DecodeFrom(&file[0x4000], Here(0x4000)).ok());
  ASSERT_EQ(root.count(), 4u);
  EXPECT_EQ(root.attributes(), kCdxAttrRoot);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(root.key(0)), 13), "2021070407:59");
  EXPECT_EQ(root.recno(0), 3168u);
  EXPECT_EQ(root.child(0), 0x0E00u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(root.key(3)), 13), "2025062323:28");
  EXPECT_EQ(root.recno(3), 110u);
  EXPECT_EQ(root.child(3), 0xA000u);
  EXPECT_EQ(CdxInteriorNode::Capacity(13), 23u);
  EXPECT_EQ(CdxInteriorNode::Capacity(50), 8u);
  EXPECT_EQ(CdxInteriorNode::Capacity(1), 55u);
  EXPECT_EQ(CdxInteriorNode::Capacity(240), 2u);
}

// The size a leaf reports must be exactly what the encoder writes, through any sequence of
// inserts and erases, including keys that repeat, share prefixes or are all fill.
TEST(CdxLeafCodec, SizeBookkeepingMatchesTheEncoder) {
  std::mt19937 rng(7);
  for (size_t key_length : {1u, 8u, 13u, 60u, 240u}) {
    for (uint8_t fill : {uint8_t{' '}, uint8_t{0}}) {
      CdxLeafNode leaf(key_length, fill);
      std::set<Entry> model;
      for (int step = 0; step < 600; ++step) {
        std::string key(key_length, static_cast<char>(fill));
        const size_t used = rng() % (key_length + 1);
        for (size_t i = 0; i < used; ++i) key[i] = "AAB\x01 \0"[rng() % 6];
        const uint32_t recno = 1 + rng() % (rng() % 4 == 0 ? 70000000u : 300u);
        if (model.size() > 3 && rng() % 3 == 0) {
          auto it = model.begin();
          std::advance(it, static_cast<long>(rng() % model.size()));
          CdxSearchKey t{CdxSearchKey::kPair, reinterpret_cast<const uint8_t*>(it->first.data()),
                         key_length, it->second};
          leaf.Erase(leaf.LowerBound(t));
          model.erase(it);
        } else if (model.insert({key, recno}).second) {
          CdxSearchKey t{CdxSearchKey::kPair, reinterpret_cast<const uint8_t*>(key.data()),
                         key_length, recno};
          leaf.Insert(leaf.LowerBound(t), t.key, recno);
          if (!leaf.Fits()) {
            leaf.Erase(leaf.LowerBound(t));
            model.erase({key, recno});
          }
        }
        Bytes page(kCdxPageSize);
        ASSERT_TRUE(leaf.EncodeTo(page.data()));
        const size_t free_word = CdxGetLE16(&page[12]);
        ASSERT_EQ(leaf.EncodedSize(), kCdxPageSize - free_word) << key_length << " step " << step;
        EXPECT_EQ(page[23], leaf.EntryBytes());
        CdxLeafNode back(key_length, fill);
        ASSERT_TRUE(back.DecodeFrom(page.data(), Here()).ok());
        ASSERT_EQ(Entries(back), std::vector<Entry>(model.begin(), model.end()));
      }
    }
  }
}

TEST(CdxLeafCodec, EntryWidthGrowsAndShrinksWithTheLargestRecordNumber) {
  EXPECT_EQ(CdxLeafNode::EntryBytesFor(65535, 13), 3u);
  EXPECT_EQ(CdxLeafNode::EntryBytesFor(65536, 13), 4u);
  EXPECT_EQ(CdxLeafNode::EntryBytesFor(4095, 50), 3u);
  EXPECT_EQ(CdxLeafNode::EntryBytesFor(4096, 50), 4u);
  EXPECT_EQ(CdxLeafNode::EntryBytesFor(4194303, 1), 3u);
  EXPECT_EQ(CdxLeafNode::EntryBytesFor(0xFFFFFFFF, 1), 5u);
  EXPECT_EQ(CdxLeafNode::EntryBytesFor(255, 240), 3u);
  EXPECT_EQ(CdxLeafNode::EntryBytesFor(0xFFFFFFFF, 240), 6u);

  CdxLeafNode leaf(13, ' ');
  const std::string a = "2024010100:00", b = "2024010200:00";
  leaf.Insert(0, reinterpret_cast<const uint8_t*>(a.data()), 7);
  leaf.Insert(1, reinterpret_cast<const uint8_t*>(b.data()), 0xFFFFFFFF);
  Bytes page(kCdxPageSize);
  ASSERT_TRUE(leaf.EncodeTo(page.data()));
  EXPECT_EQ(page[23], 5);  // 4 + 4 count bits + 32 record bits
  EXPECT_EQ(CdxGetLE32(&page[14]), 0xFFFFFFFFu);
  CdxLeafNode back(13, ' ');
  ASSERT_TRUE(back.DecodeFrom(page.data(), Here()).ok());
  EXPECT_EQ(back.recno(1), 0xFFFFFFFFu);
  leaf.Erase(1);
  ASSERT_TRUE(leaf.EncodeTo(page.data()));
  EXPECT_EQ(page[23], 3);
}

TEST(CdxLeafCodec, RefusesDamagedLeaves) {
  const Bytes file = ReadAll(DataPath("small.cdx"));
  const Bytes good = Page(file, 0xA00);
  struct Case {
    const char* what;
    size_t at;
    std::vector<uint8_t> bytes;
  };
  const std::vector<Case> cases = {
      {"attribute 6", 0, {6, 0}},
      {"count beyond the page", 2, {200, 0}},
      {"count one too many", 2, {11, 0}},
      {"misaligned right link", 8, {1, 2, 0, 0}},
      {"free word off by one", 12, {0x97, 0x01}},
      {"record mask wrong", 14, {0xFF, 0x7F}},
      {"bits exceed entry", 20, {20}},
      {"entry width 0", 23, {0}},
      {"entry width 9", 23, {9}},
      {"first entry has a duplicate count", 26, {0x01}},
      {"duplicate and trail longer than key", 29, {0xFF}},
  };
  for (const Case& c : cases) {
    Bytes page = good;
    std::copy(c.bytes.begin(), c.bytes.end(), page.begin() + static_cast<ptrdiff_t>(c.at));
    CdxLeafNode leaf(13, ' ');
    Status s = leaf.DecodeFrom(page.data(), Here(0xA00));
    EXPECT_EQ(s.code(), Status::kCorrupt) << c.what;
    EXPECT_NE(s.message().find("needs rebuilding"), std::string::npos) << s.message();
  }
  // Key data that would run into the entry array: many entries with no compression.
  Bytes page(kCdxPageSize, 0);
  CdxPutLE16(&page[0], 3);
  CdxPutLE16(&page[2], 40);
  CdxPutLE32(&page[4], kCdxNoPage);
  CdxPutLE32(&page[8], kCdxNoPage);
  CdxPutLE32(&page[14], 0xFFFF);
  page[18] = page[19] = 0x0F;
  page[20] = 16;
  page[21] = page[22] = 4;
  page[23] = 3;
  CdxLeafNode leaf(13, ' ');
  EXPECT_EQ(leaf.DecodeFrom(page.data(), Here()).code(), Status::kCorrupt);
}

TEST(CdxInteriorCodec, RefusesDamagedInteriorNodes) {
  const Bytes file = ReadAll(DataPath("big5000.cdx"));
  const Bytes good = Page(file, 0x4000);
  struct Case {
    const char* what;
    size_t at;
    std::vector<uint8_t> bytes;
  };
  const std::vector<Case> cases = {
      {"attribute 4", 0, {4, 0}},
      {"no entries", 2, {0, 0}},
      {"more entries than fit", 2, {24, 0}},
      {"child offset not a page", 12 + 13 + 4, {0, 0, 0x0E, 0x01}},
      {"child in the file header", 12 + 13 + 4, {0, 0, 0x02, 0x00}},
      {"left link misaligned", 4, {3, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    Bytes page = good;
    std::copy(c.bytes.begin(), c.bytes.end(), page.begin() + static_cast<ptrdiff_t>(c.at));
    CdxInteriorNode node(13);
    EXPECT_EQ(node.DecodeFrom(page.data(), Here(0x4000)).code(), Status::kCorrupt) << c.what;
  }
}

}  // namespace
