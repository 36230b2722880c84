#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "CdxFile.h"
#include "Expression.h"
#include "RecordSource.h"
#include "Status.h"

namespace xb {

// The index files open on one table and the orders they give: the structural index (same name
// as the table, extension .CDX) first, then files opened by name. Every change of a record goes
// through here so that each tag holds exactly the records whose FOR condition is true, under
// the key its expression gives now.
class IndexSet {
 public:
  struct Order {
    CdxFile* file = nullptr;
    std::string file_path;
    CdxTag* tag = nullptr;
    std::string name;  // upper case
    std::unique_ptr<Expression> key;
    std::unique_ptr<Expression> condition;  // null when the tag has no FOR clause
    bool descending = false;
    bool unique = false;
  };
  // Percentage reports while a tag is built (0 to 100 for each tag).
  using Progress = std::function<void(int percent)>;

  static constexpr size_t kTagCacheBytes = size_t{256} << 20;

  explicit IndexSet(const RecordSource* table);
  ~IndexSet();

  // Opens the structural index. Tags whose expressions do not compile against the table's
  // fields make the whole file unusable: it is reported, not half used.
  Status OpenStructural(const std::string& path, bool writable);
  // Opens a further index file; `*first_order` is the order number of its first tag.
  Status OpenFile(const std::string& path, bool writable, int* first_order);
  Status CloseAll();
  // Closes every file without writing what is held in memory: for indexes that a failure left
  // behind the table (their files are rebuilt later, see Table).
  void Abandon();
  // Takes in what other programs sharing the files changed since this set last looked (see
  // CdxFile::Refresh); `*changed` tells whether any file had. A failure leaves the set to be
  // abandoned.
  Status Refresh(bool* changed);

  int OrderCount() const { return static_cast<int>(orders_.size()); }
  bool HasFiles() const { return !files_.empty(); }
  Order* GetOrder(int n) {
    return n >= 1 && n <= OrderCount() ? orders_[static_cast<size_t>(n - 1)].get() : nullptr;
  }
  int FindOrder(std::string_view tag_name) const;  // 0 when no tag has that name
  bool HasStructural() const { return structural_ != nullptr; }

  // Builds a tag from the table's records. `file_path` empty means the structural index, which
  // is created when missing. Returns the new order number in `*order`.
  Status AddTag(const std::string& file_path, const std::string& structural_path,
                const std::string& tag, const std::string& key, const std::string& condition,
                bool descending, const Progress& progress, int* order);
  // Writes every file afresh with the same tags, built from the table as it is now.
  Status RebuildAll(const Progress& progress);
  // The same after a pack, while the files still hold the tags of the table before it:
  // `renumbered[old]` is the new number of old record `old` (0 for a removed one). A tag whose
  // pairs cannot change but for their numbers takes them, already in order, from its old
  // entries instead of keying and sorting every record again; any other tag, and any tag whose
  // old entries cannot be read, is built from the records.
  Status RebuildAfterPack(const std::vector<uint32_t>& renumbered, const Progress& progress);
  // Before a pack puts its new table in place, while the old one is still the table: writes
  // each index file's tags, renumbered as `renumbered` says, from their old entries into a copy
  // beside the file, synced to the disk. `*copies` receives (copy, file) pairs for the caller to
  // rename once the new table is in place. Only when every tag can be taken from its old
  // entries; otherwise nothing is left behind and kInvalidArgument says so, and the indexes are
  // rebuilt after the switch as before.
  Status PrepareAfterPack(const std::vector<uint32_t>& renumbered, const Progress& progress,
                          std::vector<std::pair<std::string, std::string>>* copies);

  // Record changes: the image before the change, then the record as it is after it.
  bool active() const { return !orders_.empty(); }
  void BeforeChange(const uint8_t* old_image);
  Status AfterChange(uint32_t recno, const uint8_t* new_image);
  Status AfterAppend(uint32_t recno, const uint8_t* new_image);
  // Takes the record whose image BeforeChange was given out of every tag (an append taken
  // back).
  Status AfterRemove(uint32_t recno);
  // Enters records first..last (appended since the last index work) into every tag, in key
  // order, so that each leaf is visited once rather than once per record.
  Status AfterAppends(uint32_t first, uint32_t last);

  // Writes changed index pages to the files.
  Status Flush();
  Status Sync();
  void StartWriteback();
  bool dirty() const { return dirty_; }
  // The first change of a tag that failed since the files were opened or rebuilt: the tags may
  // then be behind the table until a rebuild.
  const Status& failed() const { return failed_; }

