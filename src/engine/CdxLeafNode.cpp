#include "CdxLeafNode.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace xb {

namespace {

constexpr size_t kMinEntryBytes = 3;
constexpr size_t kMaxEntryBytes = 8;

uint32_t MaskOf(unsigned bits) {
  return bits >= 32 ? 0xFFFFFFFFu : ((uint32_t{1} << bits) - 1);
}

unsigned RecnoBits(size_t entry_bytes, unsigned count_bits) {
  return static_cast<unsigned>(std::min<size_t>(32, 8 * entry_bytes - 2 * count_bits));
}

// Decoding copies many short, odd-sized pieces; a library call or a string instruction per
// piece costs more than the piece. These move whole 16-byte chunks and so may write up to 15
// bytes past `n`, and read as far past `src`: callers leave that much room on both sides.
constexpr size_t kChunk = 16;

// memmove: a key's prefix is copied from the key just before it, and with keys shorter than a
// chunk the two ranges overlap.
inline void CopyChunks(uint8_t* dst, const uint8_t* src, size_t n) {
  for (size_t i = 0; i < n; i += kChunk) std::memmove(dst + i, src + i, kChunk);
}

inline void FillChunks(uint8_t* dst, const uint8_t* fill16, size_t n) {
  for (size_t i = 0; i < n; i += kChunk) std::memcpy(dst + i, fill16, kChunk);
}

}  // namespace

void CdxLeafNode::Reset(size_t key_length, uint8_t fill) {
  key_length_ = key_length;
  fill_ = fill;
  attributes_ = kCdxAttrLeaf;
  left_ = right_ = kCdxNoPage;
  keys_.clear();
  recnos_.clear();
  trails_.clear();
  data_bytes_ = 0;
  SetMaxRecno(0);
}

unsigned CdxLeafNode::CountBits(size_t key_length) {
  return static_cast<unsigned>(std::bit_width(key_length));
}

size_t CdxLeafNode::EntryBytesFor(uint32_t max_recno, size_t key_length) {
  const unsigned count_bits = CountBits(key_length);
  for (size_t nb = kMinEntryBytes; nb < kMaxEntryBytes; ++nb) {
    if (max_recno <= MaskOf(RecnoBits(nb, count_bits))) return nb;
  }
  return kMaxEntryBytes;
}

size_t CdxLeafNode::TrailOf(const uint8_t* key) const { return TrailOf(key, key_length_, fill_); }

// The duplicate count is the prefix shared with the previous key, but never reaches into the
// trailing fill, which is counted in full.
size_t CdxLeafNode::StoredLength(const uint8_t* prev, const uint8_t* cur, size_t trail) const {
  const size_t limit = key_length_ - trail;
  return limit - (prev != nullptr ? SharedPrefix(prev, cur, limit) : 0);
}

size_t CdxLeafNode::StoredBytes(size_t i) const {
  return StoredLength(i == 0 ? nullptr : key(i - 1), key(i), trails_[i]);
}

