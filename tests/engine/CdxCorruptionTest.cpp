// Damaged index files and failing disks: every problem is a clean Status naming the file,
// never a crash, a hang or a read outside the file.

#include <gtest/gtest.h>

#include <random>

#include "CdxBulkBuilder.h"
#include "CdxLeafNode.h"
#include "CdxTestSupport.h"

using namespace xb;
using namespace cdxtest;

namespace {

using Model = std::set<Entry>;

// Everything a caller might do with a file: open, walk each tag both ways, seek, check,
// change and flush. Returns the first failure (Ok if the damage went unnoticed).
Status Exercise(const Bytes& image, bool write) {
  std::unique_ptr<CdxFile> file;
  Status first = OpenCopy(image, !write, &file);
  if (!first.ok()) return first;
  auto note = [&](Status s) {
    if (first.ok() && !s.ok()) first = s;
  };
  for (size_t t = 0; t < file->TagCount(); ++t) {
    CdxTag* tag = file->Tag(t);
    size_t steps = 0;
    Status s = tag->First();
    while (s.ok() && tag->Valid() && ++steps < 100000) s = tag->Next();
    note(s);
    s = tag->Last();
    while (s.ok() && tag->Valid() && ++steps < 200000) s = tag->Prev();
    note(s);
    CdxSeekResult r;
    note(tag->Seek(std::string("2024").substr(0, tag->key_length()), &r));
    note(tag->Seek("F", &r));
    note(tag->Check());
    if (write) {
      const std::string key(tag->key_length(), 'K');
      for (uint32_t recno = 1; recno <= 40; ++recno) note(tag->Insert(key, recno));
      for (uint32_t recno = 1; recno <= 40; recno += 2) note(tag->Remove(key, recno));
    }
  }
  note(file->Check());
  note(file->Close());
  return first;
}

void ExpectCorrupt(const Status& s, const char* what) {
  EXPECT_EQ(s.code(), Status::kCorrupt) << what << ": " << s.ToString();
  EXPECT_NE(s.message().find("cdx"), std::string::npos) << what << ": " << s.message();
  EXPECT_NE(s.message().find("needs rebuilding"), std::string::npos) << what << ": " << s.message();
}

void Put32(Bytes& b, size_t at, uint32_t v) { CdxPutLE32(&b[at], v); }

TEST(CdxCorruption, TruncatedFilesAreRefused) {
  const Bytes good = ReadAll(DataPath("small.cdx"));
  for (size_t size : {0u, 100u, 511u, 1024u, 1536u, 5000u, 8704u, 9215u}) {
    Bytes cut(good.begin(), good.begin() + static_cast<ptrdiff_t>(size));
    std::unique_ptr<CdxFile> file;
    ExpectCorrupt(OpenCopy(cut, true, &file), std::to_string(size).c_str());
  }
  // Cutting the last tree of the big file shows up when that tag is read.
  const Bytes big = ReadAll(DataPath("big5000.cdx"));
  Bytes cut(big.begin(), big.end() - 4 * kCdxPageSize);
  ExpectCorrupt(Exercise(cut, false), "big file cut");
}

// Flip bits everywhere in a small file and at random in a big one: each damaged copy is opened,
// walked, searched, checked and changed. Damage to the layout bytes of a leaf is always found;
// damage to key bytes can leave a valid index of other keys, which only the table can tell.
TEST(CdxCorruption, EveryFlippedByteIsSurvivedAndLayoutDamageIsAlwaysReported) {
  const Bytes good = ReadAll(DataPath("small.cdx"));
  ASSERT_TRUE(Exercise(good, true).ok());
  const std::set<size_t> leaves = {0x400, 0xA00, 0x1000, 0x1600, 0x1C00, 0x2200};
  size_t layout_flips = 0;
  for (size_t at = 0; at < good.size(); ++at) {
    const bool layout = leaves.count(at / kCdxPageSize * kCdxPageSize) != 0 &&
                        at % kCdxPageSize < CdxLeafNode::kHeaderBytes;
    if (good[at] == 0 && !layout) continue;
    for (uint8_t mask : {uint8_t{0x01}, uint8_t{0x80}}) {
      if (!layout && mask == 0x80) continue;
      Bytes bad = good;
      bad[at] ^= mask;
      const Status s = Exercise(bad, at % 4 == 0);
      if (!s.ok()) {
        EXPECT_FALSE(s.message().empty());
      }
      if (layout) {
        ++layout_flips;
        EXPECT_FALSE(s.ok()) << "flip " << int{mask} << " at " << at;
      }
    }
  }
  EXPECT_EQ(layout_flips, 6u * 24 * 2);

  const Bytes big = ReadAll(DataPath("big5000.cdx"));
  std::mt19937 rng(99);
  for (int i = 0; i < 200; ++i) {
    Bytes bad = big;
    for (int k = 0; k < 4; ++k) bad[rng() % bad.size()] = static_cast<uint8_t>(rng());
    Exercise(bad, i % 2 == 0);
  }
}

// Pages of big5000.cdx's DONE tag: a three-level tree of many leaves.
struct DoneTree {
  Bytes image = ReadAll(DataPath("big5000.cdx"));
  uint32_t root = 0;
  std::vector<uint32_t> leaves;  // left to right
  DoneTree() {
    std::unique_ptr<CdxFile> file;
    EXPECT_TRUE(OpenCopy(image, true, &file).ok());
    CdxTag* tag = file->FindTag("DONE");
    root = tag->header().root;
    std::vector<uint32_t> pages;
    EXPECT_TRUE(tag->Check(&pages).ok());
    uint32_t at = 0;
    for (uint32_t p : pages) {
      if ((image[p] & kCdxAttrLeaf) != 0 && CdxGetLE32(&image[p + 4]) == kCdxNoPage) at = p;
    }
    while (at != kCdxNoPage) {
      leaves.push_back(at);
      at = CdxGetLE32(&image[at + 8]);
    }
  }
};

TEST(CdxCorruption, LoopsInSiblingAndChildLinksEndWithAnError) {
  DoneTree tree;
  ASSERT_GT(tree.leaves.size(), 10u);
  {
    Bytes bad = tree.image;  // a right link back to an earlier leaf
    Put32(bad, tree.leaves[5] + 8, tree.leaves[2]);
    std::unique_ptr<CdxFile> file;
    ASSERT_TRUE(OpenCopy(bad, true, &file).ok());
    CdxTag* tag = file->FindTag("DONE");
    Status s;
    AllEntries(tag, &s);
    ExpectCorrupt(s, "ForEach over a right-link loop");
    ExpectCorrupt(tag->Check(), "check of a right-link loop");
    s = tag->First();
    for (size_t steps = 0; s.ok() && tag->Valid() && steps < 1000000; ++steps) s = tag->Next();
    ExpectCorrupt(s, "Next over a right-link loop");
  }
  {
    Bytes bad = tree.image;  // a leaf that is its own left neighbour
    Put32(bad, tree.leaves[7] + 4, tree.leaves[7]);
    std::unique_ptr<CdxFile> file;
    ASSERT_TRUE(OpenCopy(bad, true, &file).ok());
    CdxTag* tag = file->FindTag("DONE");
    ExpectCorrupt(tag->Check(), "self left link");
  }
  {
    Bytes bad = tree.image;  // the root's first child is the root itself
    const size_t child = tree.root + 12 + 1 + 4;
    CdxPutBE32(&bad[child], tree.root);
    std::unique_ptr<CdxFile> file;
    ASSERT_TRUE(OpenCopy(bad, false, &file).ok());
    CdxTag* tag = file->FindTag("DONE");
    ExpectCorrupt(tag->First(), "descent into a child loop");
    ExpectCorrupt(tag->Check(), "check of a child loop");
    ExpectCorrupt(tag->Insert("F", 1), "insert through a child loop");
  }
}

TEST(CdxCorruption, TheCheckNamesBrokenInvariants) {
  DoneTree tree;
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
    const char* expected;
  };
  const uint32_t leaf = tree.leaves[3];
  const std::vector<Case> cases = {
      {"interior entry not the child's last", [&](Bytes& b) { CdxPutBE32(&b[tree.root + 12 + 1], 1); },
       "differs from the last entry"},
      {"keys out of order", [&](Bytes& b) { CdxPutLE32(&b[tree.leaves[4] + 8], tree.leaves[2]); },
       "sibling links"},
      {"root bit on a leaf", [&](Bytes& b) { b[leaf] = 3; }, "root attribute"},
      {"root bit missing", [&](Bytes& b) { b[tree.root] = 0; }, "lacks the root attribute"},
      {"free-space word", [&](Bytes& b) { b[leaf + 12] ^= 1; }, "free-space word"},
  };
  for (const Case& c : cases) {
    Bytes bad = tree.image;
    c.damage(bad);
    std::unique_ptr<CdxFile> file;
    ASSERT_TRUE(OpenCopy(bad, true, &file).ok()) << c.what;
    Status s = file->FindTag("DONE")->Check();
    ExpectCorrupt(s, c.what);
    EXPECT_NE(s.message().find(c.expected), std::string::npos) << c.what << ": " << s.message();
  }

