#include "CdxBulkBuilder.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <queue>
#include <thread>
#include <type_traits>

#include "CdxBufferPool.h"
#include "CdxInteriorNode.h"
#include "CdxLeafNode.h"
#include "CdxTypes.h"
#include "Parallel.h"

namespace xb {

namespace {

// Groups this small are finished by insertion sort; below this size the radix passes cost
// more than they save.
constexpr size_t kSmallGroup = 24;
// Groups this large are split on two bytes at a time.
constexpr size_t kWideGroup = size_t{1} << 17;
// Sorts of this many records share their work with a second thread.
constexpr size_t kParallelSort = size_t{1} << 16;

uint64_t LoadBigEndian64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

// True when record a sorts after record b. Eight bytes at a time as big-endian numbers: the
// library's memcmp is a call for every pair, and sorting makes tens of millions of them.
template <typename Size>
bool After(const uint8_t* a, const uint8_t* b, Size size) {
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    const uint64_t x = LoadBigEndian64(a + i), y = LoadBigEndian64(b + i);
    if (x != y) return x > y;
  }
  for (; i < size; ++i) {
    if (a[i] != b[i]) return a[i] > b[i];
  }
  return false;
}

// Records are compared whole when the whole record is the sort key: inside a group the bytes
// before the current depth are equal, and a whole-record compare of a size known at compile
// time is cheaper than a shorter one that is not. With a shorter sort key only its bytes are
// compared, so that records with equal keys keep their order.
template <typename Size>
void InsertionSort(uint8_t* base, size_t count, Size size, size_t sort_bytes, uint8_t* scratch) {
  for (size_t i = 1; i < count; ++i) {
    uint8_t* cur = base + i * size;
    size_t j = i;
    if (sort_bytes == size) {
      while (j > 0 && After(base + (j - 1) * size, cur, size)) --j;
    } else {
      while (j > 0 && After(base + (j - 1) * size, cur, sort_bytes)) --j;
    }
    if (j == i) continue;
    std::memcpy(scratch, cur, size);
    std::memmove(base + (j + 1) * size, base + j * size, (i - j) * size);
    std::memcpy(base + j * size, scratch, size);
  }
}

// The length of the prefix (up to `limit`) that every record of a group shares, given that
// they share at least `depth` bytes. One pass over the group replaces a counting pass per
// shared byte: keys padded with blanks or starting with the same words share dozens.
template <typename Size>
size_t CommonPrefix(const uint8_t* group, size_t count, Size size, size_t depth, size_t limit) {
  size_t common = limit;
  const uint8_t* first = group;
  const uint8_t* rec = group + size;
  for (size_t i = 1; i < count && common > depth; ++i, rec += size) {
    size_t d = depth;
    while (d + 8 <= common) {
      uint64_t a, b;
      std::memcpy(&a, first + d, 8);
      std::memcpy(&b, rec + d, 8);
      if (a != b) break;
      d += 8;
    }
    while (d < common && first[d] == rec[d]) ++d;
    common = d;
  }
  return common;
}

// Most-significant-byte radix sort of fixed-size records. Bytes that are equal in a whole group
// (the "20" of a year, the blanks of short names) are skipped without moving anything. Each
// pass scatters a group into the other buffer, so no pass copies back; a finished group that
// ends up in the spare buffer is copied home once. Groups wait on an explicit stack so a long
// key cannot exhaust the call stack.
//
// Only the first `sort_bytes` bytes are sorted on; the scatter passes are stable, so records
// equal in those bytes keep their input order. Pairs collected in record-number order therefore
// need no pass over their record-number bytes.
template <size_t N>
using Fixed = std::integral_constant<size_t, N>;

struct RadixGroup {
  size_t begin, count, depth;
  bool in_spare;
};

// Sorts the groups on `stack` and every group they split into. With `first_scatter` it stops
// after the first pass that scatters a group, leaving the pieces on the stack (for sharing the
// rest of the work between threads).
template <typename Size>
void RadixSortGroups(uint8_t* records, uint8_t* spare_data, Size size, size_t sort_bytes,
                     std::vector<RadixGroup>& stack, bool first_scatter) {
  using Group = RadixGroup;
  std::vector<uint8_t> scratch(size);
  std::array<size_t, 256> counts;
  std::array<size_t, 256> next;
  std::vector<size_t> wide;  // counts by two bytes, for the largest groups
  while (!stack.empty()) {
    Group g = stack.back();
    stack.pop_back();
    uint8_t* here = (g.in_spare ? spare_data : records) + g.begin * size;
    uint8_t* there = (g.in_spare ? records : spare_data) + g.begin * size;
    bool scattered = false;
    while (g.depth < sort_bytes && g.count > 1) {
      if (g.count <= kSmallGroup) {
        InsertionSort(here, g.count, size, sort_bytes, scratch.data());
        break;
      }
      // A large group is split on two bytes at once: half the passes over the data.
      if (g.count >= kWideGroup && g.depth + 1 < sort_bytes) {
        wide.assign(65536, 0);
        const uint8_t* p = here + g.depth;
        for (size_t i = 0; i < g.count; ++i, p += size) ++wide[p[0] << 8 | p[1]];
        const size_t first = here[g.depth] << 8 | here[g.depth + 1];
        if (wide[first] == g.count) {
          g.depth = CommonPrefix(here, g.count, size, g.depth + 2, sort_bytes);
          continue;
        }
        size_t sum = 0;
        for (size_t& c : wide) {
          const size_t n = c;
          c = sum;
          sum += n;
        }
        const uint8_t* rec = here;
        for (size_t i = 0; i < g.count; ++i, rec += size) {
          std::memcpy(there + wide[rec[g.depth] << 8 | rec[g.depth + 1]]++ * size, rec, size);
        }
        // wide[d] now holds the end of bucket d.
        size_t start = 0;
        for (size_t d = 0; d < 65536; ++d) {
          const size_t n = wide[d] - start;
          if (n != 0 && !(n == 1 && g.in_spare)) {
            stack.push_back({g.begin + start, n, g.depth + 2, !g.in_spare});
          }
          start = wide[d];
        }
        scattered = true;
        break;
      }
      counts.fill(0);
      const uint8_t* p = here + g.depth;
      for (size_t i = 0; i < g.count; ++i, p += size) ++counts[*p];
      if (counts[here[g.depth]] == g.count) {
        g.depth = CommonPrefix(here, g.count, size, g.depth + 1, sort_bytes);
        continue;
      }
      size_t sum = 0;
      for (size_t b = 0; b < 256; ++b) {
        next[b] = sum;
        sum += counts[b];
      }
      const uint8_t* rec = here;
      for (size_t i = 0; i < g.count; ++i, rec += size) {
        std::memcpy(there + next[rec[g.depth]]++ * size, rec, size);
      }
      // Each bucket continues in the other buffer; a bucket of one is already in its place
      // once it is home.
      size_t start = 0;
      for (size_t b = 0; b < 256; ++b) {
        if (counts[b] == 1 && g.in_spare) {
          // moved into the records buffer: done
        } else if (counts[b] != 0) {
          stack.push_back({g.begin + start, counts[b], g.depth + 1, !g.in_spare});
        }
        start += counts[b];
      }
      scattered = true;
      break;
    }
    if (!scattered && g.in_spare) std::memcpy(there, here, g.count * size);
    if (scattered && first_scatter) return;
  }
}

template <typename Size>
void RadixSort(uint8_t* records, size_t count, Size size, size_t sort_bytes, bool parallel) {
  // Every byte of the spare buffer is written before it is read: no need to clear it.
  CdxPairBuffer spare_buffer(count * size);
  uint8_t* const spare_data = spare_buffer.data();
  std::vector<RadixGroup> stack{{0, count, 0, false}};
  if (!parallel || count < 2 || !Parallel::Worth(count, kParallelSort)) {
    RadixSortGroups(records, spare_data, size, sort_bytes, stack, false);
    return;
  }
  // The first pass scatters into the whole spare buffer on one thread. Fresh memory costs a
  // cleared page at first touch, so meanwhile the other thread has the kernel supply the
  // pages from the far end.
  std::atomic<bool> first_pass_done{false};
  std::thread prefault(
      [&] { CdxBufferPool::Prefault(spare_data, count * size, first_pass_done); });
  RadixSortGroups(records, spare_data, size, sort_bytes, stack, true);
  first_pass_done = true;
  prefault.join();
  // After the first pass the groups are independent, and two threads take them largest
  // first. One pass does not always spread the pairs: dates that all start "20", with a tenth
  // blank, leave nine tenths in one group, which a thread would then sort alone while the
  // other had little to do. So a group above an eighth of the pairs is only split one pass
  // further by the thread that takes it, and its pieces go back for either thread to take.
  const size_t split_above = count / 8;
  auto larger = [](const RadixGroup& a, const RadixGroup& b) { return a.count < b.count; };
  std::priority_queue<RadixGroup, std::vector<RadixGroup>, decltype(larger)> groups(
      larger, std::move(stack));
  std::mutex mutex;
  std::condition_variable changed;
  int splitting = 0;  // groups being split, whose pieces are still to come
  auto work = [&] {
    std::vector<RadixGroup> local;
    for (;;) {
      RadixGroup g;
      bool split = false;
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return !groups.empty() || splitting == 0; });
        if (groups.empty()) return;
        g = groups.top();
        groups.pop();
        split = g.count > split_above;
        if (split) ++splitting;
      }
      local.assign(1, g);
      RadixSortGroups(records, spare_data, size, sort_bytes, local, split);
      if (!split) continue;
      {
        std::lock_guard<std::mutex> lock(mutex);
        for (const RadixGroup& piece : local) groups.push(piece);
        --splitting;
      }
      changed.notify_all();
    }
  };
  std::thread other(work);
  work();
  other.join();
}

}  // namespace

