#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "DbfHeader.h"
#include "IndexSet.h"
#include "MappedFile.h"
#include "MemoFile.h"
#include "RecordSource.h"
#include "Status.h"

namespace xb {

// One open table: the DBF file and, when the table has memo fields, its FPT file.
// Records are addressed by physical record number (1-based). Every change is in the file when
// the call returns (see MappedFile); Commit() also forces it to the disk.
class Table final : public RecordSource {
 public:
  enum class Mode { kShared = 0, kReadOnly = 1, kExclusive = 2 };

  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  // Writes a new, empty table (and its memo file when a field is a memo). An existing table of
  // the same name is replaced only once the new files are complete, and never while another
  // program has it open.
  static Status Create(const std::string& path, const std::vector<FieldDef>& fields,
                       uint32_t memo_block_size);
  static Status Open(const std::string& path, Mode mode, std::unique_ptr<Table>* out);
  Status Close();

  // "name" gets ".DBF" when it has no extension; backslashes count as path separators.
  static std::string NormalizePath(const std::string& path);
  // The companion file of a table with another extension ("FPT", "CDX"): the table's name with the
  // extension in lower case, or an existing file with it in upper case when there is no other.
  static std::string CompanionPath(const std::string& dbf_path, const char* ext);

  const std::string& path() const { return path_; }
  const DbfHeader& header() const { return header_; }
  const std::vector<FieldDef>& fields() const override { return header_.fields; }
  int FieldIndex(std::string_view name) const;  // -1 when there is no such field
  int record_length() const override { return header_.record_length; }
  uint32_t record_count() const override { return header_.record_count; }
  bool read_only() const { return mode_ == Mode::kReadOnly; }
  Mode mode() const { return mode_; }
  MemoFile* memo() const { return memo_.get(); }

  // Raw record image of `recno` (1..record_count()), valid until the next change of the table.
  const uint8_t* Record(uint32_t recno) const override {
    return dbf_->data() + header_.header_length +
           static_cast<uint64_t>(recno - 1) * header_.record_length;
  }
  bool IsDeleted(uint32_t recno) const { return Record(recno)[0] == '*'; }

  // The image of a new, empty record.
  const std::vector<uint8_t>& BlankRecord() const;
  Status AppendBlank(uint32_t* recno);
  // Appends a whole record image in one step (used by bulk loads and pack).
  Status AppendRecord(const uint8_t* image, uint32_t* recno);
  Status WriteRecord(uint32_t recno, const uint8_t* image);
  Status SetDeletedMark(uint32_t recno, bool deleted);
  // Writes exactly the field's width of bytes into the field.
  Status WriteField(uint32_t recno, int field, const uint8_t* bytes);
  // A memo that cannot be read (a damaged pointer, or blocks that do not hold a memo) is a
  // kCorrupt failure naming the record and field; the caller gets no text.
  Status ReadMemo(uint32_t recno, int field, const uint8_t** data, uint32_t* length) const;
  // Stores a new text for the field. The text goes to fresh blocks and only then does the
  // record point at it, so a program stopped at any moment leaves the old memo or the new one.
  // An unchanged text changes nothing; an empty text over a memo that cannot be read leaves
  // the record's pointer as it is.
  Status WriteMemo(uint32_t recno, int field, const uint8_t* data, uint64_t length);
  // Takes back record `recno`, appended by a caller that could not complete it: the record
  // leaves the indexes and the count, as if it had never been appended (its memo blocks stay
  // unused). Only the last record can go; when another program has appended after it, this is
  // refused and the caller must mark it deleted instead.
  Status UndoAppend(uint32_t recno);
  // Checks the memo file against the records (see MemoFile::Check), deleted ones included, and
  // that every memo pointer can be decoded. Up to `max_lines` lines go to `*problems`.
  Status CheckMemos(std::vector<std::string>* problems, size_t max_lines = 200) const;

  // Picks up records appended by another program that has the table open in shared mode.
  Status Refresh();

  // Changes of the index files reach them only under the table's change lock, in every open
  // but an exclusive one: held for writing from the moment a change reads the record until
  // the indexes are written, and for reading while the indexes are looked at. Whoever takes it
  // first brings this object up to date with what other programs did meanwhile (the record
  // count, the memo file's next free block, and the index pages they changed). Nested uses
  // count; each Begin that succeeded needs its End.
  Status BeginRead();
  Status BeginChange();
  void End();
  // A read lease keeps the lock a look took after the look ends, so that the next look (the
  // next step of a walk, the next row the grid asks for) neither takes it again nor catches
  // up: nobody could change the table meanwhile. Other programs' changes wait while it is
  // kept, so it is given up
  //   - at the first look or End after it has been kept for kLeaseLimit, and then no new lease
  //     starts for kLeasePause, so that a program waiting to change the table gets its turn;
  //   - before any change, of this table or of any other table this program has open;
  //   - by ReleaseLeases, which a program that uses leases must call as soon as it has done
  //     what it is busy with, and before it waits for something else. The lease notice, when
  //     one is installed, is called as the first lease since the last ReleaseLeases starts:
  //     an event loop posts ReleaseLeases for when it gets control back.
  // Off by default: a caller that cannot promise ReleaseLeases keeps the lock only per look.
  static constexpr std::chrono::milliseconds kLeaseLimit{20};
  static constexpr std::chrono::milliseconds kLeasePause{5};
  void SetReadLease(bool on);
  static void ReleaseLeases();
  static void SetLeaseNotice(void (*notice)());
  // Whether the indexes are read under the lock: other programs may change them.
  bool SharesIndexes() const { return mode_ != Mode::kExclusive; }
  // Holds the change lock for a scope, for reading or for a change; `needed` false holds
  // nothing.
  class LockScope {
   public:
    LockScope(Table& table, bool write, bool needed = true) : table_(table) {
      // Walks and changes pass here at every step: an exclusive table needs nothing more.
      if (needed && table.SharesIndexes()) Take(write);
    }
    ~LockScope() {
      if (held_) table_.End();
    }
    LockScope(const LockScope&) = delete;
    LockScope& operator=(const LockScope&) = delete;
    const Status& status() const { return status_; }

