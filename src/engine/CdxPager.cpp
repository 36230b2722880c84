#include "CdxPager.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "CdxWhere.h"

namespace xb {

// Offsets are 32-bit in the file, so the file cannot grow past the last addressable page.
static constexpr uint64_t kMaxFileSize = uint64_t{0xFFFFFE00};
// Adjacent dirty pages are written together, up to this many bytes per write.
static constexpr size_t kMaxRunBytes = 256 * 1024;
// Pages written straight to the device are started on their way to the disk every so often.
static constexpr size_t kWritebackBytes = size_t{8} << 20;
// Pages read with each page that is not cached.
static constexpr size_t kReadAheadPages = 16;

CdxPager::CdxPager(std::unique_ptr<CdxBlockDevice> device, bool read_only)
    : device_(std::move(device)), name_(device_->name()), read_only_(read_only) {}

Status CdxPager::Open() {
  uint64_t size = 0;
  Status s = device_->Size(&size);
  if (!s.ok()) return s;
  if (size % kCdxPageSize != 0) {
    return Status::Corrupt(name() + ": the size " + std::to_string(size) +
                           " is not a whole number of 512-byte pages; the index needs rebuilding");
  }
  if (size > kMaxFileSize) {
    return Status::Corrupt(name() + ": the file is larger than an index can address");
  }
  device_size_ = end_ = stable_end_ = size;
  return Status::Ok();
}

Status CdxPager::ReadFresh(uint32_t offset, size_t n, uint8_t* out) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed()) return Status::NotOpen(name_ + ": the index file is closed");
  return device_->ReadAt(offset, out, n);
}

Status CdxPager::Reload() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed()) return Status::NotOpen(name_ + ": the index file is closed");
  uint64_t size = 0;
  Status s = device_->Size(&size);
  if (!s.ok()) return s;
  if (size % kCdxPageSize != 0 || size > kMaxFileSize || size < kCdxHeaderSize) {
    return Status::Corrupt(name() + ": another program left the file at " + std::to_string(size) +
                           " bytes, not a whole index; the index needs rebuilding");
  }
  for (auto& slot : slots_) {
    if (slot && spare_.size() < capacity_) spare_.push_back(std::move(slot));
    slot.reset();
  }
  newest_ = oldest_ = nullptr;
  lru_size_ = 0;
  dirty_.clear();
  dirty_count_ = 0;
  std::fill(fresh_slots_.begin(), fresh_slots_.end(), 0);
  fresh_.clear();
  free_stack_.clear();
  free_set_.clear();
  unsent_bytes_ = 0;
  next_sequential_ = 0;
  device_size_ = stable_end_ = size;
  end_ = size;
  return Status::Ok();
}

CdxPager::Page* CdxPager::Insert(uint32_t offset) {
  const size_t slot = offset / kCdxPageSize;
  if (slot >= slots_.size()) slots_.resize(std::max(slot + 1, slots_.size() * 2));
  std::unique_ptr<Page>& p = slots_[slot];
  if (!p) {
    if (spare_.empty()) {
      p = std::make_unique<Page>();
    } else {
      p = std::move(spare_.back());
      spare_.pop_back();
      *p = Page();
    }
    p->offset = offset;
  }
  return p.get();
}

void CdxPager::Unlist(Page* page) {
  if (!page->in_lru) return;
  (page->newer ? page->newer->older : newest_) = page->older;
  (page->older ? page->older->newer : oldest_) = page->newer;
  page->newer = page->older = nullptr;
  page->in_lru = false;
  --lru_size_;
}

void CdxPager::Touch(Page* page) {
  if (page->dirty) return;
  Unlist(page);
  page->older = newest_;
  page->newer = nullptr;
  (newest_ ? newest_->newer : oldest_) = page;
  newest_ = page;
  page->in_lru = true;
  ++lru_size_;
}

void CdxPager::EvictClean() {
  while (lru_size_ > capacity_) {
    Page* victim = oldest_;
    Unlist(victim);
    std::unique_ptr<Page>& slot = slots_[victim->offset / kCdxPageSize];
    if (spare_.size() < capacity_) {
      spare_.push_back(std::move(slot));
    } else {
      slot.reset();
    }
  }
}

