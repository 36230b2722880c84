#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "CdxTypes.h"
#include "CdxWhere.h"
#include "Status.h"

namespace xb {

// A leaf page, decoded: full keys and record numbers in (key, recno) order.
//
// On the page each entry is packed into nb bytes (record number, duplicate count, trailing
// count) and only the bytes between the shared prefix and the trailing fill are stored, from
// the end of the page downwards. The node keeps the encoded size up to date as entries come and
// go, so callers can test "does it still fit" without encoding.
class CdxLeafNode {
 public:
  static constexpr size_t kHeaderBytes = 24;

  CdxLeafNode() = default;
  CdxLeafNode(size_t key_length, uint8_t fill) { Reset(key_length, fill); }
  // Empties the node for keys of this length and fill byte; the links become "none".
  void Reset(size_t key_length, uint8_t fill);

  uint16_t attributes() const { return attributes_; }
  void set_attributes(uint16_t a) { attributes_ = a; }
  uint32_t left() const { return left_; }
  uint32_t right() const { return right_; }
  void set_left(uint32_t page) { left_ = page; }
  void set_right(uint32_t page) { right_ = page; }

  size_t key_length() const { return key_length_; }
  size_t count() const { return recnos_.size(); }
  const uint8_t* key(size_t i) const { return keys_.data() + i * key_length_; }
  uint32_t recno(size_t i) const { return recnos_[i]; }
  uint32_t max_recno() const { return max_recno_; }

  // Index of the first entry >= target (count() when there is none).
  size_t LowerBound(const CdxSearchKey& target) const;

  void Insert(size_t pos, const uint8_t* key, uint32_t recno);
  void Erase(size_t pos);
  // Appends at the end if the page can still hold the entry (bulk build).
  bool TryAppend(const uint8_t* key, uint32_t recno);
  // Merges `count` pairs laid out as key then big-endian record number (keyLength + 4 bytes
  // each), sorted and distinct, into the entries in one pass. Pairs already present are left
  // out; the number left out is returned.
  size_t MergeSorted(const uint8_t* pairs, size_t count);
  // Moves entries [from, count) into the empty node `dst`.
  void MoveTailTo(size_t from, CdxLeafNode* dst);

  // Bytes per packed entry the encoder will use: the smallest count of at least 3 whose
  // record-number bits hold the largest record number of the node.
  size_t EntryBytes() const { return entry_bytes_; }
  size_t EncodedSize() const { return kHeaderBytes + count() * EntryBytes() + data_bytes_; }
  bool Fits() const { return EncodedSize() <= kCdxPageSize; }

  // Key bytes entry i stores after entry i-1 (for planning splits).
  size_t StoredBytes(size_t i) const;
  // Key bytes entry i would store as the first entry of a page.
  size_t FirstEntryBytes(size_t i) const { return key_length_ - trails_[i]; }

  static size_t EntryBytesFor(uint32_t max_recno, size_t key_length);
  // Bits of the duplicate and trailing counts: enough to write the key length.
  static unsigned CountBits(size_t key_length);

  // One entry as the page stores it: the key's first `dup` bytes come from the previous key,
  // its last `trail` bytes are fill.
  struct Packed {
    const uint8_t* key;
    uint32_t recno;
    uint8_t dup;
    uint8_t trail;
  };
  // The most entries a page can hold (each takes at least 3 bytes).
  static constexpr size_t kMaxEntries = (kCdxPageSize - kHeaderBytes) / 3;
  // Trailing fill bytes of a key, and the prefix two keys share (at most `limit` bytes).
  // Both run for every pair a bulk build packs, so they are inline. A word at a time; in the
  // first word that differs, its zero bits (after XOR) tell where, where a byte loop would
  // mispredict its exit nearly every time.
  static size_t TrailOf(const uint8_t* key, size_t key_length, uint8_t fill) {
    const uint64_t fill8 = 0x0101010101010101ull * fill;
    size_t trail = 0;
    while (trail + 8 <= key_length) {
      uint64_t v;
      std::memcpy(&v, key + key_length - trail - 8, 8);
      const uint64_t x = v ^ fill8;
      if (x != 0) {
        // The key's last byte is the word's highest byte on a little-endian machine.
        if constexpr (std::endian::native == std::endian::little) {
          return trail + static_cast<size_t>(__builtin_clzll(x)) / 8;
        } else {
          return trail + static_cast<size_t>(__builtin_ctzll(x)) / 8;
        }
      }
      trail += 8;
    }
    while (trail < key_length && key[key_length - 1 - trail] == fill) ++trail;
    return trail;
  }
  static size_t SharedPrefix(const uint8_t* a, const uint8_t* b, size_t limit) {
    size_t dup = 0;
    while (dup + 8 <= limit) {
      uint64_t x, y;
      std::memcpy(&x, a + dup, 8);
      std::memcpy(&y, b + dup, 8);
      if (x != y) {
        // The first byte in memory is the word's lowest byte on a little-endian machine.
        if constexpr (std::endian::native == std::endian::little) {
          return dup + static_cast<size_t>(__builtin_ctzll(x ^ y)) / 8;
        } else {
          return dup + static_cast<size_t>(__builtin_clzll(x ^ y)) / 8;
        }
      }
      dup += 8;
    }
    while (dup < limit && a[dup] == b[dup]) ++dup;
    return dup;
  }
  // Writes a full page from entries already packed (the bulk builder fills pages this way
  // without building a node); `nb` is EntryBytesFor the entries' largest record number.
  static void EncodePacked(uint8_t* page, uint16_t attributes, uint32_t left, uint32_t right,
                           size_t key_length, size_t nb, const Packed* entries, size_t count);

  // Checks the attribute, layout bytes, masks, entry counts and the free-space word before and
  // while reading; nothing is read outside the page.
  Status DecodeFrom(const uint8_t* page, const CdxWhere& where);
  // The most key bytes an entry of an encoded leaf holds before its trailing fill, read from
  // the entry words alone, without rebuilding a key. A trailing count written shorter than
  // the real one (other tools may) only makes the answer larger. False when the layout is not
  // a leaf's; the page is then left to DecodeFrom to report.
  static bool UsedKeyBytes(const uint8_t* page, size_t key_length, size_t* used);
  // Writes a full page; false (and nothing useful written) when the entries do not fit.
  bool EncodeTo(uint8_t* page) const;

  // Rough heap use, for the decoded-node cache.
  size_t MemoryBytes() const {
    return keys_.capacity() + recnos_.capacity() * 4 + trails_.capacity() + 96;
  }

 private:
  size_t TrailOf(const uint8_t* key) const;
  size_t StoredLength(const uint8_t* prev, const uint8_t* cur, size_t trail) const;
  void Recompute();
  void SetMaxRecno(uint32_t max_recno) {
    max_recno_ = max_recno;
    entry_bytes_ = EntryBytesFor(max_recno, key_length_);
  }

  // A search reads these three and nothing else of the node: first, so they share a cache
  // line (a seek waits on memory more than it computes).
  std::vector<uint8_t> keys_;  // count * keyLength bytes
  std::vector<uint32_t> recnos_;
  size_t key_length_ = 0;
  uint8_t fill_ = 0x20;
  uint16_t attributes_ = kCdxAttrLeaf;
  uint32_t left_ = kCdxNoPage;
  uint32_t right_ = kCdxNoPage;
  std::vector<uint8_t> trails_;  // trailing fill bytes of each key
  size_t data_bytes_ = 0;         // stored key bytes of all entries
  uint32_t max_recno_ = 0;
  size_t entry_bytes_ = 3;  // EntryBytesFor(maxRecno_), kept up to date
};

}  // namespace xb