void CdxBulkBuilder::SortRecords(uint8_t* records, size_t count, size_t size, size_t sort_bytes,
                                 bool parallel) {
  sort_bytes = std::min(sort_bytes, size);
  if (count < 2 || sort_bytes == 0) return;
  // Sizes of the usual keys (1, 8, 10, 13, 14, 50 and 60 bytes) plus 4 record-number bytes.
  switch (size) {
    case 5: return RadixSort(records, count, Fixed<5>(), sort_bytes, parallel);
    case 12: return RadixSort(records, count, Fixed<12>(), sort_bytes, parallel);
    case 14: return RadixSort(records, count, Fixed<14>(), sort_bytes, parallel);
    case 17: return RadixSort(records, count, Fixed<17>(), sort_bytes, parallel);
    case 18: return RadixSort(records, count, Fixed<18>(), sort_bytes, parallel);
    // Pairs cut down to the bytes their keys use are a multiple of 4 long.
    case 16: return RadixSort(records, count, Fixed<16>(), sort_bytes, parallel);
    case 20: return RadixSort(records, count, Fixed<20>(), sort_bytes, parallel);
    case 24: return RadixSort(records, count, Fixed<24>(), sort_bytes, parallel);
    case 28: return RadixSort(records, count, Fixed<28>(), sort_bytes, parallel);
    case 32: return RadixSort(records, count, Fixed<32>(), sort_bytes, parallel);
    case 36: return RadixSort(records, count, Fixed<36>(), sort_bytes, parallel);
    case 40: return RadixSort(records, count, Fixed<40>(), sort_bytes, parallel);
    case 44: return RadixSort(records, count, Fixed<44>(), sort_bytes, parallel);
    case 48: return RadixSort(records, count, Fixed<48>(), sort_bytes, parallel);
    case 54: return RadixSort(records, count, Fixed<54>(), sort_bytes, parallel);
    case 64: return RadixSort(records, count, Fixed<64>(), sort_bytes, parallel);
    default: return RadixSort(records, count, size, sort_bytes, parallel);
  }
}

