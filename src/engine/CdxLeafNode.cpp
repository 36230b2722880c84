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

unsigned RecnoBits(size_t entryBytes, unsigned countBits) {
  return static_cast<unsigned>(std::min<size_t>(32, 8 * entryBytes - 2 * countBits));
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

void CdxLeafNode::Reset(size_t keyLength, uint8_t fill) {
  keyLength_ = keyLength;
  fill_ = fill;
  attributes_ = kCdxAttrLeaf;
  left_ = right_ = kCdxNoPage;
  keys_.clear();
  recnos_.clear();
  trails_.clear();
  dataBytes_ = 0;
  SetMaxRecno(0);
}

unsigned CdxLeafNode::CountBits(size_t keyLength) {
  return static_cast<unsigned>(std::bit_width(keyLength));
}

size_t CdxLeafNode::EntryBytesFor(uint32_t maxRecno, size_t keyLength) {
  const unsigned countBits = CountBits(keyLength);
  for (size_t nb = kMinEntryBytes; nb < kMaxEntryBytes; ++nb) {
    if (maxRecno <= MaskOf(RecnoBits(nb, countBits))) return nb;
  }
  return kMaxEntryBytes;
}

size_t CdxLeafNode::TrailOf(const uint8_t* key) const { return TrailOf(key, keyLength_, fill_); }

// The duplicate count is the prefix shared with the previous key, but never reaches into the
// trailing fill, which is counted in full.
size_t CdxLeafNode::StoredLength(const uint8_t* prev, const uint8_t* cur, size_t trail) const {
  const size_t limit = keyLength_ - trail;
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

void CdxLeafNode::Insert(size_t pos, const uint8_t* newKey, uint32_t recno) {
  const size_t trail = TrailOf(newKey);
  const uint8_t* prev = pos == 0 ? nullptr : key(pos - 1);
  size_t before = 0, after = StoredLength(prev, newKey, trail);
  if (pos < count()) {
    before = StoredLength(prev, key(pos), trails_[pos]);
    after += StoredLength(newKey, key(pos), trails_[pos]);
  }
  dataBytes_ = dataBytes_ + after - before;
  keys_.insert(keys_.begin() + static_cast<ptrdiff_t>(pos * keyLength_), newKey,
               newKey + keyLength_);
  recnos_.insert(recnos_.begin() + static_cast<ptrdiff_t>(pos), recno);
  trails_.insert(trails_.begin() + static_cast<ptrdiff_t>(pos), static_cast<uint8_t>(trail));
  if (recno > maxRecno_) SetMaxRecno(recno);
}

void CdxLeafNode::Erase(size_t pos) {
  const uint8_t* prev = pos == 0 ? nullptr : key(pos - 1);
  size_t before = StoredLength(prev, key(pos), trails_[pos]), after = 0;
  if (pos + 1 < count()) {
    before += StoredLength(key(pos), key(pos + 1), trails_[pos + 1]);
    after = StoredLength(prev, key(pos + 1), trails_[pos + 1]);
  }
  dataBytes_ = dataBytes_ + after - before;
  const uint32_t gone = recnos_[pos];
  keys_.erase(keys_.begin() + static_cast<ptrdiff_t>(pos * keyLength_),
              keys_.begin() + static_cast<ptrdiff_t>((pos + 1) * keyLength_));
  recnos_.erase(recnos_.begin() + static_cast<ptrdiff_t>(pos));
  trails_.erase(trails_.begin() + static_cast<ptrdiff_t>(pos));
  if (gone == maxRecno_) {
    SetMaxRecno(recnos_.empty() ? 0 : *std::max_element(recnos_.begin(), recnos_.end()));
  }
}

bool CdxLeafNode::TryAppend(const uint8_t* newKey, uint32_t recno) {
  const size_t trail = TrailOf(newKey);
  const size_t stored = StoredLength(count() == 0 ? nullptr : key(count() - 1), newKey, trail);
  const size_t entryBytes = recno > maxRecno_ ? EntryBytesFor(recno, keyLength_) : entryBytes_;
  const size_t size = kHeaderBytes + (count() + 1) * entryBytes + dataBytes_ + stored;
  if (size > kCdxPageSize) return false;
  const size_t at = keys_.size();
  keys_.resize(at + keyLength_);
  std::memcpy(keys_.data() + at, newKey, keyLength_);
  recnos_.push_back(recno);
  trails_.push_back(static_cast<uint8_t>(trail));
  dataBytes_ += stored;
  if (recno > maxRecno_) SetMaxRecno(recno);
  return true;
}

size_t CdxLeafNode::MergeSorted(const uint8_t* pairs, size_t count) {
  // The merged entries are built in scratch vectors that then change places with the node's:
  // a batch touching thousands of leaves reuses the same few buffers.
  thread_local std::vector<uint8_t> keys, trails;
  thread_local std::vector<uint32_t> recnos;
  const size_t size = keyLength_ + 4;
  const size_t n = this->count();
  keys.clear();
  recnos.clear();
  trails.clear();
  keys.reserve((n + count) * keyLength_);
  recnos.reserve(n + count);
  trails.reserve(n + count);
  size_t skipped = 0, dataBytes = 0;
  uint32_t maxRecno = 0;
  auto take = [&](const uint8_t* k, uint32_t r, uint8_t trail) {
    dataBytes += StoredLength(keys.empty() ? nullptr : keys.data() + keys.size() - keyLength_,
                              k, trail);
    maxRecno = std::max(maxRecno, r);
    keys.insert(keys.end(), k, k + keyLength_);
    recnos.push_back(r);
    trails.push_back(trail);
  };
  size_t a = 0, b = 0;
  while (b < count) {
    const uint8_t* pair = pairs + b * size;
    const uint32_t recno = CdxGetBE32(pair + keyLength_);
    const int c = a < n ? CdxComparePairs(key(a), recnos_[a], pair, recno, keyLength_) : 1;
    if (c < 0) {
      take(key(a), recnos_[a], trails_[a]);
      ++a;
      continue;
    }
    if (c == 0 || (!recnos.empty() && recnos.back() == recno &&
                   std::memcmp(keys.data() + keys.size() - keyLength_, pair, keyLength_) == 0)) {
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
  dataBytes_ = dataBytes;
  SetMaxRecno(maxRecno);
  return skipped;
}

void CdxLeafNode::Recompute() {
  dataBytes_ = 0;
  for (size_t i = 0; i < count(); ++i) dataBytes_ += StoredBytes(i);
  SetMaxRecno(recnos_.empty() ? 0 : *std::max_element(recnos_.begin(), recnos_.end()));
}

void CdxLeafNode::MoveTailTo(size_t from, CdxLeafNode* dst) {
  // Only the moved entries are measured: the ones that stay keep their stored bytes, and the
  // first moved one stores its whole key in its new page.
  size_t moved = 0;
  for (size_t i = from; i < count(); ++i) moved += StoredBytes(i);
  const size_t movedFirst = from < count() ? StoredBytes(from) : 0;
  dst->keys_.assign(keys_.begin() + static_cast<ptrdiff_t>(from * keyLength_), keys_.end());
  dst->recnos_.assign(recnos_.begin() + static_cast<ptrdiff_t>(from), recnos_.end());
  dst->trails_.assign(trails_.begin() + static_cast<ptrdiff_t>(from), trails_.end());
  keys_.resize(from * keyLength_);
  recnos_.resize(from);
  trails_.resize(from);
  dataBytes_ -= moved;
  SetMaxRecno(recnos_.empty() ? 0 : *std::max_element(recnos_.begin(), recnos_.end()));
  dst->dataBytes_ = dst->recnos_.empty() ? 0 : moved - movedFirst + dst->FirstEntryBytes(0);
  const auto& moved_recnos = dst->recnos_;
  dst->SetMaxRecno(moved_recnos.empty()
                       ? 0
                       : *std::max_element(moved_recnos.begin(), moved_recnos.end()));
}

Status CdxLeafNode::DecodeFrom(const uint8_t* page, const CdxWhere& where) {
  const size_t keyLength = keyLength_;
  const uint8_t fill = fill_;
  Reset(keyLength, fill);
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
  const size_t freeWord = CdxGetLE16(page + 12);
  const uint32_t recnoMask = CdxGetLE32(page + 14);
  const uint8_t dupMask = page[18], trailMask = page[19];
  const unsigned rb = page[20], db = page[21], tb = page[22];
  const size_t nb = page[23];
  if (nb == 0 || nb > kMaxEntryBytes || rb > 32 || db > 8 || tb > 8 || rb + db + tb > 8 * nb) {
    return where.Corrupt("the entry layout (" + std::to_string(nb) + " bytes, " +
                         std::to_string(rb) + "/" + std::to_string(db) + "/" +
                         std::to_string(tb) + " bits) is impossible");
  }
  if (recnoMask != MaskOf(rb) || dupMask != MaskOf(db) || trailMask != MaskOf(tb)) {
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
  keys_.resize(n * keyLength_ + kChunk);
  recnos_.resize(n);
  trails_.resize(n);
  const size_t entriesEnd = kHeaderBytes + n * nb;
  const uint64_t entryMask = nb >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * nb)) - 1;
  size_t dataStart = kCdxPageSize;
  bool canonical = true;
  size_t canonicalBytes = 0;
  uint32_t maxRecno = 0;
  for (size_t i = 0; i < n; ++i) {
    uint64_t v;
    std::memcpy(&v, padded + kHeaderBytes + i * nb, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    v &= entryMask;
    const uint32_t recno = static_cast<uint32_t>(v & recnoMask);
    const size_t dup = static_cast<size_t>((v >> rb) & dupMask);
    const size_t trail = static_cast<size_t>((v >> (rb + db)) & trailMask);
    if (dup + trail > keyLength_) {
      Reset(keyLength, fill);
      return where.Corrupt("entry " + std::to_string(i) + " has duplicate and trailing counts " +
                           "longer than the key");
    }
    if (i == 0 && dup != 0) {
      Reset(keyLength, fill);
      return where.Corrupt("the first entry refers to a previous key");
    }
    const size_t stored = keyLength_ - dup - trail;
    if (stored > dataStart - entriesEnd) {
      Reset(keyLength, fill);
      return where.Corrupt("the key data runs into the entry array");
    }
    dataStart -= stored;
    // In this order each piece overwrites what the previous one spilled: the shared prefix,
    // the stored bytes, the fill. Spills past the key land in the next key's place.
    uint8_t* k = keys_.data() + i * keyLength_;
    // The previous key (the first entry copies no prefix: dup is 0 there).
    const uint8_t* prev = i > 0 ? k - keyLength_ : k;
    CopyChunks(k, prev, dup);
    CopyChunks(k + dup, padded + dataStart, stored);
    FillChunks(k + dup + stored, fill16, trail);
    recnos_[i] = recno;
    // The stored trailing count may be smaller than the real one; keep the real one so the
    // sizes computed later are what the encoder will write.
    size_t realTrail = trail;
    if (trail != keyLength_ && k[keyLength_ - 1 - trail] == fill_) {
      realTrail = TrailOf(k);
      canonical = false;
    }
    trails_[i] = static_cast<uint8_t>(realTrail);
    // Our own pages share the longest prefix the trailing fill allows; then the stored bytes
    // are what the encoder would store, and need not be measured again.
    if (i > 0 && dup < keyLength_ - realTrail && k[dup] == prev[dup]) canonical = false;
    canonicalBytes += stored;
    maxRecno = std::max(maxRecno, recno);
  }
  keys_.resize(n * keyLength_);
  if (freeWord != dataStart - entriesEnd) {
    return where.Corrupt("the free-space word says " + std::to_string(freeWord) +
                         " but the entries leave " + std::to_string(dataStart - entriesEnd));
  }
  if (canonical) {
    dataBytes_ = canonicalBytes;
    SetMaxRecno(maxRecno);
  } else {
    Recompute();
  }
  return Status::Ok();
}

bool CdxLeafNode::UsedKeyBytes(const uint8_t* page, size_t keyLength, size_t* used) {
  const size_t n = CdxGetLE16(page + 2);
  const uint8_t trailMask = page[19];
  const unsigned rb = page[20], db = page[21], tb = page[22];
  const size_t nb = page[23];
  if (nb == 0 || nb > kMaxEntryBytes || rb > 32 || db > 8 || tb > 8 || rb + db + tb > 8 * nb ||
      kHeaderBytes + n * nb > kCdxPageSize) {
    return false;
  }
  size_t most = 0;
  for (size_t i = 0; i < n && most < keyLength; ++i) {
    const uint8_t* at = page + kHeaderBytes + i * nb;
    uint64_t v = 0;
    for (size_t b = 0; b < nb; ++b) v |= uint64_t{at[b]} << (8 * b);
    const size_t trail = static_cast<size_t>((v >> (rb + db)) & trailMask);
    if (trail > keyLength) return false;
    most = std::max(most, keyLength - trail);
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
    const size_t dup = keyLength_ - trail - StoredBytes(i);
    entries[i] = Packed{key(i), recnos_[i], static_cast<uint8_t>(dup), static_cast<uint8_t>(trail)};
  }
  EncodePacked(page, attributes_, left_, right_, keyLength_, EntryBytes(), entries, n);
  return true;
}

void CdxLeafNode::EncodePacked(uint8_t* page, uint16_t attributes, uint32_t left, uint32_t right,
                               size_t keyLength, size_t nb, const Packed* entries, size_t count) {
  std::memset(page, 0, kCdxPageSize);
  const unsigned countBits = CountBits(keyLength);
  const unsigned rb = RecnoBits(nb, countBits);
  CdxPutLE16(page, attributes);
  CdxPutLE16(page + 2, static_cast<uint16_t>(count));
  CdxPutLE32(page + 4, left);
  CdxPutLE32(page + 8, right);
  CdxPutLE32(page + 14, MaskOf(rb));
  page[18] = page[19] = static_cast<uint8_t>(MaskOf(countBits));
  page[20] = static_cast<uint8_t>(rb);
  page[21] = page[22] = static_cast<uint8_t>(countBits);
  page[23] = static_cast<uint8_t>(nb);
  size_t dataStart = kCdxPageSize;
  for (size_t i = 0; i < count; ++i) {
    const Packed& e = entries[i];
    const size_t stored = keyLength - e.dup - e.trail;
    const uint64_t v = uint64_t{e.recno} | (uint64_t{e.dup} << rb) |
                       (uint64_t{e.trail} << (rb + countBits));
    for (size_t b = 0; b < nb; ++b) {
      page[kHeaderBytes + i * nb + b] = static_cast<uint8_t>(v >> (8 * b));
    }
    dataStart -= stored;
    CdxMoveSmall(page + dataStart, e.key + e.dup, stored);
  }
  CdxPutLE16(page + 12, static_cast<uint16_t>(dataStart - kHeaderBytes - count * nb));
}

}  // namespace xb
