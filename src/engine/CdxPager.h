#pragma once

#include <array>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "CdxBlockDevice.h"
#include "CdxTypes.h"
#include "Status.h"

namespace xb {

// The pages of one index file: a write-back cache over the device, page allocation (free list
// first, then the end of the file) and the file-wide free-page list.
//
// Nothing reaches the device before Flush(). Flush writes pages allocated since the last flush
// first, then other changed pages, then the headers (marked "late"), the file header at offset
// 0 last, so that a page is on disk before the pages and headers that point to it.
class CdxPager {
 public:
  CdxPager(std::unique_ptr<CdxBlockDevice> device, bool readOnly);

  // Reads the device size; a file that is not a whole number of pages is damaged.
  Status Open();
  const std::string& name() const { return name_; }
  bool readOnly() const { return readOnly_; }
  bool closed() const { return device_ == nullptr; }

  // Bytes the file has once everything allocated so far is written.
  uint64_t end() const { return end_; }
  // True for the offset of a page that lies inside the file and is not part of the file header.
  bool IsPage(uint32_t offset) const {
    return CdxIsNodeOffset(offset) && uint64_t{offset} + kCdxPageSize <= end_;
  }

  // Copies `pages` consecutive pages starting at `offset`.
  Status Read(uint32_t offset, size_t pages, uint8_t* out);
  // Replaces `pages` consecutive pages in the cache. Late pages are written after all others.
  void Write(uint32_t offset, size_t pages, const uint8_t* data, bool late);

  // A page for a node: the most recently freed page, or a new one at the end of the file.
  Status Allocate(uint32_t* offset);
  // Consecutive pages at the end of the file (tag headers must follow each other in order).
  Status AllocateAtEnd(size_t pages, uint32_t* offset);
  // Puts a page on the free list; its image becomes "next free page" and zeros.
  void Free(uint32_t offset);

  // Reads and checks the free list that starts at `head` (0 or 0xFFFFFFFF: empty).
  Status LoadFreeList(uint32_t head);
  uint32_t FreeListHead() const { return freeStack_.empty() ? 0 : freeStack_.back(); }
  // Free pages, head first.
  std::vector<uint32_t> FreePages() const;

  Status Flush();
  Status Sync();
  // Drops everything unwritten and closes the device; later reads fail with kNotOpen.
  void Close();

  size_t DirtyPageCount() const { return dirty_.size(); }
  void SetCacheCapacity(size_t pages) { capacity_ = pages; }

 private:
  struct Page {
    std::array<uint8_t, kCdxPageSize> bytes;
    bool dirty = false;
    bool late = false;
    bool inLru = false;
    std::list<uint32_t>::iterator lru;
  };

  Page* Find(uint32_t offset);
  Page* Insert(uint32_t offset);
  void Touch(Page* page, uint32_t offset);
  void EvictClean();
  Status WriteGroup(std::vector<uint32_t>& offsets);

  std::unique_ptr<CdxBlockDevice> device_;
  std::string name_;
  bool readOnly_;
  uint64_t deviceSize_ = 0;
  uint64_t end_ = 0;
  std::unordered_map<uint32_t, std::unique_ptr<Page>> pages_;
  std::list<uint32_t> lru_;  // clean pages, most recently used first
  std::unordered_set<uint32_t> dirty_;
  std::unordered_set<uint32_t> fresh_;  // allocated since the last flush
  std::vector<uint32_t> freeStack_;     // back() is the head of the free list
  std::unordered_set<uint32_t> freeSet_;  // the same pages, to ignore a page freed twice
  size_t capacity_ = 1024;
};

}  // namespace xb