  // Two records swapped inside one leaf of the small file.
  Bytes bad = ReadAll(DataPath("small.cdx"));
  bad[0xA00 + 24 + 9] = 6;  // ("2024010509:30", 1) and (…, 6) become (…, 6) and (…, 1)
  bad[0xA00 + 24 + 12] = 1;
  std::unique_ptr<CdxFile> file;
  ASSERT_TRUE(OpenCopy(bad, true, &file).ok());
  Status s = file->Check();
  ExpectCorrupt(s, "order inside a leaf");
}

TEST(CdxCorruption, DamagedTagListHeadersAndFreeListAreRefused) {
  const Bytes good = ReadAll(DataPath("small.cdx"));
  const Bytes big = ReadAll(DataPath("big5000.cdx"));
  struct Case {
    const char* what;
    const Bytes* base;
    std::function<void(Bytes&)> damage;
    bool read_only_opens;
  };
  const std::vector<Case> cases = {
      {"tag list root outside", &good, [](Bytes& b) { Put32(b, 0, 0x10000); }, false},
      {"tag list root in the header", &good, [](Bytes& b) { Put32(b, 0, 0x200); }, false},
      {"tag header outside", &good, [](Bytes& b) { b[0x400 + 24 + 2] = 0x7F; }, false},
      {"tag root outside", &good, [](Bytes& b) { Put32(b, 0x600, 0x123400); }, false},
      {"two tags share a header", &good, [](Bytes& b) { b[0x400 + 24 + 4] = 0x06; }, false},
      {"tag name twice", &good, [](Bytes& b) { b[0x5F8] = 'E'; b[0x5F9] = 'S'; }, false},
      {"free list loops", &big, [](Bytes& b) { Put32(b, 0xB800, 0xB800); }, true},
      {"free list outside", &big, [](Bytes& b) { Put32(b, 4, 0x7FFFFE00); }, true},
      {"free list misaligned", &big, [](Bytes& b) { Put32(b, 4, 0xB801); }, true},
  };
  for (const Case& c : cases) {
    Bytes bad = *c.base;
    c.damage(bad);
    std::unique_ptr<CdxFile> file;
    ExpectCorrupt(OpenCopy(bad, false, &file), c.what);
    EXPECT_EQ(OpenCopy(bad, true, &file).ok(), c.read_only_opens) << c.what;
    if (c.read_only_opens) ExpectCorrupt(file->Check(), c.what);
  }
}

