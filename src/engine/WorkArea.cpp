#include "WorkArea.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <optional>

#include "Calendar.h"
#include "ExprConvert.h"

namespace xb {

namespace {

// Numbers and dates in seek keys are built like the stored keys (ExprConvert's numeric key).
std::string NumberKey(double v) {
  std::string key(8, '\0');
  exprconv::EncodeNumericKey(v, reinterpret_cast<uint8_t*>(key.data()));
  return key;
}

// Julian day number of a yyyymmdd text; 0 when it is not digits. Impossible days (20230231)
// are not refused here: the keys of such damaged fields have always been computed this way.
double JulianDay(std::string_view s) {
  if (s.size() < 8) return 0;
  int v[3] = {0, 0, 0};
  const int len[3] = {4, 2, 2};
  size_t at = 0;
  for (int part = 0; part < 3; ++part) {
    for (int i = 0; i < len[part]; ++i, ++at) {
      if (s[at] < '0' || s[at] > '9') return 0;
      v[part] = v[part] * 10 + (s[at] - '0');
    }
  }
  return static_cast<double>(calendar::JulianDay(v[0], v[1], v[2]));
}

}  // namespace

WorkArea::WorkArea(std::unique_ptr<Table> table, std::string alias, int driver,
                   const EngineSettings* settings)
    : table_(std::move(table)), alias_(std::move(alias)), driver_(driver), settings_(settings) {
  GoTop();
}

bool WorkArea::Judge(uint32_t recno) const {
  if (settings_->deleted && table_->IsDeleted(recno)) return false;
  if (query_) {
    EvalContext c{table_->Record(recno), recno, settings_->exact};
    if (!query_->EvalLogical(c)) return false;
  }
  return true;
}

bool WorkArea::VisibilityCurrent() const {
  const Visibility& v = visibility_;
  return v.change == table_->change_count() && v.records == table_->record_count() &&
         v.query == query_generation_ && v.deleted == settings_->deleted &&
         v.exact == settings_->exact && v.century == settings_->century &&
         v.date_format == settings_->date_format;
}

void WorkArea::BuildVisibility() const {
  Visibility& v = visibility_;
  const uint32_t n = table_->record_count();
  v.bits.assign(n / 64 + 1, 0);
  for (uint32_t r = 1; r <= n; ++r) {
    if (Judge(r)) v.bits[r / 64] |= uint64_t{1} << (r % 64);
  }
  v.records = n;
  v.change = table_->change_count();
  v.query = query_generation_;
  v.deleted = settings_->deleted;
  v.exact = settings_->exact;
  v.century = settings_->century;
  v.date_format = settings_->date_format;
}

bool WorkArea::Judged(uint32_t recno) const {
  Visibility& v = visibility_;
  if (VisibilityCurrent()) {
    if (recno <= v.records) return (v.bits[recno / 64] >> (recno % 64)) & 1;
  } else if (OwnsChanges()) {
    // Judging the whole table in record order costs about as much as judging an eighth of it
    // in a scattered order, so it pays once a walk has come that far without a change.
    const uint64_t change = table_->change_count();
    if (v.judged_change != change) {
      v.judged_change = change;
      v.judged = 0;
    }
    if (++v.judged >= std::max<uint64_t>(4096, table_->record_count() / 8)) {
      v.judged = 0;
      BuildVisibility();
      if (recno <= v.records) return (v.bits[recno / 64] >> (recno % 64)) & 1;
    }
  }
  return Judge(recno);
}

bool WorkArea::PassesQuery() const {
  if (!query_ || !AtRecord()) return true;
  EvalContext c{table_->Record(recno_), recno_, settings_->exact};
  return query_->EvalLogical(c);
}

void WorkArea::SetEnd() {
  recno_ = table_->record_count() + 1;
  eof_ = true;
}

IndexSet::Order* WorkArea::CurrentOrder() const {
  if (order_ == 0) return nullptr;
  return table_->indexes().GetOrder(order_);
}

// Other programs may be changing the index files of a shared table: an order is walked under
// the table's lock, taken for each call (see Table::BeginRead).
// A walk in record order passes here at every step, and needs nothing.
#define LOOK_AT_INDEXES()                                                     \
  std::optional<Table::LockScope> look;                                       \
  if (order_ != 0 && table_->SharesIndexes()) {                               \
    look.emplace(*table_, false);                                             \
    if (!look->status().ok()) return look->status();                          \
  }

Status WorkArea::GoTop() {
  LOOK_AT_INDEXES()
  table_->Refresh();
  bof_ = false;
  eof_ = false;
  if (CurrentOrder() != nullptr) return OrderedTop(true);
  const uint32_t n = table_->record_count();
  for (uint32_t r = 1; r <= n; ++r) {
    if (Visible(r)) {
      recno_ = r;
      return Status::Ok();
    }
  }
  SetEnd();
  bof_ = true;
  return Status::Ok();
}

Status WorkArea::GoBottom() {
  LOOK_AT_INDEXES()
  table_->Refresh();
  bof_ = false;
  eof_ = false;
  if (CurrentOrder() != nullptr) return OrderedTop(false);
  const uint32_t n = table_->record_count();
  for (uint32_t r = n; r >= 1; --r) {
    if (Visible(r)) {
      recno_ = r;
      return Status::Ok();
    }
  }
  SetEnd();
  bof_ = true;
  return Status::Ok();
}

Status WorkArea::Skip(long count) {
  if (order_ != 0 && table_->SharesIndexes()) {
    Table::LockScope look(*table_, false);
    if (!look.status().ok()) return look.status();
    if (CurrentOrder() != nullptr) return OrderedSkip(count);
    // The indexes were dropped when the lock was taken: the walk goes on in record order.
  } else if (CurrentOrder() != nullptr) {
    return OrderedSkip(count);
  }
  uint32_t n = table_->record_count();
  if (count > 0) {
    bof_ = false;
    if (eof_) return Status::Ok();
    uint32_t r = recno_;
    while (count > 0) {
      ++r;
      if (r > n) {
        table_->Refresh();  // another program may have appended meanwhile
        n = table_->record_count();
        if (r > n) {
          SetEnd();
          return Status::Ok();
        }
      }
      if (Visible(r)) {
        recno_ = r;
        --count;
      }
    }
  } else if (count < 0) {
    uint32_t r = eof_ ? n + 1 : recno_;
    eof_ = false;
    bof_ = false;
    while (count < 0) {
      if (r <= 1) {
        // Before the first record: stand on the first visible one and say so.
        GoTop();
        bof_ = true;
        return Status::Ok();
      }
      --r;
      if (Visible(r)) {
        recno_ = r;
        ++count;
      }
    }
  }
  return Status::Ok();
}

void WorkArea::Go(long recno) {
  // Another program's appends can only lie beyond the count known here; looking at the file
  // for every move would cost a system call per record in a pass over the table.
  if (recno < 1 || static_cast<unsigned long>(recno) > table_->record_count()) table_->Refresh();
  bof_ = false;
  eof_ = false;
  if (recno >= 1 && static_cast<unsigned long>(recno) <= table_->record_count()) {
    recno_ = static_cast<uint32_t>(recno);
  } else {
    SetEnd();
  }
}

void WorkArea::GoAppended(uint32_t recno) {
  assert(recno >= 1 && recno <= table_->record_count());  // the record was just appended
  recno_ = recno;
  bof_ = false;
  eof_ = false;
}

const uint8_t* WorkArea::CurrentRecord() const {
  if (AtRecord()) return table_->Record(recno_);
  return table_->BlankRecord().data();
}

// ---- Orders ----------------------------------------------------------------------------

Status WorkArea::SetOrder(int order) {
  if (order != 0 && table_->indexes().GetOrder(order) == nullptr)
    return Status::InvalidArgument(table_->path() + ": there is no order " + std::to_string(order));
  order_ = order;
  assert(order_ >= 0 && order_ <= table_->indexes().OrderCount());
  scope_low_.clear();
  scope_high_.clear();
  synced_change_ = ~uint64_t{0};
  return Status::Ok();
}

void WorkArea::OrdersChanged() {
  if (order_ > table_->indexes().OrderCount()) order_ = 0;
  synced_change_ = ~uint64_t{0};
}

std::string WorkArea::EncodeKey(std::string_view text) const {
  IndexSet::Order* o = CurrentOrder();
  if (o == nullptr) return std::string(text);
  const size_t klen = static_cast<size_t>(o->key->KeyLength());
  switch (o->key->type()) {
    case Expression::kNumeric: {
      std::string t(text);
      return NumberKey(std::strtod(t.c_str(), nullptr));
    }
    case Expression::kDate:
      return NumberKey(JulianDay(text));
    case Expression::kLogical: {
      if (text.empty()) return std::string();
      char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[text[0] == '.' ? 1 % text.size() : 0])));
      return std::string(1, c == 'T' || c == 'Y' ? 'T' : 'F');
    }
    case Expression::kCharacter:
      break;
  }
  return std::string(text.substr(0, klen));
}

