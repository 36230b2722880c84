#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "CdxHeader.h"
#include "CdxPager.h"
#include "CdxTypes.h"
#include "CdxWhere.h"
#include "Status.h"

namespace xb {

// One tree of an index file (a tag, or the tag list itself): search, insert, remove, a cursor
// and a consistency check.
//
// Keys are exactly key_length() bytes and compare as unsigned bytes; equal keys are ordered by
// record number. Descending tags are stored in ascending order like the others: the cursor
// walks physical order, and the caller walks backwards when descending() is set. Unique tags
// are not policed here: the caller decides which record of a key value to insert.
//
// Decoded pages are kept in a per-tag cache; changed pages are encoded only when the file is
// flushed. All pointers a call holds stay valid for that call: the cache is trimmed only when
// the next call starts.
class CdxTag {
 public:
  CdxTag(CdxPager* pager, const std::string& file_name, std::string name, uint32_t header_offset,
         const CdxHeader& header, uint8_t key_fill);
  ~CdxTag();
  CdxTag(const CdxTag&) = delete;
  CdxTag& operator=(const CdxTag&) = delete;

  const std::string& name() const { return name_; }
  CdxTagInfo Info() const;
  size_t key_length() const { return header_.key_length; }
  bool descending() const { return header_.descending; }
  bool unique() const { return (header_.options & kCdxOptUnique) != 0; }
  uint32_t header_offset() const { return header_offset_; }
  const CdxHeader& header() const { return header_; }

  // The byte trailing positions of a key are filled with: the file does not record it, so the
  // caller says: 0x20 for character and logical keys, 0x00 for numeric and date keys.
  uint8_t key_fill() const { return fill_; }
  Status SetKeyFill(uint8_t fill);

  // Adds the pair; kInvalidArgument if it is already there.
  Status Insert(std::string_view key, uint32_t recno);
  // Adds `count` pairs laid out as key then big-endian record number (key_length() + 4 bytes
  // each), sorted by (key, recno) and distinct. Each leaf that receives pairs is found once,
  // merged with all of its new pairs and split at most once, rather than once per pair.
  // Pairs already in the tag are left out and counted in *skipped.
  // `expected_entries`, when the caller knows roughly how many entries the tag holds, lets a
  // batch large enough to reach most leaves rebuild the tree instead: the old entries and the
  // new pairs are merged in one pass and written as a fresh tree, the old pages freed.
  Status InsertSorted(const uint8_t* pairs, size_t count, size_t* skipped,
                      size_t expected_entries = 0);
  // Removes the pair; kNotFound (and nothing changed) if it is not there.
  Status Remove(std::string_view key, uint32_t recno);

  // Cursor. A call that finds no entry leaves the cursor unpositioned (Valid() false) and
  // still returns Ok; a non-Ok status means the file could not be read or is damaged.
  // The cursor survives changes to the tag: it finds its pair again (or the next one). A step
  // that would not move strictly forward (backward) in key order reports kCorrupt.
  Status First();
  Status Last();
  Status Next();
  Status Prev();
  // Lands on the first entry whose first key.size() bytes are >= key (key.size() <= keyLength).
  Status Seek(std::string_view key, CdxSeekResult* result);
  // Lands on the first entry >= (key, recno); *exact tells whether it is that pair.
  Status SeekPair(std::string_view key, uint32_t recno, bool* exact);
  // The record number of the entry `ahead` steps from the cursor in the given physical
  // direction, when that entry lies in the cursor's leaf and the leaf is at hand; else 0. For
  // callers that fetch records early while they judge the current one.
  uint32_t RecnoAhead(size_t ahead, bool forward) const;
  bool Valid() const { return valid_; }
  std::string_view Key() const { return cur_key_; }
  uint32_t Recno() const { return cur_recno_; }

  // Every (key, recno) in order; stops early when `visit` returns false, and with kCorrupt at
  // an entry that is not greater than the one before it. `visit` must not change the tag.
  Status ForEach(const std::function<bool(std::string_view key, uint32_t recno)>& visit);

  // Checks the tree: order across the leaf chain, interior entries equal to the last pair of
  // their child, equal leaf depth, sibling links, root and leaf attributes, and (through the
  // page decoders) layouts, masks and free-space words. Returns the first problem found.
  // `pages`, when given, receives every page of the tree.
  Status Check(std::vector<uint32_t>* pages = nullptr);
  // The tree's shape, read at a small part of Check's cost: every interior page decoded, every
  // leaf page's header and entry layout checked without rebuilding its keys, root and leaf
  // attributes, sibling links, leaves at one depth, no page twice. A page zeroed or overwritten
  // by something that is no node is found; damage among the keys of a leaf is left to Check.
  // Reads the pages as the file has them: for a tag with no changes in memory.
  Status CheckShape();

  // --- used by CdxFile ---
  // Gives the tag a single empty root leaf (a new tag list).
  Status CreateEmptyRoot();
  // Encodes changed pages and the header into the pager. Tags of one file may do this on
  // different threads at once.
  Status WriteBack();
  size_t DirtyPageCount() const { return dirty_pages_.size(); }
  // Changed pages or header not yet handed to the pager.
  bool HasChanges() const { return !dirty_pages_.empty() || header_dirty_; }
  // Forgets every decoded page and any unwritten change and takes `header` as read from the
  // file: another program changed the tree. A cursor finds its pair again at its next step.
  void Reload(const CdxHeader& header);
  // Moves the header's change counter without a change of the tree (the tag list's counter
  // counts every write of the file, so that programs sharing it can tell it changed).
  void BumpVersion() {
    ++header_.version;
    header_dirty_ = true;
  }
  void set_order(size_t order) { order_ = order; }
  void SetFreeListHead(uint32_t head);
  // Bytes of decoded pages kept between calls.
  void SetCacheLimit(size_t bytes) { cache_limit_ = bytes; }

