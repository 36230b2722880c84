#include "CdxInteriorNode.h"

#include <cstring>

namespace xb {

void CdxInteriorNode::Reset(size_t key_length) {
  key_length_ = key_length;
  attributes_ = 0;
  left_ = right_ = kCdxNoPage;
  keys_.clear();
  recnos_.clear();
  children_.clear();
}

size_t CdxInteriorNode::LowerBound(const CdxSearchKey& target) const {
  size_t lo = 0, hi = count();
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    if (target.Compare(key(mid), recnos_[mid]) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

void CdxInteriorNode::Insert(size_t pos, const uint8_t* new_key, uint32_t recno, uint32_t child) {
  keys_.insert(keys_.begin() + static_cast<ptrdiff_t>(pos * key_length_), new_key,
               new_key + key_length_);
  recnos_.insert(recnos_.begin() + static_cast<ptrdiff_t>(pos), recno);
  children_.insert(children_.begin() + static_cast<ptrdiff_t>(pos), child);
}

void CdxInteriorNode::SetPair(size_t pos, const uint8_t* new_key, uint32_t recno) {
  std::memmove(keys_.data() + pos * key_length_, new_key, key_length_);
  recnos_[pos] = recno;
}

void CdxInteriorNode::Erase(size_t pos) {
  keys_.erase(keys_.begin() + static_cast<ptrdiff_t>(pos * key_length_),
              keys_.begin() + static_cast<ptrdiff_t>((pos + 1) * key_length_));
  recnos_.erase(recnos_.begin() + static_cast<ptrdiff_t>(pos));
  children_.erase(children_.begin() + static_cast<ptrdiff_t>(pos));
}

void CdxInteriorNode::MoveTailTo(size_t from, CdxInteriorNode* dst) {
  dst->keys_.assign(keys_.begin() + static_cast<ptrdiff_t>(from * key_length_), keys_.end());
  dst->recnos_.assign(recnos_.begin() + static_cast<ptrdiff_t>(from), recnos_.end());
  dst->children_.assign(children_.begin() + static_cast<ptrdiff_t>(from), children_.end());
  keys_.resize(from * key_length_);
  recnos_.resize(from);
  children_.resize(from);
}

Status CdxInteriorNode::DecodeFrom(const uint8_t* page, const CdxWhere& where) {
  Reset(key_length_);
  attributes_ = CdxGetLE16(page);
  if (attributes_ != 0 && attributes_ != kCdxAttrRoot) {
    return where.Corrupt("attribute " + std::to_string(attributes_) + " is not an interior node's");
  }
  const size_t n = CdxGetLE16(page + 2);
  if (n == 0 || n > capacity()) {
    return where.Corrupt("an interior node holds " + std::to_string(n) + " entries (1-" +
                         std::to_string(capacity()) + " possible)");
  }
  left_ = CdxGetLE32(page + 4);
  right_ = CdxGetLE32(page + 8);
  if ((left_ != kCdxNoPage && !CdxIsNodeOffset(left_)) ||
      (right_ != kCdxNoPage && !CdxIsNodeOffset(right_))) {
    return where.Corrupt("a sibling link is not a page offset");
  }
  keys_.resize(n * key_length_);
  recnos_.resize(n);
  children_.resize(n);
  const uint8_t* entry = page + kHeaderBytes;
  for (size_t i = 0; i < n; ++i, entry += key_length_ + 8) {
    std::memcpy(keys_.data() + i * key_length_, entry, key_length_);
    recnos_[i] = CdxGetBE32(entry + key_length_);
    children_[i] = CdxGetBE32(entry + key_length_ + 4);
    if (!CdxIsNodeOffset(children_[i])) {
      return where.Corrupt("child " + std::to_string(i) + " is not a page offset");
    }
  }
  return Status::Ok();
}

bool CdxInteriorNode::EncodeTo(uint8_t* page) const {
  if (count() > capacity()) return false;
  std::memset(page, 0, kCdxPageSize);
  CdxPutLE16(page, attributes_);
  CdxPutLE16(page + 2, static_cast<uint16_t>(count()));
  CdxPutLE32(page + 4, left_);
  CdxPutLE32(page + 8, right_);
  uint8_t* entry = page + kHeaderBytes;
  for (size_t i = 0; i < count(); ++i, entry += key_length_ + 8) {
    std::memcpy(entry, key(i), key_length_);
    CdxPutBE32(entry + key_length_, recnos_[i]);
    CdxPutBE32(entry + key_length_ + 4, children_[i]);
  }
  return true;
}

}  // namespace xb