int WorkArea::ScopeTest(std::string_view key) const {
  int physical = 0;
  if (!scope_low_.empty() && std::memcmp(key.data(), scope_low_.data(), scope_low_.size()) < 0)
    physical = -1;
  else if (!scope_high_.empty() &&
           std::memcmp(key.data(), scope_high_.data(), scope_high_.size()) > 0)
    physical = 1;
  return CurrentOrder()->descending ? -physical : physical;
}

Status WorkArea::SetScope(std::string low, std::string high) {
  if (CurrentOrder() == nullptr) {
    if (low.empty() && high.empty()) return Status::Ok();
    return Status::InvalidArgument(table_->path() + ": a scope needs an index order");
  }
  scope_low_ = low.empty() ? std::string() : EncodeKey(low);
  scope_high_ = high.empty() ? std::string() : EncodeKey(high);
  return Status::Ok();
}

std::string WorkArea::CurrentKey() const {
  IndexSet::Order* o = CurrentOrder();
  if (o == nullptr) return std::string();
  std::string key;
  table_->indexes().KeyOf(*o, CurrentRecord(), recno_, &key);
  return key;
}

Status WorkArea::Step(bool forward) {
  IndexSet::Order* o = CurrentOrder();
  bool physical_forward = forward != o->descending;
  return physical_forward ? o->tag->Next() : o->tag->Prev();
}