   private:
    void Take(bool write);
    Table& table_;
    Status status_;
    bool held_ = false;
  };

  // Set when a failure left this object unable to vouch for the files it has open (a pack
  // that switched the files but could not open the new ones): every change is refused with
  // this text. "" while the table can be used.
  const std::string& unusable() const { return unusable_; }

  Status Commit();

  // ---- Indexes ----
  // The index set, with any record appended since the last index work entered into it.
  IndexSet& indexes() {
    if (pending_append_ != 0) SettleAppend();
    return *indexes_;
  }
  // Why the structural index could not be used when the table was opened ("" when it could).
  const std::string& index_problem() const { return index_problem_; }
  // IndexSet::Check on the table and its tags as they stand at one moment: other programs
  // sharing them wait meanwhile.
  Status CheckIndexes(std::vector<std::string>* report);
  std::string StructuralIndexPath() const { return CompanionPath(path_, "CDX"); }
  Status AddTag(const std::string& file, const std::string& tag, const std::string& key,
                const std::string& condition, bool descending, const IndexSet::Progress& progress,
                int* order);
  Status OpenIndex(const std::string& file, int* first_order);
  Status CloseIndexes();
  Status RebuildIndexes(const IndexSet::Progress& progress);
  // Removes the records marked for deletion (Pack) or all records (Zap), then rebuilds every
  // index. Both need an exclusive open. The new files are written beside the old ones and put
  // in place through a journal, so a program stopped at any moment leaves the old set or the
  // new one, never a mix: the next open finishes or discards what the journal describes.
  Status Pack(const IndexSet::Progress& progress);
  Status Zap();
  static std::string JournalPath(const std::string& dbf_path) { return dbf_path + "-journal"; }
  // Finishes (or discards) a pack or zap that a stopped program left half done.
  static Status RecoverJournal(const std::string& dbf_path);

  // Writes index changes held in memory to the index files.
  Status FlushIndexes();
  // Counts changes, for positions that must be found again after the table changed.
  uint64_t change_count() const { return change_count_; }
  // Record locks, advisory and per open table; they fail after `timeout_seconds` of waiting.
  Status LockRecord(uint32_t recno, int timeout_seconds);
  void UnlockRecord(uint32_t recno);
  void UnlockAll();