size_t CdxLeafNode::LowerBound(const CdxSearchKey& target) const {
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

void CdxLeafNode::Insert(size_t pos, const uint8_t* new_key, uint32_t recno) {
  const size_t trail = TrailOf(new_key);
  const uint8_t* prev = pos == 0 ? nullptr : key(pos - 1);
  size_t before = 0, after = StoredLength(prev, new_key, trail);
  if (pos < count()) {
    before = StoredLength(prev, key(pos), trails_[pos]);
    after += StoredLength(new_key, key(pos), trails_[pos]);
  }
  data_bytes_ = data_bytes_ + after - before;
  keys_.insert(keys_.begin() + static_cast<ptrdiff_t>(pos * key_length_), new_key,
               new_key + key_length_);
  recnos_.insert(recnos_.begin() + static_cast<ptrdiff_t>(pos), recno);
  trails_.insert(trails_.begin() + static_cast<ptrdiff_t>(pos), static_cast<uint8_t>(trail));
  if (recno > max_recno_) SetMaxRecno(recno);
}

void CdxLeafNode::Erase(size_t pos) {
  const uint8_t* prev = pos == 0 ? nullptr : key(pos - 1);
  size_t before = StoredLength(prev, key(pos), trails_[pos]), after = 0;
  if (pos + 1 < count()) {
    before += StoredLength(key(pos), key(pos + 1), trails_[pos + 1]);
    after = StoredLength(prev, key(pos + 1), trails_[pos + 1]);
  }
  data_bytes_ = data_bytes_ + after - before;
  const uint32_t gone = recnos_[pos];
  keys_.erase(keys_.begin() + static_cast<ptrdiff_t>(pos * key_length_),
              keys_.begin() + static_cast<ptrdiff_t>((pos + 1) * key_length_));
  recnos_.erase(recnos_.begin() + static_cast<ptrdiff_t>(pos));
  trails_.erase(trails_.begin() + static_cast<ptrdiff_t>(pos));
  if (gone == max_recno_) {
    SetMaxRecno(recnos_.empty() ? 0 : *std::max_element(recnos_.begin(), recnos_.end()));
  }
}

bool CdxLeafNode::TryAppend(const uint8_t* new_key, uint32_t recno) {
  const size_t trail = TrailOf(new_key);
  const size_t stored = StoredLength(count() == 0 ? nullptr : key(count() - 1), new_key, trail);
  const size_t entry_bytes = recno > max_recno_ ? EntryBytesFor(recno, key_length_) : entry_bytes_;
  const size_t size = kHeaderBytes + (count() + 1) * entry_bytes + data_bytes_ + stored;
  if (size > kCdxPageSize) return false;
  const size_t at = keys_.size();
  keys_.resize(at + key_length_);
  std::memcpy(keys_.data() + at, new_key, key_length_);
  recnos_.push_back(recno);
  trails_.push_back(static_cast<uint8_t>(trail));
  data_bytes_ += stored;
  if (recno > max_recno_) SetMaxRecno(recno);
  return true;
}

size_t CdxLeafNode::MergeSorted(const uint8_t* pairs, size_t count) {
  // The merged entries are built in scratch vectors that then change places with the node's:
  // a batch touching thousands of leaves reuses the same few buffers.
  thread_local std::vector<uint8_t> keys, trails;
  thread_local std::vector<uint32_t> recnos;
  const size_t size = key_length_ + 4;
  const size_t n = this->count();
  keys.clear();
  recnos.clear();
  trails.clear();
  keys.reserve((n + count) * key_length_);
  recnos.reserve(n + count);
  trails.reserve(n + count);
  size_t skipped = 0, data_bytes = 0;
  uint32_t max_recno = 0;
  auto take = [&](const uint8_t* k, uint32_t r, uint8_t trail) {
    data_bytes += StoredLength(keys.empty() ? nullptr : keys.data() + keys.size() - key_length_,
                              k, trail);
    max_recno = std::max(max_recno, r);
    keys.insert(keys.end(), k, k + key_length_);
    recnos.push_back(r);
    trails.push_back(trail);
  };
  size_t a = 0, b = 0;
  while (b < count) {
    const uint8_t* pair = pairs + b * size;
    const uint32_t recno = CdxGetBE32(pair + key_length_);
    const int c = a < n ? CdxComparePairs(key(a), recnos_[a], pair, recno, key_length_) : 1;
    if (c < 0) {
      take(key(a), recnos_[a], trails_[a]);
      ++a;
      continue;
    }
    if (c == 0 || (!recnos.empty() && recnos.back() == recno &&
                   std::memcmp(keys.data() + keys.size() - key_length_, pair, key_length_) == 0)) {
      ++skipped;
    } else {
      take(pair, recno, static_cast<uint8_t>(TrailOf(pair)));
    }
    ++b;
  }
  for (; a < n; ++a) take(key(a), recnos_[a], trails_[a]);
  keys_.swap(keys);
  recnos_.swap(recnos);
  trails_.swap(trails);
  data_bytes_ = data_bytes;
  SetMaxRecno(max_recno);
  return skipped;
}

void CdxLeafNode::Recompute() {
  data_bytes_ = 0;
  for (size_t i = 0; i < count(); ++i) data_bytes_ += StoredBytes(i);
  SetMaxRecno(recnos_.empty() ? 0 : *std::max_element(recnos_.begin(), recnos_.end()));
}

void CdxLeafNode::MoveTailTo(size_t from, CdxLeafNode* dst) {
  // Only the moved entries are measured: the ones that stay keep their stored bytes, and the
  // first moved one stores its whole key in its new page.
  size_t moved = 0;
  for (size_t i = from; i < count(); ++i) moved += StoredBytes(i);
  const size_t moved_first = from < count() ? StoredBytes(from) : 0;
  dst->keys_.assign(keys_.begin() + static_cast<ptrdiff_t>(from * key_length_), keys_.end());
  dst->recnos_.assign(recnos_.begin() + static_cast<ptrdiff_t>(from), recnos_.end());
  dst->trails_.assign(trails_.begin() + static_cast<ptrdiff_t>(from), trails_.end());
  keys_.resize(from * key_length_);
  recnos_.resize(from);
  trails_.resize(from);
  data_bytes_ -= moved;
  SetMaxRecno(recnos_.empty() ? 0 : *std::max_element(recnos_.begin(), recnos_.end()));
  dst->data_bytes_ = dst->recnos_.empty() ? 0 : moved - moved_first + dst->FirstEntryBytes(0);
  const auto& moved_recnos = dst->recnos_;
  dst->SetMaxRecno(moved_recnos.empty()
                       ? 0
                       : *std::max_element(moved_recnos.begin(), moved_recnos.end()));
}

Status CdxLeafNode::DecodeFrom(const uint8_t* page, const CdxWhere& where) {
  const size_t key_length = key_length_;
  const uint8_t fill = fill_;
  Reset(key_length, fill);
  attributes_ = CdxGetLE16(page);
  if (attributes_ != kCdxAttrLeaf && attributes_ != (kCdxAttrLeaf | kCdxAttrRoot)) {
    return where.Corrupt("attribute " + std::to_string(attributes_) + " is not a leaf's");
  }
  const size_t n = CdxGetLE16(page + 2);
  left_ = CdxGetLE32(page + 4);
  right_ = CdxGetLE32(page + 8);
  if ((left_ != kCdxNoPage && !CdxIsNodeOffset(left_)) ||
      (right_ != kCdxNoPage && !CdxIsNodeOffset(right_))) {
    return where.Corrupt("a sibling link is not a page offset");
  }
  const size_t free_word = CdxGetLE16(page + 12);
  const uint32_t recno_mask = CdxGetLE32(page + 14);
  const uint8_t dup_mask = page[18], trail_mask = page[19];
  const unsigned rb = page[20], db = page[21], tb = page[22];
  const size_t nb = page[23];
  if (nb == 0 || nb > kMaxEntryBytes || rb > 32 || db > 8 || tb > 8 || rb + db + tb > 8 * nb) {
    return where.Corrupt("the entry layout (" + std::to_string(nb) + " bytes, " +
                         std::to_string(rb) + "/" + std::to_string(db) + "/" +
                         std::to_string(tb) + " bits) is impossible");
  }
  if (recno_mask != MaskOf(rb) || dup_mask != MaskOf(db) || trail_mask != MaskOf(tb)) {
    return where.Corrupt("the masks do not match the bit counts");
  }
  if (kHeaderBytes + n * nb > kCdxPageSize) {
    return where.Corrupt("the entry count " + std::to_string(n) + " does not fit in a page");
  }
  // The chunked copies below read and write a little past their pieces: the page is copied
  // with room after it, and the keys get room after the last one until the loop is done.
  uint8_t padded[kCdxPageSize + kChunk];
  std::memcpy(padded, page, kCdxPageSize);
  std::memset(padded + kCdxPageSize, 0, kChunk);
  uint8_t fill16[kChunk];
  std::memset(fill16, fill_, kChunk);
  keys_.resize(n * key_length_ + kChunk);
  recnos_.resize(n);
  trails_.resize(n);
  const size_t entries_end = kHeaderBytes + n * nb;
  const uint64_t entry_mask = nb >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * nb)) - 1;
  size_t data_start = kCdxPageSize;
  bool canonical = true;
  size_t canonical_bytes = 0;
  uint32_t max_recno = 0;
  for (size_t i = 0; i < n; ++i) {
    uint64_t v;
    std::memcpy(&v, padded + kHeaderBytes + i * nb, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    v &= entry_mask;
    const uint32_t recno = static_cast<uint32_t>(v & recno_mask);
    const size_t dup = static_cast<size_t>((v >> rb) & dup_mask);
    const size_t trail = static_cast<size_t>((v >> (rb + db)) & trail_mask);
    if (dup + trail > key_length_) {
      Reset(key_length, fill);
      return where.Corrupt("entry " + std::to_string(i) + " has duplicate and trailing counts " +
                           "longer than the key");
    }
    if (i == 0 && dup != 0) {
      Reset(key_length, fill);
      return where.Corrupt("the first entry refers to a previous key");
    }
    const size_t stored = key_length_ - dup - trail;
    if (stored > data_start - entries_end) {
      Reset(key_length, fill);
      return where.Corrupt("the key data runs into the entry array");
    }
    data_start -= stored;
    // In this order each piece overwrites what the previous one spilled: the shared prefix,
    // the stored bytes, the fill. Spills past the key land in the next key's place.
    uint8_t* k = keys_.data() + i * key_length_;
    // The previous key (the first entry copies no prefix: dup is 0 there).
    const uint8_t* prev = i > 0 ? k - key_length_ : k;
    CopyChunks(k, prev, dup);
    CopyChunks(k + dup, padded + data_start, stored);
    FillChunks(k + dup + stored, fill16, trail);
    recnos_[i] = recno;
    // The stored trailing count may be smaller than the real one; keep the real one so the
    // sizes computed later are what the encoder will write.
    size_t real_trail = trail;
    if (trail != key_length_ && k[key_length_ - 1 - trail] == fill_) {
      real_trail = TrailOf(k);
      canonical = false;
    }
    trails_[i] = static_cast<uint8_t>(real_trail);
    // Our own pages share the longest prefix the trailing fill allows; then the stored bytes
    // are what the encoder would store, and need not be measured again.
    if (i > 0 && dup < key_length_ - real_trail && k[dup] == prev[dup]) canonical = false;
    canonical_bytes += stored;
    max_recno = std::max(max_recno, recno);
  }
  keys_.resize(n * key_length_);
  if (free_word != data_start - entries_end) {
    return where.Corrupt("the free-space word says " + std::to_string(free_word) +
                         " but the entries leave " + std::to_string(data_start - entries_end));
  }
  if (canonical) {
    data_bytes_ = canonical_bytes;
    SetMaxRecno(max_recno);
  } else {
    Recompute();
  }
  return Status::Ok();
}