CdxBulkBuilder::CdxBulkBuilder(CdxPager* pager, size_t key_length, uint8_t fill, std::string where)
    : pager_(pager),
      key_length_(key_length),
      width_(key_length),
      fill_(fill),
      where_(std::move(where)) {}

uint32_t CdxBulkBuilder::RecnoAt(size_t i) const { return CdxGetBE32(KeyAt(i) + width_); }

size_t CdxBulkBuilder::TrailAt(const uint8_t* key) const {
  return key_length_ - width_ + CdxLeafNode::TrailOf(key, width_, fill_);
}

void CdxBulkBuilder::FullKey(uint8_t* out, const uint8_t* key) const {
  std::memcpy(out, key, width_);
  std::memset(out + width_, fill_, key_length_ - width_);
}

// Character keys are often mostly fill: a 60-byte field of key words that holds a dozen
// letters. Every pass of the sort and of the leaf fill moves whole pairs, and the sort's
// second buffer is as large as the first, so pairs that carry only the bytes some key uses
// make those passes cheaper and the memory smaller. The order is unchanged: past `used` bytes
// all keys are fill alike.
void CdxBulkBuilder::Narrow(size_t used) {
  // Pair sizes a multiple of 4, which the sort has copies of fixed size for.
  const size_t width = std::min(key_length_, (used + 3) / 4 * 4);
  if (width + 8 > key_length_) return;  // too little to gain
  const size_t from = key_length_ + 4, to = width + 4;
  const size_t n = records_.size() / from;
  uint8_t* data = records_.data();
  // Moving down in place: each pair lands at or below where it was, behind those done.
  for (size_t i = 0; i < n; ++i) {
    uint8_t recno[4];
    std::memcpy(recno, data + i * from + key_length_, 4);
    CdxMoveSmall(data + i * to, data + i * from, width);
    std::memcpy(data + i * to + width, recno, 4);
  }
  records_.resize(n * to);
  width_ = width;
}

