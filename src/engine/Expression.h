#pragma once

// A compiled xBase expression: index keys, FOR conditions, queries and one-off evaluations.
// The grammar and the comparison rules are described in docs/expressions.md.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ExprValue.h"
#include "FieldDef.h"
#include "Status.h"

namespace xb {

class ExprNode;

// Compiled once, then evaluated per record without touching the heap (for every expression
// whose result is not converted to text by EvalString or by EvalCharacter on a non-character
// result). Evaluation writes into buffers owned by the expression, so one Expression must not be
// evaluated by two threads at once; compile one per thread instead.
//
// The record handed to an evaluation must hold at least MinRecordSize() bytes.
class Expression {
 public:
  using Type = ExprValue::Type;
  using enum ExprValue::Type;
  static constexpr int kMaxDepth = ExprValue::kMaxDepth;
  static constexpr int kMaxCharacterWidth = ExprValue::kMaxCharacterWidth;
  // Most bytes of evaluation buffers one expression may own.
  static constexpr size_t kMaxBufferBytes = size_t{16} << 20;

  // Compiles `text` against the table's fields. On error: a Status::Syntax whose message says
  // what is wrong and the 1-based character position, and *out untouched. A field definition the
  // expression uses that cannot be right (width or offset out of range) gives InvalidArgument.
  static Status Compile(std::string_view text, const std::vector<FieldDef>& fields,
                        std::unique_ptr<Expression>* out);

  ~Expression();
  Expression(const Expression&) = delete;
  Expression& operator=(const Expression&) = delete;

  Type type() const { return type_; }
  // Width of a character result (fixed at compile time: DATE+TIME is 13); 8 for numeric and
  // date results; 1 for logical ones. The same as KeyLength().
  int width() const { return width_; }
  const std::string& text() const { return text_; }
  // Bytes of record image the expression reads (1 when it reads only the deletion mark).
  int MinRecordSize() const { return min_record_size_; }

  // The text to store in an index file: the bare words not/and/or (any case) used as operators
  // are rewritten as .NOT./.AND./.OR. together with the blanks that follow them; everything else
  // is kept as given. "not Deleted()" gives ".NOT.Deleted()".
  std::string StorageText() const;

  // Each Eval call expects the matching type(); on another type it gives false, 0 (dates: their
  // day number) or, for EvalCharacter, the EvalString text.
  bool EvalLogical(const EvalContext& c) const;
  double EvalNumeric(const EvalContext& c) const;
  // A view into the record or into a buffer of the expression, valid until the next evaluation.
  std::string_view EvalCharacter(const EvalContext& c) const;
  // Any type as text: character values as they are; numbers right-aligned like STR() in the
  // field's width and decimals (10 wide for computed numbers, wider rather than '*' when the
  // value needs it); dates as yyyymmdd (8 blanks when empty); logical values as .T. or .F.
  std::string EvalString(const EvalContext& c) const;

  int KeyLength() const { return width_; }  // C: width, N/D: 8, L: 1
  // Writes exactly KeyLength() bytes: character values padded with blanks, 'T'/'F' for logical
  // values, numbers and dates (as day numbers, empty = 0) as ordered 8-byte doubles.
  void EvalKey(const EvalContext& c, uint8_t* out) const;
  uint8_t KeyFill() const { return type_ == kNumeric || type_ == kDate ? 0x00 : 0x20; }

 private:
  Expression(std::string text, std::unique_ptr<ExprNode> root, std::vector<size_t> bare_words,
             int min_record_size);

  std::string text_;
  std::unique_ptr<ExprNode> root_;
  std::vector<size_t> bare_words_;  // offsets of the and/or/not words used as operators
  Type type_;
  int width_;
  int min_record_size_;
  mutable std::string text_buffer_;  // EvalCharacter on a result that is not character
};

}  // namespace xb