TEST(CdxCorruption, PagesUsedTwiceOrByNobodyFailTheFileCheck) {
  Bytes shared = ReadAll(DataPath("types.cdx"));
  Put32(shared, 0x2A00, 0xA00);  // NAMED's root is NAME's root (both have 12-byte keys)
  std::unique_ptr<CdxFile> file;
  ASSERT_TRUE(OpenCopy(shared, true, &file).ok());
  Status s = file->Check();
  ExpectCorrupt(s, "shared page");
  EXPECT_NE(s.message().find("used twice"), std::string::npos) << s.message();

  Bytes orphan = ReadAll(DataPath("small.cdx"));
  orphan.resize(orphan.size() + kCdxPageSize, 0);
  ASSERT_TRUE(OpenCopy(orphan, true, &file).ok());
  s = file->Check();
  ExpectCorrupt(s, "orphan page");
  EXPECT_NE(s.message().find("no tag"), std::string::npos) << s.message();
}

// A change that meets damage halfway (here: a split whose right neighbour is not a leaf) leaves
// the tag refusing further changes instead of building on a half-updated tree.
TEST(CdxCorruption, AChangeThatFailsHalfwayStopsFurtherChanges) {
  Bytes bad = ReadAll(DataPath("big5000.cdx"));
  std::unique_ptr<CdxFile> file;
  ASSERT_TRUE(OpenCopy(bad, true, &file).ok());
  CdxTag* tag = file->FindTag("DATETIME");
  std::vector<uint32_t> pages;
  ASSERT_TRUE(tag->Check(&pages).ok());
  uint32_t leaf_at = 0, interior_at = 0;
  for (uint32_t p : pages) {
    if ((bad[p] & kCdxAttrLeaf) != 0 && CdxGetLE32(&bad[p + 8]) != kCdxNoPage) leaf_at = p;
    if ((bad[p] & kCdxAttrLeaf) == 0) interior_at = p;
  }
  CdxLeafNode leaf(13, ' ');
  ASSERT_TRUE(leaf.DecodeFrom(&bad[leaf_at], CdxWhere("f", "t", leaf_at, "leaf")).ok());
  Put32(bad, leaf_at + 8, interior_at);
  ASSERT_TRUE(OpenCopy(bad, false, &file).ok());
  tag = file->FindTag("DATETIME");
  const std::string key(reinterpret_cast<const char*>(leaf.key(0)), 13);
  Status s;
  for (uint32_t r = 1000000; s.ok() && r < 1000200; ++r) s = tag->Insert(key, r);
  ExpectCorrupt(s, "split into a damaged neighbour");
  ExpectCorrupt(tag->Insert(key, 2000000), "change after a failed change");
  ExpectCorrupt(tag->Remove(key, 1000000), "remove after a failed change");
}

