#pragma once

// Splits expression text into tokens. The lexer knows no context: whether a name is a field, a
// function or one of the bare words and/or/not is the parser's decision.

#include <cstddef>
#include <string>
#include <string_view>

#include "Status.h"

namespace xb {

struct ExprToken {
  enum Kind {
    kEnd,
    kNumber,  // 12, 12.5, .5
    kString,  // "..." '...' [...]
    kName,    // field or function name, or a bare and/or/not
    kAnd,     // .AND.
    kOr,      // .OR.
    kNot,     // .NOT.
    kTrue,    // .T. .Y.
    kFalse,   // .F. .N.
    kPlus,
    kMinus,
    kStar,
    kSlash,
    kLParen,
    kRParen,
    kComma,
    kEq,       // =
    kExactEq,  // ==
    kNe,       // <> # !=
    kLt,
    kLe,
    kGt,
    kGe,
    kDollar,
    kBang,  // ! as negation
  };

  Kind kind = kEnd;
  size_t offset = 0;       // 0-based, in bytes (the text is single-byte)
  std::string_view text;   // the token as written
  std::string_view value;  // kString: the bytes between the delimiters
  double number = 0;       // kNumber
  int decimals = 0;        // kNumber: digits written after the point

  size_t position() const { return offset + 1; }  // 1-based, as error messages give it
  // The token for an error message: 'text' (long tokens shortened) or "the end of the expression".
  std::string Describe() const;
};

class ExprLexer {
 public:
  explicit ExprLexer(std::string_view text) : text_(text) {}

  // Reads the next token; at the end of the text it gives kEnd, again and again.
  Status Next(ExprToken* token);

 private:
  Status ReadNumber(ExprToken* token);
  Status ReadString(char close, ExprToken* token);
  Status ReadDotted(ExprToken* token);
  Status Error(size_t offset, const std::string& what) const;

  std::string_view text_;
  size_t pos_ = 0;
};

}  // namespace xb
