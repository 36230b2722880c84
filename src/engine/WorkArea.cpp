#include "WorkArea.h"

namespace xb {

WorkArea::WorkArea(std::unique_ptr<Table> table, std::string alias, int driver,
                   const EngineSettings* settings)
    : table_(std::move(table)),
      alias_(std::move(alias)),
      driver_(driver),
      settings_(settings) {
  GoTop();
}

bool WorkArea::Visible(uint32_t recno) const {
  if (settings_->deleted && table_->IsDeleted(recno)) return false;
  return true;
}

void WorkArea::SetEnd() {
  recno_ = table_->record_count() + 1;
  eof_ = true;
}

void WorkArea::GoTop() {
  table_->Refresh();
  const uint32_t n = table_->record_count();
  bof_ = false;
  eof_ = false;
  for (uint32_t r = 1; r <= n; ++r) {
    if (Visible(r)) {
      recno_ = r;
      return;
    }
  }
  SetEnd();
  bof_ = true;
}

void WorkArea::GoBottom() {
  table_->Refresh();
  const uint32_t n = table_->record_count();
  bof_ = false;
  eof_ = false;
  for (uint32_t r = n; r >= 1; --r) {
    if (Visible(r)) {
      recno_ = r;
      return;
    }
  }
  SetEnd();
  bof_ = true;
}

void WorkArea::Skip(long count) {
  uint32_t n = table_->record_count();
  if (count > 0) {
    bof_ = false;
    if (eof_) return;
    uint32_t r = recno_;
    while (count > 0) {
      ++r;
      if (r > n) {
        table_->Refresh();  // another program may have appended meanwhile
        n = table_->record_count();
        if (r > n) {
          SetEnd();
          return;
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
        return;
      }
      --r;
      if (Visible(r)) {
        recno_ = r;
        ++count;
      }
    }
  }
}

void WorkArea::Go(long recno) {
  table_->Refresh();
  bof_ = false;
  eof_ = false;
  if (recno >= 1 && static_cast<unsigned long>(recno) <= table_->record_count()) {
    recno_ = static_cast<uint32_t>(recno);
  } else {
    SetEnd();
  }
}

void WorkArea::GoAppended(uint32_t recno) {
  recno_ = recno;
  bof_ = false;
  eof_ = false;
}

const uint8_t* WorkArea::CurrentRecord() const {
  if (AtRecord()) return table_->Record(recno_);
  return table_->BlankRecord().data();
}

}  // namespace xb