TEST(CdxIoFailures, AFullDiskIsReportedAndAFlushCanBeRetried) {
  auto bytes = std::make_shared<Bytes>(ReadAll(DataPath("big5000.cdx")));
  auto device = std::make_unique<CdxMemoryFile>(bytes, "full.cdx");
  CdxMemoryFile* disk = device.get();
  std::unique_ptr<CdxFile> file;
  ASSERT_TRUE(CdxFile::OpenDevice(std::move(device), false, &file).ok());
  CdxTag* tag = file->FindTag("DONE");
  Model model;
  for (const Entry& e : AllEntries(tag)) model.insert(e);
  for (uint32_t r = 6000; r < 9000; ++r) {
    ASSERT_TRUE(tag->Insert(r % 2 ? "T" : "F", r).ok());
    model.emplace(r % 2 ? "T" : "F", r);
  }
  disk->FailWritesAfter(3 * kCdxPageSize);
  Status s = file->Flush();
  EXPECT_EQ(s.code(), Status::kDiskFull) << s.ToString();
  EXPECT_NE(s.message().find("full.cdx"), std::string::npos);
  disk->FailWritesAfter(UINT64_MAX);
  ASSERT_TRUE(file->Flush().ok());
  ASSERT_TRUE(file->Check().ok());
  std::unique_ptr<CdxFile> again;
  ASSERT_TRUE(OpenCopy(*bytes, true, &again).ok());
  EXPECT_EQ(AllEntries(again->FindTag("DONE")), std::vector<Entry>(model.begin(), model.end()));
  ASSERT_TRUE(again->Check().ok());

  disk->SetReadOnly(true);
  ASSERT_TRUE(tag->Insert("T", 9999).ok());
  EXPECT_EQ(file->Close().code(), Status::kReadOnly);
  EXPECT_EQ(tag->Insert("T", 10001).code(), Status::kNotOpen);
  EXPECT_EQ(file->Flush().code(), Status::kNotOpen);
  EXPECT_EQ(tag->First().code(), Status::kNotOpen);

  auto read_only = std::make_unique<CdxMemoryFile>(std::make_shared<Bytes>(), "ro.cdx");
  read_only->SetReadOnly(true);
  EXPECT_EQ(CdxFile::CreateOnDevice(std::move(read_only), &file).code(), Status::kReadOnly);
}