bool CdxLeafNode::UsedKeyBytes(const uint8_t* page, size_t key_length, size_t* used) {
  const size_t n = CdxGetLE16(page + 2);
  const uint8_t trail_mask = page[19];
  const unsigned rb = page[20], db = page[21], tb = page[22];
  const size_t nb = page[23];
  if (nb == 0 || nb > kMaxEntryBytes || rb > 32 || db > 8 || tb > 8 || rb + db + tb > 8 * nb ||
      kHeaderBytes + n * nb > kCdxPageSize) {
    return false;
  }
  size_t most = 0;
  for (size_t i = 0; i < n && most < key_length; ++i) {
    const uint8_t* at = page + kHeaderBytes + i * nb;
    uint64_t v = 0;
    for (size_t b = 0; b < nb; ++b) v |= uint64_t{at[b]} << (8 * b);
    const size_t trail = static_cast<size_t>((v >> (rb + db)) & trail_mask);
    if (trail > key_length) return false;
    most = std::max(most, key_length - trail);
  }
  *used = most;
  return true;
}

bool CdxLeafNode::EncodeTo(uint8_t* page) const {
  if (!Fits()) return false;
  Packed entries[kMaxEntries];
  const size_t n = count();
  for (size_t i = 0; i < n; ++i) {
    const size_t trail = trails_[i];
    const size_t dup = key_length_ - trail - StoredBytes(i);
    entries[i] = Packed{key(i), recnos_[i], static_cast<uint8_t>(dup), static_cast<uint8_t>(trail)};
  }
  EncodePacked(page, attributes_, left_, right_, key_length_, EntryBytes(), entries, n);
  return true;
}

