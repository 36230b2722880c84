#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <vector>

namespace xb {

// Memory for buffers of a whole table's keys (tens to hundreds of megabytes), taken straight
// from the system in huge pages where it offers them.
//
// A tag build needs two such buffers at once (the pairs and the sort's second half), and the
// next tag built a moment later needs two again. Fresh memory costs the kernel a cleared page
// per touch, which for five tags of a million records was a fifth of the build time; so
// buffers given back are kept for the next taker, grown in place when it asks for more, and
// marked as reclaimable (MADV_FREE) meanwhile: under memory pressure the kernel takes their
// pages back without writing anything, otherwise the next build finds them ready.
class CdxBufferPool {
 public:
  // Requests below this go to the ordinary heap.
  static constexpr size_t kLargeBytes = size_t{4} << 20;

  // At least `bytes` of writable memory, contents undefined; throws std::bad_alloc.
  static void* Take(size_t bytes);
  // Gives back what Take returned.
  static void Give(void* block);
  // Unmaps the blocks kept for reuse (tests, and callers done with big work for a while).
  static void Release();
  // Bytes currently kept for reuse.
  static size_t KeptBytes();
  // Has the kernel supply the pages of [at, at + bytes) that are not there yet, a huge page at a
  // time from the end towards the start, until `stop` is set. Contents are left as they are,
  // so another thread may be writing the same memory meanwhile; it then finds its pages ready.
  static void Prefault(void* at, size_t bytes, const std::atomic<bool>& stop);

 private:
  struct Block {
    void* at;
    size_t bytes;
  };
  static CdxBufferPool& Instance();
  static size_t RoundUp(size_t bytes);
  static void Unmap(const Block& b);

  // At most this many blocks and bytes are kept: enough for two tags built at once.
  static constexpr size_t kKeepBlocks = 8;
  static constexpr size_t kKeepBytes = size_t{512} << 20;
  // Requests below this take a fresh mapping rather than a kept block four times their size.
  static constexpr size_t kSmallTake = size_t{16} << 20;

  std::mutex mutex_;
  std::vector<Block> lent_;
  std::vector<Block> kept_;
};

}  // namespace xb