Status CdxBulkBuilder::Prepare(std::span<const uint8_t> keys, std::span<const uint32_t> recnos,
                               bool unique) {
  const size_t n = recnos.size();
  if (keys.size() != n * key_length_) {
    return Status::InvalidArgument(where_ + ": " + std::to_string(keys.size()) +
                                   " key bytes given for " + std::to_string(n) + " keys of " +
                                   std::to_string(key_length_) + " bytes");
  }
  const size_t size = key_length_ + 4;
  CdxPairBuffer records(n * size);
  for (size_t i = 0; i < n; ++i) {
    uint8_t* rec = records.data() + i * size;
    std::memcpy(rec, keys.data() + i * key_length_, key_length_);
    CdxPutBE32(rec + key_length_, recnos[i]);
  }
  return PrepareRecords(std::move(records), unique);
}

Status CdxBulkBuilder::PrepareRecords(CdxPairBuffer records, bool unique) {
  return PrepareChecked(std::move(records), unique, false, key_length_);
}

Status CdxBulkBuilder::PrepareOrderedRecords(CdxPairBuffer records, bool unique, size_t width) {
  if (width == 0 || width > key_length_) width = key_length_;
  return PrepareChecked(std::move(records), unique, true, width);
}

void CdxBulkBuilder::SetPageSupply(std::vector<uint32_t> pages) {
  std::sort(pages.begin(), pages.end());
  supply_ = std::move(pages);
  supplied_ = 0;
}

Status CdxBulkBuilder::TakePage(uint32_t* at) {
  if (supplied_ < supply_.size()) {
    *at = supply_[supplied_++];
    return Status::Ok();
  }
  Status s = pager_->Allocate(at);
  if (s.ok()) allocated_.push_back(*at);
  return s;
}

Status CdxBulkBuilder::TakePages(size_t count, std::vector<uint32_t>* pages) {
  const size_t own = std::min(count, supply_.size() - supplied_);
  std::vector<uint32_t> more;
  if (own < count) {
    Status s = pager_->AllocateMany(count - own, &more);
    if (!s.ok()) return s;
    allocated_.insert(allocated_.end(), more.begin(), more.end());
  }
  pages->assign(supply_.begin() + static_cast<ptrdiff_t>(supplied_),
                supply_.begin() + static_cast<ptrdiff_t>(supplied_ + own));
  supplied_ += own;
  pages->insert(pages->end(), more.begin(), more.end());
  return Status::Ok();
}

