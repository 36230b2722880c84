#include "CdxTag.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>
#include <unordered_set>

#include "CdxBulkBuilder.h"
#include "CdxInteriorNode.h"
#include "CdxLeafNode.h"

namespace xb {

// A decoded page in the tag's cache.
// Laid out for searches, which wait on memory: the first cache line holds the page, the kind
// of node and what a leaf search reads (CdxLeafNode puts those members first); an interior
// search's members start the third line. What only changes or bookkeeping touch comes last.
struct alignas(64) CdxTag::Node {
  uint32_t page = 0;
  bool is_leaf = true;
  bool dirty = false;
  CdxLeafNode leaf;
  CdxInteriorNode inner;
  uint64_t last_use = 0;
  size_t memory = 0;  // bytes counted against the cache limit

  uint16_t attributes() const { return is_leaf ? leaf.attributes() : inner.attributes(); }
  void set_attributes(uint16_t a) { is_leaf ? leaf.set_attributes(a) : inner.set_attributes(a); }
  uint32_t left() const { return is_leaf ? leaf.left() : inner.left(); }
  uint32_t right() const { return is_leaf ? leaf.right() : inner.right(); }
  void set_left(uint32_t p) { is_leaf ? leaf.set_left(p) : inner.set_left(p); }
  void set_right(uint32_t p) { is_leaf ? leaf.set_right(p) : inner.set_right(p); }
  size_t count() const { return is_leaf ? leaf.count() : inner.count(); }
  const uint8_t* key(size_t i) const { return is_leaf ? leaf.key(i) : inner.key(i); }
  uint32_t recno(size_t i) const { return is_leaf ? leaf.recno(i) : inner.recno(i); }
  size_t MemoryBytes() const { return is_leaf ? leaf.MemoryBytes() : inner.MemoryBytes(); }
};

struct CdxTag::CheckState {
  struct Link {
    uint32_t page, left, right;
  };
  std::vector<std::vector<Link>> levels;  // nodes of each depth, left to right
  std::unordered_set<uint32_t> visited;
  size_t leaf_depth = SIZE_MAX;
  bool have_prev = false;
  std::string prev_key;
  uint32_t prev_recno = 0;
};

namespace {

const uint8_t* Bytes(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }

}  // namespace

CdxTag::CdxTag(CdxPager* pager, const std::string& file_name, std::string name,
               uint32_t header_offset, const CdxHeader& header, uint8_t key_fill)
    : pager_(pager),
      file_name_(file_name),
      name_(std::move(name)),
      header_offset_(header_offset),
      header_(header),
      fill_(key_fill) {}

CdxTag::~CdxTag() = default;

CdxTagInfo CdxTag::Info() const {
  CdxTagInfo info;
  info.name = name_;
  info.key_expression = header_.key_expression;
  info.for_expression = header_.for_expression;
  info.key_length = header_.key_length;
  info.options = header_.options;
  info.descending = header_.descending;
  info.unique = unique();
  info.unknown_collation = header_.unknown_collation;
  info.header_offset = header_offset_;
  info.order = order_;
  return info;
}

// ---------------------------------------------------------------------------------------------
// Cache and bookkeeping

Status CdxTag::CheckWritable() const {
  RETURN_IF_ERROR(CheckOpen());
  if (pager_->read_only()) {
    return Status::ReadOnly(file_name_ + ": the index was opened read-only");
  }
  if (header_.unknown_collation) {
    return Status::ReadOnly(file_name_ + ": tag " + name_ +
                            " uses a collation this engine does not know; it can be read but "
                            "not changed");
  }
  if (broken_) {
    return Where(header_offset_, "").Corrupt("an earlier change of this tag failed halfway");
  }
  return Status::Ok();
}

Status CdxTag::CheckKey(std::string_view key) const {
  if (key.size() == header_.key_length) return Status::Ok();
  return Status::InvalidArgument(file_name_ + ": tag " + name_ + ": a key of " +
                                 std::to_string(key.size()) + " bytes was given; its keys have " +
                                 std::to_string(header_.key_length));
}

// Starts a public call. Only here are decoded pages dropped, so pointers taken during a call
// stay valid until it returns.
void CdxTag::BeginCall() {
  graveyard_.clear();
  call_dirtied_ = false;
  call_bumped_ = false;
  if (cache_bytes_ <= cache_limit_) return;
  std::vector<std::pair<uint64_t, size_t>> clean;
  for (size_t slot = 0; slot < nodes_.size(); ++slot) {
    if (nodes_[slot] && !nodes_[slot]->dirty) clean.emplace_back(nodes_[slot]->last_use, slot);
  }
  std::sort(clean.begin(), clean.end());
  for (const auto& [use, slot] : clean) {
    if (cache_bytes_ <= cache_limit_ / 4 * 3) break;
    cache_bytes_ -= nodes_[slot]->memory;
    nodes_[slot].reset();
  }
}

// Every change moves the header's change counter once per call, and tells cursors to find
// their place again.
void CdxTag::Bump() {
  ++changes_;
  if (call_bumped_) return;
  call_bumped_ = true;
  ++header_.version;
  header_dirty_ = true;
}

void CdxTag::MarkDirty(Node* node) {
  // Only cached nodes are written back: a change to any other copy would be lost.
  assert(Cached(node->page) == node);
  call_dirtied_ = true;
  if (!node->dirty) {
    node->dirty = true;
    dirty_pages_.push_back(node->page);
  }
  const size_t memory = node->MemoryBytes();
  cache_bytes_ = cache_bytes_ - node->memory + memory;
  node->memory = memory;
}

Status CdxTag::DecodeInto(uint32_t page, Node* node) {
  if (!pager_->IsPage(page) || page == header_offset_ || page == header_offset_ + kCdxPageSize) {
    return Where(page, "page").Corrupt("a pointer leads outside the tree's pages");
  }
  uint8_t buf[kCdxPageSize];
  RETURN_IF_ERROR(pager_->Read(page, 1, buf));
  node->page = page;
  if ((CdxGetLE16(buf) & kCdxAttrLeaf) != 0) {
    node->is_leaf = true;
    node->leaf.Reset(header_.key_length, fill_);
    return node->leaf.DecodeFrom(buf, Where(page, "leaf page"));
  }
  node->is_leaf = false;
  node->inner.Reset(header_.key_length);
  return node->inner.DecodeFrom(buf, Where(page, "interior page"));
}

CdxTag::Node* CdxTag::Cached(uint32_t page) const {
  const size_t slot = page / kCdxPageSize;
  Node* node = slot < nodes_.size() ? nodes_[slot].get() : nullptr;
  assert(node == nullptr || node->page == page);  // a slot holds the node of its own page
  return node;
}

std::unique_ptr<CdxTag::Node>& CdxTag::Slot(uint32_t page) {
  const size_t slot = page / kCdxPageSize;
  if (slot >= nodes_.size()) nodes_.resize(std::max(slot + 1, nodes_.size() * 2));
  return nodes_[slot];
}

Status CdxTag::LoadNode(uint32_t page, Node** out) {
  if (Node* cached = Cached(page)) {
    cached->last_use = ++clock_;
    *out = cached;
    return Status::Ok();
  }
  auto node = std::make_unique<Node>();
  RETURN_IF_ERROR(DecodeInto(page, node.get()));
  node->last_use = ++clock_;
  node->memory = node->MemoryBytes();
  cache_bytes_ += node->memory;
  *out = node.get();
  Slot(page) = std::move(node);
  return Status::Ok();
}

// A page for a one-off walk: the cached copy if there is one, else decoded into `scratch`
// without growing the cache.
Status CdxTag::ReadNode(uint32_t page, Node* scratch, const Node** out) {
  if (const Node* cached = Cached(page)) {
    *out = cached;
    return Status::Ok();
  }
  RETURN_IF_ERROR(DecodeInto(page, scratch));
  *out = scratch;
  return Status::Ok();
}

Status CdxTag::NewNode(bool leaf, Node** out) {
  uint32_t page = 0;
  RETURN_IF_ERROR(pager_->Allocate(&page));
  auto node = std::make_unique<Node>();
  node->page = page;
  node->is_leaf = leaf;
  if (leaf) {
    node->leaf.Reset(header_.key_length, fill_);
  } else {
    node->inner.Reset(header_.key_length);
  }
  std::unique_ptr<Node>& slot = Slot(page);
  if (slot) {  // a damaged tree used a page that was on the free list
    cache_bytes_ -= slot->memory;
    graveyard_.push_back(std::move(slot));
  }
  Node* raw = node.get();
  raw->last_use = ++clock_;
  slot = std::move(node);
  MarkDirty(raw);
  *out = raw;
  return Status::Ok();
}

void CdxTag::FreeNode(Node* node) {
  pager_->Free(node->page);
  if (Cached(node->page) != node) return;
  cache_bytes_ -= node->memory;
  node->dirty = false;
  graveyard_.push_back(std::move(Slot(node->page)));
}

Status CdxTag::LoadSibling(uint32_t page, bool leaf, Node** out) {
  RETURN_IF_ERROR(LoadNode(page, out));
  if ((*out)->is_leaf != leaf) {
    return Where(page, "page").Corrupt("a sibling link leads to a node of another level");
  }
  return Status::Ok();
}

CdxTag::Rep CdxTag::RepOf(const Node& node) const {
  assert(node.count() > 0);  // a parent names a child by its last pair; empty nodes are removed
  const size_t last = node.count() - 1;
  return Rep{node.page,
             std::string(reinterpret_cast<const char*>(node.key(last)), header_.key_length),
             node.recno(last)};
}

Status CdxTag::WriteBack() {
  if (pager_->closed()) return Status::NotOpen(file_name_ + ": the index file is closed");
  uint8_t buf[kCdxHeaderSize];
  for (uint32_t page : dirty_pages_) {
    Node* cached = Cached(page);
    if (cached == nullptr || !cached->dirty) continue;
    Node& node = *cached;
    const bool encoded = node.is_leaf ? node.leaf.EncodeTo(buf) : node.inner.EncodeTo(buf);
    if (!encoded) {
      // Only a leaf written by another tool with narrower entries than ours can get here,
      // when a neighbour's split or removal changed just its links.
      return Where(page, "leaf page").Corrupt("the leaf cannot be rewritten in this layout");
    }
    pager_->Write(page, 1, buf, false);
    node.dirty = false;
  }
  dirty_pages_.clear();
  if (header_dirty_) {
    header_.EncodeTo(buf);
    pager_->Write(header_offset_, 2, buf, true);
    header_dirty_ = false;
  }
  return Status::Ok();
}

void CdxTag::Reload(const CdxHeader& header) {
  header_ = header;
  header_dirty_ = false;
  nodes_.clear();
  graveyard_.clear();
  dirty_pages_.clear();
  cache_bytes_ = 0;
  broken_ = false;  // what was half changed in memory is gone with the rest
  ++changes_;
}

void CdxTag::SetFreeListHead(uint32_t head) {
  if (header_.free_list == head) return;
  header_.free_list = head;
  ++header_.version;
  header_dirty_ = true;
}

Status CdxTag::SetKeyFill(uint8_t fill) {
  if (fill == fill_) return Status::Ok();
  // Decoded keys carry the old fill: write changes out, then decode afresh.
  if (!dirty_pages_.empty() || header_dirty_) RETURN_IF_ERROR(WriteBack());
  nodes_.clear();
  graveyard_.clear();
  cache_bytes_ = 0;
  fill_ = fill;
  valid_ = false;
  return Status::Ok();
}

Status CdxTag::CreateEmptyRoot() {
  BeginCall();
  Node* root = nullptr;
  RETURN_IF_ERROR(NewNode(true, &root));
  root->set_attributes(kCdxAttrLeaf | kCdxAttrRoot);
  header_.root = root->page;
  header_dirty_ = true;
  return Status::Ok();
}

// ---------------------------------------------------------------------------------------------
// Search and cursor

Status CdxTag::Descend(const CdxSearchKey& target, std::vector<PathStep>* path, Node** leaf,
                       size_t* pos) {
  if (path != nullptr) path->clear();
  uint32_t page = header_.root;
  for (size_t depth = 0; depth < kCdxMaxDepth; ++depth) {
    Node* node = nullptr;
    RETURN_IF_ERROR(LoadNode(page, &node));
    if (node->is_leaf) {
      *leaf = node;
      *pos = node->leaf.LowerBound(target);
      return Status::Ok();
    }
    // Entries are the last pair of each child: take the first child that can hold the target,
    // or the last child when the target is beyond them all.
    size_t i = node->inner.LowerBound(target);
    if (i == node->inner.count()) --i;
    if (path != nullptr) path->push_back({node, i});
    page = node->inner.child(i);
  }
  return Where(header_.root, "root page").Corrupt("the tree is deeper than 64 levels");
}

void CdxTag::SetCursor(const Node* leaf, size_t index) {
  valid_ = true;
  cur_page_ = leaf->page;
  cur_index_ = index;
  cur_key_.assign(reinterpret_cast<const char*>(leaf->leaf.key(index)), header_.key_length);
  cur_recno_ = leaf->leaf.recno(index);
  cur_changes_ = changes_;
}

Status CdxTag::SettleForward(Node* leaf, size_t pos) {
  size_t steps = 0;
  while (pos >= leaf->leaf.count()) {
    const uint32_t right = leaf->leaf.right();
    if (right == kCdxNoPage) {
      valid_ = false;
      return Status::Ok();
    }
    if (++steps > MaxSteps()) {
      return Where(leaf->page, "leaf page").Corrupt("the right links of the leaves form a loop");
    }
    RETURN_IF_ERROR(LoadSibling(right, true, &leaf));
    pos = 0;
  }
  SetCursor(leaf, pos);
  return Status::Ok();
}

// Lands on the last entry before index `end` of `leaf`, going left through the chain.
Status CdxTag::SettleBackward(Node* leaf, size_t end) {
  size_t steps = 0;
  end = std::min(end, leaf->leaf.count());
  while (end == 0) {
    const uint32_t left = leaf->leaf.left();
    if (left == kCdxNoPage) {
      valid_ = false;
      return Status::Ok();
    }
    if (++steps > MaxSteps()) {
      return Where(leaf->page, "leaf page").Corrupt("the left links of the leaves form a loop");
    }
    RETURN_IF_ERROR(LoadSibling(left, true, &leaf));
    end = leaf->leaf.count();
  }
  SetCursor(leaf, end - 1);
  return Status::Ok();
}

Status CdxTag::CheckOpen() const {
  if (pager_->closed()) return Status::NotOpen(file_name_ + ": the index file is closed");
  return Status::Ok();
}

Status CdxTag::First() {
  RETURN_IF_ERROR(CheckOpen());
  BeginCall();
  CdxSearchKey target;
  target.mode = CdxSearchKey::kFirst;
  Node* leaf = nullptr;
  size_t pos = 0;
  Status s = Descend(target, nullptr, &leaf, &pos);
  if (s.ok()) s = SettleForward(leaf, pos);
  if (!s.ok()) valid_ = false;
  return s;
}

Status CdxTag::Last() {
  RETURN_IF_ERROR(CheckOpen());
  BeginCall();
  CdxSearchKey target;
  target.mode = CdxSearchKey::kLast;
  Node* leaf = nullptr;
  size_t pos = 0;
  Status s = Descend(target, nullptr, &leaf, &pos);
  if (s.ok()) s = SettleBackward(leaf, pos);
  if (!s.ok()) valid_ = false;
  return s;
}

Status CdxTag::Locate(Node** leaf, size_t* pos, bool* on_entry) {
  if (cur_changes_ == changes_) {
    Node* node = nullptr;
    RETURN_IF_ERROR(LoadNode(cur_page_, &node));
    if (node->is_leaf && cur_index_ < node->leaf.count() &&
        CdxComparePairs(node->leaf.key(cur_index_), node->leaf.recno(cur_index_),
                        Bytes(cur_key_), cur_recno_, header_.key_length) == 0) {
      *leaf = node;
      *pos = cur_index_;
      *on_entry = true;
      return Status::Ok();
    }
  }
  // The tag changed since the cursor was placed: find its pair again, or the next one.
  CdxSearchKey target;
  target.mode = CdxSearchKey::kPair;
  target.key = Bytes(cur_key_);
  target.length = header_.key_length;
  target.recno = cur_recno_;
  RETURN_IF_ERROR(Descend(target, nullptr, leaf, pos));
  *on_entry = *pos < (*leaf)->leaf.count() &&
             CdxComparePairs((*leaf)->leaf.key(*pos), (*leaf)->leaf.recno(*pos), Bytes(cur_key_),
                             cur_recno_, header_.key_length) == 0;
  return Status::Ok();
}

uint32_t CdxTag::RecnoAhead(size_t ahead, bool forward) const {
  if (!valid_ || cur_changes_ != changes_) return 0;
  const Node* node = Cached(cur_page_);
  if (node == nullptr || !node->is_leaf) return 0;
  if (forward) {
    const size_t at = cur_index_ + ahead;
    return at < node->leaf.count() ? node->leaf.recno(at) : 0;
  }
  return cur_index_ >= ahead && cur_index_ - ahead < node->leaf.count()
             ? node->leaf.recno(cur_index_ - ahead)
             : 0;
}

// A step to the neighbouring entry of the same leaf, when nothing changed since the cursor was
// placed and the leaf is still decoded: no search and no copy of the position. False when the
// step needs the general path (another leaf, a changed tag).
bool CdxTag::StepWithinLeaf(bool forward, Status* status) {
  if (cur_changes_ != changes_) return false;
  Node* node = Cached(cur_page_);
  if (node == nullptr || !node->is_leaf) return false;
  const CdxLeafNode& leaf = node->leaf;
  const size_t n = leaf.count();
  if (cur_index_ >= n || leaf.recno(cur_index_) != cur_recno_) return false;
  if (forward ? cur_index_ + 1 >= n : cur_index_ == 0) return false;
  const size_t next = forward ? cur_index_ + 1 : cur_index_ - 1;
  // The same guard as the general path: each step must move strictly in key order.
  const int c = CdxComparePairs(leaf.key(next), leaf.recno(next), leaf.key(cur_index_), cur_recno_,
                                header_.key_length);
  if (forward ? c <= 0 : c >= 0) {
    valid_ = false;
    *status =
        Where(cur_page_, "leaf page").Corrupt("the entries do not run in order along the leaves");
    return true;
  }
  node->last_use = ++clock_;
  SetCursor(node, next);
  *status = Status::Ok();
  return true;
}

Status CdxTag::Step(bool forward) {
  if (!valid_) {
    return Status::InvalidArgument(file_name_ + ": tag " + name_ + ": the cursor is not on an entry");
  }
  RETURN_IF_ERROR(CheckOpen());
  Status quick;
  if (StepWithinLeaf(forward, &quick)) return quick;
  BeginCall();
  prev_key_.assign(cur_key_);
  const uint32_t prev_recno = cur_recno_;
  Node* leaf = nullptr;
  size_t pos = 0;
  bool on_entry = false;
  Status s = Locate(&leaf, &pos, &on_entry);
  if (s.ok()) {
    s = forward ? SettleForward(leaf, on_entry ? pos + 1 : pos) : SettleBackward(leaf, pos);
  }
  // Each step must move strictly in key order; anything else is a loop or disorder in the
  // leaves, and a caller skipping to the end would never get there.
  if (s.ok() && valid_) {
    const int c = CdxComparePairs(Bytes(cur_key_), cur_recno_, Bytes(prev_key_), prev_recno,
                                  header_.key_length);
    if (forward ? c <= 0 : c >= 0) {
      s = Where(cur_page_, "leaf page").Corrupt("the entries do not run in order along the leaves");
    }
  }
  if (!s.ok()) valid_ = false;
  return s;
}

Status CdxTag::Next() { return Step(true); }

Status CdxTag::Prev() { return Step(false); }

Status CdxTag::Seek(std::string_view key, CdxSeekResult* result) {
  *result = CdxSeekResult::kEnd;
  if (key.size() > header_.key_length) {
    return Status::InvalidArgument(file_name_ + ": tag " + name_ + ": a seek key of " +
                                   std::to_string(key.size()) + " bytes is longer than the key");
  }
  RETURN_IF_ERROR(CheckOpen());
  BeginCall();
  CdxSearchKey target;
  target.mode = CdxSearchKey::kPrefix;
  target.key = Bytes(key);
  target.length = key.size();
  Node* leaf = nullptr;
  size_t pos = 0;
  Status s = Descend(target, nullptr, &leaf, &pos);
  if (s.ok()) s = SettleForward(leaf, pos);
  if (!s.ok()) {
    valid_ = false;
    return s;
  }
  if (!valid_) return Status::Ok();
  if (std::memcmp(cur_key_.data(), key.data(), key.size()) != 0) {
    *result = CdxSeekResult::kGreater;
  } else {
    *result = key.size() == header_.key_length ? CdxSeekResult::kExact : CdxSeekResult::kPrefix;
  }
  return Status::Ok();
}

Status CdxTag::SeekPair(std::string_view key, uint32_t recno, bool* exact) {
  *exact = false;
  RETURN_IF_ERROR(CheckKey(key));
  RETURN_IF_ERROR(CheckOpen());
  BeginCall();
  CdxSearchKey target;
  target.mode = CdxSearchKey::kPair;
  target.key = Bytes(key);
  target.length = key.size();
  target.recno = recno;
  Node* leaf = nullptr;
  size_t pos = 0;
  Status s = Descend(target, nullptr, &leaf, &pos);
  if (s.ok()) s = SettleForward(leaf, pos);
  if (!s.ok()) {
    valid_ = false;
    return s;
  }
  *exact = valid_ && cur_recno_ == recno && cur_key_ == key;
  return Status::Ok();
}

Status CdxTag::ForEach(const std::function<bool(std::string_view, uint32_t)>& visit) {
  RETURN_IF_ERROR(CheckOpen());
  BeginCall();
  CdxSearchKey target;
  target.mode = CdxSearchKey::kFirst;
  Node* first = nullptr;
  size_t pos = 0;
  RETURN_IF_ERROR(Descend(target, nullptr, &first, &pos));
  Node scratch;
  const Node* leaf = first;
  const size_t key_length = header_.key_length;
  // The last pair visited, to stop at the first step backwards: a loop in the right links or
  // disorder in the leaves would otherwise feed the caller the same entries again.
  std::string last;
  uint32_t last_recno = 0;
  for (size_t steps = 0;; ++steps) {
    for (size_t i = 0; i < leaf->leaf.count(); ++i) {
      const uint8_t* key = leaf->leaf.key(i);
      const uint32_t recno = leaf->leaf.recno(i);
      if (!last.empty() &&
          CdxComparePairs(key, recno, Bytes(last), last_recno, key_length) <= 0) {
        return Where(leaf->page, "leaf page").Corrupt("the entries do not run in order");
      }
      last.assign(reinterpret_cast<const char*>(key), key_length);
      last_recno = recno;
      if (!visit(std::string_view(last), recno)) return Status::Ok();
    }
    const uint32_t right = leaf->leaf.right();
    if (right == kCdxNoPage) return Status::Ok();
    if (steps > MaxSteps()) {
      return Where(leaf->page, "leaf page").Corrupt("the right links of the leaves form a loop");
    }
    RETURN_IF_ERROR(ReadNode(right, &scratch, &leaf));
    if (!leaf->is_leaf) {
      return Where(right, "page").Corrupt("a leaf's right link leads to an interior node");
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Changes

Status CdxTag::Insert(std::string_view key, uint32_t recno) {
  RETURN_IF_ERROR(CheckWritable());
  RETURN_IF_ERROR(CheckKey(key));
  if (recno == 0) {
    return Status::InvalidArgument(file_name_ + ": tag " + name_ + ": record number 0");
  }
  BeginCall();
  Status s = DoInsert(key, recno);
  // A failure after the first page changed leaves the tree half-updated in memory.
  if (!s.ok() && call_dirtied_) broken_ = true;
  return s;
}

Status CdxTag::InsertSorted(const uint8_t* pairs, size_t count, size_t* skipped,
                            size_t expected_entries) {
  *skipped = 0;
  RETURN_IF_ERROR(CheckWritable());
  const size_t size = header_.key_length + 4;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* pair = pairs + i * size;
    if (CdxGetBE32(pair + header_.key_length) == 0) {
      return Status::InvalidArgument(file_name_ + ": tag " + name_ + ": record number 0");
    }
    if (i > 0 && CdxCompareBytes(pair - size, pair, size) >= 0) {
      return Status::InvalidArgument(file_name_ + ": tag " + name_ +
                                     ": the pairs to add are not in order");
    }
  }
  if (count == 0) return Status::Ok();
  BeginCall();
  const bool rebuild = count >= kRebuildMin && count * kRebuildShare >= expected_entries &&
                       expected_entries != 0;
  Status s = rebuild ? RebuildMerged(pairs, count, skipped, expected_entries) : DoInsertSorted(pairs, count, skipped);
  if (!s.ok() && call_dirtied_) broken_ = true;
  return s;
}

// A batch that reaches most leaves would decode, split and encode nearly every one of them,
// holding them all in memory until the flush; merging the old entries with the batch into a
// fresh tree reads each leaf once and writes full pages straight away.
Status CdxTag::RebuildMerged(const uint8_t* pairs, size_t count, size_t* skipped,
                             size_t expected_entries) {
  const size_t key_length = header_.key_length;
  const size_t size = key_length + 4;

  // First the old tree's pages, through its interior nodes: every page (for the new tree to
  // take over) and the leaves in key order. Leaves are not decoded yet; their entry words say
  // how many key bytes each entry holds before its fill, and the widest key of the old
  // entries and the new pairs sets how wide the merged pairs need to be. Past that width every
  // key is fill, so cutting the pairs there changes nothing but the memory and copying
  // they take (see CdxBulkBuilder::Narrow).
  std::vector<uint32_t> pages;
  std::vector<uint32_t> leaves;
  size_t used = 0;
  {
    std::vector<Node> scratch(kCdxMaxDepth + 1);
    struct Frame {
      const Node* node;
      size_t child;
    };
    std::vector<Frame> stack;
    const size_t limit = MaxSteps();
    // Either records a leaf and returns no node, or gives the interior node to descend into.
    auto visit = [&](uint32_t page, size_t depth, const Node** interior) -> Status {
      *interior = nullptr;
      pages.push_back(page);
      if (const Node* cached = Cached(page)) {
        if (!cached->is_leaf) {
          *interior = cached;
          return Status::Ok();
        }
        leaves.push_back(page);
        for (size_t i = 0; i < cached->leaf.count() && used < key_length; ++i)
          used = std::max(used, cached->leaf.FirstEntryBytes(i));
        return Status::Ok();
      }
      if (!pager_->IsPage(page) || page == header_offset_ || page == header_offset_ + kCdxPageSize) {
        return Where(page, "page").Corrupt("a pointer leads outside the tree's pages");
      }
      uint8_t buf[kCdxPageSize];
      RETURN_IF_ERROR(pager_->Read(page, 1, buf));
      if ((CdxGetLE16(buf) & kCdxAttrLeaf) == 0) return ReadNode(page, &scratch[depth], interior);
      leaves.push_back(page);
      size_t most_here = key_length;
      if (!CdxLeafNode::UsedKeyBytes(buf, key_length, &most_here)) most_here = key_length;
      used = std::max(used, most_here);
      return Status::Ok();
    };
    const Node* root = nullptr;
    RETURN_IF_ERROR(visit(header_.root, 0, &root));
    if (root != nullptr) stack.push_back({root, 0});
    while (!stack.empty()) {
      Frame& top = stack.back();
      const Node* node = top.node;
      if (top.child == node->inner.count()) {
        stack.pop_back();
        continue;
      }
      const uint32_t child = node->inner.child(top.child++);
      if (stack.size() >= kCdxMaxDepth || pages.size() > limit) {
        return Where(node->page, "interior page").Corrupt("the child links form a loop");
      }
      const Node* below = nullptr;
      RETURN_IF_ERROR(visit(child, stack.size(), &below));
      if (below != nullptr) stack.push_back({below, 0});
    }
  }
  for (size_t i = 0; i < count && used < key_length; ++i) {
    const uint8_t* key = pairs + i * size;
    if (key[key_length - 1] != fill_) {
      used = key_length;
    } else {
      used = std::max(used, key_length - CdxLeafNode::TrailOf(key, key_length, fill_));
    }
  }
  // A multiple of 4, as the bulk builder cuts pairs itself, and only when it saves something.
  size_t width = std::min(key_length, (used + 3) / 4 * 4);
  if (width + 8 > key_length) width = key_length;
  const size_t out = width + 4;

  // Then the merge, leaf by leaf, straight into a buffer sized for the entries the table can
  // have; a tree with more (a damaged one) makes it grow.
  CdxPairBuffer merged((count + expected_entries) * out);
  size_t filled = 0;
  auto room = [&merged, &filled, out]() -> uint8_t* {
    if (filled + out > merged.size()) merged.resize(std::max(merged.size() * 2, filled + out));
    uint8_t* at = merged.data() + filled;
    filled += out;
    return at;
  };
  size_t next = 0;  // the first new pair not merged yet
  bool have_old = false;
  uint8_t last_old[kCdxMaxKeyLength];  // the previous leaf's last entry, for the order check
  uint32_t last_old_recno = 0;
  Node scratch;
  for (uint32_t page : leaves) {
    const Node* node = nullptr;
    RETURN_IF_ERROR(ReadNode(page, &scratch, &node));
    if (!node->is_leaf) return Where(page, "leaf page").Corrupt("the page is not a leaf");
    const CdxLeafNode& leaf = node->leaf;
    const size_t n = leaf.count();
    for (size_t i = 0; i < n; ++i) {
      const uint8_t* key = leaf.key(i);
      const uint32_t recno = leaf.recno(i);
      const uint8_t* previous = i > 0 ? leaf.key(i - 1) : have_old ? last_old : nullptr;
      const uint32_t previous_recno = i > 0 ? leaf.recno(i - 1) : last_old_recno;
      if (previous != nullptr &&
          CdxComparePairs(previous, previous_recno, key, recno, key_length) >= 0) {
        return Where(page, "leaf page").Corrupt("the entries do not run in order");
      }
      if (leaf.FirstEntryBytes(i) > width) {
        return Where(page, "leaf page").Corrupt("an entry's trailing count is wrong");
      }
      for (; next < count; ++next) {
        const uint8_t* pair = pairs + next * size;
        const uint32_t pair_recno = CdxGetBE32(pair + key_length);
        const int c = CdxComparePairs(pair, pair_recno, key, recno, key_length);
        if (c > 0) break;
        if (c == 0) {
          ++*skipped;
        } else {
          uint8_t* to = room();
          CdxMoveSmall(to, pair, width);
          CdxPutBE32(to + width, pair_recno);
        }
      }
      uint8_t* to = room();
      CdxMoveSmall(to, key, width);
      CdxPutBE32(to + width, recno);
    }
    if (n != 0) {
      std::memcpy(last_old, leaf.key(n - 1), key_length);
      last_old_recno = leaf.recno(n - 1);
      have_old = true;
    }
  }
  for (; next < count; ++next) {
    const uint8_t* pair = pairs + next * size;
    uint8_t* to = room();
    CdxMoveSmall(to, pair, width);
    CdxPutBE32(to + width, CdxGetBE32(pair + key_length));
  }
  merged.resize(filled);

  // The new tree takes the old tree's pages, in file order, rather than growing the file;
  // pages it does not need go to the free list. Nothing of the old tree is kept in memory.
  call_dirtied_ = true;
  nodes_.clear();
  graveyard_.clear();
  dirty_pages_.clear();
  cache_bytes_ = 0;
  pager_->Reuse(pages);
  CdxBulkBuilder builder(pager_, key_length, fill_, file_name_ + ": tag " + name_);
  builder.SetPageSupply(std::move(pages));
  // The old entries were checked to run in order and the new ones are sorted, with pairs
  // already present left out: the merge is strictly ascending.
  RETURN_IF_ERROR(builder.PrepareOrderedRecords(std::move(merged), false, width));
  uint32_t new_root = 0;
  RETURN_IF_ERROR(builder.Write(&new_root));
  header_.root = new_root;
  header_dirty_ = true;
  Bump();
  return Status::Ok();
}

Status CdxTag::DoInsertSorted(const uint8_t* pairs, size_t count, size_t* skipped) {
  const size_t key_length = header_.key_length;
  const size_t size = key_length + 4;
  std::vector<PathStep> path;
  for (size_t i = 0; i < count;) {
    CdxSearchKey target;
    target.mode = CdxSearchKey::kPair;
    target.key = pairs + i * size;
    target.length = key_length;
    target.recno = CdxGetBE32(target.key + key_length);
    Node* leaf = nullptr;
    size_t pos = 0;
    RETURN_IF_ERROR(Descend(target, &path, &leaf, &pos));
    // The pairs up to the leaf's last one belong here (its parent's entry is that pair); the
    // rightmost leaf takes everything beyond. At least one pair is taken, so a damaged tree
    // cannot stop the loop.
    const size_t n = leaf->leaf.count();
    size_t j = i + 1;
    const bool rightmost = leaf->leaf.right() == kCdxNoPage;
    if (rightmost || n == 0) {
      j = count;
    } else {
      const uint8_t* last_key = leaf->leaf.key(n - 1);
      const uint32_t last_recno = leaf->leaf.recno(n - 1);
      while (j < count) {
        const uint8_t* pair = pairs + j * size;
        const uint32_t recno = CdxGetBE32(pair + key_length);
        if (CdxComparePairs(pair, recno, last_key, last_recno, key_length) > 0) break;
        ++j;
      }
    }
    // New pairs all beyond the old last one of the rightmost leaf: records arriving in key
    // order. The old leaf stays full and the new leaves are filled from the left.
    const bool appended =
        rightmost && (n == 0 || CdxComparePairs(target.key, target.recno, leaf->leaf.key(n - 1),
                                                leaf->leaf.recno(n - 1), key_length) > 0);
    const uint32_t old_last_recno = n == 0 ? 0 : leaf->leaf.recno(n - 1);
    std::string old_last;
    if (n != 0) old_last.assign(reinterpret_cast<const char*>(leaf->leaf.key(n - 1)), key_length);
    const size_t left = leaf->leaf.MergeSorted(pairs + i * size, j - i);
    *skipped += left;
    i = j;
    if (leaf->leaf.count() == n) continue;  // every pair was already there
    Bump();
    MarkDirty(leaf);
    if (!leaf->leaf.Fits()) {
      RETURN_IF_ERROR(SplitLeafAt(path, leaf, PlanMergedSplit(*leaf, appended), appended));
      continue;
    }
    const size_t m = leaf->leaf.count();
    const bool last_changed = n == 0 || leaf->leaf.recno(m - 1) != old_last_recno ||
                             std::memcmp(leaf->leaf.key(m - 1), old_last.data(), key_length) != 0;
    if (last_changed) RETURN_IF_ERROR(UpdateParents(path, path.size(), {RepOf(*leaf)}, false));
  }
  return Status::Ok();
}

// Where to cut a leaf that overflowed by a merge. Records arriving in key order fill leaves
// from the left, like a bulk build; elsewhere the entries are spread evenly over the fewest
// leaves that hold them, so that the next inserts nearby do not split them again at once.
std::vector<size_t> CdxTag::PlanMergedSplit(const Node& node, bool appended) const {
  const CdxLeafNode& leaf = node.leaf;
  const size_t n = leaf.count();
  const size_t key_length = header_.key_length;
  std::vector<size_t> sums(n + 1, 0);
  for (size_t i = 0; i < n; ++i) sums[i + 1] = sums[i] + leaf.StoredBytes(i);
  // Size of a page holding entries [a, b) with record numbers up to maxRecno.
  auto size = [&](size_t a, size_t b, uint32_t max_recno) {
    return CdxLeafNode::kHeaderBytes + (b - a) * CdxLeafNode::EntryBytesFor(max_recno, key_length) +
           leaf.FirstEntryBytes(a) + (sums[b] - sums[a + 1]);
  };
  // Fills pages from the left up to `limit` bytes (never beyond a page).
  auto fill = [&](size_t limit) {
    std::vector<size_t> cuts;
    for (size_t a = 0; a < n;) {
      size_t b = a + 1;
      uint32_t max_recno = leaf.recno(a);
      while (b < n) {
        const uint32_t m = std::max(max_recno, leaf.recno(b));
        if (size(a, b + 1, m) > limit) break;
        max_recno = m;
        ++b;
      }
      if (b < n) cuts.push_back(b);
      a = b;
    }
    return cuts;
  };
  std::vector<size_t> full = fill(kCdxPageSize);
  if (appended || full.empty()) return full;
  // Aim at an even share of the bytes per page; accept it only if it needs no more pages.
  const size_t pages = full.size() + 1;
  const size_t total = size(0, n, leaf.max_recno());
  for (size_t slack = 0; slack <= 64; slack += 32) {
    const size_t limit = std::min<size_t>(kCdxPageSize, total / pages + CdxLeafNode::kHeaderBytes +
                                                            key_length + slack);
    std::vector<size_t> even = fill(limit);
    if (even.size() == full.size()) return even;
  }
  return full;
}

Status CdxTag::SplitLeafAt(std::vector<PathStep>& path, Node* leaf, const std::vector<size_t>& cuts,
                           bool appended) {
  Node* old_right = nullptr;
  if (leaf->leaf.right() != kCdxNoPage) {
    RETURN_IF_ERROR(LoadSibling(leaf->leaf.right(), true, &old_right));
  }
  std::vector<Node*> level{leaf};
  for (size_t c = 0; c < cuts.size(); ++c) {
    Node* node = nullptr;
    RETURN_IF_ERROR(NewNode(true, &node));
    level.push_back(node);
  }
  for (size_t g = cuts.size(); g-- > 0;) leaf->leaf.MoveTailTo(cuts[g], &level[g + 1]->leaf);
  RETURN_IF_ERROR(Chain(level, old_right));
  std::vector<Rep> reps;
  for (Node* node : level) reps.push_back(RepOf(*node));
  return UpdateParents(path, path.size(), std::move(reps), appended);
}

Status CdxTag::Remove(std::string_view key, uint32_t recno) {
  RETURN_IF_ERROR(CheckWritable());
  RETURN_IF_ERROR(CheckKey(key));
  BeginCall();
  Status s = DoRemove(key, recno);
  if (!s.ok() && call_dirtied_) broken_ = true;
  return s;
}

Status CdxTag::DoInsert(std::string_view key, uint32_t recno) {
  CdxSearchKey target;
  target.mode = CdxSearchKey::kPair;
  target.key = Bytes(key);
  target.length = key.size();
  target.recno = recno;
  std::vector<PathStep> path;
  Node* leaf = nullptr;
  size_t pos = 0;
  RETURN_IF_ERROR(Descend(target, &path, &leaf, &pos));
  if (pos < leaf->leaf.count() && target.Compare(leaf->leaf.key(pos), leaf->leaf.recno(pos)) == 0) {
    return Status::InvalidArgument(file_name_ + ": tag " + name_ + ": record " +
                                   std::to_string(recno) + " is already in the tag with this key");
  }
  Bump();
  leaf->leaf.Insert(pos, target.key, recno);
  MarkDirty(leaf);
  return AfterLeafChange(path, leaf, pos + 1 == leaf->leaf.count(), pos);
}

Status CdxTag::DoRemove(std::string_view key, uint32_t recno) {
  CdxSearchKey target;
  target.mode = CdxSearchKey::kPair;
  target.key = Bytes(key);
  target.length = key.size();
  target.recno = recno;
  std::vector<PathStep> path;
  Node* leaf = nullptr;
  size_t pos = 0;
  RETURN_IF_ERROR(Descend(target, &path, &leaf, &pos));
  if (pos >= leaf->leaf.count() || target.Compare(leaf->leaf.key(pos), leaf->leaf.recno(pos)) != 0) {
    return Status::NotFound(file_name_ + ": tag " + name_ + ": record " + std::to_string(recno) +
                            " is not in the tag with this key");
  }
  Bump();
  const bool was_last = pos + 1 == leaf->leaf.count();
  leaf->leaf.Erase(pos);
  MarkDirty(leaf);
  RETURN_IF_ERROR(AfterLeafChange(path, leaf, was_last, SIZE_MAX));
  return CollapseRoot();
}

Status CdxTag::AfterLeafChange(std::vector<PathStep>& path, Node* leaf, bool last_changed,
                               size_t inserted_at) {
  // A leaf read from another writer's file may be fuller than our layout allows; it is split
  // like one that overflowed by an insert.
  if (!leaf->leaf.Fits()) return SplitLeaf(path, leaf, inserted_at);
  if (leaf->leaf.count() == 0) {
    if (path.empty()) return Status::Ok();  // an empty tag keeps its empty root leaf
    return RemoveNode(path, path.size(), leaf);
  }
  if (last_changed) return UpdateParents(path, path.size(), {RepOf(*leaf)}, false);
  return Status::Ok();
}

// Where to cut an overflowing leaf. Entries after a cut lose their shared prefix with the
// entry before it, so sizes are computed from per-entry stored bytes rather than halved.
std::vector<size_t> CdxTag::PlanLeafSplit(const Node& node, size_t inserted_at) const {
  const CdxLeafNode& leaf = node.leaf;
  const size_t n = leaf.count();
  const size_t key_length = header_.key_length;
  std::vector<size_t> sums(n + 1, 0);
  std::vector<uint32_t> max_before(n + 1, 0), max_from(n + 1, 0);
  for (size_t i = 0; i < n; ++i) {
    sums[i + 1] = sums[i] + leaf.StoredBytes(i);
    max_before[i + 1] = std::max(max_before[i], leaf.recno(i));
  }
  for (size_t i = n; i-- > 0;) max_from[i] = std::max(max_from[i + 1], leaf.recno(i));
  auto size = [&](size_t a, size_t b, uint32_t max_recno) {
    return CdxLeafNode::kHeaderBytes + (b - a) * CdxLeafNode::EntryBytesFor(max_recno, key_length) +
           leaf.FirstEntryBytes(a) + (sums[b] - sums[a + 1]);
  };
  // Appending at the right edge (new records in key order): leave the old leaf full.
  if (n >= 2 && inserted_at == n - 1 && leaf.right() == kCdxNoPage &&
      size(0, n - 1, max_before[n - 1]) <= kCdxPageSize) {
    return {n - 1};
  }
  size_t best = 0, best_diff = SIZE_MAX;
  for (size_t k = 1; k < n; ++k) {
    const size_t l = size(0, k, max_before[k]), r = size(k, n, max_from[k]);
    if (l > kCdxPageSize || r > kCdxPageSize) continue;
    const size_t diff = l > r ? l - r : r - l;
    if (diff < best_diff) {
      best_diff = diff;
      best = k;
    }
  }
  if (best != 0) return {best};
  // Two pages always do for a leaf in our layout that gained one entry. A leaf written by
  // another tool with narrower entries can need three or more.
  std::vector<size_t> cuts;
  for (size_t a = 0; a < n;) {
    size_t b = a + 1;
    uint32_t max_recno = leaf.recno(a);
    while (b < n) {
      const uint32_t m = std::max(max_recno, leaf.recno(b));
      if (size(a, b + 1, m) > kCdxPageSize) break;
      max_recno = m;
      ++b;
    }
    if (b < n) cuts.push_back(b);
    a = b;
  }
  return cuts;
}

// Links `level` (an existing node followed by its new right siblings) into its chain.
Status CdxTag::Chain(std::vector<Node*>& level, Node* old_right) {
  for (size_t j = 0; j + 1 < level.size(); ++j) {
    level[j]->set_right(level[j + 1]->page);
    level[j + 1]->set_left(level[j]->page);
  }
  level.back()->set_right(old_right != nullptr ? old_right->page : kCdxNoPage);
  if (old_right != nullptr) {
    old_right->set_left(level.back()->page);
    MarkDirty(old_right);
  }
  for (Node* node : level) MarkDirty(node);
  return Status::Ok();
}

Status CdxTag::SplitLeaf(std::vector<PathStep>& path, Node* leaf, size_t inserted_at) {
  const size_t total = leaf->leaf.count();
  const std::vector<size_t> cuts = PlanLeafSplit(*leaf, inserted_at);
  Node* old_right = nullptr;
  if (leaf->leaf.right() != kCdxNoPage) {
    RETURN_IF_ERROR(LoadSibling(leaf->leaf.right(), true, &old_right));
  }
  std::vector<Node*> level{leaf};
  for (size_t c = 0; c < cuts.size(); ++c) {
    Node* node = nullptr;
    RETURN_IF_ERROR(NewNode(true, &node));
    level.push_back(node);
  }
  for (size_t g = cuts.size(); g-- > 0;) leaf->leaf.MoveTailTo(cuts[g], &level[g + 1]->leaf);
  RETURN_IF_ERROR(Chain(level, old_right));
  std::vector<Rep> reps;
  for (Node* node : level) reps.push_back(RepOf(*node));
  return UpdateParents(path, path.size(), std::move(reps), inserted_at + 1 == total);
}

Status CdxTag::SplitInterior(Node* node, bool fill_left, std::vector<Rep>* reps) {
  CdxInteriorNode& inner = node->inner;
  const size_t n = inner.count(), cap = inner.capacity();
  const size_t groups = (n + cap - 1) / cap;
  std::vector<size_t> starts(groups, 0);
  for (size_t g = 0, at = 0; g < groups; ++g) {
    starts[g] = at;
    at += fill_left ? cap : n / groups + (g < n % groups ? 1 : 0);
  }
  Node* old_right = nullptr;
  if (inner.right() != kCdxNoPage) RETURN_IF_ERROR(LoadSibling(inner.right(), false, &old_right));
  std::vector<Node*> level{node};
  for (size_t g = 1; g < groups; ++g) {
    Node* added = nullptr;
    RETURN_IF_ERROR(NewNode(false, &added));
    level.push_back(added);
  }
  for (size_t g = groups; g-- > 1;) inner.MoveTailTo(starts[g], &level[g]->inner);
  RETURN_IF_ERROR(Chain(level, old_right));
  reps->clear();
  for (Node* each : level) reps->push_back(RepOf(*each));
  return Status::Ok();
}

// The child at path[depth-1] is now represented by `reps` (itself, then new right siblings):
// store their last pairs in the parent, and carry any change of the parent's own last pair,
// or its split, upwards.
Status CdxTag::UpdateParents(std::vector<PathStep>& path, size_t depth, std::vector<Rep> reps,
                             bool appended) {
  const size_t key_length = header_.key_length;
  for (size_t lvl = depth; lvl-- > 0;) {
    Node* parent = path[lvl].node;
    const size_t i = path[lvl].index;
    CdxInteriorNode& inner = parent->inner;
    if (reps.size() == 1 && inner.recno(i) == reps[0].recno &&
        std::memcmp(inner.key(i), reps[0].key.data(), key_length) == 0) {
      return Status::Ok();
    }
    inner.SetPair(i, Bytes(reps[0].key), reps[0].recno);
    for (size_t j = 1; j < reps.size(); ++j) {
      inner.Insert(i + j, Bytes(reps[j].key), reps[j].recno, reps[j].page);
    }
    MarkDirty(parent);
    const bool last_touched = i + reps.size() == inner.count();
    if (inner.count() <= inner.capacity()) {
      if (!last_touched) return Status::Ok();
      reps = {RepOf(*parent)};
      appended = false;
      continue;
    }
    if (lvl > 0) {
      RETURN_IF_ERROR(ShiftToNeighbours(path, lvl));
      if (inner.count() <= inner.capacity()) {
        reps = {RepOf(*parent)};
        appended = false;
        continue;
      }
    }
    appended = appended && last_touched;
    std::vector<Rep> up;
    RETURN_IF_ERROR(SplitInterior(parent, appended && inner.right() == kCdxNoPage, &up));
    reps = std::move(up);
  }
  if (reps.size() == 1) return Status::Ok();
  return GrowRoot(std::move(reps));
}

// The root split into `reps`: put new levels above until one node holds them all.
Status CdxTag::GrowRoot(std::vector<Rep> reps) {
  Node* old_root = nullptr;
  RETURN_IF_ERROR(LoadNode(reps[0].page, &old_root));
  old_root->set_attributes(old_root->attributes() & ~kCdxAttrRoot);
  MarkDirty(old_root);
  const size_t cap = CdxInteriorNode::Capacity(header_.key_length);
  while (reps.size() > 1) {
    const size_t groups = (reps.size() + cap - 1) / cap;
    std::vector<Node*> level;
    std::vector<Rep> up;
    size_t r = 0;
    for (size_t g = 0; g < groups; ++g) {
      Node* node = nullptr;
      RETURN_IF_ERROR(NewNode(false, &node));
      const size_t take = reps.size() / groups + (g < reps.size() % groups ? 1 : 0);
      for (size_t k = 0; k < take; ++k, ++r) {
        node->inner.Insert(node->inner.count(), Bytes(reps[r].key), reps[r].recno, reps[r].page);
      }
      level.push_back(node);
    }
    RETURN_IF_ERROR(Chain(level, nullptr));
    for (Node* node : level) up.push_back(RepOf(*node));
    reps = std::move(up);
  }
  Node* root = nullptr;
  RETURN_IF_ERROR(LoadNode(reps[0].page, &root));
  root->set_attributes(root->attributes() | kCdxAttrRoot);
  MarkDirty(root);
  header_.root = root->page;
  header_dirty_ = true;
  return Status::Ok();
}

Status CdxTag::Unlink(Node* node) {
  Node* left = nullptr;
  Node* right = nullptr;
  if (node->left() != kCdxNoPage) RETURN_IF_ERROR(LoadSibling(node->left(), node->is_leaf, &left));
  if (node->right() != kCdxNoPage) {
    RETURN_IF_ERROR(LoadSibling(node->right(), node->is_leaf, &right));
  }
  if (left != nullptr) {
    left->set_right(node->right());
    MarkDirty(left);
  }
  if (right != nullptr) {
    right->set_left(node->left());
    MarkDirty(right);
  }
  return Status::Ok();
}

// The interior neighbours of `node` that share its parent (entry i of `parent`), when the
// links agree with the parent; null where there is none.
Status CdxTag::SameParentNeighbours(Node* parent, size_t i, Node* node, Node** left,
                                    Node** right) {
  *left = *right = nullptr;
  if (i > 0) {
    Node* l = nullptr;
    RETURN_IF_ERROR(LoadNode(parent->inner.child(i - 1), &l));
    if (!l->is_leaf && l != node && l->page == node->left() && l->right() == node->page) *left = l;
  }
  if (i + 1 < parent->inner.count()) {
    Node* r = nullptr;
    RETURN_IF_ERROR(LoadNode(parent->inner.child(i + 1), &r));
    if (!r->is_leaf && r != node && r->page == node->right() && r->left() == node->page) *right = r;
  }
  return Status::Ok();
}

// An interior node at path[lvl] holds more entries than a page: move the surplus into its
// neighbours while they have room. With long keys a page holds two or three entries, and
// splitting 3 into 2 + 1 every time would leave chains of one-child nodes: the tree would
// grow many times deeper than it needs.
Status CdxTag::ShiftToNeighbours(std::vector<PathStep>& path, size_t lvl) {
  Node* node = path[lvl].node;
  Node* parent = path[lvl - 1].node;
  const size_t i = path[lvl - 1].index;
  CdxInteriorNode& inner = node->inner;
  const size_t cap = inner.capacity();
  Node* left = nullptr;
  Node* right = nullptr;
  RETURN_IF_ERROR(SameParentNeighbours(parent, i, node, &left, &right));
  if (left != nullptr && left->inner.count() < cap) {
    while (inner.count() > cap && left->inner.count() < cap) {
      left->inner.Insert(left->inner.count(), inner.key(0), inner.recno(0), inner.child(0));
      inner.Erase(0);
    }
    MarkDirty(left);
    const Rep rep = RepOf(*left);
    parent->inner.SetPair(i - 1, Bytes(rep.key), rep.recno);
    MarkDirty(parent);
  }
  if (right != nullptr && right->inner.count() < cap) {
    while (inner.count() > cap && right->inner.count() < cap) {
      const size_t last = inner.count() - 1;
      right->inner.Insert(0, inner.key(last), inner.recno(last), inner.child(last));
      inner.Erase(last);
    }
    MarkDirty(right);
  }
  MarkDirty(node);
  return Status::Ok();
}

// The interior node at path[lvl] lost an entry: if it fits into a neighbour under the same
// parent, move its entries there. *merged tells the caller to remove the node.
Status CdxTag::MergeIntoNeighbour(std::vector<PathStep>& path, size_t lvl, bool* merged) {
  *merged = false;
  Node* node = path[lvl].node;
  Node* parent = path[lvl - 1].node;
  const size_t i = path[lvl - 1].index;
  CdxInteriorNode& inner = node->inner;
  const size_t cap = inner.capacity();
  Node* left = nullptr;
  Node* right = nullptr;
  RETURN_IF_ERROR(SameParentNeighbours(parent, i, node, &left, &right));
  if (left != nullptr && left->inner.count() + inner.count() <= cap) {
    for (size_t k = 0; k < inner.count(); ++k) {
      left->inner.Insert(left->inner.count(), inner.key(k), inner.recno(k), inner.child(k));
    }
    MarkDirty(left);
    const Rep rep = RepOf(*left);
    parent->inner.SetPair(i - 1, Bytes(rep.key), rep.recno);
    MarkDirty(parent);
    *merged = true;
  } else if (right != nullptr && right->inner.count() + inner.count() <= cap) {
    for (size_t k = inner.count(); k-- > 0;) {
      right->inner.Insert(0, inner.key(k), inner.recno(k), inner.child(k));
    }
    MarkDirty(right);
    *merged = true;
  }
  return Status::Ok();
}

// `node`, the child at path[lvl-1], leaves the tree (it is empty, or its entries went to a
// neighbour): unlink and free it, drop its entry from the parent, and go on upwards while
// parents become empty or fit into a neighbour.
Status CdxTag::RemoveNode(std::vector<PathStep>& path, size_t lvl, Node* node) {
  while (lvl > 0) {
    RETURN_IF_ERROR(Unlink(node));
    FreeNode(node);
    const size_t up = lvl - 1;
    Node* parent = path[up].node;
    const size_t i = path[up].index;
    const bool was_last = i + 1 == parent->inner.count();
    parent->inner.Erase(i);
    MarkDirty(parent);
    if (parent->inner.count() == 0) {
      if (up == 0) {  // the root lost its last child: the tag is empty
        parent->is_leaf = true;
        parent->inner.Reset(header_.key_length);
        parent->leaf.Reset(header_.key_length, fill_);
        parent->leaf.set_attributes(kCdxAttrLeaf | kCdxAttrRoot);
        MarkDirty(parent);
        return Status::Ok();
      }
      node = parent;
      lvl = up;
      continue;
    }
    if (up > 0) {
      bool merged = false;
      RETURN_IF_ERROR(MergeIntoNeighbour(path, up, &merged));
      if (merged) {
        node = parent;
        lvl = up;
        continue;
      }
    }
    if (!was_last) return Status::Ok();
    return UpdateParents(path, up, {RepOf(*parent)}, false);
  }
  return Status::Ok();
}

// A root with a single child adds a level and nothing else: let the child be the root.
Status CdxTag::CollapseRoot() {
  for (size_t guard = 0; guard < kCdxMaxDepth; ++guard) {
    Node* root = nullptr;
    RETURN_IF_ERROR(LoadNode(header_.root, &root));
    if (root->is_leaf || root->inner.count() != 1) return Status::Ok();
    Node* child = nullptr;
    RETURN_IF_ERROR(LoadNode(root->inner.child(0), &child));
    if (child == root) return Where(root->page, "root page").Corrupt("the root is its own child");
    child->set_attributes(child->attributes() | kCdxAttrRoot);
    MarkDirty(child);
    FreeNode(root);
    header_.root = child->page;
    header_dirty_ = true;
  }
  return Status::Ok();
}

// ---------------------------------------------------------------------------------------------
// Check

Status CdxTag::Check(std::vector<uint32_t>* pages) {
  RETURN_IF_ERROR(CheckOpen());
  BeginCall();
  if (!pager_->IsPage(header_.root)) {
    return Where(header_offset_, "header").Corrupt("the root pointer " + CdxWhere::Hex(header_.root) +
                                                  " is not a page of the file");
  }
  CheckState state;
  std::string last_key;
  uint32_t last_recno = 0;
  bool empty = true;
  RETURN_IF_ERROR(CheckNode(header_.root, 0, &state, &last_key, &last_recno, &empty));
  for (const auto& level : state.levels) {
    for (size_t j = 0; j < level.size(); ++j) {
      const uint32_t want_left = j == 0 ? kCdxNoPage : level[j - 1].page;
      const uint32_t want_right = j + 1 == level.size() ? kCdxNoPage : level[j + 1].page;
      if (level[j].left != want_left || level[j].right != want_right) {
        return Where(level[j].page, "page")
            .Corrupt("the sibling links (" + CdxWhere::Hex(level[j].left) + ", " +
                     CdxWhere::Hex(level[j].right) + ") do not match the tree (" +
                     CdxWhere::Hex(want_left) + ", " + CdxWhere::Hex(want_right) + ")");
      }
    }
  }
  if (pages != nullptr) pages->insert(pages->end(), state.visited.begin(), state.visited.end());
  return Status::Ok();
}

Status CdxTag::CheckShape() {
  RETURN_IF_ERROR(CheckOpen());
  BeginCall();
  if (!pager_->IsPage(header_.root)) {
    return Where(header_offset_, "header").Corrupt("the root pointer " + CdxWhere::Hex(header_.root) +
                                                  " is not a page of the file");
  }
  std::vector<bool> seen(static_cast<size_t>(pager_->end() / kCdxPageSize), false);
  std::vector<uint32_t> level{header_.root}, below;
  uint8_t buf[kCdxPageSize];
  Node scratch;
  for (size_t depth = 0; !level.empty(); ++depth) {
    if (depth >= kCdxMaxDepth) return Where(level[0], "page").Corrupt("the tree is deeper than 64 levels");
    below.clear();
    bool leaves = false;
    for (size_t j = 0; j < level.size(); ++j) {
      const uint32_t page = level[j];
      if (!pager_->IsPage(page) || page == header_offset_ || page == header_offset_ + kCdxPageSize) {
        return Where(page, "page").Corrupt("a pointer leads outside the tree's pages");
      }
      if (seen[page / kCdxPageSize]) {
        return Where(page, "page").Corrupt("the page is reached twice in the tree");
      }
      seen[page / kCdxPageSize] = true;
      RETURN_IF_ERROR(pager_->Read(page, 1, buf));
      const uint16_t attributes = CdxGetLE16(buf);
      const bool is_leaf = (attributes & kCdxAttrLeaf) != 0;
      const char* what = is_leaf ? "leaf page" : "interior page";
      if (((attributes & kCdxAttrRoot) != 0) != (depth == 0)) {
        return Where(page, what).Corrupt(depth == 0 ? "the root lacks the root attribute"
                                                    : "a node below the root has the root attribute");
      }
      if (j == 0) leaves = is_leaf;
      if (is_leaf != leaves) return Where(page, what).Corrupt("leaves lie at different depths");
      const uint32_t left = CdxGetLE32(buf + 4), right = CdxGetLE32(buf + 8);
      const uint32_t want_left = j == 0 ? kCdxNoPage : level[j - 1];
      const uint32_t want_right = j + 1 == level.size() ? kCdxNoPage : level[j + 1];
      if (left != want_left || right != want_right) {
        return Where(page, what).Corrupt("the sibling links (" + CdxWhere::Hex(left) + ", " +
                                         CdxWhere::Hex(right) + ") do not match the tree (" +
                                         CdxWhere::Hex(want_left) + ", " + CdxWhere::Hex(want_right) +
                                         ")");
      }
      if (is_leaf) {
        // The layout bytes and the free-space word, not the entries: those are what a walk
        // decodes, and a page of zeros or of foreign bytes fails here already.
        const size_t n = CdxGetLE16(buf + 2), free_word = CdxGetLE16(buf + 12);
        const unsigned rb = buf[20], db = buf[21], tb = buf[22], nb = buf[23];
        if (nb == 0 || nb > 8 || rb > 32 || db > 8 || tb > 8 || rb + db + tb > 8 * nb ||
            CdxLeafNode::kHeaderBytes + n * nb + free_word > kCdxPageSize) {
          return Where(page, what).Corrupt("the entry layout is not a leaf's");
        }
        if (n == 0 && depth != 0) return Where(page, what).Corrupt("an empty leaf below the root");
      } else {
        RETURN_IF_ERROR(DecodeInto(page, &scratch));
        if (scratch.inner.count() == 0) {
          return Where(page, what).Corrupt("an interior page without entries");
        }
        for (size_t i = 0; i < scratch.inner.count(); ++i) below.push_back(scratch.inner.child(i));
      }
    }
    level.swap(below);
  }
  return Status::Ok();
}

Status CdxTag::CheckNode(uint32_t page, size_t depth, CheckState* state, std::string* last_key,
                         uint32_t* last_recno, bool* empty) {
  if (depth >= kCdxMaxDepth) {
    return Where(page, "page").Corrupt("the tree is deeper than 64 levels");
  }
  if (!state->visited.insert(page).second) {
    return Where(page, "page").Corrupt("the page is reached twice in the tree");
  }
  Node scratch;
  const Node* node = nullptr;
  RETURN_IF_ERROR(ReadNode(page, &scratch, &node));
  const bool is_root = depth == 0;
  const char* what = node->is_leaf ? "leaf page" : "interior page";
  if (((node->attributes() & kCdxAttrRoot) != 0) != is_root) {
    return Where(page, what).Corrupt(is_root ? "the root lacks the root attribute"
                                            : "a node below the root has the root attribute");
  }
  if (state->levels.size() <= depth) state->levels.resize(depth + 1);
  state->levels[depth].push_back({page, node->left(), node->right()});
  const size_t key_length = header_.key_length;
  const size_t n = node->count();
  if (node->is_leaf) {
    if (state->leaf_depth == SIZE_MAX) state->leaf_depth = depth;
    if (state->leaf_depth != depth) {
      return Where(page, what).Corrupt("leaves lie at different depths");
    }
    if (n == 0 && !is_root) return Where(page, what).Corrupt("an empty leaf below the root");
    for (size_t i = 0; i < n; ++i) {
      if (state->have_prev && CdxComparePairs(node->key(i), node->recno(i), Bytes(state->prev_key),
                                             state->prev_recno, key_length) <= 0) {
        return Where(page, what).Corrupt("entry " + std::to_string(i) + " (record " +
                                         std::to_string(node->recno(i)) +
                                         ") is not greater than the entry before it");
      }
      state->prev_key.assign(reinterpret_cast<const char*>(node->key(i)), key_length);
      state->prev_recno = node->recno(i);
      state->have_prev = true;
    }
  } else {
    for (size_t i = 0; i < n; ++i) {
      std::string child_key;
      uint32_t child_recno = 0;
      bool child_empty = true;
      RETURN_IF_ERROR(
          CheckNode(node->inner.child(i), depth + 1, state, &child_key, &child_recno, &child_empty));
      if (child_empty || child_recno != node->recno(i) ||
          std::memcmp(child_key.data(), node->key(i), key_length) != 0) {
        return Where(page, what).Corrupt("entry " + std::to_string(i) +
                                         " differs from the last entry of its child");
      }
    }
  }
  *empty = n == 0;
  if (n > 0) {
    last_key->assign(reinterpret_cast<const char*>(node->key(n - 1)), key_length);
    *last_recno = node->recno(n - 1);
  }
  return Status::Ok();
}

}  // namespace xb
