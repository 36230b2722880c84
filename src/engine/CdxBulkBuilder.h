#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "CdxPager.h"
#include "Status.h"

namespace xb {

// Builds a tag's tree in one pass: sorts the (key, recno) pairs, fills leaves from the left
// until the next entry would not fit, then builds each interior level from the last pair of
// every node below, until one node is left: the root.
class CdxBulkBuilder {
 public:
  // `where` names the file and tag in messages.
  CdxBulkBuilder(CdxPager* pager, size_t key_length, uint8_t fill, std::string where);

  // Checks and sorts the pairs; touches nothing in the file. `keys` holds recnos.size() keys
  // of keyLength bytes back to back. With `unique` only the lowest record number of each key
  // is kept.
  Status Prepare(std::span<const uint8_t> keys, std::span<const uint32_t> recnos, bool unique);
  // The same from pairs already laid out as the builder keeps them: each key followed by its
  // record number in big-endian order (keyLength + 4 bytes a pair). Saves a copy of the keys.
  Status PrepareRecords(CdxPairBuffer records, bool unique);
  // The same for pairs the caller already has in strictly ascending order (a merge of two
  // checked runs): neither their order nor repeats are looked for again. A `width` below the
  // key length says each pair holds only the key's first `width` bytes, every byte after them
  // being fill (width + 4 bytes a pair).
  Status PrepareOrderedRecords(CdxPairBuffer records, bool unique, size_t width = 0);
  // Pages the tree is to be written to before any others (those of the tree it replaces),
  // used in ascending order; those left over go to the file's free list after Write.
  void SetPageSupply(std::vector<uint32_t> pages);
  // Writes the leaves and interior levels into the pager; *root receives the root's offset.
  // When it fails (a full disk), the pages it took from the pager are on the free list again.
  Status Write(uint32_t* root);

  size_t entry_count() const { return count_; }

  // Sorts `count` records of `record_size` bytes into unsigned byte order of their first
  // `sort_bytes` bytes (radix sort on the leading bytes, insertion sort for small groups).
  // Records equal in those bytes keep their input order. With `parallel`, a large sort
  // shares its work with a second thread.
  static void SortRecords(uint8_t* records, size_t count, size_t record_size,
                          size_t sort_bytes = SIZE_MAX, bool parallel = false);
  // Trees of at least this many pairs fill their leaves on two threads (tests lower it to
  // compare both ways on small trees).
  static void SetParallelLeafMinimum(size_t pairs) { parallel_leaf_minimum_ = pairs; }

 private:
  // One level of the tree under construction: the last pair and the page of every node.
  struct Level {
    std::vector<uint8_t> keys;
    std::vector<uint32_t> recnos;
    std::vector<uint32_t> pages;
  };

  Status WriteLeaves(Level* level, uint32_t* root);
  // The same on two threads for many pairs, giving the same pages (see the .cpp).
  Status WriteLeavesParallel(Level* level, uint32_t* root);
  // Where the leaf that starts at pair `from` ends (exclusive), filled as WriteLeaves fills it;
  // records each entry's shared-prefix and trailing-fill counts on the way.
  size_t LeafEnd(size_t from, uint8_t* dups, uint8_t* trails) const;
  Status WriteInterior(const Level& below, Level* level, uint32_t* root);
  Status PrepareChecked(CdxPairBuffer records, bool unique, bool ordered, size_t width);
  // A page for a node: from the supply first, then from the pager.
  Status TakePage(uint32_t* at);
  Status TakePages(size_t count, std::vector<uint32_t>* pages);
  // Pairs hold the first width_ bytes of each key; the rest of every key is fill.
  const uint8_t* KeyAt(size_t i) const { return records_.data() + i * (width_ + 4); }
  uint32_t RecnoAt(size_t i) const;
  // Trailing fill bytes of a key, counting the ones the pair does not hold.
  size_t TrailAt(const uint8_t* key) const;
  // Writes the whole key (keyLength_ bytes) of a pair's key.
  void FullKey(uint8_t* out, const uint8_t* key) const;
  // Cuts the pairs down to the widest key without its trailing fill, when that saves enough
  // to pay for the copy.
  void Narrow(size_t used);

  CdxPager* pager_;
  size_t key_length_;
  size_t width_;
  uint8_t fill_;
  std::string where_;
  CdxPairBuffer records_;  // key (width_ bytes) followed by the big-endian record number
  static inline size_t parallel_leaf_minimum_ = 200000;
  size_t count_ = 0;
  std::vector<uint32_t> supply_;
  size_t supplied_ = 0;  // pages of the supply taken so far
  std::vector<uint32_t> allocated_;  // pages taken from the pager, freed again if Write fails
};

}  // namespace xb