  // Compares every tag with the table: one entry per record whose condition holds, with the key
  // its expression gives, in order, and a sound tree. `*report` gets one line per problem.
  // The table must hold still meanwhile: Table::CheckIndexes sees to that.
  Status Check(std::vector<std::string>* report);
  // The shape of every tag's tree (CdxTag::CheckShape), for an open that must know whether the
  // trees can be walked at all before it relies on them. The first problem found.
  Status CheckShapes();

  // The key of `image` in order `order` (KeyLength bytes).
  void KeyOf(const Order& order, const uint8_t* image, uint32_t recno, std::string* key) const;
  bool Qualifies(const Order& order, const uint8_t* image, uint32_t recno) const;

 private:
  struct File {
    std::string path;
    std::unique_ptr<CdxFile> cdx;
  };
  Status LoadOrders(File* file, int* first_order);
  // A tag being built: its definition, then its (key, big-endian recno) pairs.
  struct TagBuild {
    std::string name, key_text, cond_text;
    bool descending = false;
    bool unique = false;
    CdxTagSpec spec;
    CdxPairBuffer records;
    CdxTag* previous = nullptr;  // the tag's entries before a pack, when they can be reused
    bool sorted = false;         // the pairs are in order already
  };
  // Compiles the expressions and collects the pairs of every qualifying record; with
  // `threads`, a large table is keyed in two halves at once.
  Status PrepareTag(TagBuild* build, bool threads, const Progress& progress) const;
  Status CollectAll(TagBuild* build, const Expression& key, const Expression* cond, bool threads,
                    const Progress& progress) const;
  Status BuildTag(CdxFile* cdx, const std::string& tag, const std::string& key_text,
                  const std::string& cond_text, bool descending, bool unique,
                  const Progress& progress);
  Status BuildTag(CdxFile* cdx, TagBuild* build, const Progress& progress);
  Status BuildTagsInParallel(CdxFile* cdx, std::vector<TagBuild>* builds, const Progress& progress);
  // Tables from this many records up rebuild two tags at a time.
  static constexpr uint32_t kParallelRebuild = 100000;
  // A table of this many records has one tag's keys computed on two threads.
  static constexpr uint32_t kParallelKeys = 200000;
  Status Compile(const std::string& text, std::unique_ptr<Expression>* out) const;
  int FindOrderIn(const CdxFile* file, const std::string& tag) const;
  // After a failed AddTag: puts `target` back as it was (`size` bytes), or removes it when
  // the build had `created` it.
  void GiveUpBuild(File* target, bool created, uint64_t size);

  const RecordSource* table_;
  File* structural_ = nullptr;
  std::vector<std::unique_ptr<File>> files_;
  std::vector<std::unique_ptr<Order>> orders_;
  std::vector<uint8_t> old_image_;
  // While a pack's tags are rebuilt: the new record numbers, and the lock that lets one thread
  // at a time read the old file.
  // The new numbers are looked up in key order, that is all over the table: a bit per old
  // record and a count per 64 of them stay in the processor's cache where a number per record
  // would not.
  struct Renumbering {
    std::vector<uint64_t> live;    // bit r: old record r is kept
    std::vector<uint32_t> before;  // kept records in the words before this one
    // The new number of old record `old` (1..n), 0 for a removed one.
    uint32_t New(uint32_t old) const;
  };
  static bool MakeRenumbering(const std::vector<uint32_t>& renumbered, Renumbering* map);
  // Writes the file's tags afresh into `copy`, synced and closed; removes it on failure.
  Status BuildCopy(File* file, const std::string& copy, const Progress& progress);
  const Renumbering* renumbered_ = nullptr;
  bool require_reuse_ = false;  // a tag that cannot reuse its old entries fails the build
  std::string old_key_, new_key_;
  bool dirty_ = false;
  Status failed_;
  Status Note(Status s) {
    if (!s.ok() && failed_.ok()) failed_ = s;
    return s;
  }
  Status RebuildFile(File* file, const Progress& progress);
  // Takes a tag's pairs from its entries before a pack; false when they cannot be used.
  bool ReusePackedEntries(TagBuild* build, size_t key_length, const Progress& progress) const;
  // Writes the pairs of records first..last that qualify to `out` (room for all of them) and
  // returns how many.
  size_t CollectKeys(const Expression& key, const Expression* cond, uint32_t first, uint32_t last,
                     uint8_t* out, const std::function<void(uint32_t)>& progress) const;
  Status DoAfterChange(uint32_t recno, const uint8_t* new_image);
  Status DoAfterAppend(uint32_t recno, const uint8_t* new_image);
  Status DoAfterAppends(uint32_t first, uint32_t last);
  // Adds sorted (key, big-endian recno) pairs of appended records to the order's tag.
  Status InsertBatch(const Order& o, const uint8_t* pairs, size_t count);
  // Batches of appended records this large (summed over the orders) go into two tags at once.
  static constexpr size_t kParallelBatch = 20000;
};

}  // namespace xb