Status CdxBulkBuilder::PrepareChecked(CdxPairBuffer records, bool unique, bool ordered,
                                      size_t width) {
  width_ = width;
  size_t size = width_ + 4;
  if (records.size() % size != 0) {
    return Status::InvalidArgument(where_ + ": " + std::to_string(records.size()) +
                                   " bytes are not a whole number of " + std::to_string(size) +
                                   "-byte pairs");
  }
  records_ = std::move(records);
  const size_t n = records_.size() / size;
  // Pairs already in order (sorted beforehand) need no sort; pairs collected in record-number
  // order only need sorting on their keys.
  bool ascending = true, sorted = true;
  uint32_t previous = 0;
  size_t used = 0;  // bytes of the widest key without its trailing fill
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* rec = records_.data() + i * size;
    const uint32_t recno = CdxGetBE32(rec + width_);
    if (recno == 0) {
      records_.clear();
      return Status::InvalidArgument(where_ + ": record number 0 given for key " +
                                     std::to_string(i));
    }
    if (ordered) continue;
    ascending = ascending && recno > previous;
    previous = recno;
    if (sorted && i > 0 && !(CdxCompareBytes(rec - size, rec, size) < 0)) sorted = false;
    if (rec[key_length_ - 1] == fill_) {
      used = std::max(used, key_length_ - CdxLeafNode::TrailOf(rec, key_length_, fill_));
    } else {
      used = key_length_;
    }
  }
  if (!sorted) {
    Narrow(used);
    size = width_ + 4;
    SortRecords(records_.data(), n, size, ascending ? width_ : size, true);
  }
  // Drop repeated keys of a unique tag; refuse a pair given twice. Record numbers that were
  // all different to begin with cannot make a pair twice, and neither can pairs in strictly
  // ascending order, so only a unique tag needs the walk.
  if ((ascending || ordered) && !unique) {
    count_ = n;
    return Status::Ok();
  }
  size_t kept = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* rec = records_.data() + i * size;
    if (kept > 0) {
      const uint8_t* last = records_.data() + (kept - 1) * size;
      if (std::memcmp(last, rec, size) == 0) {
        records_.clear();
        return Status::InvalidArgument(where_ + ": record " +
                                       std::to_string(CdxGetBE32(rec + width_)) +
                                       " is given twice with the same key");
      }
      if (unique && std::memcmp(last, rec, width_) == 0) continue;
    }
    if (kept != i) std::memcpy(records_.data() + kept * size, rec, size);
    ++kept;
  }
  records_.resize(kept * size);
  count_ = kept;
  return Status::Ok();
}

// Leaves are packed straight from the sorted pairs: each entry's trailing fill and shared
// prefix are worked out once, and a page is encoded when the next entry would not fit.
size_t CdxBulkBuilder::LeafEnd(size_t from, uint8_t* dups, uint8_t* trails) const {
  size_t n = 0, data_bytes = 0;
  uint32_t max_recno = 0;
  // The entry width only changes when a record number outgrows it: worked out again then.
  size_t entry_bytes = CdxLeafNode::EntryBytesFor(0, key_length_);
  const uint8_t* previous = nullptr;
  for (size_t i = from; i < count_; ++i) {
    const uint8_t* key = KeyAt(i);
    const uint32_t recno = RecnoAt(i);
    const size_t trail = TrailAt(key);
    const size_t dup =
        n == 0 ? 0 : CdxLeafNode::SharedPrefix(previous, key, key_length_ - trail);
    const size_t stored = key_length_ - trail - dup;
    const uint32_t new_max = std::max(max_recno, recno);
    const size_t new_bytes =
        new_max == max_recno ? entry_bytes : CdxLeafNode::EntryBytesFor(new_max, key_length_);
    const size_t size = CdxLeafNode::kHeaderBytes + (n + 1) * new_bytes + data_bytes + stored;
    if (n != 0 && (size > kCdxPageSize || n == CdxLeafNode::kMaxEntries)) return i;
    dups[i] = static_cast<uint8_t>(dup);
    trails[i] = static_cast<uint8_t>(trail);
    ++n;
    data_bytes += stored;
    max_recno = new_max;
    entry_bytes = new_bytes;
    previous = key;
  }
  return count_;
}

