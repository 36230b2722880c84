#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "FieldDef.h"
#include "Status.h"

namespace xb {

// The header of a DBF table file: the 32-byte table header, the field descriptors and the
// terminator, up to the header length where the records begin.
struct DbfHeader {
  static constexpr uint8_t kFoxProMemo = 0xF5;  // what we write for a table with memo fields
  static constexpr uint8_t kPlain = 0x03;       // what we write for a table without memo fields
  static constexpr uint8_t kVisualFoxPro = 0x30;
  static constexpr uint8_t kFlagStructuralIndex = 0x01;
  static constexpr uint8_t kCodePage1252 = 0x03;
  static constexpr int kMaxFields = 255;

  uint8_t version = kFoxProMemo;
  int year = 2000;  // full year of the last update
  int month = 1;
  int day = 1;
  uint32_t record_count = 0;
  uint16_t header_length = 0;
  uint16_t record_length = 0;
  uint8_t flags = 0;
  uint8_t code_page = kCodePage1252;
  std::vector<FieldDef> fields;

  bool has_memo() const;
  bool binary_memo_pointers() const { return version == kVisualFoxPro || version == 0x31; }

  // Fills in offsets, record length and header length for `fields`, and picks the version byte.
  // Fails when the field list is not one we can write.
  static Status Layout(std::vector<FieldDef> fields, DbfHeader* out);

  // Checks and decodes the header of a file of `file_size` bytes whose first bytes are `data`.
  static Status DecodeFrom(const uint8_t* data, uint64_t file_size, const std::string& name,
                           DbfHeader* out);
  // The full header, `header_length` bytes.
  void EncodeTo(std::vector<uint8_t>* out) const;
  // The first 12 bytes: version, date, record count, header and record length. These are the
  // bytes that change while the table is in use.
  void EncodeCountsTo(uint8_t* out12) const;
  // Year byte as we write it (year - 1900), and the reader's rule for both conventions.
  static uint8_t EncodeYear(int year);
  static int DecodeYear(uint8_t byte, int current_year);
};

}  // namespace xb
