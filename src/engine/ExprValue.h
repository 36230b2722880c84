#pragma once

// What the parts of a compiled expression share with each other and with its callers: the type
// of a value, the limits of the language and the record an evaluation reads. Expression names
// them again for its callers (Expression::kCharacter, Expression::kMaxDepth).

#include <cstdint>

namespace xb {

struct ExprValue {
  enum Type { kCharacter, kNumeric, kDate, kLogical };

  // Nesting of parentheses, functions and operators beyond this is refused, so neither the
  // compiler nor the evaluator can run out of stack.
  static constexpr int kMaxDepth = 200;
  // Longest character value an expression may produce.
  static constexpr int kMaxCharacterWidth = 65535;
};

// One record, as stored on disk.
struct EvalContext {
  const uint8_t* record;  // raw record image: byte 0 deletion mark ('*' = deleted), then fields
  uint32_t recno;         // physical record number (1-based)
  bool exact;             // SET EXACT: strict '=' comparison of character values
};

}  // namespace xb