// Filling leaves is a walk from the left: where a leaf ends depends only on where it starts.
// A second thread plans the leaves from the middle on while this one plans from the start;
// once this one starts a leaf where the other started one, every leaf from there on is the
// other's, so the rest of its plan is taken as it is. (Should the two never meet, this thread
// plans to the end alone.) Then both encode half of the leaves. The pages are the ones the
// one-thread fill writes, byte for byte.
Status CdxBulkBuilder::WriteLeavesParallel(Level* level, uint32_t* root) {
  // Every count below is written by a plan before it is read: the buffer is not cleared.
  CdxPairBuffer counts(4 * count_);
  uint8_t* const dups = counts.data();
  uint8_t* const trails = dups + count_;
  uint8_t* const their_dups = trails + count_;
  uint8_t* const their_trails = their_dups + count_;
  const size_t middle = count_ / 2;
  std::vector<size_t> theirs;
  std::thread planner([&] {
    for (size_t at = middle; at < count_; at = LeafEnd(at, their_dups, their_trails))
      theirs.push_back(at);
  });
  std::vector<size_t> starts;
  size_t at = 0;
  while (at < count_ && at < middle) {
    starts.push_back(at);
    at = LeafEnd(at, dups, trails);
  }
  planner.join();
  size_t joined = 0;  // the first of their leaves that is ours too
  for (; at < count_; at = LeafEnd(at, dups, trails)) {
    while (joined < theirs.size() && theirs[joined] < at) ++joined;
    if (joined < theirs.size() && theirs[joined] == at) break;
    starts.push_back(at);
  }
  if (at < count_) {
    starts.insert(starts.end(), theirs.begin() + joined, theirs.end());
    std::memcpy(dups + at, their_dups + at, count_ - at);
    std::memcpy(trails + at, their_trails + at, count_ - at);
  }
  const size_t leaves = starts.size();
  starts.push_back(count_);

  std::vector<uint32_t> pages;
  Status s = TakePages(leaves, &pages);
  if (!s.ok()) return s;
  level->keys.resize(leaves * key_length_);
  level->recnos.resize(leaves);
  level->pages = pages;
  // Each thread encodes its leaves into a batch of pages and hands the pager a batch at a time:
  // new pages at the end of the file go to the disk in one write, without a cached copy each.
  constexpr size_t kBatchPages = 128;
  auto encode = [&](size_t first, size_t last) -> Status {
    std::unique_ptr<uint8_t[]> batch(new uint8_t[kBatchPages * kCdxPageSize]);
    std::vector<CdxLeafNode::Packed> entries(CdxLeafNode::kMaxEntries);
    for (size_t from = first; from < last; from += kBatchPages) {
      const size_t to = std::min(last, from + kBatchPages);
      for (size_t k = from; k < to; ++k) {
        uint32_t max_recno = 0;
        size_t n = 0;
        for (size_t i = starts[k]; i < starts[k + 1]; ++i, ++n) {
          const uint32_t recno = RecnoAt(i);
          max_recno = std::max(max_recno, recno);
          entries[n] = CdxLeafNode::Packed{KeyAt(i), recno, dups[i], trails[i]};
        }
        const uint16_t attributes = leaves == 1 ? kCdxAttrLeaf | kCdxAttrRoot : kCdxAttrLeaf;
        CdxLeafNode::EncodePacked(batch.get() + (k - from) * kCdxPageSize, attributes,
                                  k == 0 ? kCdxNoPage : pages[k - 1],
                                  k + 1 == leaves ? kCdxNoPage : pages[k + 1], key_length_,
                                  CdxLeafNode::EntryBytesFor(max_recno, key_length_),
                                  entries.data(), n);
        FullKey(level->keys.data() + k * key_length_, KeyAt(starts[k + 1] - 1));
        level->recnos[k] = RecnoAt(starts[k + 1] - 1);
      }
      Status w = pager_->WriteNew(pages.data() + from, to - from, batch.get());
      if (!w.ok()) return w;
    }
    return Status::Ok();
  };
  Status second;
  std::thread encoder([&] { second = encode(leaves / 2, leaves); });
  s = encode(0, leaves / 2);
  encoder.join();
  if (!s.ok()) return s;
  if (!second.ok()) return second;
  if (leaves == 1) {
    *root = pages[0];
    level->keys.clear();
    level->recnos.clear();
    level->pages.clear();
  }
  return Status::Ok();
}