void CdxPager::MarkFresh(uint32_t offset) {
  const size_t slot = offset / kCdxPageSize;
  if (slot >= fresh_slots_.size()) fresh_slots_.resize(std::max(slot + 1, fresh_slots_.size() * 2));
  if (fresh_slots_[slot] != 0) return;
  fresh_slots_[slot] = 1;
  fresh_.push_back(offset);
}

Status CdxPager::Read(uint32_t offset, size_t pages, uint8_t* out) {
  std::lock_guard<std::mutex> lock(mutex_);
  return ReadLocked(offset, pages, out);
}

Status CdxPager::ReadLocked(uint32_t offset, size_t pages, uint8_t* out) {
  if (closed()) return Status::NotOpen(name_ + ": the index file is closed");
  if (offset % kCdxPageSize != 0 || uint64_t{offset} + pages * kCdxPageSize > end_) {
    return Status::Corrupt(name() + ": a pointer names offset " + CdxWhere::Hex(offset) +
                           ", outside the file; the index needs rebuilding");
  }
  for (size_t i = 0; i < pages; ++i) {
    uint32_t at = offset + static_cast<uint32_t>(i * kCdxPageSize);
    uint8_t* dst = out + i * kCdxPageSize;
    if (Page* page = Find(at)) {
      std::memcpy(dst, page->bytes.data(), kCdxPageSize);
      Touch(page);
      continue;
    }
    if (at + uint64_t{kCdxPageSize} > device_size_) {
      // Allocated but never written: only possible after an earlier failure.
      std::memset(dst, 0, kCdxPageSize);
      continue;
    }
    if (device_->MappedReads()) {
      // A copy out of memory: caching it would only cost a second copy and an eviction.
      Status s = device_->ReadAt(at, dst, kCdxPageSize);
      if (!s.ok()) return s;
      continue;
    }
    // Neighbouring pages are read along: leaves written by a bulk build lie side by side, and
    // walks and batches of changes visit them in that order. Pages already cached (perhaps
    // changed) are kept as they are.
    // Only when the misses run forward: a random search would pay for pages it never uses.
    const bool sequential = at == next_sequential_;
    const uint64_t room = (device_size_ - at) / kCdxPageSize;
    const size_t run =
        sequential ? static_cast<size_t>(std::min<uint64_t>(kReadAheadPages, room)) : 1;
    next_sequential_ = at + static_cast<uint32_t>(run * kCdxPageSize);
    read_buffer_.resize(run * kCdxPageSize);
    Status s = device_->ReadAt(at, read_buffer_.data(), read_buffer_.size());
    if (!s.ok()) return s;
    std::memcpy(dst, read_buffer_.data(), kCdxPageSize);
    for (size_t k = run; k-- > 0;) {
      const uint32_t each = at + static_cast<uint32_t>(k * kCdxPageSize);
      if (k != 0 && Find(each) != nullptr) continue;
      Page* page = Insert(each);
      std::memcpy(page->bytes.data(), read_buffer_.data() + k * kCdxPageSize, kCdxPageSize);
      Touch(page);
    }
  }
  EvictClean();
  return Status::Ok();
}

void CdxPager::Write(uint32_t offset, size_t pages, const uint8_t* data, bool late) {
  std::lock_guard<std::mutex> lock(mutex_);
  WriteLocked(offset, pages, data, late);
}

void CdxPager::WriteLocked(uint32_t offset, size_t pages, const uint8_t* data, bool late) {
  // Whole pages the file has or has been allocated: writing past end() would leave a page
  // that the file size and the free list know nothing of.
  assert(offset % kCdxPageSize == 0);
  assert(uint64_t{offset} + pages * kCdxPageSize <= end());
  for (size_t i = 0; i < pages; ++i) {
    uint32_t at = offset + static_cast<uint32_t>(i * kCdxPageSize);
    Page* page = Insert(at);
    Unlist(page);
    std::memcpy(page->bytes.data(), data + i * kCdxPageSize, kCdxPageSize);
    if (!page->dirty) {
      page->dirty = true;
      dirty_.push_back(at);
      ++dirty_count_;
    }
    page->late = late;
  }
}