 private:
  struct Node;
  struct PathStep {
    Node* node;
    size_t index;
  };
  struct Rep {  // a node as its parent sees it
    uint32_t page;
    std::string key;
    uint32_t recno;
  };

  CdxWhere Where(uint32_t offset, const char* what) const {
    return CdxWhere(file_name_, name_, offset, what);
  }
  Status CheckOpen() const;
  Status CheckWritable() const;
  Status CheckKey(std::string_view key) const;
  void BeginCall();
  void Bump();
  void MarkDirty(Node* node);

  Node* Cached(uint32_t page) const;
  std::unique_ptr<Node>& Slot(uint32_t page);
  Status LoadNode(uint32_t page, Node** out);
  Status ReadNode(uint32_t page, Node* scratch, const Node** out);
  Status DecodeInto(uint32_t page, Node* node);
  Status NewNode(bool leaf, Node** out);
  void FreeNode(Node* node);
  Status LoadSibling(uint32_t page, bool leaf, Node** out);

  Status Descend(const CdxSearchKey& target, std::vector<PathStep>* path, Node** leaf,
                 size_t* pos);
  Status SettleForward(Node* leaf, size_t pos);
  Status SettleBackward(Node* leaf, size_t end);
  void SetCursor(const Node* leaf, size_t index);
  Status Locate(Node** leaf, size_t* pos, bool* on_entry);
  Status Step(bool forward);
  bool StepWithinLeaf(bool forward, Status* status);
  size_t MaxSteps() const { return static_cast<size_t>(pager_->end() / kCdxPageSize) + 1; }

  Status DoInsert(std::string_view key, uint32_t recno);
  Status DoRemove(std::string_view key, uint32_t recno);
  Status DoInsertSorted(const uint8_t* pairs, size_t count, size_t* skipped);
  Status RebuildMerged(const uint8_t* pairs, size_t count, size_t* skipped,
                       size_t expected_entries);
  // Batches of at least this many pairs, and at least 1/kRebuildShare of the tag, rebuild it.
  static constexpr size_t kRebuildMin = 20000;
  static constexpr size_t kRebuildShare = 32;
  std::vector<size_t> PlanMergedSplit(const Node& leaf, bool appended) const;
  Status SplitLeafAt(std::vector<PathStep>& path, Node* leaf, const std::vector<size_t>& cuts,
                     bool appended);
  Status AfterLeafChange(std::vector<PathStep>& path, Node* leaf, bool last_changed,
                         size_t inserted_at);
  std::vector<size_t> PlanLeafSplit(const Node& leaf, size_t inserted_at) const;
  Status SplitLeaf(std::vector<PathStep>& path, Node* leaf, size_t inserted_at);
  Status SplitInterior(Node* node, bool fill_left, std::vector<Rep>* reps);
  Status Chain(std::vector<Node*>& level, Node* old_right);
  Status UpdateParents(std::vector<PathStep>& path, size_t depth, std::vector<Rep> reps,
                       bool appended);
  Status GrowRoot(std::vector<Rep> reps);
  Status SameParentNeighbours(Node* parent, size_t i, Node* node, Node** left, Node** right);
  Status ShiftToNeighbours(std::vector<PathStep>& path, size_t lvl);
  Status MergeIntoNeighbour(std::vector<PathStep>& path, size_t lvl, bool* merged);
  Status RemoveNode(std::vector<PathStep>& path, size_t lvl, Node* node);
  Status Unlink(Node* node);
  Status CollapseRoot();
  Rep RepOf(const Node& node) const;

  struct CheckState;
  Status CheckNode(uint32_t page, size_t depth, CheckState* state, std::string* last_key,
                   uint32_t* last_recno, bool* empty);

  CdxPager* pager_;
  std::string file_name_;
  std::string name_;
  uint32_t header_offset_;
  CdxHeader header_;
  bool header_dirty_ = false;
  uint8_t fill_;
  size_t order_ = 0;
  bool broken_ = false;    // an earlier change failed halfway: refuse further changes
  bool call_dirtied_ = false;
  bool call_bumped_ = false;
  uint64_t changes_ = 0;

  // Decoded pages by page number (offset / 512): a lookup is an index, not a hash.
  std::vector<std::unique_ptr<Node>> nodes_;
  std::vector<std::unique_ptr<Node>> graveyard_;  // freed during this call
  std::vector<uint32_t> dirty_pages_;
  size_t cache_bytes_ = 0;
  size_t cache_limit_ = size_t{16} << 20;
  uint64_t clock_ = 0;

  bool valid_ = false;
  uint32_t cur_page_ = 0;
  size_t cur_index_ = 0;
  std::string cur_key_;
  std::string prev_key_;  // the position before a step, kept to reuse its buffer
  uint32_t cur_recno_ = 0;
  uint64_t cur_changes_ = 0;
};

}  // namespace xb
