// libFuzzer target: compiles the input as an expression against the task table (and a table of
// numeric, date and logical fields), evaluates it on fixed records and checks what must hold for
// any expression: errors carry a position, keys fill exactly KeyLength() bytes, character values
// stay within width(), and the storage text compiles to an expression of the same shape.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Expression.h"

namespace {

std::vector<xb::FieldDef> TaskFields() {
  return {{"DATE", 'C', 8, 0, 1},      {"TIME", 'C', 5, 0, 9},  {"DESCRIPT", 'C', 50, 0, 14},
          {"NOTE", 'M', 10, 0, 64},    {"DONE", 'L', 1, 0, 74}, {"KEYS", 'C', 60, 0, 75},
          {"PRIORITY", 'C', 1, 0, 135}};
}

std::vector<xb::FieldDef> TypeFields() {
  return {{"AMOUNT", 'N', 10, 2, 1}, {"COUNT", 'N', 5, 0, 11}, {"DUE", 'D', 8, 0, 16},
          {"FLAG", 'L', 1, 0, 24},   {"NAME", 'C', 10, 0, 25}, {"RATE", 'F', 8, 3, 35}};
}

std::string TaskRecord(char mark) {
  std::string r(136, ' ');
  r[0] = mark;
  std::memcpy(&r[1], "20240105", 8);
  std::memcpy(&r[9], "09:30", 5);
  std::memcpy(&r[14], "Call dentist", 12);
  std::memcpy(&r[64], "         8", 10);
  r[74] = 'F';
  std::memcpy(&r[75], "HOME call", 9);
  r[135] = 'A';
  return r;
}

std::string TypeRecord(bool blank) {
  std::string r(43, ' ');
  if (blank) return r;
  std::memcpy(&r[1], "   -12.50 ", 10);
  std::memcpy(&r[11], "   42", 5);
  std::memcpy(&r[16], "20240229", 8);
  r[24] = 'T';
  std::memcpy(&r[25], "Zoe       ", 10);
  std::memcpy(&r[35], "   1.125", 8);
  return r;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

void Exercise(const xb::Expression& e, const std::string& record, uint32_t recno, bool exact) {
  Check(static_cast<int>(record.size()) >= e.MinRecordSize());
  // An exact-size copy lets the sanitizer see any read past the record.
  std::vector<uint8_t> image(record.begin(), record.end());
  xb::EvalContext c{image.data(), recno, exact};
  switch (e.type()) {
    case xb::Expression::kLogical:
      (void)e.EvalLogical(c);
      break;
    case xb::Expression::kNumeric:
    case xb::Expression::kDate:
      (void)e.EvalNumeric(c);
      break;
    case xb::Expression::kCharacter:
      Check(e.EvalCharacter(c).size() <= static_cast<size_t>(e.width()));
      break;
  }
  std::string text = e.EvalString(c);
  if (e.type() == xb::Expression::kDate) Check(text.size() == 8);
  std::unique_ptr<uint8_t[]> key(new uint8_t[static_cast<size_t>(e.KeyLength())]);
  e.EvalKey(c, key.get());
}

void CompileAndRun(std::string_view text, const std::vector<xb::FieldDef>& fields,
                   const std::vector<std::string>& records) {
  std::unique_ptr<xb::Expression> e;
  xb::Status s = xb::Expression::Compile(text, fields, &e);
  if (!s.ok()) {
    Check(s.code() == xb::Status::kSyntax && e == nullptr);
    Check(s.message().find(" at position ") != std::string::npos);
    return;
  }
  uint32_t recno = 1;
  for (const std::string& r : records) {
    Exercise(*e, r, recno++, false);
    Exercise(*e, r, recno++, true);
  }
  std::unique_ptr<xb::Expression> stored;
  Check(xb::Expression::Compile(e->StorageText(), fields, &stored).ok());
  Check(stored->type() == e->type() && stored->width() == e->width());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  static const std::vector<xb::FieldDef> kTaskFields = TaskFields();
  static const std::vector<xb::FieldDef> kTypeFields = TypeFields();
  static const std::vector<std::string> kTaskRecords = {TaskRecord(' '), TaskRecord('*'),
                                                        std::string(136, ' ')};
  static const std::vector<std::string> kTypeRecords = {TypeRecord(false), TypeRecord(true)};
  CompileAndRun(text, kTaskFields, kTaskRecords);
  CompileAndRun(text, kTypeFields, kTypeRecords);
  return 0;
}