Status CdxPager::WriteNew(const uint32_t* offsets, size_t pages, const uint8_t* data) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed()) return Status::NotOpen(name_ + ": the index file is closed");
  size_t i = 0;
  while (i < pages) {
    const bool direct = offsets[i] >= stable_end_ && Find(offsets[i]) == nullptr;
    if (!direct) {
      WriteLocked(offsets[i], 1, data + i * kCdxPageSize, false);
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < pages && offsets[j] == offsets[j - 1] + kCdxPageSize &&
           Find(offsets[j]) == nullptr) {
      ++j;
    }
    Status s = device_->WriteAt(offsets[i], data + i * kCdxPageSize, (j - i) * kCdxPageSize);
    if (!s.ok()) return s;
    device_size_ = std::max<uint64_t>(device_size_, uint64_t{offsets[j - 1]} + kCdxPageSize);
    // A large build hands its pages to the disk as it goes, so the sync at the end of the
    // build has little left to wait for.
    unsent_bytes_ += (j - i) * kCdxPageSize;
    if (unsent_bytes_ >= kWritebackBytes) {
      device_->StartWriteback();
      unsent_bytes_ = 0;
    }
    i = j;
  }
  return Status::Ok();
}

Status CdxPager::AllocateMany(size_t count, std::vector<uint32_t>* offsets) {
  std::lock_guard<std::mutex> lock(mutex_);
  offsets->clear();
  offsets->reserve(count);
  while (offsets->size() < count && !free_stack_.empty()) {
    const uint32_t at = free_stack_.back();
    free_stack_.pop_back();
    free_set_.erase(at);
    MarkFresh(at);
    offsets->push_back(at);
  }
  const size_t rest = count - offsets->size();
  if (rest == 0) return Status::Ok();
  uint32_t first = 0;
  Status s = AllocateAtEndLocked(rest, &first);
  if (!s.ok()) return s;
  for (size_t k = 0; k < rest; ++k)
    offsets->push_back(first + static_cast<uint32_t>(k * kCdxPageSize));
  return Status::Ok();
}

Status CdxPager::AllocateAtEnd(size_t pages, uint32_t* offset) {
  std::lock_guard<std::mutex> lock(mutex_);
  return AllocateAtEndLocked(pages, offset);
}

Status CdxPager::AllocateAtEndLocked(size_t pages, uint32_t* offset) {
  if (end_ + pages * kCdxPageSize > kMaxFileSize) {
    return Status::DiskFull(name() + ": the index would grow beyond 4 GiB");
  }
  *offset = static_cast<uint32_t>(end_);
  for (size_t i = 0; i < pages; ++i) MarkFresh(static_cast<uint32_t>(end_ + i * kCdxPageSize));
  end_ += pages * kCdxPageSize;
  return Status::Ok();
}

Status CdxPager::Allocate(uint32_t* offset) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (free_stack_.empty()) return AllocateAtEndLocked(1, offset);
  *offset = free_stack_.back();
  free_stack_.pop_back();
  free_set_.erase(*offset);
  MarkFresh(*offset);
  return Status::Ok();
}

void CdxPager::Reuse(const std::vector<uint32_t>& pages) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (uint32_t at : pages) MarkFresh(at);
}

void CdxPager::Free(uint32_t offset) {
  std::lock_guard<std::mutex> lock(mutex_);
  // A damaged tree can name one page twice; listing it twice would hand it out twice.
  if (!free_set_.insert(offset).second) return;
  uint8_t image[kCdxPageSize] = {};
  CdxPutLE32(image, HeadLocked());
  WriteLocked(offset, 1, image, false);
  free_stack_.push_back(offset);
}

