#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
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
//
// The tags of one file may change on different threads at once (each tag is used by one thread
// at a time): every call takes the pager's lock.
class CdxPager {
 public:
  CdxPager(std::unique_ptr<CdxBlockDevice> device, bool read_only);

  // Reads the device size; a file that is not a whole number of pages is damaged.
  Status Open();
  const std::string& name() const { return name_; }
  bool read_only() const { return read_only_; }
  bool closed() const { return device_ == nullptr; }

  // Bytes the file has once everything allocated so far is written.
  uint64_t end() const { return end_.load(std::memory_order_relaxed); }
  // True for the offset of a page that lies inside the file and is not part of the file header.
  bool IsPage(uint32_t offset) const {
    return CdxIsNodeOffset(offset) && uint64_t{offset} + kCdxPageSize <= end();
  }

  // Copies `pages` consecutive pages starting at `offset`.
  Status Read(uint32_t offset, size_t pages, uint8_t* out);
  // Replaces `pages` consecutive pages in the cache. Late pages are written after all others.
  void Write(uint32_t offset, size_t pages, const uint8_t* data, bool late);

  // Pages written once, in full, by a bulk build: `pages` pages of `data`, the k-th going to
  // offsets[k]. Pages that lie beyond the file as it stood at the last flush go straight to the
  // device, bypassing the cache: nothing on disk refers to them before a later Flush writes
  // the pages that point to them. Others (reused free pages, cached pages) are cached as by
  // Write.
  Status WriteNew(const uint32_t* offsets, size_t pages, const uint8_t* data);
  // `count` pages for new nodes: free pages first, the rest at the end of the file.
  Status AllocateMany(size_t count, std::vector<uint32_t>* offsets);
  // A page for a node: the most recently freed page, or a new one at the end of the file.
  Status Allocate(uint32_t* offset);
  // Consecutive pages at the end of the file (tag headers must follow each other in order).
  Status AllocateAtEnd(size_t pages, uint32_t* offset);
  // Pages given up by one tree and taken over at once by its replacement: they are treated as
  // newly allocated, without passing through the free list.
  void Reuse(const std::vector<uint32_t>& pages);
  // Puts a page on the free list; its image becomes "next free page" and zeros.
  void Free(uint32_t offset);

  // Copies bytes straight from the file, past every cache: what another program may have
  // written since this one last looked.
  Status ReadFresh(uint32_t offset, size_t n, uint8_t* out);
  // Forgets every cached page (changed ones too), the free list and what was allocated, and
  // takes the file's size afresh: for when another program has changed the file. The caller
  // loads the free list again.
  Status Reload();

  // Reads and checks the free list that starts at `head` (0 or 0xFFFFFFFF: empty).
  Status LoadFreeList(uint32_t head);
  uint32_t FreeListHead() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return HeadLocked();
  }
  // Free pages, head first.
  std::vector<uint32_t> FreePages() const;

  Status Flush();
  Status Sync();
  // Starts the written pages on their way to the disk (CdxBlockDevice::StartWriteback).
  void StartWriteback();
  // Drops everything unwritten and closes the device; later reads fail with kNotOpen.
  void Close();

  size_t DirtyPageCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dirty_count_;
  }
  void SetCacheCapacity(size_t pages) { capacity_ = pages; }

 private:
  struct Page {
    std::array<uint8_t, kCdxPageSize> bytes;
    uint32_t offset = 0;
    bool dirty = false;
    bool late = false;
    bool in_lru = false;
    Page* newer = nullptr;  // neighbours in the list of clean pages
    Page* older = nullptr;
  };

  uint32_t HeadLocked() const { return free_stack_.empty() ? 0 : free_stack_.back(); }
  Status ReadLocked(uint32_t offset, size_t pages, uint8_t* out);
  void WriteLocked(uint32_t offset, size_t pages, const uint8_t* data, bool late);
  Status AllocateAtEndLocked(size_t pages, uint32_t* offset);
  Page* Find(uint32_t offset) {
    const size_t slot = offset / kCdxPageSize;
    return slot < slots_.size() ? slots_[slot].get() : nullptr;
  }
  Page* Insert(uint32_t offset);
  void Touch(Page* page);
  void Unlist(Page* page);
  void EvictClean();
  bool IsFresh(uint32_t offset) const {
    const size_t slot = offset / kCdxPageSize;
    return slot < fresh_slots_.size() && fresh_slots_[slot] != 0;
  }
  void MarkFresh(uint32_t offset);
  Status WriteGroup(std::vector<uint32_t>& offsets);

  std::unique_ptr<CdxBlockDevice> device_;
  std::string name_;
  bool read_only_;
  uint64_t device_size_ = 0;
  // The end of the file at the last flush (or when opened): pages from here on are not yet
  // referred to by anything on disk.
  uint64_t stable_end_ = 0;
  size_t unsent_bytes_ = 0;  // written straight to the device since the last writeback hint
  std::atomic<uint64_t> end_{0};
  mutable std::mutex mutex_;
  // Cached pages by page number (offset / 512): a lookup is an index, not a hash. Pages
  // evicted from the cache are kept for reuse rather than freed.
  std::vector<std::unique_ptr<Page>> slots_;
  std::vector<std::unique_ptr<Page>> spare_;
  Page* newest_ = nullptr;  // clean pages, most recently used first
  Page* oldest_ = nullptr;
  size_t lru_size_ = 0;
  std::vector<uint32_t> dirty_;        // every dirty page once (some may be clean again)
  size_t dirty_count_ = 0;
  std::vector<uint8_t> fresh_slots_;    // allocated since the last flush, by page number
  std::vector<uint32_t> fresh_;        // the same pages, to clear the marks
  std::vector<uint32_t> free_stack_;     // back() is the head of the free list
  std::unordered_set<uint32_t> free_set_;  // the same pages, to ignore a page freed twice
  size_t capacity_ = 1024;
  std::vector<uint8_t> read_buffer_;
  uint32_t next_sequential_ = 0;  // the page after the last one read from the device
};

}  // namespace xb