Status CdxBulkBuilder::WriteLeaves(Level* level, uint32_t* root) {
  if (count_ >= 2 && Parallel::Worth(count_, parallel_leaf_minimum_))
    return WriteLeavesParallel(level, root);
  uint8_t page[kCdxPageSize];
  CdxLeafNode::Packed entries[CdxLeafNode::kMaxEntries];
  size_t n = 0, data_bytes = 0;
  uint32_t max_recno = 0;
  uint32_t at = 0, left = kCdxNoPage;
  Status s = TakePage(&at);
  if (!s.ok()) return s;
  auto emit = [&](uint32_t right, uint16_t attributes) {
    CdxLeafNode::EncodePacked(page, attributes, left, right, key_length_,
                              CdxLeafNode::EntryBytesFor(max_recno, key_length_), entries, n);
    pager_->Write(at, 1, page, false);
    if (attributes & kCdxAttrRoot) return;
    const CdxLeafNode::Packed& last = entries[n - 1];
    level->keys.resize(level->keys.size() + key_length_);
    FullKey(level->keys.data() + level->keys.size() - key_length_, last.key);
    level->recnos.push_back(last.recno);
    level->pages.push_back(at);
  };
  for (size_t i = 0; i < count_; ++i) {
    const uint8_t* key = KeyAt(i);
    const uint32_t recno = RecnoAt(i);
    const size_t trail = TrailAt(key);
    size_t dup =
        n == 0 ? 0 : CdxLeafNode::SharedPrefix(entries[n - 1].key, key, key_length_ - trail);
    size_t stored = key_length_ - trail - dup;
    uint32_t new_max = std::max(max_recno, recno);
    const size_t size = CdxLeafNode::kHeaderBytes +
                        (n + 1) * CdxLeafNode::EntryBytesFor(new_max, key_length_) + data_bytes +
                        stored;
    if (n != 0 && (size > kCdxPageSize || n == CdxLeafNode::kMaxEntries)) {
      uint32_t next = 0;
      s = TakePage(&next);
      if (!s.ok()) return s;
      emit(next, kCdxAttrLeaf);
      left = at;
      at = next;
      n = 0;
      data_bytes = 0;
      dup = 0;
      stored = key_length_ - trail;
      new_max = recno;
    }
    entries[n++] = CdxLeafNode::Packed{key, recno, static_cast<uint8_t>(dup),
                                       static_cast<uint8_t>(trail)};
    data_bytes += stored;
    max_recno = new_max;
  }
  if (level->pages.empty()) {
    *root = at;
    emit(kCdxNoPage, kCdxAttrLeaf | kCdxAttrRoot);
    return Status::Ok();
  }
  emit(kCdxNoPage, kCdxAttrLeaf);
  return Status::Ok();
}

Status CdxBulkBuilder::WriteInterior(const Level& below, Level* level, uint32_t* root) {
  const size_t cap = CdxInteriorNode::Capacity(key_length_);
  const size_t n = below.pages.size();
  const size_t nodes = (n + cap - 1) / cap;
  uint8_t page[kCdxPageSize];
  CdxInteriorNode node(key_length_);
  uint32_t at = 0, prev = kCdxNoPage;
  Status s = TakePage(&at);
  if (!s.ok()) return s;
  for (size_t k = 0; k < nodes; ++k) {
    node.Reset(key_length_);
    node.set_attributes(nodes == 1 ? kCdxAttrRoot : 0);
    node.set_left(prev);
    const size_t end = std::min(n, (k + 1) * cap);
    for (size_t i = k * cap; i < end; ++i) {
      node.Insert(node.count(), below.keys.data() + i * key_length_, below.recnos[i],
                  below.pages[i]);
    }
    uint32_t next = kCdxNoPage;
    if (k + 1 < nodes) {
      s = TakePage(&next);
      if (!s.ok()) return s;
    }
    node.set_right(next);
    node.EncodeTo(page);
    pager_->Write(at, 1, page, false);
    level->keys.insert(level->keys.end(), node.key(node.count() - 1),
                       node.key(node.count() - 1) + key_length_);
    level->recnos.push_back(node.recno(node.count() - 1));
    level->pages.push_back(at);
    prev = at;
    at = next;
  }
  if (nodes == 1) *root = level->pages[0];
  return Status::Ok();
}

Status CdxBulkBuilder::Write(uint32_t* root) {
  Level below;
  *root = kCdxNoPage;
  Status s = WriteLeaves(&below, root);
  while (s.ok() && *root == kCdxNoPage) {
    Level above;
    s = WriteInterior(below, &above, root);
    below = std::move(above);
  }
  for (; supplied_ < supply_.size(); ++supplied_) pager_->Free(supply_[supplied_]);
  // New pages may already be in the file (see CdxPager::WriteNew); a tree left half-built
  // must not leave them belonging to nothing.
  if (!s.ok()) {
    for (uint32_t page : allocated_) pager_->Free(page);
  }
  allocated_.clear();
  return s;
}

}  // namespace xb