 private:
  Table() = default;
  Status CheckWritable(uint32_t recno) const;
  int FindField(std::string_view name) const;
  uint8_t* MutableRecord(uint32_t recno) {
    return dbf_->mutable_data() + header_.header_length +
           static_cast<uint64_t>(recno - 1) * header_.record_length;
  }
  void TouchDate();
  // Byte 14 of the header is set while index files may be behind the table: a program killed
  // then leaves it set, and the next open rebuilds the indexes.
  static constexpr size_t kIndexBusyByte = 14;
  // Exclusive opens write index pages out after this many changes: often enough that the
  // page cache can drop clean pages, rarely enough that a page takes many changes per write.
  static constexpr uint64_t kFlushEvery = 250000;
  // Appended batches of this many records start going to the disk before their index work.
  static constexpr uint32_t kWritebackBatch = 10000;
  // A new record enters the indexes only when something else happens: callers append a blank
  // record and fill it at once, and keying the blank record first would be wasted work.
  void SettleAppend();
  void SetIndexBusy(bool busy);
  // The outcome of an index change: a failure drops the indexes (DropIndexes); shared
  // tables write the change through at once.
  void AfterIndexChange(const Status& changed);
  bool IndexBusy() const { return dbf_->data()[kIndexBusyByte] != 0; }
  void SetStructuralFlag(bool on);
  Status OpenStructuralIndex();
  // Around every change of a record image.
  void BeginRecordChange(uint32_t recno);
  void EndRecordChange(uint32_t recno);
  // Writes a new table holding the live records (keep_all_live, for Pack) or none (Zap), puts
  // it in place under a journal and reopens it with its indexes.
  Status Rewrite(bool keep_all_live, const IndexSet::Progress& progress);
  // The files of one rewrite: the real places of the table and memo file (links are followed),
  // the copies written beside them, and what the indexes need after the switch.
  struct RewriteFiles {
    std::string real_dbf, tmp_dbf;
    std::string memo_path, real_fpt, tmp_fpt;  // empty without a memo file
    std::string journal;
    bool indexed = false;
    // Each live record's new number by its old one; empty when the indexes are rebuilt.
    std::vector<uint32_t> renumbered;
    // Index copies written while the new files go to the disk: (copy, file).
    std::vector<std::pair<std::string, std::string>> index_copies;
    // The new table, locked as the old one is before it takes the old one's place: a program
    // opening the table during the switch is refused as "in use" (and leaves the journal
    // alone), and cannot hold the new file open when the table reopens it.
    std::unique_ptr<MappedFile> next_dbf;
    void Discard();             // removes the new table and memo file
    void DiscardIndexCopies();  // removes the index copies not put in place
  };
  // Rewrite's steps, in order (see Rewrite).
  Status WriteRewrittenCopy(bool pack, const IndexSet::Progress& progress, RewriteFiles* files);
  // The rewritten table's header: the old one with the new record count and today's date, and,
  // for a table with indexes, the mark that says they are behind until they are rebuilt.
  static std::vector<uint8_t> RewrittenHeader(const DbfHeader& old, uint32_t records, bool indexed);
  // WriteRewrittenCopy's record walk: calls `visit` with each live record's number, in order,
  // reporting progress, and stops at the first failure it returns.
  template <typename Visit>
  Status ForEachLiveRecord(const IndexSet::Progress& progress, Visit visit);
  // Writes record `r`'s memo values into `memo` and points the record's copy `copy` at them.
  Status CopyRecordMemos(uint32_t r, bool binary, MemoFile* memo, uint8_t* copy);
  Status WriteSwitchJournal(RewriteFiles* files);
  Status SwitchRewrittenFiles(RewriteFiles* files);
  Status ReopenRewritten(bool pack, const IndexSet::Progress& progress, RewriteFiles* files);
  // After the journal: the rewrite stands, and this object must not write again.
  Status RewriteDecided(bool pack, const Status& why);
  void StoreCount();
  Status Grow(uint32_t* recno);
  // The change lock itself (see BeginChange): F_WRLCK or F_RDLCK, waiting a while for other
  // programs to finish.
  Status LockChanges(short type);
  void UnlockChanges();
  Status Acquire(bool write);
  // Brings this object up to date under the lock (see BeginChange).
  void CatchUp(bool write);
  Status RefreshCount(bool exact);
  // Refuses changes to a table this object can no longer vouch for.
  Status CheckUsable() const;
  Status ReadSharedMemo(const uint8_t* field_bytes, const FieldDef& f, uint32_t recno,
                        const uint8_t** data, uint32_t* length) const;
  // The bytes of a memo pointer (10 wide, or 4 in binary form), to tell whether another
  // program changed it meanwhile.
  struct PointerBytes {
    uint64_t head = 0;
    uint16_t tail = 0;
    static PointerBytes Of(const uint8_t* field, int width) {
      PointerBytes p;
      if (width == 10) {
        std::memcpy(&p.head, field, 8);
        std::memcpy(&p.tail, field + 8, 2);
      } else {
        uint32_t word;
        std::memcpy(&word, field, 4);
        p.head = word;
      }
      return p;
    }
    bool operator==(const PointerBytes& o) const { return head == o.head && tail == o.tail; }
  };
  // The indexes could not take a change, or could not be written or read again: they are
  // behind the table from here on. They are closed without writing, marked behind in the
  // header (so the next open that has the table to itself rebuilds them) and the problem is
  // kept for index_problem(). The change of the table itself stands.
  void DropIndexes(const Status& why);
  // Takes the whole-file lock for itself in a shared open, for work that replaces the index
  // files under other programs' feet; false (and the shared lock kept) when another program
  // has the table open. GiveBackWhole returns to sharing.
  bool TakeWhole();
  void GiveBackWhole();

  std::string path_;
  Mode mode_ = Mode::kShared;
  DbfHeader header_;
  std::unique_ptr<MappedFile> dbf_;
  std::unique_ptr<MemoFile> memo_;
  bool date_touched_ = false;
  std::vector<uint32_t> locks_;
  mutable std::vector<uint8_t> blank_;
  std::unique_ptr<IndexSet> indexes_;
  std::string index_problem_;
  uint64_t change_count_ = 0;
  uint64_t unflushed_ = 0;
  uint32_t pending_append_ = 0;
  std::string unusable_;
  int lock_depth_ = 0;
  bool lock_write_ = false;
  // Read leases (see SetReadLease): `leased_` when the lock is kept with no look under way.
  void GiveUpLease();
  bool lease_enabled_ = false;
  bool leased_ = false;
  std::chrono::steady_clock::time_point lock_taken_;
  std::chrono::steady_clock::time_point lease_resume_;
  mutable std::string last_lookup_;
  mutable int last_lookup_index_ = -1;
};

}  // namespace xb
