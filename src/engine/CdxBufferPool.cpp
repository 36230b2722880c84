#include "CdxBufferPool.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <new>

namespace xb {

namespace {
constexpr size_t kHugePage = size_t{2} << 20;
}

CdxBufferPool& CdxBufferPool::Instance() {
  static CdxBufferPool pool;
  return pool;
}

size_t CdxBufferPool::RoundUp(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

void CdxBufferPool::Unmap(const Block& b) { munmap(b.at, b.bytes); }

void* CdxBufferPool::Take(size_t bytes) {
  const size_t want = RoundUp(std::max<size_t>(bytes, 1));
  CdxBufferPool& pool = Instance();
  std::lock_guard<std::mutex> lock(pool.mutex_);
  // The smallest kept block that is large enough; else the largest, grown to size, so the
  // pages it already has are not cleared again.
  auto& kept = pool.kept_;
  auto best = kept.end();
  for (auto it = kept.begin(); it != kept.end(); ++it) {
    if (it->bytes >= want && (best == kept.end() || it->bytes < best->bytes)) best = it;
  }
  if (best == kept.end()) {
    best = std::max_element(kept.begin(), kept.end(),
                            [](const Block& a, const Block& b) { return a.bytes < b.bytes; });
  } else if (want < kSmallTake && best->bytes > 4 * want) {
    // A small buffer costs little to clear, and a large block spent on it would leave the next
    // large buffer to be cleared in full.
    best = kept.end();
  }
  Block block{nullptr, 0};
  if (best != kept.end()) {
    block = *best;
    kept.erase(best);
    if (block.bytes < want) {
      void* grown = mremap(block.at, block.bytes, want, MREMAP_MAYMOVE);
      if (grown == MAP_FAILED) {
        Unmap(block);
        block = {nullptr, 0};
      } else {
        block = {grown, want};
      }
    }
  }
  if (block.at == nullptr) {
    void* p = mmap(nullptr, want, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    block = {p, want};
  }
#ifdef MADV_HUGEPAGE
  madvise(block.at, block.bytes, MADV_HUGEPAGE);
#endif
  pool.lent_.push_back(block);
  return block.at;
}

void CdxBufferPool::Give(void* at) {
  if (at == nullptr) return;
  CdxBufferPool& pool = Instance();
  std::lock_guard<std::mutex> lock(pool.mutex_);
  auto it = std::find_if(pool.lent_.begin(), pool.lent_.end(),
                         [at](const Block& b) { return b.at == at; });
  if (it == pool.lent_.end()) return;  // not ours: nothing sensible to do with it
  const Block block = *it;
  pool.lent_.erase(it);
#ifdef MADV_FREE
  madvise(block.at, block.bytes, MADV_FREE);
#endif
  pool.kept_.push_back(block);
  // Over the limits, the smallest blocks go first: the large ones save the most clearing.
  auto total = [&pool] {
    size_t sum = 0;
    for (const Block& b : pool.kept_) sum += b.bytes;
    return sum;
  };
  std::sort(pool.kept_.begin(), pool.kept_.end(),
            [](const Block& a, const Block& b) { return a.bytes > b.bytes; });
  while (!pool.kept_.empty() && (pool.kept_.size() > kKeepBlocks || total() > kKeepBytes)) {
    Unmap(pool.kept_.back());
    pool.kept_.pop_back();
  }
}

void CdxBufferPool::Prefault(void* at, size_t bytes, const std::atomic<bool>& stop) {
#ifdef MADV_POPULATE_WRITE
  const uintptr_t start = reinterpret_cast<uintptr_t>(at);
  uintptr_t end = start + bytes;
  while (end > start && !stop.load(std::memory_order_relaxed)) {
    const uintptr_t from = std::max(start, (end - 1) / kHugePage * kHugePage);
    // A kernel without the call says so at once; there is nothing else to try.
    if (madvise(reinterpret_cast<void*>(from), end - from, MADV_POPULATE_WRITE) != 0) return;
    end = from;
  }
#else
  (void)at;
  (void)bytes;
  (void)stop;
#endif
}

void CdxBufferPool::Release() {
  CdxBufferPool& pool = Instance();
  std::lock_guard<std::mutex> lock(pool.mutex_);
  for (const Block& b : pool.kept_) Unmap(b);
  pool.kept_.clear();
}

size_t CdxBufferPool::KeptBytes() {
  CdxBufferPool& pool = Instance();
  std::lock_guard<std::mutex> lock(pool.mutex_);
  size_t sum = 0;
  for (const Block& b : pool.kept_) sum += b.bytes;
  return sum;
}

}  // namespace xb