Status WorkArea::SeekForward(std::string_view prefix) {
  CdxSeekResult where;
  return CurrentOrder()->tag->Seek(prefix, &where);
}

Status WorkArea::SeekBackward(std::string_view prefix) {
  // The last entry whose first bytes are <= prefix: just before the first entry past it.
  CdxTag* tag = CurrentOrder()->tag;
  std::string next(prefix);
  while (!next.empty() && static_cast<uint8_t>(next.back()) == 0xFF) next.pop_back();
  if (next.empty()) return tag->Last();
  next.back() = static_cast<char>(static_cast<uint8_t>(next.back()) + 1);
  CdxSeekResult where;
  Status s = tag->Seek(next, &where);
  if (!s.ok()) return s;
  return tag->Valid() ? tag->Prev() : tag->Last();
}

Status WorkArea::CursorToEnd(bool first) {
  IndexSet::Order* o = CurrentOrder();
  // In a descending order the logical first entry is the physical last one.
  bool physical_first = first != o->descending;
  if (physical_first)
    return scope_low_.empty() ? o->tag->First() : SeekForward(scope_low_);
  return scope_high_.empty() ? o->tag->Last() : SeekBackward(scope_high_);
}

Status WorkArea::EntryRecno(uint32_t* recno) const {
  IndexSet::Order* o = CurrentOrder();
  *recno = o->tag->Recno();
  if (*recno >= 1 && *recno <= table_->record_count()) return Status::Ok();
  return Status::Corrupt(o->file_path + ": tag " + o->name + " names record " +
                         std::to_string(*recno) + ", which the table does not have; the index " +
                         "needs a rebuild");
}

Status WorkArea::OrderedTop(bool top) {
  CdxTag* tag = CurrentOrder()->tag;
  bof_ = false;
  eof_ = false;
  Status s = CursorToEnd(top);
  while (s.ok() && tag->Valid()) {
    int scope = ScopeTest(tag->Key());
    if ((top && scope > 0) || (!top && scope < 0)) break;
    uint32_t r;
    s = EntryRecno(&r);
    if (!s.ok()) break;
    if (scope == 0 && Visible(r)) {
      recno_ = r;
      synced_change_ = table_->change_count();
      return Status::Ok();
    }
    s = Step(top);
  }
  SetEnd();
  bof_ = true;
  return s;
}

