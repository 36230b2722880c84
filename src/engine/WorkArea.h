#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "EngineSettings.h"
#include "Table.h"

namespace xb {

// An open table with its position: the current record number and the begin/end flags.
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

  void GoTop();
  void GoBottom();
  void Skip(long count);
  void Go(long recno);
  // Steps onto a newly appended record.
  void GoAppended(uint32_t recno);

  // The current record image (blanks at the end of the table).
  const uint8_t* CurrentRecord() const;
  bool AtRecord() const { return !eof_ && recno_ >= 1 && recno_ <= table_->record_count(); }

 private:
  bool Visible(uint32_t recno) const;
  void SetEnd();

  std::unique_ptr<Table> table_;
  std::string alias_;
  int driver_;
  const EngineSettings* settings_;
  uint32_t recno_ = 1;
  bool bof_ = false;
  bool eof_ = false;
};

}  // namespace xb
