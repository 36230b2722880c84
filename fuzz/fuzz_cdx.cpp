// libFuzzer target for the compound-index reader and writer. The input is an index file: it is
// opened read-only and then writable (in memory), every tag is walked both ways, searched,
// checked, changed and flushed. Anything may fail with a Status; nothing may crash, hang or
// touch memory outside its buffers.
//
// Build from the project folder (or with -DLISTWISE_FUZZ=ON):
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I src/engine
//       fuzz/fuzz_cdx.cpp src/engine/Cdx*.cpp src/engine/Status.cpp -o fuzz_cdx
// and run it on a corpus seeded with index files:
//   mkdir -p fuzz/corpus-cdx && cp tests/data/*.cdx fuzz/corpus-cdx/
//   ./fuzz_cdx -max_len=65536 fuzz/corpus-cdx
//
// Speed is what lets the fuzzer explore: every input costs work in proportion to its size, and
// the large files of a grown corpus once brought it down to some twenty inputs a second. Inputs
// are therefore capped at 128 pages (larger ones only repeat the same structures), and the walks
// stop after a few hundred steps: the steps after those take the same paths again.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CdxFile.h"
#include "CdxMemoryFile.h"

namespace {

constexpr size_t kMaxInput = 64 << 10;
constexpr size_t kMaxSteps = 150;
constexpr size_t kMaxTags = 4;

void Walk(xb::CdxTag* tag) {
  size_t steps = 0;
  xb::Status s = tag->First();
  while (s.ok() && tag->Valid() && ++steps < kMaxSteps) s = tag->Next();
  s = tag->Last();
  while (s.ok() && tag->Valid() && ++steps < 2 * kMaxSteps) s = tag->Prev();
}

void Exercise(const uint8_t* data, size_t size, bool write) {
  auto bytes = std::make_shared<std::vector<uint8_t>>(data, data + size);
  std::unique_ptr<xb::CdxFile> file;
  if (!xb::CdxFile::OpenDevice(std::make_unique<xb::CdxMemoryFile>(bytes, "fuzz.cdx"), !write,
                               &file)
           .ok()) {
    return;
  }
  // Keys to look for and to insert come from the input itself.
  const std::string seed(reinterpret_cast<const char*>(data), std::min<size_t>(size, 64));
  for (size_t t = 0; t < file->TagCount() && t < kMaxTags; ++t) {
    xb::CdxTag* tag = file->Tag(t);
    tag->SetKeyFill((t + size) % 3 == 0 ? 0x00 : 0x20);
    Walk(tag);
    if (!write) {
      // The read-only open differs in how the file is loaded; the searches below are the
      // same code as in the writable pass.
      tag->Check();
      continue;
    }
    const size_t length = tag->key_length();
    std::string key = seed;
    key.resize(length, ' ');
    xb::CdxSeekResult result;
    for (size_t prefix : {size_t{0}, size_t{1}, length / 2, length}) {
      if (tag->Seek(std::string_view(key).substr(0, prefix), &result).ok() && tag->Valid()) {
        tag->Next();
        tag->Prev();
      }
    }
    bool exact = false;
    tag->SeekPair(key, 7, &exact);
    // Some present pairs, to remove them below (emptying leaves, merging interior nodes).
    std::vector<std::pair<std::string, uint32_t>> present;
    tag->ForEach([&](std::string_view k, uint32_t r) {
      present.emplace_back(std::string(k), r);
      return present.size() < 64;
    });
    tag->Check();
    if (write) {
      for (size_t i = 0; i < present.size(); i += 2) tag->Remove(present[i].first, present[i].second);
      for (uint32_t recno = 1; recno <= 48; ++recno) {
        key[recno % length] = static_cast<char>('A' + recno % 5);
        tag->Insert(key, recno);
      }
      for (uint32_t recno = 1; recno <= 48; recno += 3) tag->Remove(key, recno);
      Walk(tag);
      tag->Check();
    }
  }
  if (write) {
    std::vector<uint8_t> keys(3, 'K');
    std::vector<uint32_t> recnos = {1, 2, 3};
    file->AddTag({"FUZZ", "KEY", "", 1}, keys, recnos);
  }
  file->Check();
  if (file->Close().ok() && write) {
    // What was written must open again.
    std::unique_ptr<xb::CdxFile> again;
    if (xb::CdxFile::OpenDevice(std::make_unique<xb::CdxMemoryFile>(bytes, "fuzz2.cdx"), true,
                                &again)
            .ok()) {
      for (size_t t = 0; t < again->TagCount() && t < kMaxTags; ++t) Walk(again->Tag(t));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  Exercise(data, size, false);
  Exercise(data, size, true);
  return 0;
}
