#pragma once

// Recursive-descent parser for the expression language: builds a typed ExprNode tree, checking
// every operand's type as it goes so that evaluation never meets a type it cannot handle.
//
// Precedence, from the loosest to the tightest binding:
//   .OR. / or   .AND. / and   .NOT. / not / !   comparisons and $   + -   * /   unary - +
// All binary operators are left-associative.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "ExprLexer.h"
#include "ExprNode.h"
#include "FieldDef.h"
#include "Status.h"

namespace xb {

class ExprParser {
 public:
  using Ptr = ExprNode::Ptr;

  ExprParser(std::string_view text, const std::vector<FieldDef>& fields)
      : text_(text), fields_(fields) {}

  // Parses the whole text into *root (buffers not yet allocated).
  Status Parse(Ptr* root);

  // Offsets of the bare words and/or/not that were read as operators.
  const std::vector<size_t>& bare_words() const { return bare_words_; }
  // Bytes of record image the fields used need (1: the deletion mark).
  int min_record_size() const { return min_record_size_; }

 private:
  class Nesting;

  Status ParseOr(Ptr* out);
  Status ParseAnd(Ptr* out);
  Status ParseNot(Ptr* out);
  Status ParseComparison(Ptr* out);
  Status ParseAdditive(Ptr* out);
  Status ParseMultiplicative(Ptr* out);
  Status ParseUnary(Ptr* out);
  Status ParsePrimary(Ptr* out);
  Status ParseField(const ExprToken& name, Ptr* out);
  Status ParseCall(const ExprToken& name, Ptr* out);
  // `function` is an entry of the function table in ExprParser.cpp, `fn_name` its name.
  Status BuildCall(int function, const char* fn_name, const ExprToken& name, std::vector<Ptr>* args,
                   const std::vector<size_t>& arg_positions, Ptr* out);

  const ExprToken& Peek() const { return tokens_[pos_]; }
  const ExprToken& Take() { return tokens_[pos_ < tokens_.size() - 1 ? pos_++ : pos_]; }
  // True (and the word noted for StorageText) when the next token is the dotted operator or
  // its bare word, e.g. .AND. or and.
  bool TakeWordOperator(ExprToken::Kind dotted, std::string_view bare);

  Status Error(size_t position, const std::string& what) const;
  Status TooDeep(size_t position) const;
  Status CheckDepth(const Ptr& node, size_t position) const;
  Status CheckWidth(size_t width, size_t position) const;
  Status NeedType(const Ptr& node, ExprValue::Type type, const std::string& who,
                  size_t position) const;

  std::string_view text_;
  const std::vector<FieldDef>& fields_;
  std::vector<ExprToken> tokens_;
  size_t pos_ = 0;
  int nesting_ = 0;
  std::vector<size_t> bare_words_;
  int min_record_size_ = 1;
};

}  // namespace xb