// In an index order the records come scattered over the table, and judging each one waits on
// memory. Asking for the record a few entries ahead lets those fetches overlap.
void WorkArea::PrefetchAhead(const CdxTag& tag, bool physical_forward) const {
  // With every record judged already the walk reads no record itself; fetching them early
  // then only costs a page-table walk per step.
  if (query_ && VisibilityCurrent()) return;
  constexpr size_t kAhead = 6;
  const uint32_t r = tag.RecnoAhead(kAhead, physical_forward);
  if (r == 0 || r > table_->record_count()) return;
  const uint8_t* rec = table_->Record(r);
  const int length = table_->record_length();
  for (int at = 0; at < length && at < 256; at += 64) __builtin_prefetch(rec + at);
  __builtin_prefetch(rec + length - 1);
}

Status WorkArea::Resync(bool* on) {
  IndexSet::Order* o = CurrentOrder();
  CdxTag* tag = o->tag;
  if (synced_change_ == table_->change_count() && tag->Valid() && tag->Recno() == recno_) {
    *on = true;
    return Status::Ok();
  }
  std::string key;
  table_->indexes().KeyOf(*o, table_->Record(recno_), recno_, &key);
  bool exact = false;
  Status s = tag->SeekPair(key, recno_, &exact);
  synced_change_ = table_->change_count();
  *on = s.ok() && exact && tag->Valid();
  return s;
}

Status WorkArea::OrderedSkip(long count) {
  if (count == 0) return Status::Ok();
  IndexSet::Order* o = CurrentOrder();
  CdxTag* tag = o->tag;
  if (count > 0) {
    bof_ = false;
    if (eof_) return Status::Ok();
    bool on = false;
    Status s = AtRecord() ? Resync(&on) : Status::Ok();
    if (!s.ok()) return s;
    // Off the record, the cursor stands on the entry physically after where it would be:
    // that is already the next one when walking physically forward.
    bool need_step = on || o->descending;
    if (!on && o->descending && !tag->Valid()) {
      s = tag->Last();
      need_step = false;
      if (!s.ok()) return s;
    }
    // The record each step lands on is read: by the query or the deleted setting here, and by
    // nearly every caller (a grid, an export) right after the step.
    while (count > 0) {
      if (need_step) {
        s = Step(true);
        if (!s.ok()) return s;
      }
      need_step = true;
      if (!tag->Valid()) {
        SetEnd();
        return Status::Ok();
      }
      PrefetchAhead(*tag, !o->descending);
      int scope = ScopeTest(tag->Key());
      if (scope > 0) {
        SetEnd();
        return Status::Ok();
      }
      uint32_t r;
      s = EntryRecno(&r);
      if (!s.ok()) {
        SetEnd();
        return s;
      }
      if (scope == 0 && Visible(r)) {
        recno_ = r;
        --count;
      }
    }
    synced_change_ = table_->change_count();
    return Status::Ok();
  }
  // Backwards.
  if (eof_ || !AtRecord()) {
    Status s = OrderedTop(false);
    if (!s.ok() || eof_) return s;
    if (++count == 0) return Status::Ok();
  }
  bof_ = false;
  bool on = false;
  Status s = Resync(&on);
  if (!s.ok()) return s;
  bool need_step = on || !o->descending;
  if (!on && !o->descending && !tag->Valid()) {
    s = tag->Last();
    need_step = false;
    if (!s.ok()) return s;
  }
  while (count < 0) {
    if (need_step) {
      s = Step(false);
      if (!s.ok()) return s;
    }
    if (tag->Valid()) PrefetchAhead(*tag, o->descending);
    need_step = true;
    int scope = tag->Valid() ? ScopeTest(tag->Key()) : -1;
    if (!tag->Valid() || scope < 0) {
      s = OrderedTop(true);
      bof_ = true;
      return s;
    }
    uint32_t r;
    s = EntryRecno(&r);
    if (!s.ok()) {
      SetEnd();
      return s;
    }
    if (scope == 0 && Visible(r)) {
      recno_ = r;
      ++count;
    }
  }
  synced_change_ = table_->change_count();
  return Status::Ok();
}

