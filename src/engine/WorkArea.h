#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "EngineSettings.h"
#include "Expression.h"
#include "Table.h"

namespace xb {

// An open table with its position: the current record number, the begin/end flags, the order
// in force (0 = record-number order, n = the n-th tag), a query that hides records failing it,
// and a scope that limits an order to a key range.
// The position past the last record (record count + 1) is the end; there the record image is
// all blanks, as xBase programs expect of the "phantom" record.
class WorkArea {
 public:
  WorkArea(std::unique_ptr<Table> table, std::string alias, int driver,
           const EngineSettings* settings);

  Table& table() { return *table_; }
  const Table& table() const { return *table_; }
  const std::string& alias() const { return alias_; }
  int driver() const { return driver_; }

  uint32_t recno() const { return recno_; }
  bool bof() const { return bof_; }
  bool eof() const { return eof_; }

  Status GoTop();
  Status GoBottom();
  Status Skip(long count);
  void Go(long recno);
  // Steps onto a newly appended record.
  void GoAppended(uint32_t recno);

  // The current record image (blanks at the end of the table).
  const uint8_t* CurrentRecord() const;
  bool AtRecord() const { return !eof_ && recno_ >= 1 && recno_ <= table_->record_count(); }

  // ---- Orders ----
  int order() const { return order_; }
  // Selects an order and keeps the current record. Fails for a number without a tag.
  Status SetOrder(int order);
  // After the table's orders were renumbered (a tag added, files opened or closed).
  void OrdersChanged();
  Status SetScope(std::string low, std::string high);
  // Key of the current record in the order in force ("" in record-number order).
  std::string CurrentKey() const;
  // Finds `key` in the order in force; see docs/engine.md for the rules.
  Status Seek(std::string_view key, bool* found);

  // ---- Query ----
  // Installs a query; an empty text removes it. A text that does not compile leaves the query
  // in force as it was.
  Status SetQuery(const std::string& text);
  const std::string& query_text() const { return query_text_; }
  // Records that navigation would visit, counted without moving.
  Status QueryCount(long* count);
  // Where record `recno` comes among the records navigation would visit in the order in force
  // (0 for the first), counted without moving; -1 when navigation would not reach it.
  Status PositionOf(uint32_t recno, long* position);
  // Whether the current record passes the query in force (true without a query).
  bool PassesQuery() const;

 private:
  // Walks ask for every record they pass: without a query or SET DELETED all are visible.
  bool Visible(uint32_t recno) const {
    if (!query_ && !settings_->deleted) return true;
    return Judged(recno);
  }
  bool Judged(uint32_t recno) const;
  bool Judge(uint32_t recno) const;
  // Whether the table's changes are all made through this program, so that a judgement of
  // every record stays true until its change count moves.
  bool OwnsChanges() const { return table_->mode() == Table::Mode::kExclusive; }
  bool VisibilityCurrent() const;
  void BuildVisibility() const;
  void SetEnd();
  IndexSet::Order* CurrentOrder() const;
  // Encodes a key text for the order in force (numbers, dates and logicals from their text).
  std::string EncodeKey(std::string_view text) const;
  // -1 before the scope in the order's direction, 0 inside, +1 after it.
  int ScopeTest(std::string_view key) const;
  // Moves the tag cursor one step in the order's direction (forward) or against it.
  Status Step(bool forward);
  // Puts the tag cursor on the order's first (or last) entry inside the scope's near end.
  Status CursorToEnd(bool first);
  // Puts the tag cursor on the current record; *on says whether it stands on it, else it
  // stands on the entry that follows where the record would be.
  Status Resync(bool* on);
  Status SeekForward(std::string_view prefix);
  Status SeekBackward(std::string_view prefix);
  Status OrderedTop(bool top);
  // The record number of the tag cursor's entry; a damaged index may name a record the table
  // does not have, which is refused rather than followed.
  Status EntryRecno(uint32_t* recno) const;
  Status OrderedSkip(long count);
  void PrefetchAhead(const CdxTag& tag, bool physical_forward) const;

  std::unique_ptr<Table> table_;
  std::string alias_;
  int driver_;
  const EngineSettings* settings_;
  uint32_t recno_ = 1;
  bool bof_ = false;
  bool eof_ = false;

  int order_ = 0;
  std::string scope_low_, scope_high_;  // encoded key prefixes, empty = open
  uint64_t synced_change_ = ~uint64_t{0};
  std::unique_ptr<Expression> query_;
  std::string query_text_;
  uint64_t query_generation_ = 0;  // moves with every SetQuery
  // A long walk under a query judges the records one by one in the order's scattered sequence,
  // each waiting on memory. Once a walk has judged a good share of the table, every record is
  // judged in one pass in record order instead and the answers kept as bits, valid while the
  // table, the query and the settings the judgement depends on stay as they were.
  struct Visibility {
    std::vector<uint64_t> bits;
    uint32_t records = 0;
    uint64_t change = ~uint64_t{0};
    uint64_t query = ~uint64_t{0};  // the query generation judged
    bool deleted = false, exact = false, century = false;
    int date_format = 0;
    uint64_t judged = 0;  // records judged one by one since the table last changed
    uint64_t judged_change = ~uint64_t{0};
  };
  mutable Visibility visibility_;
};

}  // namespace xb