// A tag build writes its new pages to the file as it goes; when the disk fills up halfway the
// build fails, and the pages it had taken must not be left belonging to nothing: the file
// stays sound, and the same tag can be built once there is room again.
TEST(CdxIoFailures, ATagBuildThatRunsOutOfSpaceLeavesASoundFile) {
  auto bytes = std::make_shared<Bytes>();
  auto device = std::make_unique<CdxMemoryFile>(bytes, "full.cdx");
  CdxMemoryFile* disk = device.get();
  std::unique_ptr<CdxFile> file;
  ASSERT_TRUE(CdxFile::CreateOnDevice(std::move(device), &file).ok());
  std::vector<uint8_t> keys;
  std::vector<uint32_t> recnos;
  std::mt19937 rng(3);
  for (uint32_t r = 1; r <= 20000; ++r) {
    for (int i = 0; i < 20; ++i) keys.push_back(static_cast<uint8_t>('A' + rng() % 26));
    recnos.push_back(r);
  }
  const CdxTagSpec spec{"NAMES", "NAME", "", 20, false, false, ' '};
  CdxBulkBuilder::SetParallelLeafMinimum(0);
  disk->FailWritesAfter(40 * kCdxPageSize);
  Status s = file->AddTag(spec, keys, recnos);
  EXPECT_EQ(s.code(), Status::kDiskFull) << s.ToString();
  disk->FailWritesAfter(UINT64_MAX);
  EXPECT_EQ(file->TagCount(), 0u);
  ASSERT_TRUE(file->Flush().ok());
  s = file->Check();
  EXPECT_TRUE(s.ok()) << s.ToString();
  s = file->AddTag(spec, keys, recnos);
  CdxBulkBuilder::SetParallelLeafMinimum(200000);
  ASSERT_TRUE(s.ok()) << s.ToString();
  ASSERT_TRUE(file->Flush().ok());
  s = file->Check();
  EXPECT_TRUE(s.ok()) << s.ToString();
  EXPECT_EQ(AllEntries(file->FindTag("NAMES")).size(), 20000u);
}

TEST(CdxIoFailures, RealFilesThatCannotBeOpenedGiveAStatus) {
  std::unique_ptr<CdxFile> file;
  EXPECT_EQ(CdxFile::Open(::testing::TempDir() + "/no/such.cdx", true, &file).code(),
            Status::kNotFound);
  EXPECT_FALSE(CdxFile::Open(::testing::TempDir(), true, &file).ok());
  EXPECT_FALSE(CdxFile::Create(::testing::TempDir() + "/no/such/dir/x.cdx", &file).ok());
  const std::string path = ::testing::TempDir() + "/empty.cdx";
  ASSERT_TRUE(CdxFile::Create(path, &file).ok());
  ASSERT_TRUE(file->Close().ok());
  ASSERT_TRUE(CdxFile::Open(path, false, &file).ok());
  EXPECT_EQ(file->TagCount(), 0u);
  ASSERT_TRUE(file->Check().ok());
  EXPECT_EQ(ReadAll(path).size(), 3u * kCdxPageSize);
}

}  // namespace
