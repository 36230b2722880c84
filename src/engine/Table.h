#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "DbfHeader.h"
#include "MappedFile.h"
#include "MemoFile.h"
#include "Status.h"

namespace xb {

// One open table: the DBF file and, when the table has memo fields, its FPT file.
// Records are addressed by physical record number (1-based). Every change is in the file when
// the call returns (see MappedFile); Commit() also forces it to the disk.
class Table {
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
  // The companion file of a table with another extension ("FPT", "CDX"): the extension takes the
  // case of the table's own, and an existing file in the other case is found too.
  static std::string CompanionPath(const std::string& dbf_path, const char* ext);

  const std::string& path() const { return path_; }
  const DbfHeader& header() const { return header_; }
  const std::vector<FieldDef>& fields() const { return header_.fields; }
  int FieldIndex(std::string_view name) const;  // -1 when there is no such field
  int record_length() const { return header_.record_length; }
  uint32_t record_count() const { return header_.record_count; }
  bool read_only() const { return mode_ == Mode::kReadOnly; }
  Mode mode() const { return mode_; }
  MemoFile* memo() const { return memo_.get(); }

  // Raw record image of `recno` (1..record_count()), valid until the next change of the table.
  const uint8_t* Record(uint32_t recno) const {
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
  Status ReadMemo(uint32_t recno, int field, const uint8_t** data, uint32_t* length) const;
  Status WriteMemo(uint32_t recno, int field, const uint8_t* data, uint64_t length);

  // Picks up records appended by another program that has the table open in shared mode.
  Status Refresh();

  Status Commit();
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
  void StoreCount();
  Status Grow(uint32_t* recno);
  // Serialises appends between programs sharing the table (a no-op when opened exclusively).
  Status LockAppend();
  void UnlockAppend();

  std::string path_;
  Mode mode_ = Mode::kShared;
  DbfHeader header_;
  std::unique_ptr<MappedFile> dbf_;
  std::unique_ptr<MemoFile> memo_;
  bool date_touched_ = false;
  std::vector<uint32_t> locks_;
  mutable std::vector<uint8_t> blank_;
  mutable std::string last_lookup_;
  mutable int last_lookup_index_ = -1;
};

}  // namespace xb
