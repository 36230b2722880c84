#pragma once

// Small value types and byte helpers shared by the compound-index classes (Cdx*).

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "CdxBufferPool.h"

namespace xb {

// Allocates like std::allocator but leaves new elements of a trivial type uninitialised when a
// vector grows: buffers of key pairs are written in full right after they grow, and clearing
// hundreds of megabytes first (on one thread) costs as much as filling them.
template <typename T>
struct CdxUninitAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {  // NOLINT(readability-identifier-naming): the name allocators must have
    using other = CdxUninitAllocator<U>;  // NOLINT(readability-identifier-naming)
  };
  CdxUninitAllocator() = default;
  template <typename U>
  CdxUninitAllocator(const CdxUninitAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }

  // Buffers of a whole table's keys come from the pool of large blocks (see CdxBufferPool).
  T* allocate(size_t n) {
    const size_t bytes = n * sizeof(T);
    if (bytes < CdxBufferPool::kLargeBytes) return std::allocator<T>::allocate(n);
    return static_cast<T*>(CdxBufferPool::Take(bytes));
  }
  void deallocate(T* p, size_t n) {
    if (n * sizeof(T) < CdxBufferPool::kLargeBytes) {
      std::allocator<T>::deallocate(p, n);
      return;
    }
    CdxBufferPool::Give(p);
  }
};

// (key, big-endian record number) pairs back to back, as the bulk builder sorts them.
using CdxPairBuffer = std::vector<uint8_t, CdxUninitAllocator<uint8_t>>;

inline constexpr uint32_t kCdxPageSize = 512;
inline constexpr uint32_t kCdxHeaderSize = 1024;   // every header takes two pages
inline constexpr uint32_t kCdxNoPage = 0xFFFFFFFFu;  // "no neighbour" in sibling links
inline constexpr size_t kCdxMaxKeyLength = 240;
inline constexpr size_t kCdxTagNameLength = 10;  // key length of the tag list
// Deeper than any tree a 4 GiB file can hold, even with two 240-byte keys per interior page
// and nodes not all full; anything deeper is a cycle in the child links.
inline constexpr size_t kCdxMaxDepth = 64;

// Index option bits (header byte 14).
inline constexpr uint8_t kCdxOptUnique = 0x01;
inline constexpr uint8_t kCdxOptFor = 0x08;
inline constexpr uint8_t kCdxOptCompact = 0x20;
inline constexpr uint8_t kCdxOptCompound = 0x40;
inline constexpr uint8_t kCdxOptTagList = 0x80;

// Node attribute bits (first word of every node page).
inline constexpr uint16_t kCdxAttrRoot = 0x01;
inline constexpr uint16_t kCdxAttrLeaf = 0x02;

// What a caller gives to build a new tag.
struct CdxTagSpec {
  std::string name;           // 1-10 letters, digits or '_', starting with a letter
  std::string key_expression;  // stored as given; the engine above compiles it
  std::string for_expression;  // empty when the tag has no FOR condition
  size_t key_length = 0;       // 1-240
  bool descending = false;    // keys are still stored ascending; only the flag differs
  bool unique = false;        // keep only the lowest record number of each key
  uint8_t key_fill = 0x20;     // 0x20 for character/logical keys, 0x00 for numeric/date
};

// What the file tells about one of its tags.
struct CdxTagInfo {
  std::string name;  // upper case, without padding
  std::string key_expression;
  std::string for_expression;
  size_t key_length = 0;
  uint8_t options = 0;
  bool descending = false;
  bool unique = false;
  bool unknown_collation = false;  // reserved header bytes set by another tool: read-only here
  uint32_t header_offset = 0;
  size_t order = 0;  // 1..n in the order of the header offsets
};

// Where a seek landed.
enum class CdxSeekResult {
  kExact,    // the full key is equal
  kPrefix,   // the given (shorter) bytes are a prefix of the key found
  kGreater,  // positioned on the first greater key
  kEnd,      // no key is >= the given bytes; the cursor is not positioned
};

// Moves n bytes (N <= n <= 2N) as its first and last N bytes, both loaded before either is
// stored, so the ranges may overlap.
template <size_t N>
[[gnu::always_inline]] inline void CdxMoveEnds(uint8_t* dst, const uint8_t* src, size_t n) {
  uint8_t head[N], tail[N];
  std::memcpy(head, src, N);
  std::memcpy(tail, src + n - N, N);
  std::memcpy(dst, head, N);
  std::memcpy(dst + n - N, tail, N);
}

// Copies n bytes that may overlap (as memmove). Leaf pages are built from many pieces of a
// few bytes each, where a library call per piece costs more than the copy: up to 64 bytes
// are moved inline without touching a byte outside either range.
[[gnu::always_inline]] inline void CdxMoveSmall(uint8_t* dst, const uint8_t* src, size_t n) {
  if (n > 64) {
    std::memmove(dst, src, n);
  } else if (n > 32) {
    CdxMoveEnds<32>(dst, src, n);
  } else if (n >= 16) {
    CdxMoveEnds<16>(dst, src, n);
  } else if (n >= 8) {
    CdxMoveEnds<8>(dst, src, n);
  } else if (n >= 4) {
    CdxMoveEnds<4>(dst, src, n);
  } else {
    uint8_t bytes[3];
    for (size_t i = 0; i < n; ++i) bytes[i] = src[i];
    for (size_t i = 0; i < n; ++i) dst[i] = bytes[i];
  }
}

// Sign of a - b over n bytes compared as unsigned bytes. Eight bytes at a time: searches make
// millions of short compares, where a library call per compare costs more than the compare.
inline int CdxCompareBytes(const uint8_t* a, const uint8_t* b, size_t n) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) {
      if constexpr (std::endian::native == std::endian::little) {
        x = __builtin_bswap64(x);
        y = __builtin_bswap64(y);
      }
      return x < y ? -1 : 1;
    }
  }
  for (; i < n; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

// The position a search in a node looks for: the first entry that is >= the target.
struct CdxSearchKey {
  enum Mode { kPrefix, kPair, kFirst, kLast };
  Mode mode = kFirst;
  const uint8_t* key = nullptr;
  size_t length = 0;  // bytes of `key` compared (kPrefix); the full key length for kPair
  uint32_t recno = 0;

  // Sign of (entry - target).
  int Compare(const uint8_t* entry_key, uint32_t entry_recno) const {
    switch (mode) {
      case kFirst: return 1;
      case kLast: return -1;
      case kPrefix: return CdxCompareBytes(entry_key, key, length);
      case kPair: break;
    }
    int c = CdxCompareBytes(entry_key, key, length);
    if (c != 0) return c;
    return entry_recno < recno ? -1 : (entry_recno > recno ? 1 : 0);
  }
};

inline uint16_t CdxGetLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t CdxGetLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint32_t CdxGetBE32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline void CdxPutLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void CdxPutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void CdxPutBE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// Sign of (a,ra) - (b,rb): keys as unsigned bytes, ties by record number.
inline int CdxComparePairs(const uint8_t* a, uint32_t ra, const uint8_t* b, uint32_t rb,
                           size_t key_length) {
  int c = CdxCompareBytes(a, b, key_length);
  if (c != 0) return c;
  return ra < rb ? -1 : (ra > rb ? 1 : 0);
}

// A sibling link is either "none" or the offset of a node page (never one of the first two
// pages, which hold the tag-list header).
inline bool CdxIsNodeOffset(uint32_t offset) {
  return offset % kCdxPageSize == 0 && offset >= kCdxHeaderSize && offset != kCdxNoPage;
}

}  // namespace xb
