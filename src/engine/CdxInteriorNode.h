#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "CdxTypes.h"
#include "CdxWhere.h"
#include "Status.h"

namespace xb {

// An interior page, decoded. Entry i holds the last (key, recno) pair of the subtree under
// child i; the page stores keys in full with big-endian record numbers and child offsets.
class CdxInteriorNode {
 public:
  static constexpr size_t kHeaderBytes = 12;

  CdxInteriorNode() = default;
  explicit CdxInteriorNode(size_t key_length) { Reset(key_length); }
  void Reset(size_t key_length);

  // Entries one page holds for this key length (2 for 240-byte keys, 55 for 1-byte keys).
  static size_t Capacity(size_t key_length) {
    return (kCdxPageSize - kHeaderBytes) / (key_length + 8);
  }
  size_t capacity() const { return Capacity(key_length_); }

  uint16_t attributes() const { return attributes_; }
  void set_attributes(uint16_t a) { attributes_ = a; }
  uint32_t left() const { return left_; }
  uint32_t right() const { return right_; }
  void set_left(uint32_t page) { left_ = page; }
  void set_right(uint32_t page) { right_ = page; }

  size_t key_length() const { return key_length_; }
  size_t count() const { return children_.size(); }
  const uint8_t* key(size_t i) const { return keys_.data() + i * key_length_; }
  uint32_t recno(size_t i) const { return recnos_[i]; }
  uint32_t child(size_t i) const { return children_[i]; }

  // Index of the first entry >= target (count() when there is none).
  size_t LowerBound(const CdxSearchKey& target) const;

  void Insert(size_t pos, const uint8_t* key, uint32_t recno, uint32_t child);
  void SetPair(size_t pos, const uint8_t* key, uint32_t recno);
  void Erase(size_t pos);
  void MoveTailTo(size_t from, CdxInteriorNode* dst);

  // Checks the attribute, the entry count and that every child is a page offset.
  Status DecodeFrom(const uint8_t* page, const CdxWhere& where);
  // False when there are more entries than a page holds.
  bool EncodeTo(uint8_t* page) const;

  size_t MemoryBytes() const { return keys_.capacity() + recnos_.capacity() * 8 + 96; }

 private:
  // A search reads these three and nothing else of the node: first, so they share a cache
  // line (a seek waits on memory more than it computes).
  std::vector<uint8_t> keys_;
  std::vector<uint32_t> children_;
  size_t key_length_ = 0;
  std::vector<uint32_t> recnos_;
  uint16_t attributes_ = 0;
  uint32_t left_ = kCdxNoPage;
  uint32_t right_ = kCdxNoPage;
};

}  // namespace xb