Status CdxPager::LoadFreeList(uint32_t head) {
  std::lock_guard<std::mutex> lock(mutex_);
  free_stack_.clear();
  free_set_.clear();
  std::vector<uint32_t> chain;
  std::unordered_set<uint32_t> seen;
  const std::string no_tag;
  uint32_t at = head;
  while (at != 0 && at != kCdxNoPage) {
    CdxWhere where(name(), no_tag, at, "free page");
    if (!IsPage(at)) return where.Corrupt("the free-page list points outside the file");
    if (!seen.insert(at).second) return where.Corrupt("the free-page list runs in a circle");
    uint8_t page[kCdxPageSize];
    Status s = ReadLocked(at, 1, page);
    if (!s.ok()) return s;
    chain.push_back(at);
    at = CdxGetLE32(page);
  }
  free_stack_.assign(chain.rbegin(), chain.rend());
  free_set_ = std::move(seen);
  return Status::Ok();
}

std::vector<uint32_t> CdxPager::FreePages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::vector<uint32_t>(free_stack_.rbegin(), free_stack_.rend());
}

Status CdxPager::WriteGroup(std::vector<uint32_t>& offsets) {
  std::vector<uint8_t> run;
  size_t i = 0;
  while (i < offsets.size()) {
    size_t j = i + 1;
    while (j < offsets.size() && offsets[j] == offsets[j - 1] + kCdxPageSize &&
           (j - i) * kCdxPageSize < kMaxRunBytes) {
      ++j;
    }
    run.resize((j - i) * kCdxPageSize);
    for (size_t k = i; k < j; ++k) {
      std::memcpy(run.data() + (k - i) * kCdxPageSize, Find(offsets[k])->bytes.data(),
                  kCdxPageSize);
    }
    Status s = device_->WriteAt(offsets[i], run.data(), run.size());
    if (!s.ok()) return s;
    for (size_t k = i; k < j; ++k) {
      Page* page = Find(offsets[k]);
      page->dirty = false;
      page->late = false;
      --dirty_count_;
      if (IsFresh(offsets[k])) fresh_slots_[offsets[k] / kCdxPageSize] = 0;  // written: ordinary now
      Touch(page);
    }
    device_size_ = std::max<uint64_t>(device_size_, uint64_t{offsets[j - 1]} + kCdxPageSize);
    i = j;
  }
  return Status::Ok();
}

Status CdxPager::Flush() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed()) return Status::NotOpen(name_ + ": the index file is closed");
  if (dirty_count_ == 0) {
    dirty_.clear();
    return Status::Ok();
  }
  if (read_only_) return Status::ReadOnly(name() + ": the index was opened read-only");
  std::vector<uint32_t> fresh, changed, late;
  for (uint32_t at : dirty_) {
    Page* page = Find(at);
    if (page == nullptr || !page->dirty) continue;
    if (page->late) {
      late.push_back(at);
    } else if (IsFresh(at)) {
      fresh.push_back(at);
    } else {
      changed.push_back(at);
    }
  }
  std::sort(fresh.begin(), fresh.end());
  std::sort(changed.begin(), changed.end());
  // Tag headers first, the file header (free list head, tag list root) last.
  std::sort(late.begin(), late.end(), [](uint32_t a, uint32_t b) {
    bool a_first = a >= kCdxHeaderSize, b_first = b >= kCdxHeaderSize;
    if (a_first != b_first) return a_first;
    return a < b;
  });
  for (auto* group : {&fresh, &changed, &late}) {
    Status s = WriteGroup(*group);
    if (!s.ok()) {
      // Keep the list to the pages still waiting to be written.
      std::erase_if(dirty_, [&](uint32_t at) {
        const Page* page = Find(at);
        return page == nullptr || !page->dirty;
      });
      return s;
    }
  }
  dirty_.clear();
  for (uint32_t at : fresh_) fresh_slots_[at / kCdxPageSize] = 0;
  fresh_.clear();
  stable_end_ = end_;
  EvictClean();
  return Status::Ok();
}

void CdxPager::StartWriteback() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!closed()) device_->StartWriteback();
}

Status CdxPager::Sync() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed()) return Status::NotOpen(name_ + ": the index file is closed");
  return device_->Sync();
}

void CdxPager::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  device_.reset();
  slots_.clear();
  spare_.clear();
  newest_ = oldest_ = nullptr;
  lru_size_ = 0;
  dirty_.clear();
  dirty_count_ = 0;
  fresh_slots_.clear();
  fresh_.clear();
}

}  // namespace xb