void CdxLeafNode::EncodePacked(uint8_t* page, uint16_t attributes, uint32_t left, uint32_t right,
                               size_t key_length, size_t nb, const Packed* entries, size_t count) {
  std::memset(page, 0, kCdxPageSize);
  const unsigned count_bits = CountBits(key_length);
  const unsigned rb = RecnoBits(nb, count_bits);
  CdxPutLE16(page, attributes);
  CdxPutLE16(page + 2, static_cast<uint16_t>(count));
  CdxPutLE32(page + 4, left);
  CdxPutLE32(page + 8, right);
  CdxPutLE32(page + 14, MaskOf(rb));
  page[18] = page[19] = static_cast<uint8_t>(MaskOf(count_bits));
  page[20] = static_cast<uint8_t>(rb);
  page[21] = page[22] = static_cast<uint8_t>(count_bits);
  page[23] = static_cast<uint8_t>(nb);
  size_t data_start = kCdxPageSize;
  for (size_t i = 0; i < count; ++i) {
    const Packed& e = entries[i];
    const size_t stored = key_length - e.dup - e.trail;
    const uint64_t v = uint64_t{e.recno} | (uint64_t{e.dup} << rb) |
                       (uint64_t{e.trail} << (rb + count_bits));
    for (size_t b = 0; b < nb; ++b) {
      page[kHeaderBytes + i * nb + b] = static_cast<uint8_t>(v >> (8 * b));
    }
    data_start -= stored;
    CdxMoveSmall(page + data_start, e.key + e.dup, stored);
  }
  CdxPutLE16(page + 12, static_cast<uint16_t>(data_start - kHeaderBytes - count * nb));
}

}  // namespace xb
