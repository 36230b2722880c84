#pragma once

#include <cstdint>
#include <vector>

#include "FieldDef.h"

namespace xb {

// The records an index set is built from and kept in step with: the table that owns it. The
// index set reads records through this and nothing else; locking, journalling and the files'
// lives stay the table's business.
class RecordSource {
 public:
  virtual const std::vector<FieldDef>& fields() const = 0;
  virtual int record_length() const = 0;
  virtual uint32_t record_count() const = 0;
  // Raw record image of `recno` (1..record_count()), valid until the next change of the table.
  virtual const uint8_t* Record(uint32_t recno) const = 0;

 protected:
  ~RecordSource() = default;
};

}  // namespace xb