Status WorkArea::Seek(std::string_view text, bool* found) {
  *found = false;
  LOOK_AT_INDEXES()
  IndexSet::Order* o = CurrentOrder();
  if (o == nullptr)
    return Status::InvalidArgument(table_->path() + ": a seek needs an index order");
  std::string key = EncodeKey(text);
  const size_t klen = static_cast<size_t>(o->key->KeyLength());
  if (settings_->exact && o->key->type() == Expression::kCharacter) key.resize(klen, ' ');
  table_->Refresh();
  CdxTag* tag = o->tag;
  bof_ = false;
  eof_ = false;
  Status s = o->descending ? SeekBackward(key) : SeekForward(key);
  // Pass over entries the scope, the deletion setting or the query hide.
  while (s.ok() && tag->Valid()) {
    int scope = ScopeTest(tag->Key());
    if (scope > 0) break;
    uint32_t r;
    s = EntryRecno(&r);
    if (!s.ok()) break;
    if (scope == 0 && Visible(r)) {
      recno_ = r;
      synced_change_ = table_->change_count();
      bool match = std::memcmp(tag->Key().data(), key.data(), std::min(key.size(), klen)) == 0;
      *found = match || settings_->soft_seek;
      if (!*found) SetEnd();
      return Status::Ok();
    }
    s = Step(true);
  }
  SetEnd();
  return s;
}

// ---- Query -----------------------------------------------------------------------------

Status WorkArea::SetQuery(const std::string& text) {
  if (text.find_first_not_of(' ') == std::string::npos) {
    query_.reset();
    query_text_.clear();
    ++query_generation_;
    return Status::Ok();
  }
  std::unique_ptr<Expression> q;
  Status s = Expression::Compile(text, table_->fields(), &q);
  if (!s.ok()) return s;
  if (q->type() != Expression::kLogical)
    return Status::Syntax("the query '" + text + "' is not a logical expression");
  query_ = std::move(q);
  query_text_ = text;
  ++query_generation_;
  return Status::Ok();
}

Status WorkArea::QueryCount(long* count) {
  *count = 0;
  LOOK_AT_INDEXES()
  table_->Refresh();
  IndexSet::Order* o = CurrentOrder();
  if (o == nullptr || (scope_low_.empty() && scope_high_.empty())) {
    // Without a scope the order holds exactly the records its condition lets in, so a pass in
    // record order counts the same records as a walk of the tag, much faster.
    const uint32_t n = table_->record_count();
    for (uint32_t r = 1; r <= n; ++r) {
      if (o != nullptr && o->condition) {
        EvalContext c{table_->Record(r), r, false};
        if (!o->condition->EvalLogical(c)) continue;
      }
      if (Visible(r)) ++*count;
    }
    return Status::Ok();
  }
  CdxTag* tag = o->tag;
  Status s = CursorToEnd(true);
  while (s.ok() && tag->Valid()) {
    int scope = ScopeTest(tag->Key());
    if (scope > 0) break;
    uint32_t r;
    s = EntryRecno(&r);
    if (!s.ok()) break;
    if (scope == 0 && Visible(r)) ++*count;
    s = Step(true);
  }
  synced_change_ = ~uint64_t{0};  // the cursor moved
  return s;
}

Status WorkArea::PositionOf(uint32_t recno, long* position) {
  *position = -1;
  LOOK_AT_INDEXES()
  table_->Refresh();
  if (recno < 1 || recno > table_->record_count() || !Visible(recno)) return Status::Ok();
  IndexSet::Order* o = CurrentOrder();
  long before = 0;
  if (o == nullptr) {
    for (uint32_t r = 1; r < recno; ++r)
      if (Visible(r)) ++before;
    *position = before;
    return Status::Ok();
  }
  // The entries ahead of the record's own are counted in the tag alone: a record is read only
  // for the query's verdict, and not at all once the verdicts are kept as bits.
  CdxTag* tag = o->tag;
  Status s = CursorToEnd(true);
  while (s.ok() && tag->Valid()) {
    PrefetchAhead(*tag, !o->descending);
    const int scope = ScopeTest(tag->Key());
    if (scope > 0) break;
    uint32_t r;
    s = EntryRecno(&r);
    if (!s.ok()) break;
    if (r == recno) {
      if (scope == 0) *position = before;
      break;
    }
    if (scope == 0 && Visible(r)) ++before;
    s = Step(true);
  }
  synced_change_ = ~uint64_t{0};  // the cursor moved
  return s;
}

}  // namespace xb
