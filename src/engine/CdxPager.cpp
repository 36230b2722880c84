#include "CdxPager.h"

#include <algorithm>
#include <cstring>

#include "CdxWhere.h"

namespace xb {

// Offsets are 32-bit in the file, so the file cannot grow past the last addressable page.
static constexpr uint64_t kMaxFileSize = uint64_t{0xFFFFFE00};
// Adjacent dirty pages are written together, up to this many bytes per write.
static constexpr size_t kMaxRunBytes = 256 * 1024;

CdxPager::CdxPager(std::unique_ptr<CdxBlockDevice> device, bool readOnly)
    : device_(std::move(device)), name_(device_->name()), readOnly_(readOnly) {}

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
  deviceSize_ = end_ = size;
  return Status::Ok();
}

CdxPager::Page* CdxPager::Find(uint32_t offset) {
  auto it = pages_.find(offset);
  return it == pages_.end() ? nullptr : it->second.get();
}

CdxPager::Page* CdxPager::Insert(uint32_t offset) {
  auto& slot = pages_[offset];
  if (!slot) slot = std::make_unique<Page>();
  return slot.get();
}

void CdxPager::Touch(Page* page, uint32_t offset) {
  if (page->dirty) return;
  if (page->inLru) lru_.erase(page->lru);
  lru_.push_front(offset);
  page->lru = lru_.begin();
  page->inLru = true;
}

void CdxPager::EvictClean() {
  while (lru_.size() > capacity_) {
    uint32_t victim = lru_.back();
    lru_.pop_back();
    pages_.erase(victim);
  }
}

Status CdxPager::Read(uint32_t offset, size_t pages, uint8_t* out) {
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
      Touch(page, at);
      continue;
    }
    if (at + uint64_t{kCdxPageSize} > deviceSize_) {
      // Allocated but never written: only possible after an earlier failure.
      std::memset(dst, 0, kCdxPageSize);
      continue;
    }
    Status s = device_->ReadAt(at, dst, kCdxPageSize);
    if (!s.ok()) return s;
    Page* page = Insert(at);
    std::memcpy(page->bytes.data(), dst, kCdxPageSize);
    Touch(page, at);
  }
  EvictClean();
  return Status::Ok();
}

void CdxPager::Write(uint32_t offset, size_t pages, const uint8_t* data, bool late) {
  for (size_t i = 0; i < pages; ++i) {
    uint32_t at = offset + static_cast<uint32_t>(i * kCdxPageSize);
    Page* page = Insert(at);
    if (page->inLru) {
      lru_.erase(page->lru);
      page->inLru = false;
    }
    std::memcpy(page->bytes.data(), data + i * kCdxPageSize, kCdxPageSize);
    page->dirty = true;
    page->late = late;
    dirty_.insert(at);
  }
}

Status CdxPager::AllocateAtEnd(size_t pages, uint32_t* offset) {
  if (end_ + pages * kCdxPageSize > kMaxFileSize) {
    return Status::DiskFull(name() + ": the index would grow beyond 4 GiB");
  }
  *offset = static_cast<uint32_t>(end_);
  for (size_t i = 0; i < pages; ++i) fresh_.insert(static_cast<uint32_t>(end_ + i * kCdxPageSize));
  end_ += pages * kCdxPageSize;
  return Status::Ok();
}

Status CdxPager::Allocate(uint32_t* offset) {
  if (freeStack_.empty()) return AllocateAtEnd(1, offset);
  *offset = freeStack_.back();
  freeStack_.pop_back();
  freeSet_.erase(*offset);
  fresh_.insert(*offset);
  return Status::Ok();
}

void CdxPager::Free(uint32_t offset) {
  // A damaged tree can name one page twice; listing it twice would hand it out twice.
  if (!freeSet_.insert(offset).second) return;
  uint8_t image[kCdxPageSize] = {};
  CdxPutLE32(image, FreeListHead());
  Write(offset, 1, image, false);
  freeStack_.push_back(offset);
}

Status CdxPager::LoadFreeList(uint32_t head) {
  freeStack_.clear();
  freeSet_.clear();
  std::vector<uint32_t> chain;
  std::unordered_set<uint32_t> seen;
  const std::string noTag;
  uint32_t at = head;
  while (at != 0 && at != kCdxNoPage) {
    CdxWhere where(name(), noTag, at, "free page");
    if (!IsPage(at)) return where.Corrupt("the free-page list points outside the file");
    if (!seen.insert(at).second) return where.Corrupt("the free-page list runs in a circle");
    uint8_t page[kCdxPageSize];
    Status s = Read(at, 1, page);
    if (!s.ok()) return s;
    chain.push_back(at);
    at = CdxGetLE32(page);
  }
  freeStack_.assign(chain.rbegin(), chain.rend());
  freeSet_ = std::move(seen);
  return Status::Ok();
}

std::vector<uint32_t> CdxPager::FreePages() const {
  return std::vector<uint32_t>(freeStack_.rbegin(), freeStack_.rend());
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
      dirty_.erase(offsets[k]);
      fresh_.erase(offsets[k]);
      Touch(page, offsets[k]);
    }
    deviceSize_ = std::max<uint64_t>(deviceSize_, uint64_t{offsets[j - 1]} + kCdxPageSize);
    i = j;
  }
  return Status::Ok();
}

Status CdxPager::Flush() {
  if (closed()) return Status::NotOpen(name_ + ": the index file is closed");
  if (dirty_.empty()) return Status::Ok();
  if (readOnly_) return Status::ReadOnly(name() + ": the index was opened read-only");
  std::vector<uint32_t> fresh, changed, late;
  for (uint32_t at : dirty_) {
    Page* page = Find(at);
    if (page->late) {
      late.push_back(at);
    } else if (fresh_.count(at) != 0) {
      fresh.push_back(at);
    } else {
      changed.push_back(at);
    }
  }
  std::sort(fresh.begin(), fresh.end());
  std::sort(changed.begin(), changed.end());
  // Tag headers first, the file header (free list head, tag list root) last.
  std::sort(late.begin(), late.end(), [](uint32_t a, uint32_t b) {
    bool aFirst = a >= kCdxHeaderSize, bFirst = b >= kCdxHeaderSize;
    if (aFirst != bFirst) return aFirst;
    return a < b;
  });
  for (auto* group : {&fresh, &changed, &late}) {
    Status s = WriteGroup(*group);
    if (!s.ok()) return s;
  }
  fresh_.clear();
  EvictClean();
  return Status::Ok();
}

Status CdxPager::Sync() {
  if (closed()) return Status::NotOpen(name_ + ": the index file is closed");
  return device_->Sync();
}

void CdxPager::Close() {
  device_.reset();
  pages_.clear();
  lru_.clear();
  dirty_.clear();
  fresh_.clear();
}

}  // namespace xb
